// Against the real server, what one hostile address (127.0.0.2) can cost: requests past their
// budget are refused, a churner's joins and leaves are merged for the other members and the
// churner is dropped, the log stays small and rotates, connections per address are limited,
// and a frame or a login that does not come in time ends the connection. A client from
// 127.0.0.1 is served throughout.
#include "server_fixture.h"

#include <chrono>
#include <filesystem>

using namespace pelora_test;
using wire::FrameType;

namespace {

constexpr const char* kAttacker = "127.0.0.2";
using Clock = std::chrono::steady_clock;

void ExpectServed(WireClient& client) {
    pb::Ping ping;
    ping.set_token(7);
    ASSERT_TRUE(client.Send(FrameType::Ping, ping));
    pb::Pong pong;
    ASSERT_TRUE(client.Expect(FrameType::Pong, pong));
    EXPECT_EQ(pong.token(), 7u);
}

std::unique_ptr<WireClient> Guest(int port, const char* from) {
    auto client = std::make_unique<WireClient>(port, from);
    EXPECT_TRUE(client->ConnectAndGreet());
    EXPECT_EQ(client->Login("guest", "").result(), pb::LoginReply::LOGGED_IN);
    return client;
}

pb::Join JoinOf(const std::string& world) {
    pb::Join join;
    join.set_world(world);
    join.set_vehicle("chair");
    join.set_colour("Red");
    join.set_gender("m");
    return join;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The frames that came before the close, by type.
std::size_t CountOf(WireClient& client, FrameType type) {
    std::size_t count = 0;
    for (const auto& frame : client.PassedOver())
        count += frame.Type() == type;
    return count;
}

} // namespace

TEST_F(ServerTest, RequestsPastTheirBudgetAreRefusedInWords) {
    StartServer();
    auto user = LoggedIn("alice");
    auto asker = Guest(server_.Port(), kAttacker);
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(asker->Send(FrameType::UsersRequest, pb::UsersRequest()));
    std::size_t answered = 0, refused = 0;
    std::string message;
    for (int i = 0; i < 40; ++i) {
        wire::Frame frame;
        ASSERT_TRUE(asker->Receive(frame)) << i;
        if (frame.Type() == FrameType::UsersReply) {
            ++answered;
        } else if (frame.Type() == FrameType::ErrorReply) {
            pb::ErrorReply error;
            ASSERT_TRUE(error.ParseFromString(frame.payload));
            EXPECT_EQ(error.code(), pb::ErrorReply::BUSY);
            EXPECT_EQ(error.frame_type(), static_cast<std::uint32_t>(FrameType::UsersRequest));
            message = error.message();
            ++refused;
        }
    }
    EXPECT_GE(answered, 10u);
    EXPECT_GE(refused, 1u);
    EXPECT_NE(message.find("Too many user list requests"), std::string::npos) << message;
    EXPECT_NE(message.find("wait"), std::string::npos) << message;
    ExpectServed(*user);
}

TEST_F(ServerTest, AChurnerIsDroppedAndItsChurnMergedForTheOthers) {
    // One relay batch a second: everything the churner does in its burst falls in one or two.
    StartServer({"--relay-interval", "1"});
    auto member = LoggedIn("alice");
    pb::JoinReply joined;
    ASSERT_TRUE(member->Send(FrameType::Join, JoinOf("Park")));
    ASSERT_TRUE(member->Expect(FrameType::JoinReply, joined));
    ASSERT_EQ(joined.result(), pb::JoinReply::JOINED);

    auto churner = Guest(server_.Port(), kAttacker);
    for (int i = 0; i < 300; ++i)
        if (!churner->Send(FrameType::Join, JoinOf("Park")) ||
            !churner->Send(FrameType::Leave, pb::Leave()))
            break;
    EXPECT_TRUE(churner->WaitForClose(10)) << "the churner was not dropped";
    EXPECT_LE(CountOf(*churner, FrameType::JoinReply), 20u);

    // The member is served, and heard of the churn in a few merged lines at most.
    ExpectServed(*member);
    std::size_t news = 0;
    wire::Frame frame;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < deadline && member->Receive(frame, 0.2))
        news += frame.Type() == FrameType::MemberJoined || frame.Type() == FrameType::MemberLeft;
    EXPECT_LE(news, 4u);

    // The log holds a handful of the churner's joins, and a line that counts the rest.
    std::string log = Log();
    EXPECT_LE(Count(log, "join \"guest\""), 5u) << log;
    EXPECT_LT(log.size(), 20000u);
}

TEST_F(ServerTest, TheLogRotatesAtItsConfiguredSizeAndKeepsAFewOldOnes) {
    StartServer({"--log-rotate-size", "1500", "--log-keep", "2"});
    for (int i = 0; i < 30; ++i)
        LoggedIn("user" + std::to_string(i));
    std::string base = DataDir() + "/pelora-server.log";
    ASSERT_TRUE(std::filesystem::exists(base + ".1"));
    EXPECT_TRUE(std::filesystem::exists(base + ".2"));
    EXPECT_FALSE(std::filesystem::exists(base + ".3"));
    for (const std::string& path : {base, base + ".1", base + ".2"})
        EXPECT_LE(std::filesystem::file_size(path), 1500u + 200u) << path;
    // The newest lines are in the current file, the ones before them in .1.
    EXPECT_NE(ReadAll(base).find("user29"), std::string::npos);
}

TEST_F(ServerTest, OneAddressCannotTakeEveryConnection) {
    StartServer({"--max-connections-per-address", "5", "--handshake-timeout", "30"});
    std::vector<std::unique_ptr<WireClient>> raw;
    for (int i = 0; i < 20; ++i) {
        raw.push_back(std::make_unique<WireClient>(server_.Port(), kAttacker));
        ASSERT_TRUE(raw.back()->ConnectTcp()); // never starts TLS
    }
    // Another machine is served meanwhile.
    auto user = LoggedIn("alice");
    ExpectServed(*user);
    // All but five were closed at once.
    std::size_t closed = 0;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    std::vector<bool> done(raw.size(), false);
    while (closed < 15 && Clock::now() < deadline)
        for (std::size_t i = 0; i < raw.size(); ++i)
            if (!done[i] && raw[i]->WaitForClose(0.01)) {
                done[i] = true;
                ++closed;
            }
    EXPECT_EQ(closed, 15u);
    // Loopback is not exempt, and a closed connection gives its place back.
    raw.clear();
    WireClient later(server_.Port(), kAttacker);
    auto until = Clock::now() + std::chrono::seconds(5);
    bool greeted = false;
    while (!greeted && Clock::now() < until) {
        WireClient attempt(server_.Port(), kAttacker);
        greeted = attempt.ConnectAndGreet();
    }
    EXPECT_TRUE(greeted);
}

TEST_F(ServerTest, AFrameTrickledByteByByteMeetsTheFrameDeadline) {
    StartServer({"--frame-timeout", "0.5", "--idle-timeout", "30"});
    auto user = LoggedIn("alice");
    auto trickler = LoggedIn("bob");
    pb::Ping ping;
    std::string frame;
    ASSERT_TRUE(wire::AppendMessage(frame, FrameType::Ping, ping));
    auto start = Clock::now();
    bool closed = false;
    // A byte whenever a tenth of a second passes without the server closing; the idle clock
    // would restart with each.
    for (std::size_t i = 0; !closed && Clock::now() - start < std::chrono::seconds(5); ++i) {
        if (i < frame.size() - 1)
            trickler->SendRaw(frame.substr(i, 1));
        else
            trickler->SendRaw(std::string(1, '\0')); // never the frame's end
        closed = trickler->WaitForClose(0.1);
    }
    EXPECT_TRUE(closed);
    pb::Goodbye goodbye;
    EXPECT_TRUE(trickler->Expect(FrameType::Goodbye, goodbye, 0));
    EXPECT_NE(goodbye.reason().find("did not arrive whole"), std::string::npos) << goodbye.reason();
    ExpectServed(*user);
}

TEST_F(ServerTest, AConnectionThatDoesNotLogInInTimeIsClosed) {
    StartServer({"--login-timeout", "0.5", "--idle-timeout", "30"});
    auto user = LoggedIn("alice");
    auto lingerer = Greeted();
    auto start = Clock::now();
    bool closed = false;
    // Pings keep it from being idle; only the login deadline can end it.
    while (!closed && Clock::now() - start < std::chrono::seconds(5)) {
        pb::Ping ping;
        lingerer->Send(FrameType::Ping, ping);
        closed = lingerer->WaitForClose(0.1);
    }
    EXPECT_TRUE(closed);
    pb::Goodbye goodbye;
    EXPECT_TRUE(lingerer->Expect(FrameType::Goodbye, goodbye, 0));
    EXPECT_NE(goodbye.reason().find("No login"), std::string::npos) << goodbye.reason();
    // A logged-in connection of the same age is kept.
    ExpectServed(*user);
}
