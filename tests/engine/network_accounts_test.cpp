// Connecting, logging in, creating accounts and logging out against a real pelora-server:
// every reply code of net::login, net::state through a whole session and a server killed in
// the middle of it, the online users through userInfoCallback, and a login cancelled from a
// Qt timer or timed out while the server does not answer.
#include "network_server_fixture.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace {

std::vector<std::string> g_lines;
void RecordLine(const char* line) {
    g_lines.push_back(line);
}

class NetworkAccounts : public NetworkServerFixture {
protected:
    void SetUp() override {
        NetworkServerFixture::SetUp();
        g_lines.clear();
    }
};

TEST_F(NetworkAccounts, Login_GivesEveryReplyCodeOfTheServer) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(Run("net::login ann secret").substr(0, 1), "2"); // unknown
    EXPECT_EQ(Run("net::createuser ann secret").substr(0, 1), "0");
    EXPECT_EQ(Run("net::login ann wrong").substr(0, 1), "3"); // another user's name

    OtherEngine other(server.Port());
    other.LogIn("ann", "secret");
    EXPECT_EQ(Run("net::login ann secret").substr(0, 1), "4"); // already logged in
    EXPECT_EQ(State(), "connected");

    // What the server refuses for a reason of its own arrives as its sentence.
    std::string refused = Run("net::login {a\\b} secret");
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(std::string("012349").find(refused[0]), std::string::npos) << refused;
}

TEST_F(NetworkAccounts, CreateThenLogin_IsOnlineUnderTheName) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(Run("net::createuser {Ann Lee} {pa ss[$x]}").substr(0, 1), "0");
    EXPECT_EQ(Run("net::login {Ann Lee} {pa ss[$x]}").substr(0, 1), "0");
    EXPECT_EQ(State(), "online");
    EXPECT_EQ(Run("/sys/network.getuser"), "Ann Lee");
}

TEST_F(NetworkAccounts, Guest_LogsInWithAnyPasswordFromTwoLaunchers) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(Run("net::login guest tulip").substr(0, 1), "0");
    OtherEngine other(server.Port());
    EXPECT_EQ(other.Run("net::connect").substr(0, 1), "0");
    EXPECT_EQ(other.Run("net::login Guest anything").substr(0, 1), "0");
}

TEST_F(NetworkAccounts, State_FollowsConnectLoginLogoutAndAServerKilledMidSession) {
    EXPECT_EQ(State(), "not connected");
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(State(), "connected");
    // A second connect on a standing connection keeps it.
    EXPECT_EQ(Run("net::connect").substr(0, 1), "0");
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    EXPECT_EQ(Run("net::logout").substr(0, 1), "0");
    EXPECT_EQ(State(), "connected");
    // A connect while logged in ends the login, so that the next login starts afresh.
    EXPECT_EQ(Run("net::login ann secret").substr(0, 1), "0");
    EXPECT_EQ(Run("net::connect").substr(0, 1), "0");
    EXPECT_EQ(State(), "connected");
    EXPECT_EQ(Run("net::login ann secret").substr(0, 1), "0");
    EXPECT_EQ(State(), "online");

    SignalServer(SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return State() != "online"; }));
    EXPECT_EQ(State(), "lost");
    EXPECT_EQ(LogLines("lost the connection to server 127.0.0.1:").size(), 1u);
    EXPECT_EQ(Run("net::login ann secret"), "Not connected to the server.");
    // A new server: the next connect works again.
    server.Stop();
    ASSERT_NO_FATAL_FAILURE(StartServer());
    EXPECT_EQ(Run("net::connect").substr(0, 1), "0");
    EXPECT_EQ(State(), "connected");
}

TEST_F(NetworkAccounts, InfoUsers_GivesEachLineThroughTheCallback) {
    net->userInfoCallback = RecordLine;
    ASSERT_NO_FATAL_FAILURE(LogIn("bob"));
    OtherEngine other(server.Port());
    other.LogIn("ann");
    EXPECT_EQ(Run("net::infoUsers"), "0 2 users online");
    EXPECT_EQ(g_lines, (std::vector<std::string>{"ann (not driving)", "bob (not driving)"}));

    // Without a callback the answer still comes, and nothing is called.
    g_lines.clear();
    net->userInfoCallback = nullptr;
    EXPECT_EQ(Run("net::infoUsers").substr(0, 1), "0");
    EXPECT_TRUE(g_lines.empty());
}

TEST_F(NetworkAccounts, LoginCancelledFromAQtTimerDuringTheWait_GivesNine) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    Run("net::createuser ann secret");
    Run("set net::login_timeout 20000");
    // The server is held still, so the login certainly waits when the cancel comes.
    ASSERT_NO_FATAL_FAILURE(HoldServer());
    QTimer::singleShot(100, [this] {
        std::string ignored;
        script->RunCommand("set net::wv_connect 9", ignored);
        script->RunCommand("set net::ack_login 9", ignored);
    });
    qint64 ms = 0;
    std::string result = Timed("net::login ann secret", ms);
    ReleaseServer();
    EXPECT_EQ(result.substr(0, 1), "9") << result;
    EXPECT_LT(ms, 10000);

    // The cancelled login may still have succeeded on the server: it is undone, and the next
    // login goes through on the same connection.
    EXPECT_TRUE(WaitFor([&] { return LogLines("no longer awaited").size() == 1; }, 3000));
    EXPECT_EQ(State(), "connected");
    EXPECT_EQ(Run("net::login ann secret").substr(0, 1), "0");
}

TEST_F(NetworkAccounts, LoginRetriedBeforeTheCancelledOneIsAnswered_LogsIn) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    Run("net::createuser ann secret");
    ASSERT_NO_FATAL_FAILURE(HoldServer());
    QTimer::singleShot(100, [this] {
        std::string ignored;
        script->RunCommand("set net::ack_login 9", ignored);
    });
    ASSERT_EQ(Run("net::login ann secret").substr(0, 1), "9");

    // The retry goes out while the server still holds the cancelled login, which then
    // succeeds first: the retry is not refused for a connection that is logged in already.
    QTimer::singleShot(200, [this] { ReleaseServer(); });
    EXPECT_EQ(Run("net::login ann secret").substr(0, 1), "0");
    EXPECT_EQ(State(), "online");
    EXPECT_EQ(Run("net::logout").substr(0, 1), "0");
    EXPECT_EQ(State(), "connected");
}

TEST_F(NetworkAccounts, ServerThatStopsAnswering_GivesTheTimeOutReplyWithinItsBound) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    Run("net::createuser ann secret");
    Run("set net::login_timeout 700");
    ASSERT_NO_FATAL_FAILURE(HoldServer());
    qint64 ms = 0;
    std::string result = Timed("net::login ann secret", ms);
    ReleaseServer();
    EXPECT_EQ(result.substr(0, 1), "1") << result;
    EXPECT_GE(ms, 650);
    EXPECT_LT(ms, 5000);
}

TEST_F(NetworkAccounts, ServerThatRefusesTheGreeting_ItsReasonIsTheLoginsAnswer) {
    server.Stop();
    ASSERT_NO_FATAL_FAILURE(StartServer({"--max-connections", "1"}));
    OtherEngine first(server.Port());
    ASSERT_EQ(first.Run("net::connect").substr(0, 1), "0");
    // The connection stood and the server answered: the launcher goes on to log in, and
    // that login's answer is the server's own sentence, for the user to read.
    EXPECT_EQ(Run("net::connect").substr(0, 1), "0");
    EXPECT_EQ(State(), "connected");
    std::string answer = Run("net::login ann secret");
    EXPECT_EQ(std::string("012349").find(answer[0]), std::string::npos) << answer;
    EXPECT_FALSE(answer.empty());
    EXPECT_EQ(State(), "not connected");
    auto lines = LogLines("could not connect to server");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("the server refused"), std::string::npos) << lines[0];
}

TEST_F(NetworkAccounts, QuietConnection_IsKeptAliveByPings) {
    server.Stop();
    ASSERT_NO_FATAL_FAILURE(
        StartServer({"--idle-timeout", "2", "--handshake-timeout", "2", "--ping-interval", "1"}));
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    // A connection made after the login that says nothing: once the server has closed it, our
    // own connection has been as long without a request as the server lets a silent one live.
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, quint16(server.Port()));
    ASSERT_TRUE(WaitFor([&] { return silent.state() == QAbstractSocket::ConnectedState; }));
    ASSERT_TRUE(
        WaitFor([&] { return silent.state() == QAbstractSocket::UnconnectedState; }, 10000));
    EXPECT_EQ(State(), "online");
    EXPECT_TRUE(LogLines("lost the connection").empty());
}

TEST_F(NetworkAccounts, ServerThatStopsAnsweringPings_CountsAsLost) {
    server.Stop();
    ASSERT_NO_FATAL_FAILURE(StartServer({"--ping-interval", "1"}));
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    ASSERT_NO_FATAL_FAILURE(HoldServer());
    bool lost = WaitFor([&] { return State() == "lost"; }, 6000);
    ReleaseServer();
    EXPECT_TRUE(lost) << State();
    EXPECT_EQ(LogLines("the server stopped answering").size(), 1u);
}

TEST_F(NetworkAccounts, EachConnectionAttempt_WritesOneLogLine) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    auto lines = LogLines("connected to server 127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_TRUE(LogLines("could not connect").empty());
}

} // namespace
