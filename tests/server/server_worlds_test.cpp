// Against the real server: the online-user lines, shared worlds with joins, positions and
// leaves, presence kept true when a client vanishes, and a slow reader that must not slow
// the others.
#include "server_fixture.h"

#include <chrono>
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
    StartServer({"--idle-timeout", "0.8"});
    auto alice = LoggedIn("alice");
    auto bob = LoggedIn("bob");
    auto silent = LoggedIn("carol");
    pb::JoinReply a = Join(*alice, "Park");
    pb::JoinReply b = Join(*bob, "Park");
    pb::JoinReply c = Join(*silent, "Park");
    // bob's machine loses power: no logout, no goodbye.
    bob->Abort();
    pb::MemberLeft left;
    ASSERT_TRUE(alice->Expect(FrameType::MemberLeft, left, 3));
    EXPECT_EQ(left.id(), b.member_id());
    // carol's connection stays open but nothing more comes: the idle time-out takes her. alice
    // pings meanwhile, waiting for the news a fifth of a second at a time.
    bool told = false;
    for (int i = 0; i < 30 && !told; ++i) {
        pb::Ping ping;
        ASSERT_TRUE(alice->Send(FrameType::Ping, ping));
        told = alice->Expect(FrameType::MemberLeft, left, 0.2);
    }
    ASSERT_TRUE(told);
    EXPECT_EQ(left.id(), c.member_id());
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
