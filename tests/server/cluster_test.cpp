// Two real pelora-server instances on one throwaway PostgreSQL database and one data folder:
// accounts, the online list, "already logged in", shared worlds and data files hold across
// them, an instance killed outright frees its users within the bound, and two instances
// starting together on a new data folder make one key pair and one certificate.
#include "postgres_cluster.h"
#include "server_process.h"
#include "temp_folder.h"
#include "wire_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

using namespace pelora_test;
using wire::FrameType;

namespace {

using Clock = std::chrono::steady_clock;

// The bound for a killed instance, kept short for the tests.
constexpr const char* kHeartbeat = "0.2";
constexpr double kTimeoutSeconds = 2.0;

Clock::time_point In(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

pb::JoinReply JoinWorld(WireClient& client, const std::string& world) {
    pb::Join join;
    join.set_world(world);
    join.set_vehicle("Wheelchair");
    join.set_colour("Red");
    join.set_gender("female");
    pb::JoinReply reply;
    EXPECT_TRUE(client.Send(FrameType::Join, join));
    EXPECT_TRUE(client.Expect(FrameType::JoinReply, reply));
    return reply;
}

bool MoveTo(WireClient& client, float x, double time) {
    pb::Position position;
    position.set_x(x);
    position.set_y(-x);
    position.set_heading(10);
    position.set_time(time);
    return client.Send(FrameType::Position, position);
}

// Waits for a position of `member` with `time`; false at the limit.
bool SeesPosition(WireClient& client, std::uint32_t member, double time, float x,
                  double seconds = 5) {
    auto deadline = In(seconds);
    while (Clock::now() < deadline) {
        pb::Positions batch;
        if (!client.Expect(FrameType::Positions, batch, 0.5))
            continue;
        for (const auto& entry : batch.positions())
            if (entry.id() == member && entry.position().time() == time)
                return entry.position().x() == x;
    }
    return false;
}

// The id `client` knows the member `name` by: from its join reply, or from the news of the
// member's arrival (the other instance's word may come after the join).
std::uint32_t MemberId(WireClient& client, const pb::JoinReply& reply, const std::string& name) {
    for (const auto& member : reply.members())
        if (member.name() == name)
            return member.id();
    pb::MemberJoined joined;
    auto deadline = In(5);
    while (Clock::now() < deadline)
        if (client.Expect(FrameType::MemberJoined, joined, 0.5) && joined.member().name() == name)
            return joined.member().id();
    return 0;
}

pb::FileReply SendWholeFile(WireClient& client, const std::string& name, const std::string& bytes) {
    pb::FileOffer offer;
    offer.set_name(name);
    offer.set_size(bytes.size());
    offer.set_sha256(Sha256(bytes));
    pb::FileReply reply;
    EXPECT_TRUE(client.Send(FrameType::FileOffer, offer));
    EXPECT_TRUE(client.Expect(FrameType::FileReply, reply));
    if (reply.result() != pb::FileReply::SEND)
        return reply;
    for (std::size_t at = 0; at < bytes.size(); at += wire::kMaxChunkBytes) {
        pb::FileChunk chunk;
        chunk.set_offset(at);
        chunk.set_data(bytes.substr(at, wire::kMaxChunkBytes));
        EXPECT_TRUE(client.Send(FrameType::FileChunk, chunk));
    }
    EXPECT_TRUE(client.Expect(FrameType::FileReply, reply));
    return reply;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class ClusterTest : public ::testing::Test {
protected:
    void SetUp() override {
        PELORA_START_POSTGRES_OR_SKIP(database_);
        std::string error;
        ASSERT_TRUE(database_.CreateDatabase("pelora", error)) << error;
    }

    void TearDown() override {
        for (int i = 0; i < 2; ++i) {
            if (instances_[i].Running()) {
                EXPECT_EQ(instances_[i].Stop(), 0) << "instance " << i << " did not end cleanly";
            }
        }
    }

    std::string DataDir() const { return folder_ / "data"; }
    std::string LogOf(int i) const { return folder_ / ("instance" + std::to_string(i) + ".log"); }

    std::vector<std::string> Arguments(int i) const {
        std::vector<std::string> arguments = ServerProcess::FastArguments();
        std::vector<std::string> more = {"--database",           database_.Url("pelora"),
                                         "--instance-heartbeat", kHeartbeat,
                                         "--instance-timeout",   std::to_string(kTimeoutSeconds),
                                         "--log-file",           LogOf(i)};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return arguments;
    }

    void Start(int i) {
        std::string error;
        ASSERT_TRUE(instances_[i].Start(PELORA_SERVER_PROGRAM, DataDir(), Arguments(i), error))
            << error;
    }

    void StartBoth() {
        Start(0);
        Start(1);
    }

    std::unique_ptr<WireClient> On(int i, const std::string& name) {
        auto client = std::make_unique<WireClient>(instances_[i].Port());
        EXPECT_TRUE(client->ConnectAs(name, "secret")) << name << " on instance " << i;
        return client;
    }

    std::unique_ptr<WireClient> GreetedOn(int i) {
        auto client = std::make_unique<WireClient>(instances_[i].Port());
        EXPECT_TRUE(client->ConnectAndGreet());
        return client;
    }

    std::string ReadLog(int i) const { return ReadAll(LogOf(i)); }

    TempFolder folder_;
    PostgresCluster database_;
    ServerProcess instances_[2];
};

} // namespace

TEST_F(ClusterTest, AnAccountMadeOnOneInstanceLogsInOnTheOther) {
    StartBoth();
    {
        auto made = On(0, "alice");
        ASSERT_TRUE(made->Send(FrameType::Logout, pb::Logout()));
        pb::LogoutReply out;
        ASSERT_TRUE(made->Expect(FrameType::LogoutReply, out));
    }
    auto other = GreetedOn(1);
    EXPECT_EQ(other->Login("alice", "wrong").result(), pb::LoginReply::NAME_IN_USE);
    EXPECT_EQ(other->Login("alice", "secret").result(), pb::LoginReply::LOGGED_IN);
    // And the name is taken for a new account on either.
    auto third = GreetedOn(0);
    EXPECT_EQ(third->Create("alice", "other").result(), pb::CreateReply::NAME_TAKEN);
}

TEST_F(ClusterTest, TheOnlineListAndAlreadyLoggedInHoldAcrossInstances) {
    StartBoth();
    auto alice = On(0, "alice");
    ASSERT_EQ(JoinWorld(*alice, "Park").result(), pb::JoinReply::JOINED);
    auto bob = On(1, "bob");
    EXPECT_EQ(bob->UserLines(), (std::vector<std::string>{"alice (Park)", "bob (not driving)"}));
    EXPECT_EQ(alice->UserLines(), (std::vector<std::string>{"alice (Park)", "bob (not driving)"}));

    auto twice = GreetedOn(1);
    pb::LoginReply refused = twice->Login("alice", "secret");
    EXPECT_EQ(refused.result(), pb::LoginReply::ALREADY_LOGGED_IN);
    EXPECT_NE(refused.message().find("already logged in"), std::string::npos);
    // The guest may be logged in on both at once.
    auto guestHere = GreetedOn(0);
    auto guestThere = GreetedOn(1);
    EXPECT_EQ(guestHere->Login("guest", "x").result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(guestThere->Login("guest", "x").result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(bob->UserLines().size(), 4u);

    // Logged out on one, free on the other at once.
    ASSERT_TRUE(alice->Send(FrameType::Logout, pb::Logout()));
    pb::LogoutReply out;
    ASSERT_TRUE(alice->Expect(FrameType::LogoutReply, out));
    EXPECT_EQ(twice->Login("alice", "secret").result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(alice->Login("alice", "secret").result(), pb::LoginReply::ALREADY_LOGGED_IN);
}

TEST_F(ClusterTest, PositionsAreRelayedBetweenUsersOnDifferentInstances) {
    StartBoth();
    auto alice = On(0, "alice");
    auto bob = On(1, "bob");
    auto carol = On(1, "carol");
    pb::JoinReply a = JoinWorld(*alice, "Park");
    ASSERT_EQ(a.result(), pb::JoinReply::JOINED);
    ASSERT_TRUE(MoveTo(*alice, 1.5f, 10.0));
    ASSERT_EQ(JoinWorld(*carol, "City").result(), pb::JoinReply::JOINED);

    pb::JoinReply b = JoinWorld(*bob, "Park");
    ASSERT_EQ(b.result(), pb::JoinReply::JOINED);
    std::uint32_t aliceOnB = MemberId(*bob, b, "alice");
    ASSERT_NE(aliceOnB, 0u) << "bob never heard of alice";
    pb::MemberJoined joined;
    ASSERT_TRUE(alice->Expect(FrameType::MemberJoined, joined));
    EXPECT_EQ(joined.member().name(), "bob");
    EXPECT_EQ(joined.member().vehicle(), "Wheelchair");
    std::uint32_t bobOnA = joined.member().id();

    // Both ways, exactly as sent.
    ASSERT_TRUE(MoveTo(*alice, 3.25f, 11.0));
    EXPECT_TRUE(SeesPosition(*bob, aliceOnB, 11.0, 3.25f));
    ASSERT_TRUE(MoveTo(*bob, -7.5f, 12.0));
    EXPECT_TRUE(SeesPosition(*alice, bobOnA, 12.0, -7.5f));
    // The world next door on bob's instance hears nothing.
    pb::Positions none;
    EXPECT_FALSE(carol->Expect(FrameType::Positions, none, 0.3));

    // A leave on one instance reaches the other.
    ASSERT_TRUE(bob->Send(FrameType::Leave, pb::Leave()));
    pb::MemberLeft left;
    ASSERT_TRUE(alice->Expect(FrameType::MemberLeft, left));
    EXPECT_EQ(left.id(), bobOnA);
    EXPECT_EQ(left.name(), "bob");
}

TEST_F(ClusterTest, AnInstanceStartedLaterSeesTheMembersAlreadyInAWorld) {
    Start(0);
    auto alice = On(0, "alice");
    ASSERT_EQ(JoinWorld(*alice, "Park").result(), pb::JoinReply::JOINED);
    ASSERT_TRUE(MoveTo(*alice, 2.0f, 5.0));
    Start(1);
    auto bob = On(1, "bob");
    // The newcomer asks at its start; the answer may come just after bob's join.
    pb::JoinReply b = JoinWorld(*bob, "Park");
    ASSERT_EQ(b.result(), pb::JoinReply::JOINED);
    EXPECT_NE(MemberId(*bob, b, "alice"), 0u);
}

TEST_F(ClusterTest, AKilledInstanceFreesItsUsersWithinTheBound) {
    StartBoth();
    auto alice = On(0, "alice");
    pb::JoinReply a = JoinWorld(*alice, "Park");
    ASSERT_EQ(a.result(), pb::JoinReply::JOINED);
    auto bob = On(1, "bob");
    pb::JoinReply b = JoinWorld(*bob, "Park");
    std::uint32_t aliceOnB = MemberId(*bob, b, "alice");
    ASSERT_NE(aliceOnB, 0u);

    ASSERT_EQ(::kill(instances_[0].Pid(), SIGKILL), 0);
    auto killed = Clock::now();
    EXPECT_EQ(instances_[0].Stop(), 128 + SIGKILL);
    auto again = GreetedOn(1);
    pb::LoginReply first = again->Login("alice", "secret");
    if (Clock::now() - killed < std::chrono::milliseconds(500)) {
        EXPECT_EQ(first.result(), pb::LoginReply::ALREADY_LOGGED_IN) << "freed too early";
    }

    // Within the timeout and a heartbeat or two, she may log in on the surviving instance.
    pb::LoginReply reply = first;
    auto deadline = killed + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(kTimeoutSeconds + 2.0));
    while (reply.result() != pb::LoginReply::LOGGED_IN && Clock::now() < deadline) {
        pb::Pong pong;
        // A round trip to the server paces the attempts.
        ASSERT_TRUE(again->Send(FrameType::Ping, pb::Ping()));
        ASSERT_TRUE(again->Expect(FrameType::Pong, pong));
        reply = again->Login("alice", "secret");
    }
    EXPECT_EQ(reply.result(), pb::LoginReply::LOGGED_IN);
    double took = std::chrono::duration<double>(Clock::now() - killed).count();
    EXPECT_LT(took, kTimeoutSeconds + 2.0);
    // bob is told she left the world.
    pb::MemberLeft left;
    ASSERT_TRUE(bob->Expect(FrameType::MemberLeft, left, 5));
    EXPECT_EQ(left.id(), aliceOnB);
    EXPECT_NE(ReadLog(1).find("has been silent for more than"), std::string::npos);
}

TEST_F(ClusterTest, AFileSentTwiceThroughTwoInstancesIsStoredOnce) {
    StartBoth();
    std::string bytes = Bytes(150000, 'q');
    {
        auto first = On(0, "alice");
        pb::FileReply stored = SendWholeFile(*first, "data-20240201-090000.txt.sealed", bytes);
        ASSERT_EQ(stored.result(), pb::FileReply::STORED) << stored.message();
        ASSERT_TRUE(first->Send(FrameType::Logout, pb::Logout()));
        pb::LogoutReply out;
        ASSERT_TRUE(first->Expect(FrameType::LogoutReply, out));
    }
    auto second = On(1, "alice");
    pb::FileReply again = SendWholeFile(*second, "data-20240201-090000.txt.sealed", bytes);
    EXPECT_EQ(again.result(), pb::FileReply::ALREADY_STORED);
    EXPECT_EQ(again.stored_as(), "data-20240201-090000.txt.sealed");
    std::string folder = DataDir() + "/users/alice";
    EXPECT_EQ(Names(folder), std::vector<std::string>{"data-20240201-090000.txt.sealed"});
    EXPECT_EQ(ReadAll(folder + "/data-20240201-090000.txt.sealed"), bytes);
    // Other bytes under the name are kept beside it, whichever instance takes them.
    pb::FileReply other = SendWholeFile(*second, "data-20240201-090000.txt.sealed", Bytes(9, 'r'));
    ASSERT_EQ(other.result(), pb::FileReply::STORED);
    EXPECT_NE(other.stored_as(), "data-20240201-090000.txt.sealed");
    EXPECT_EQ(Names(folder).size(), 2u);
}

TEST_F(ClusterTest, TwoInstancesStartingTogetherOnANewDataFolderShareOneIdentity) {
    // The second is started from a thread of its own, which must outlive it: a child is told
    // to end when the thread that started it ends.
    std::promise<void> started, finish;
    int secondExit = -1;
    std::thread second([&] {
        Start(1);
        started.set_value();
        finish.get_future().wait();
        secondExit = instances_[1].Stop();
    });
    Start(0);
    started.get_future().wait();
    EXPECT_TRUE(instances_[0].Running() && instances_[1].Running());
    // One key pair made, by one of them.
    EXPECT_EQ(Count(ReadLog(0) + ReadLog(1), "made the sealing key pair"), 1u);
    EXPECT_EQ(Count(ReadLog(0) + ReadLog(1), "made a self-signed certificate"), 1u);
    // Both present the certificate on disk: a launcher that pinned one trusts both.
    std::string pinned = DataDir() + "/tls/server.pem";
    for (int i = 0; i < 2; ++i) {
        WireClient client(instances_[i].Port());
        EXPECT_TRUE(client.Connect(pinned)) << "instance " << i;
    }
    finish.set_value();
    second.join();
    EXPECT_EQ(secondExit, 0);
}

// A launcher watching the list on one instance learns of the users of the other: their logins
// and logouts, and their going with a killed instance.
TEST_F(ClusterTest, AWatcherIsToldOfLoginsAndLogoutsOnTheOtherInstance) {
    StartBoth();
    auto alice = On(0, "alice");
    pb::UsersRequest watch;
    watch.set_watch(true);
    auto lines = [&] {
        std::vector<std::string> listed;
        EXPECT_TRUE(alice->Send(FrameType::UsersRequest, watch));
        for (pb::UsersReply page; alice->Expect(FrameType::UsersReply, page);) {
            for (const auto& user : page.users())
                listed.push_back(user.line());
            if (page.last())
                break;
        }
        return listed;
    };
    EXPECT_EQ(lines(), std::vector<std::string>{"alice (not driving)"});
    wire::Frame told;

    auto bob = On(1, "bob");
    ASSERT_TRUE(alice->ReceiveType(FrameType::UsersChanged, told, 5)) << "bob's login";
    EXPECT_EQ(lines(), (std::vector<std::string>{"alice (not driving)", "bob (not driving)"}));

    ASSERT_TRUE(bob->Send(FrameType::Logout, pb::Logout()));
    pb::LogoutReply out;
    ASSERT_TRUE(bob->Expect(FrameType::LogoutReply, out));
    ASSERT_TRUE(alice->ReceiveType(FrameType::UsersChanged, told, 5)) << "bob's logout";
    EXPECT_EQ(lines(), std::vector<std::string>{"alice (not driving)"});

    ASSERT_EQ(bob->Login("bob", "secret").result(), pb::LoginReply::LOGGED_IN);
    ASSERT_TRUE(alice->ReceiveType(FrameType::UsersChanged, told, 5));
    ASSERT_EQ(::kill(instances_[1].Pid(), SIGKILL), 0);
    EXPECT_EQ(instances_[1].Stop(), 128 + SIGKILL);
    ASSERT_TRUE(alice->ReceiveType(FrameType::UsersChanged, told, kTimeoutSeconds + 5))
        << "the killed instance's users going";
    EXPECT_EQ(lines(), std::vector<std::string>{"alice (not driving)"});
}
