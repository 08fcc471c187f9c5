// Against the real server: the online-user lines, shared worlds with joins, positions and
// leaves, presence kept true when a client vanishes, and a slow reader that must not slow
// the others.
#include "server_fixture.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace pelora_test;
using wire::FrameType;

namespace {

pb::JoinReply Join(WireClient& client, const std::string& world,
                   const std::string& vehicle = "Wheelchair", const std::string& colour = "Red",
                   const std::string& gender = "female") {
    pb::Join join;
    join.set_world(world);
    join.set_vehicle(vehicle);
    join.set_colour(colour);
    join.set_gender(gender);
    pb::JoinReply reply;
    EXPECT_TRUE(client.Send(FrameType::Join, join));
    EXPECT_TRUE(client.Expect(FrameType::JoinReply, reply));
    return reply;
}

bool SendPosition(WireClient& client, float x, float y, float heading, double time) {
    pb::Position position;
    position.set_x(x);
    position.set_y(y);
    position.set_heading(heading);
    position.set_time(time);
    return client.Send(FrameType::Position, position);
}

// Positions of `member` received until one with `time` arrives (or the time limit).
std::vector<pb::Position> PositionsUntil(WireClient& client, std::uint32_t member, double time,
                                         double seconds = 5) {
    std::vector<pb::Position> seen;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(seconds));
    while (std::chrono::steady_clock::now() < deadline) {
        pb::Positions batch;
        if (!client.Expect(FrameType::Positions, batch, 0.5))
            continue;
        for (const auto& entry : batch.positions()) {
            if (entry.id() != member)
                continue;
            seen.push_back(entry.position());
            if (entry.position().time() == time)
                return seen;
        }
    }
    return seen;
}

// Pings a client from a thread of its own, every `interval` seconds until destroyed, so that a
// short idle time-out does not take it while the test is busy with other clients (however
// long that takes on a loaded machine). The test leaves the client alone meanwhile.
class KeptAwake {
public:
    KeptAwake(WireClient& client, double interval)
        : thread_([this, &client, interval] {
              const auto pause = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(interval));
              std::unique_lock lock(mutex_);
              while (!stop_) {
                  sent_ = client.Send(FrameType::Ping, pb::Ping()) && sent_;
                  stopped_.wait_for(lock, pause, [this] { return stop_; });
              }
          }) {}
    ~KeptAwake() { Stop(); }
    KeptAwake(const KeptAwake&) = delete;
    KeptAwake& operator=(const KeptAwake&) = delete;

    // Ends the pings; false when one could not be sent.
    bool Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopped_.notify_all();
        if (thread_.joinable())
            thread_.join();
        return sent_;
    }

private:
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    bool sent_ = true;
    std::thread thread_;
};

// Pings the client a fifth of a second at a time (so that the idle time-out never takes it)
// until a MemberLeft comes or `seconds` have passed.
bool MemberLeftWhilePinging(WireClient& client, pb::MemberLeft& left, double seconds) {
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(seconds));
    while (std::chrono::steady_clock::now() < deadline) {
        if (!client.Send(FrameType::Ping, pb::Ping()))
            return false;
        if (client.Expect(FrameType::MemberLeft, left, 0.2))
            return true;
    }
    return false;
}

// The first line of the text that contains `part`, or "".
std::string LineWith(const std::string& text, const std::string& part) {
    std::size_t at = text.find(part);
    if (at == std::string::npos)
        return "";
    std::size_t start = text.rfind('\n', at);
    start = start == std::string::npos ? 0 : start + 1;
    return text.substr(start, text.find('\n', at) - start);
}

} // namespace

TEST_F(ServerTest, UsersListNamesEachUserAndWhereTheyAre) {
    StartServer();
    auto alice = LoggedIn("alice");
    auto bob = LoggedIn("bob");
    auto carol = LoggedIn("Carol Ann");
    ASSERT_EQ(Join(*alice, "Park").result(), pb::JoinReply::JOINED);
    ASSERT_EQ(Join(*carol, "City Centre").result(), pb::JoinReply::JOINED);
    EXPECT_EQ(bob->UserLines(), (std::vector<std::string>{"Carol Ann (City Centre)", "alice (Park)",
                                                          "bob (not driving)"}));
    // Leaving puts a user back to "not driving"; logging out takes them off the list.
    ASSERT_TRUE(alice->Send(FrameType::Leave, pb::Leave()));
    pb::LeaveReply left;
    ASSERT_TRUE(alice->Expect(FrameType::LeaveReply, left));
    ASSERT_TRUE(carol->Send(FrameType::Logout, pb::Logout()));
    pb::LogoutReply out;
    ASSERT_TRUE(carol->Expect(FrameType::LogoutReply, out));
    EXPECT_EQ(bob->UserLines(),
              (std::vector<std::string>{"alice (not driving)", "bob (not driving)"}));
}

TEST_F(ServerTest, ManyUsersComeInPages) {
    StartServer({"--max-connections-per-address", "200"}); // all from 127.0.0.1
    std::vector<std::unique_ptr<WireClient>> clients;
    for (int i = 0; i < 105; ++i) {
        clients.push_back(Greeted());
        ASSERT_EQ(clients.back()->Login("guest", "x").result(), pb::LoginReply::LOGGED_IN);
    }
    ASSERT_TRUE(clients[0]->Send(FrameType::UsersRequest, pb::UsersRequest()));
    pb::UsersReply first, second;
    ASSERT_TRUE(clients[0]->Expect(FrameType::UsersReply, first));
    ASSERT_TRUE(clients[0]->Expect(FrameType::UsersReply, second));
    EXPECT_EQ(first.users_size(), 100);
    EXPECT_FALSE(first.last());
    EXPECT_EQ(second.users_size(), 5);
    EXPECT_TRUE(second.last());
    EXPECT_EQ(second.total(), 105u);
}

TEST_F(ServerTest, JoinPositionsAndLeaveFlowBetweenMembersOfOneWorld) {
    StartServer();
    auto alice = LoggedIn("alice");
    auto bob = LoggedIn("bob");
    auto carol = LoggedIn("carol");
    pb::JoinReply a = Join(*alice, "Park", "Wheelchair", "Red", "female");
    ASSERT_EQ(a.result(), pb::JoinReply::JOINED);
    EXPECT_EQ(a.members_size(), 0);
    ASSERT_TRUE(SendPosition(*alice, 1.5f, -2.25f, 90, 10.0));
    // Frames are taken in order: once the ping is answered, the position is known.
    ASSERT_TRUE(alice->Send(FrameType::Ping, pb::Ping()));
    pb::Pong pong;
    ASSERT_TRUE(alice->Expect(FrameType::Pong, pong));
    ASSERT_EQ(Join(*carol, "City").result(), pb::JoinReply::JOINED);

    pb::JoinReply b = Join(*bob, "Park", "Scooter", "Blue", "male");
    ASSERT_EQ(b.result(), pb::JoinReply::JOINED);
    ASSERT_EQ(b.members_size(), 1);
    EXPECT_EQ(b.members(0).name(), "alice");
    EXPECT_EQ(b.members(0).id(), a.member_id());
    EXPECT_EQ(b.members(0).colour(), "Red");
    ASSERT_TRUE(b.members(0).has_position());
    EXPECT_EQ(b.members(0).position().x(), 1.5f);

    pb::MemberJoined joined;
    ASSERT_TRUE(alice->Expect(FrameType::MemberJoined, joined));
    EXPECT_EQ(joined.member().name(), "bob");
    EXPECT_EQ(joined.member().vehicle(), "Scooter");
    EXPECT_EQ(joined.member().gender(), "male");
    EXPECT_EQ(joined.member().id(), b.member_id());

    // Positions go both ways, exactly as sent.
    ASSERT_TRUE(SendPosition(*alice, 3, 4, 45.5f, 11.0));
    auto seen = PositionsUntil(*bob, a.member_id(), 11.0);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().x(), 3);
    EXPECT_EQ(seen.back().y(), 4);
    EXPECT_EQ(seen.back().heading(), 45.5f);
    ASSERT_TRUE(SendPosition(*bob, -7, 8, 180, 12.5));
    EXPECT_FALSE(PositionsUntil(*alice, b.member_id(), 12.5).empty());
    // The world next door hears nothing.
    pb::Positions none;
    EXPECT_FALSE(carol->Expect(FrameType::Positions, none, 0.3));

    // Leave is confirmed and the others are told.
    ASSERT_TRUE(bob->Send(FrameType::Leave, pb::Leave()));
    pb::LeaveReply leave;
    ASSERT_TRUE(bob->Expect(FrameType::LeaveReply, leave));
    EXPECT_TRUE(leave.was_in_world());
    pb::MemberLeft left;
    ASSERT_TRUE(alice->Expect(FrameType::MemberLeft, left));
    EXPECT_EQ(left.id(), b.member_id());
    EXPECT_EQ(left.name(), "bob");
    ASSERT_TRUE(bob->Send(FrameType::Leave, pb::Leave()));
    ASSERT_TRUE(bob->Expect(FrameType::LeaveReply, leave));
    EXPECT_FALSE(leave.was_in_world());
    // A position after the leave goes nowhere.
    ASSERT_TRUE(SendPosition(*bob, 0, 0, 0, 13));
    EXPECT_TRUE(PositionsUntil(*alice, b.member_id(), 13, 0.5).empty());
}

TEST_F(ServerTest, JoinWithBadFieldsOrBeforeLoginIsRefused) {
    StartServer();
    auto client = Greeted();
    pb::Join join;
    join.set_world("Park");
    ASSERT_TRUE(client->Send(FrameType::Join, join));
    pb::ErrorReply error;
    ASSERT_TRUE(client->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::NOT_LOGGED_IN);
    ASSERT_EQ(client->Login("guest", "x").result(), pb::LoginReply::LOGGED_IN);
    pb::JoinReply reply = Join(*client, "Park", "", "Red", "male");
    EXPECT_EQ(reply.result(), pb::JoinReply::BAD_FIELDS);
    EXPECT_EQ(reply.message(), "The vehicle is empty.");
    EXPECT_EQ(Join(*client, "Pa\nrk").result(), pb::JoinReply::BAD_FIELDS);
    EXPECT_EQ(Join(*client, std::string(128, 'w')).result(), pb::JoinReply::BAD_FIELDS);
}

TEST_F(ServerTest, AVanishedClientLeavesTheListAndItsWorld) {
    // The idle time-out applies to every connection, so each client that is in the world is
    // kept talking until its part comes: only the one meant to fall silent ever does, whatever
    // time the logins and joins take.
    StartServer({"--idle-timeout", "0.8"});
    auto alice = LoggedIn("alice");
    ASSERT_EQ(Join(*alice, "Park").result(), pb::JoinReply::JOINED);
    auto aliceAwake = std::make_unique<KeptAwake>(*alice, 0.1);
    auto bob = LoggedIn("bob");
    pb::JoinReply b = Join(*bob, "Park");
    ASSERT_EQ(b.result(), pb::JoinReply::JOINED);
    auto bobAwake = std::make_unique<KeptAwake>(*bob, 0.1);
    auto silent = LoggedIn("carol");
    pb::JoinReply c = Join(*silent, "Park");
    ASSERT_EQ(c.result(), pb::JoinReply::JOINED);
    auto carolAwake = std::make_unique<KeptAwake>(*silent, 0.1);

    // bob's machine loses power: no logout, no goodbye.
    ASSERT_TRUE(bobAwake->Stop());
    bob->Abort();
    ASSERT_TRUE(aliceAwake->Stop());
    pb::MemberLeft left;
    ASSERT_TRUE(MemberLeftWhilePinging(*alice, left, 10));
    EXPECT_EQ(left.id(), b.member_id());
    // carol's connection stays open but nothing more comes: the idle time-out takes her.
    ASSERT_TRUE(carolAwake->Stop());
    ASSERT_TRUE(MemberLeftWhilePinging(*alice, left, 10));
    EXPECT_EQ(left.id(), c.member_id());
    // The server sends the leave to her world a moment before it takes her off the list, and
    // logs her logout after both: the list is read once the log has that line (alice pinging
    // meanwhile, each ping answered before the log is read again).
    const std::string carolOut = "logout \"carol\"";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (std::uint32_t token = 1;
         Log().find(carolOut) == std::string::npos && std::chrono::steady_clock::now() < deadline;
         ++token) {
        pb::Ping ping;
        ping.set_token(token);
        ASSERT_TRUE(alice->Send(FrameType::Ping, ping));
        pb::Pong pong;
        do
            ASSERT_TRUE(alice->Expect(FrameType::Pong, pong));
        while (pong.token() != token);
    }
    const std::string log = Log();
    EXPECT_NE(LineWith(log, carolOut).find("idle time-out"), std::string::npos) << log;
    const std::string bobOut = LineWith(log, "logout \"bob\"");
    EXPECT_FALSE(bobOut.empty()) << log;
    EXPECT_EQ(bobOut.find("idle time-out"), std::string::npos) << "bob's end went unnoticed";
    EXPECT_EQ(alice->UserLines(), (std::vector<std::string>{"alice (Park)"}));
    // And bob can log in again at once.
    EXPECT_TRUE(LoggedIn("bob", "secret"));
}

TEST_F(ServerTest, ASlowReaderGetsTheNewestPositionsAndDoesNotSlowTheOthers) {
    StartServer();
    auto alice = LoggedIn("alice");
    auto bob = LoggedIn("bob");
    // carol reads nothing, through the smallest receive buffer the system allows.
    auto carol = std::make_unique<WireClient>(server_.Port());
    ASSERT_TRUE(carol->Connect("", 1024));
    {
        pb::Hello hello;
        hello.set_protocol_version(wire::kProtocolVersion);
        pb::HelloReply welcome;
        ASSERT_TRUE(carol->Send(FrameType::Hello, hello));
        ASSERT_TRUE(carol->Expect(FrameType::HelloReply, welcome));
        ASSERT_EQ(carol->Create("carol", "pw").result(), pb::CreateReply::CREATED);
        ASSERT_EQ(carol->Login("carol", "pw").result(), pb::LoginReply::LOGGED_IN);
    }
    pb::JoinReply a = Join(*alice, "Park");
    Join(*bob, "Park");
    Join(*carol, "Park");

    // alice streams far more positions than carol's connection can hold.
    constexpr int kCount = 40000;
    std::thread reader([&] {
        auto seen = PositionsUntil(*bob, a.member_id(), kCount, 20);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back().time(), kCount);
    });
    auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= kCount; ++i)
        ASSERT_TRUE(SendPosition(*alice, static_cast<float>(i), 0, 0, i));
    reader.join();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 15) << "bob was held up";

    // carol, read at last, gets alice's newest position, and far fewer than were sent.
    auto seen = PositionsUntil(*carol, a.member_id(), kCount, 10);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().time(), kCount);
    EXPECT_LT(seen.size(), static_cast<std::size_t>(kCount / 2));
    // And she is still served.
    pb::Ping ping;
    ping.set_token(5);
    ASSERT_TRUE(carol->Send(FrameType::Ping, ping));
    pb::Pong pong;
    EXPECT_TRUE(carol->Expect(FrameType::Pong, pong));
}

TEST_F(ServerTest, PositionsToOneClientAreBatchedOncePerRelayInterval) {
    StartServer({"--relay-interval", "0.4"});
    auto alice = LoggedIn("alice");
    auto bob = LoggedIn("bob");
    auto carol = LoggedIn("carol");
    pb::JoinReply a = Join(*alice, "Park");
    pb::JoinReply b = Join(*bob, "Park");
    Join(*carol, "Park");
    // Two members stream 50 positions a second each for two seconds.
    auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= 100; ++i) {
        ASSERT_TRUE(SendPosition(*alice, 1, 1, 1, i));
        ASSERT_TRUE(SendPosition(*bob, 2, 2, 2, i));
        std::this_thread::sleep_until(start + std::chrono::milliseconds(20 * i));
    }
    // carol gets both members' newest positions in at most one frame per 0.4 s.
    int frames = 0;
    double aliceLast = 0, bobLast = 0;
    while (aliceLast < 100 || bobLast < 100) {
        pb::Positions batch;
        ASSERT_TRUE(carol->Expect(FrameType::Positions, batch, 5));
        ++frames;
        for (const auto& entry : batch.positions()) {
            if (entry.id() == a.member_id())
                aliceLast = entry.position().time();
            if (entry.id() == b.member_id())
                bobLast = entry.position().time();
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LE(frames, static_cast<int>(seconds / 0.4) + 1) << "in " << seconds << " s";
    EXPECT_GE(frames, 2);
}
