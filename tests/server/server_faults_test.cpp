// Against the real server: bad clients (garbage, oversized frames, half-open handshakes,
// silence, malformed and out-of-order messages) are refused and closed while everyone else is
// served, and the log names each kind of refusal once.
#include "server_fixture.h"

#include <chrono>
#include <thread>

using namespace pelora_test;
using wire::FrameType;

namespace {

// A logged-in bystander that must stay served through another client's faults.
void ExpectServed(WireClient& client) {
    pb::Ping ping;
    ping.set_token(42);
    ASSERT_TRUE(client.Send(FrameType::Ping, ping));
    pb::Pong pong;
    ASSERT_TRUE(client.Expect(FrameType::Pong, pong));
    EXPECT_EQ(pong.token(), 42u);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

} // namespace

TEST_F(ServerTest, GarbageAndOversizedFramesCloseOnlyTheirConnection) {
    StartServer();
    auto bystander = LoggedIn("alice");

    auto garbage = Greeted();
    ASSERT_TRUE(garbage->SendRaw("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    pb::ErrorReply error;
    ASSERT_TRUE(garbage->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::FRAME_ERROR);
    EXPECT_TRUE(error.closing());
    EXPECT_TRUE(garbage->WaitForClose());

    auto huge = Greeted();
    std::string header("\x00\x0C\x7F\xFF\xFF\xFF", 6); // a Login of 2 GiB
    ASSERT_TRUE(huge->SendRaw(header));
    ASSERT_TRUE(huge->Expect(FrameType::ErrorReply, error));
    EXPECT_NE(error.message().find("over its bound"), std::string::npos) << error.message();
    EXPECT_TRUE(huge->WaitForClose());

    auto misdirected = Greeted(); // a frame only the server sends
    pb::LoginReply reply;
    std::string bytes;
    ASSERT_TRUE(wire::AppendMessage(bytes, FrameType::LoginReply, reply));
    ASSERT_TRUE(misdirected->SendRaw(bytes));
    EXPECT_TRUE(misdirected->WaitForClose());

    ExpectServed(*bystander);
}

TEST_F(ServerTest, HalfOpenHandshakesAndSilentClientsAreClosedInTime) {
    StartServer({"--handshake-timeout", "0.5"});
    auto bystander = LoggedIn("alice");
    WireClient tcpOnly(server_.Port());
    ASSERT_TRUE(tcpOnly.ConnectTcp());
    WireClient halfHello(server_.Port());
    ASSERT_TRUE(halfHello.ConnectTcp());
    ASSERT_TRUE(halfHello.SendRaw(std::string("\x16\x03\x01\x02\x00\x01", 6))); // a start only
    WireClient noHello(server_.Port());
    ASSERT_TRUE(noHello.Connect());
    ExpectServed(*bystander);
    EXPECT_TRUE(tcpOnly.WaitForClose(3));
    EXPECT_TRUE(halfHello.WaitForClose(3));
    EXPECT_TRUE(noHello.WaitForClose(3));
    ExpectServed(*bystander);
}

TEST_F(ServerTest, MalformedMessagesAreAnsweredAndTheConnectionKept) {
    StartServer();
    auto client = LoggedIn("alice");
    std::string bytes;
    ASSERT_TRUE(wire::AppendFrame(bytes, FrameType::Join, std::string("\xFF\xFF\xFF", 3)));
    ASSERT_TRUE(client->SendRaw(bytes));
    pb::ErrorReply error;
    ASSERT_TRUE(client->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::MALFORMED);
    EXPECT_EQ(error.frame_type(), static_cast<std::uint32_t>(FrameType::Join));
    EXPECT_FALSE(error.closing());

    pb::Position notANumber;
    notANumber.set_x(std::numeric_limits<float>::quiet_NaN());
    ASSERT_TRUE(client->Send(FrameType::Position, notANumber));
    ASSERT_TRUE(client->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::MALFORMED);

    pb::FileChunk stray;
    stray.set_data("abc");
    ASSERT_TRUE(client->Send(FrameType::FileChunk, stray));
    ASSERT_TRUE(client->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::UNEXPECTED);

    pb::Hello second;
    second.set_protocol_version(wire::kProtocolVersion);
    ASSERT_TRUE(client->Send(FrameType::Hello, second));
    ASSERT_TRUE(client->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::UNEXPECTED);
    ExpectServed(*client);
}

TEST_F(ServerTest, AStreamOfFaultsEndsTheConnectionAndLogsOnce) {
    StartServer();
    auto bystander = LoggedIn("alice");
    auto bad = Greeted();
    for (int i = 0; i < 100; ++i)
        if (!bad->Send(FrameType::Leave, pb::Leave())) // not logged in
            break;
    pb::ErrorReply error;
    bool closing = false;
    while (bad->Expect(FrameType::ErrorReply, error, 2))
        if (error.closing()) {
            closing = true;
            EXPECT_EQ(error.code(), pb::ErrorReply::TOO_MANY_FAULTS);
            break;
        }
    EXPECT_TRUE(closing);
    EXPECT_TRUE(bad->WaitForClose());
    ExpectServed(*bystander);
    std::string log = Log();
    EXPECT_EQ(Count(log, "refused a Leave from"), 1u) << log;
    EXPECT_EQ(Count(log, "too many faulty messages"), 1u) << log;
    EXPECT_NE(log.find("more refusals of the kind"), std::string::npos) << log;
}

TEST_F(ServerTest, TooManyConnectionsAreToldTheServerIsFull) {
    StartServer({"--max-connections", "2", "--max-users", "1"});
    auto first = LoggedIn("alice");
    auto second = Greeted();
    EXPECT_EQ(second->Login("bob", "pw").result(), pb::LoginReply::UNKNOWN_USER);
    ASSERT_EQ(second->Create("bob", "pw").result(), pb::CreateReply::CREATED);
    pb::LoginReply full = second->Login("bob", "pw");
    EXPECT_EQ(full.result(), pb::LoginReply::SERVER_FULL);
    EXPECT_FALSE(full.message().empty());
    WireClient third(server_.Port());
    ASSERT_TRUE(third.Connect());
    pb::Hello hello;
    hello.set_protocol_version(wire::kProtocolVersion);
    ASSERT_TRUE(third.Send(FrameType::Hello, hello));
    pb::HelloReply reply;
    ASSERT_TRUE(third.Expect(FrameType::HelloReply, reply));
    EXPECT_EQ(reply.result(), pb::HelloReply::SERVER_FULL);
    EXPECT_TRUE(third.WaitForClose());
    ExpectServed(*first);
}

TEST_F(ServerTest, AMalformedHelloIsAnsweredAsClosingAndClosed) {
    StartServer();
    WireClient client(server_.Port());
    ASSERT_TRUE(client.Connect());
    std::string frame;
    ASSERT_TRUE(wire::AppendFrame(frame, FrameType::Hello, std::string("\xff\xff\xff", 3)));
    ASSERT_TRUE(client.SendRaw(frame));
    pb::ErrorReply reply;
    ASSERT_TRUE(client.Expect(FrameType::ErrorReply, reply));
    EXPECT_EQ(reply.code(), pb::ErrorReply::MALFORMED);
    EXPECT_TRUE(reply.closing()) << "the reply must say the connection ends";
    EXPECT_TRUE(client.WaitForClose());
}

TEST_F(ServerTest, AClientThatDoesNotReadIsToldGoodbyeBeforeTheClose) {
    StartServer({"--max-send-queue", "64K"});
    auto bystander = LoggedIn("alice");
    WireClient slow(server_.Port());
    ASSERT_TRUE(slow.Connect("", 4096));
    pb::Hello hello;
    hello.set_protocol_version(wire::kProtocolVersion);
    ASSERT_TRUE(slow.Send(FrameType::Hello, hello));
    // Pings whose pongs it does not read, until the server's log says it gave up on it.
    std::string pings;
    for (int i = 0; i < 5000; ++i) {
        pb::Ping ping;
        ping.set_token(1000000 + i);
        wire::AppendMessage(pings, FrameType::Ping, ping);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Log().find("does not read fast enough") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        slow.SendRaw(pings);
    EXPECT_TRUE(slow.WaitForClose(10));
    pb::Goodbye goodbye;
    EXPECT_TRUE(slow.Expect(FrameType::Goodbye, goodbye, 0));
    EXPECT_NE(goodbye.reason().find("fast enough"), std::string::npos) << goodbye.reason();
    ExpectServed(*bystander);
}

TEST_F(ServerTest, NamesAndClientTextCannotForgeOrHideInTheLog) {
    StartServer();
    const std::string forger = "admin\" from 10.0.0.1: logged in; x=\"";
    const std::string hidden =
        "eve\xE2\x80\xAEgnp.exe\xE2\x80\x8B"; // right-to-left override, zero width
    auto one = LoggedIn(forger);
    auto two = LoggedIn(hidden);
    std::string log = Log();
    EXPECT_EQ(log.find("\"admin\" from 10.0.0.1"), std::string::npos) << log;
    EXPECT_NE(log.find("login \"admin\\\" from 10.0.0.1: logged in; x=\\\"\" from 127.0.0.1"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_EQ(log.find("\xE2\x80\x8B"), std::string::npos);
    EXPECT_NE(log.find("eve\\u{202E}gnp.exe\\u{200B}"), std::string::npos) << log;
}
