// Against the real server: the hello and its version, account creation, every login answer,
// the guest, throttling, keep-alive, and accounts kept across a restart.
#include "server_fixture.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using namespace pelora_test;
using wire::FrameType;

namespace {

pb::HelloReply HelloWith(WireClient& client, std::uint32_t version) {
    pb::Hello hello;
    hello.set_protocol_version(version);
    pb::HelloReply reply;
    EXPECT_TRUE(client.Send(FrameType::Hello, hello));
    EXPECT_TRUE(client.Expect(FrameType::HelloReply, reply));
    return reply;
}

} // namespace

TEST_F(ServerTest, HelloIsWelcomedWithTheServersLimits) {
    StartServer({"--idle-timeout", "40", "--max-file-size", "1M"});
    WireClient client(server_.Port());
    ASSERT_TRUE(client.Connect(DataDir() + "/tls/server.pem")); // the pinned certificate
    pb::HelloReply reply = HelloWith(client, wire::kProtocolVersion);
    EXPECT_EQ(reply.result(), pb::HelloReply::WELCOME);
    EXPECT_EQ(reply.protocol_version(), wire::kProtocolVersion);
    EXPECT_EQ(reply.idle_timeout_seconds(), 40u);
    EXPECT_EQ(reply.ping_interval_seconds(), 10u);
    EXPECT_EQ(reply.max_file_bytes(), 1024u * 1024);
    // The key launchers seal data files to, given over the pinned connection.
    std::string output;
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--print-public-key"},
                         output),
              0);
    std::string hex;
    for (unsigned char c : reply.seal_public_key()) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    EXPECT_EQ(hex + "\n", output);
}

TEST_F(ServerTest, UnversionedOrNewerClientIsToldToUpdateAndClosed) {
    StartServer();
    WireClient old(server_.Port());
    ASSERT_TRUE(old.Connect());
    pb::HelloReply reply = HelloWith(old, 0);
    EXPECT_EQ(reply.result(), pb::HelloReply::PLEASE_UPDATE);
    EXPECT_NE(reply.message().find("update the launcher"), std::string::npos) << reply.message();
    EXPECT_TRUE(old.WaitForClose());

    WireClient newer(server_.Port());
    ASSERT_TRUE(newer.Connect());
    reply = HelloWith(newer, wire::kProtocolVersion + 1);
    EXPECT_EQ(reply.result(), pb::HelloReply::PLEASE_UPDATE);
    EXPECT_NE(reply.message().find("update the server"), std::string::npos) << reply.message();
    EXPECT_TRUE(newer.WaitForClose());
}

TEST_F(ServerTest, ARequestBeforeTheHelloIsRefusedAndClosed) {
    StartServer();
    WireClient client(server_.Port());
    ASSERT_TRUE(client.Connect());
    pb::Login login;
    login.set_name("alice");
    ASSERT_TRUE(client.Send(FrameType::Login, login));
    pb::ErrorReply error;
    ASSERT_TRUE(client.Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::HELLO_EXPECTED);
    EXPECT_TRUE(error.closing());
    EXPECT_TRUE(client.WaitForClose());
}

TEST_F(ServerTest, EachLoginAnswerComesAsTheLauncherNeedsIt) {
    StartServer();
    auto first = Greeted();
    // Unknown → create → logged in.
    EXPECT_EQ(first->Login("alice", "tulip2").result(), pb::LoginReply::UNKNOWN_USER);
    EXPECT_EQ(first->Create("alice", "tulip2").result(), pb::CreateReply::CREATED);
    pb::LoginReply in = first->Login("alice", "tulip2");
    EXPECT_EQ(in.result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(in.name(), "alice");

    auto second = Greeted();
    // Known name, other password: in use by another user.
    pb::LoginReply other = second->Login("alice", "not hers");
    EXPECT_EQ(other.result(), pb::LoginReply::NAME_IN_USE);
    EXPECT_FALSE(other.message().empty());
    // Right password while a live session holds the account.
    EXPECT_EQ(second->Login("alice", "tulip2").result(), pb::LoginReply::ALREADY_LOGGED_IN);
    // Names are compared exactly.
    EXPECT_EQ(second->Login("Alice", "tulip2").result(), pb::LoginReply::UNKNOWN_USER);

    // Once the first logs out, the account is free again.
    ASSERT_TRUE(first->Send(FrameType::Logout, pb::Logout()));
    pb::LogoutReply out;
    ASSERT_TRUE(first->Expect(FrameType::LogoutReply, out));
    EXPECT_EQ(second->Login("alice", "tulip2").result(), pb::LoginReply::LOGGED_IN);
    // A second login on a logged-in connection is out of order.
    pb::Login again;
    again.set_name("alice");
    again.set_password("tulip2");
    ASSERT_TRUE(second->Send(FrameType::Login, again));
    pb::ErrorReply error;
    ASSERT_TRUE(second->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::UNEXPECTED);

    std::string log = Log();
    EXPECT_NE(log.find("account \"alice\" created"), std::string::npos) << log;
    EXPECT_NE(log.find("login \"alice\" from 127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("logout \"alice\""), std::string::npos) << log;
}

TEST_F(ServerTest, CreateRefusesTakenBadReservedNamesAndEmptyPasswords) {
    StartServer();
    auto client = Greeted();
    ASSERT_EQ(client->Create("bob", "pw").result(), pb::CreateReply::CREATED);
    EXPECT_EQ(client->Create("bob", "other").result(), pb::CreateReply::NAME_TAKEN);
    EXPECT_EQ(client->Create("Guest", "pw").result(), pb::CreateReply::NAME_TAKEN);
    EXPECT_EQ(client->Create("carol", "").result(), pb::CreateReply::BAD_PASSWORD);
    for (std::string bad : {std::string("../etc"), std::string("a\tb"), std::string(120, 'n'),
                            std::string(".."), std::string("")}) {
        pb::CreateReply reply = client->Create(bad, "pw");
        EXPECT_EQ(reply.result(), pb::CreateReply::BAD_NAME) << bad;
        EXPECT_FALSE(reply.message().empty());
        EXPECT_EQ(client->Login(bad, "pw").result(), pb::LoginReply::BAD_NAME) << bad;
    }
    // The password is kept only as a salted argon2id hash.
    std::ifstream database(DataDir() + "/pelora-server.db", std::ios::binary);
    std::stringstream bytes;
    bytes << database.rdbuf();
    std::ifstream wal(DataDir() + "/pelora-server.db-wal", std::ios::binary);
    bytes << wal.rdbuf();
    ASSERT_TRUE(client->Create("dave", "a very particular password").result() ==
                pb::CreateReply::CREATED);
    std::ifstream after(DataDir() + "/pelora-server.db-wal", std::ios::binary);
    bytes << after.rdbuf();
    EXPECT_EQ(bytes.str().find("a very particular password"), std::string::npos);
    EXPECT_NE(bytes.str().find("$argon2id$"), std::string::npos);
}

TEST_F(ServerTest, GuestNeedsNoAccountAndMayBeLoggedInTwice) {
    StartServer();
    auto first = Greeted();
    auto second = Greeted();
    pb::LoginReply one = first->Login("guest", "tulip");
    EXPECT_EQ(one.result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(one.name(), "guest");
    pb::LoginReply two = second->Login("GUEST", "guest");
    EXPECT_EQ(two.result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(two.name(), "guest");
    EXPECT_EQ(first->UserLines(),
              (std::vector<std::string>{"guest (not driving)", "guest (not driving)"}));
}

TEST_F(ServerTest, FailedLoginsAreThrottledAndTheRightPasswordWorksAfterTheDelay) {
    StartServer({"--throttle-name-failures", "3", "--throttle-delay", "1",
                 "--throttle-address-failures", "100"});
    auto owner = Greeted();
    ASSERT_EQ(owner->Create("erin", "right").result(), pb::CreateReply::CREATED);
    auto client = Greeted();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(client->Login("erin", "wrong").result(), pb::LoginReply::NAME_IN_USE);
    pb::LoginReply throttled = client->Login("erin", "right");
    const auto throttledAt = std::chrono::steady_clock::now();
    EXPECT_EQ(throttled.result(), pb::LoginReply::THROTTLED);
    EXPECT_GE(throttled.retry_after_seconds(), 1u);
    EXPECT_NE(throttled.message().find("wait"), std::string::npos) << throttled.message();
    // Another machine trying that name waits too.
    EXPECT_EQ(Greeted()->Login("erin", "right").result(), pb::LoginReply::THROTTLED);
    // The owner tries again when the server said the wait ends, and not before.
    std::this_thread::sleep_until(throttledAt +
                                  std::chrono::seconds(throttled.retry_after_seconds()));
    EXPECT_EQ(client->Login("erin", "right").result(), pb::LoginReply::LOGGED_IN);
}

TEST_F(ServerTest, AnAddressGuessingManyNamesIsThrottled) {
    StartServer({"--throttle-address-failures", "4", "--throttle-delay", "30"});
    auto client = Greeted();
    for (const char* name : {"u1", "u2", "u3", "u4"})
        ASSERT_EQ(client->Create(name, "right").result(), pb::CreateReply::CREATED);
    for (const char* name : {"u1", "u2", "u3", "u4"})
        EXPECT_EQ(client->Login(name, "guess").result(), pb::LoginReply::NAME_IN_USE);
    EXPECT_EQ(client->Login("u1", "right").result(), pb::LoginReply::THROTTLED);
    // The log names the refusal once, not once per attempt.
    for (int i = 0; i < 5; ++i)
        client->Login("u2", "right");
    std::string log = Log();
    std::size_t count = 0;
    for (std::size_t at = log.find("throttled for"); at != std::string::npos;
         at = log.find("throttled for", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << log;
}

TEST_F(ServerTest, PingIsAnsweredAndASilentConnectionTimesOut) {
    StartServer({"--idle-timeout", "1"});
    auto talker = Greeted();
    auto silent = Greeted();
    // The talker pings while the silent one waits for the server's word, a fifth of a second
    // at a time, until it comes (the time-out is a second) or six seconds have passed.
    pb::Goodbye goodbye;
    bool told = false;
    for (int i = 0; i < 30 && !told; ++i) {
        pb::Ping ping;
        ping.set_token(1000 + i);
        ASSERT_TRUE(talker->Send(FrameType::Ping, ping));
        pb::Pong pong;
        ASSERT_TRUE(talker->Expect(FrameType::Pong, pong));
        EXPECT_EQ(pong.token(), 1000u + i);
        told = silent->Expect(FrameType::Goodbye, goodbye, 0.2);
    }
    // The silent one was told and closed; the talker is still served.
    ASSERT_TRUE(told);
    EXPECT_NE(goodbye.reason().find("timed out"), std::string::npos) << goodbye.reason();
    EXPECT_TRUE(silent->WaitForClose(3));
    pb::Ping ping;
    ASSERT_TRUE(talker->Send(FrameType::Ping, ping));
    pb::Pong pong;
    EXPECT_TRUE(talker->Expect(FrameType::Pong, pong));
}

TEST_F(ServerTest, ARestartKeepsEveryAccount) {
    StartServer();
    {
        auto client = Greeted();
        for (int i = 0; i < 5; ++i)
            ASSERT_EQ(client->Create("user" + std::to_string(i), "pw" + std::to_string(i)).result(),
                      pb::CreateReply::CREATED);
        ASSERT_EQ(client->Login("user3", "pw3").result(), pb::LoginReply::LOGGED_IN);
        // Stopped in the middle of the session.
        RestartServer();
    }
    auto client = Greeted();
    for (int i = 0; i < 5; ++i) {
        std::string name = "user" + std::to_string(i);
        EXPECT_EQ(client->Login(name, "wrong").result(), pb::LoginReply::NAME_IN_USE) << name;
    }
    EXPECT_EQ(client->Login("user3", "pw3").result(), pb::LoginReply::LOGGED_IN);
    EXPECT_NE(Log().find("5 accounts"), std::string::npos);
}

TEST_F(ServerTest, ShutdownTellsEverySessionAndExitsCleanly) {
    StartServer();
    auto alice = LoggedIn("alice");
    auto bob = Greeted();
    EXPECT_EQ(server_.Stop(), 0);
    for (WireClient* client : {alice.get(), bob.get()}) {
        pb::Goodbye goodbye;
        ASSERT_TRUE(client->Expect(FrameType::Goodbye, goodbye));
        EXPECT_EQ(goodbye.reason(), "The server is shutting down.");
        EXPECT_TRUE(client->WaitForClose());
    }
    std::string log = Log();
    EXPECT_NE(log.find("logout \"alice\" (127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("pelora-server stopped"), std::string::npos) << log;
}

TEST_F(ServerTest, OneAddressCannotMakeAccountsWithoutEnd) {
    StartServer({"--max-creates-per-address", "2"});
    auto client = Greeted();
    EXPECT_EQ(client->Create("a1", "pw").result(), pb::CreateReply::CREATED);
    EXPECT_EQ(client->Create("a2", "pw").result(), pb::CreateReply::CREATED);
    pb::CreateReply third = client->Create("a3", "pw");
    EXPECT_EQ(third.result(), pb::CreateReply::THROTTLED);
    EXPECT_GT(third.retry_after_seconds(), 3000u);
    EXPECT_EQ(client->Login("a3", "pw").result(), pb::LoginReply::UNKNOWN_USER);
    EXPECT_EQ(client->Login("a2", "pw").result(), pb::LoginReply::LOGGED_IN);
}

// Requests carry an id that their replies echo; an older client's requests carry none, and
// their replies none either.
TEST_F(ServerTest, RepliesEchoTheRequestIdAndOlderClientsStillWork) {
    StartServer();
    WireClient client(server_.Port());
    ASSERT_TRUE(client.ConnectAndGreet());

    pb::Login login;
    login.set_name("nobody-here");
    login.set_password("secret");
    login.set_request_id(41);
    ASSERT_TRUE(client.Send(FrameType::Login, login));
    pb::LoginReply reply;
    ASSERT_TRUE(client.Expect(FrameType::LoginReply, reply));
    EXPECT_EQ(reply.result(), pb::LoginReply::UNKNOWN_USER);
    EXPECT_EQ(reply.request_id(), 41u);

    pb::CreateAccount create;
    create.set_name("nobody-here");
    create.set_password("secret");
    create.set_request_id(42);
    ASSERT_TRUE(client.Send(FrameType::CreateAccount, create));
    pb::CreateReply created;
    ASSERT_TRUE(client.Expect(FrameType::CreateReply, created));
    EXPECT_EQ(created.result(), pb::CreateReply::CREATED);
    EXPECT_EQ(created.request_id(), 42u);

    login.clear_request_id();
    ASSERT_TRUE(client.Send(FrameType::Login, login));
    ASSERT_TRUE(client.Expect(FrameType::LoginReply, reply));
    EXPECT_EQ(reply.result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(reply.request_id(), 0u);

    pb::UsersRequest users;
    users.set_request_id(43);
    ASSERT_TRUE(client.Send(FrameType::UsersRequest, users));
    pb::UsersReply page;
    ASSERT_TRUE(client.Expect(FrameType::UsersReply, page));
    EXPECT_EQ(page.request_id(), 43u);
}
