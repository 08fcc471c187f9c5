// The network object and the net:: procedures where no server answers: the server address,
// connection attempts that fail (each with one log line naming the address and the reason),
// a connect cancelled from a Qt timer during its wait, and procedures that answer at once
// when there is no connection instead of waiting out their bounds.
#include "network_fixture.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

namespace {

// A port on which nothing listens.
quint16 ClosedPort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    quint16 port = probe.serverPort();
    probe.close();
    return port;
}

class NetworkObject : public NetworkFixture {};

TEST_F(NetworkObject, NetSetup_MakesTheObjectWithItsSocketAndStartsNotConnected) {
    EXPECT_EQ(State(), "not connected");
    ASSERT_NE(net->GetSocket(), nullptr);
    EXPECT_EQ(net->userInfoCallback, nullptr);
    EXPECT_EQ(Run("/sys/network.getclass"), "plnetwork");
}

TEST_F(NetworkObject, ServerAddress_IsTakenFromTheLauncherAndTheScriptAlike) {
    plnSocket* socket = net->GetSocket();
    EXPECT_TRUE(socket->setAddress("Sim.Example.org:3152"));
    EXPECT_EQ(Run("/sys/network.getaddress"), "sim.example.org:3152");
    EXPECT_TRUE(socket->setAddress("[::1]:40000"));
    EXPECT_EQ(Run("/sys/network.getaddress"), "[::1]:40000");
    Run("net::setctrladdress localhost 4242");
    EXPECT_EQ(Run("/sys/network.getaddress"), "localhost:4242");

    for (const char* bad : {"nohost", "host:", "host:0", "host:65536", "host:12ab", ":3152"}) {
        EXPECT_FALSE(socket->setAddress(bad)) << bad;
        EXPECT_EQ(Run("/sys/network.getaddress"), "") << bad;
    }
    EXPECT_FALSE(LogLines("do not make a server address").empty());
}

TEST_F(NetworkObject, ConnectWithoutAnAddress_FailsAtOnceWithALogLine) {
    std::string result = Run("net::connect");
    EXPECT_EQ(result.substr(0, 1), "1") << result;
    EXPECT_EQ(State(), "not connected");
    EXPECT_EQ(LogLines("could not connect to server").size(), 1u);
}

TEST_F(NetworkObject, ConnectRefused_LogsOneLineNamingTheAddressAndRefused) {
    quint16 port = ClosedPort();
    Run("net::setctrladdress 127.0.0.1 " + std::to_string(port));
    std::string result = Run("net::connect");
    EXPECT_EQ(result.substr(0, 1), "1") << result;
    EXPECT_EQ(State(), "not connected");
    auto lines = LogLines("could not connect to server");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("127.0.0.1:" + std::to_string(port) + ": connection refused"),
              std::string::npos)
        << lines[0];
}

TEST_F(NetworkObject, ConnectToAnUnknownHost_LogsHostNotFound) {
    Run("net::setctrladdress no-such-host.invalid 3152");
    EXPECT_EQ(Run("net::connect").substr(0, 1), "1");
    auto lines = LogLines("could not connect to server no-such-host.invalid:3152: host not found");
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(NetworkObject, ServerThatAcceptsAndNeverAnswers_TimesOutWithinTheBound) {
    QTcpServer silent; // the system accepts the connections; nobody ever speaks
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Run("net::setctrladdress 127.0.0.1 " + std::to_string(silent.serverPort()));
    Run("set net::connect_timeout 600");
    qint64 ms = 0;
    std::string result = Timed("net::connect", ms);
    EXPECT_EQ(result, "1 timed out");
    EXPECT_GE(ms, 550);
    EXPECT_LT(ms, 5000);
    EXPECT_EQ(State(), "not connected");
    auto lines = LogLines("could not connect to server");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("timed out after 600 ms"), std::string::npos) << lines[0];
}

TEST_F(NetworkObject, ConnectCancelledFromAQtTimerDuringTheWait_GivesNine) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    Run("net::setctrladdress 127.0.0.1 " + std::to_string(silent.serverPort()));
    Run("set net::connect_timeout 20000");
    // As Cancel Login does it: two commands, from a Qt event, while net::connect waits.
    QTimer::singleShot(150, [this] {
        std::string ignored;
        script->RunCommand("set net::wv_connect 9", ignored);
        script->RunCommand("set net::ack_login 9", ignored);
    });
    qint64 ms = 0;
    std::string result = Timed("net::connect", ms);
    EXPECT_EQ(result.substr(0, 1), "9") << result;
    EXPECT_LT(ms, 10000);
    EXPECT_EQ(State(), "not connected");
    auto lines = LogLines("could not connect to server");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("cancelled"), std::string::npos) << lines[0];
}

TEST_F(NetworkObject, ProceduresWithoutAConnection_AnswerAtOnceWithoutSuccess) {
    Run("set net::login_timeout 20000; set net::reply_timeout 20000; "
        "set net::file_timeout 20000");
    home.WriteFile("users/ann/data-1.txt", "x");
    struct Case {
        const char* command;
        const char* first;
    } cases[] = {
        {"net::login ann secret", "N"},
        {"net::createuser ann secret", "N"},
        {"net::logout", "1"},
        {"net::infoUsers", "1"},
        {"/sys/network.start", "1"},
        {"net::infoPositions", "1"},
        {"net::leave", "1"},
        {"net::sendfile data-1.txt ann", "1"},
    };
    for (const auto& c : cases) {
        qint64 ms = 0;
        std::string result = Timed(c.command, ms);
        EXPECT_EQ(result.substr(0, 1), c.first) << c.command << ": " << result;
        EXPECT_LT(ms, 5000) << c.command;
    }
    // Nothing was sent, so the data file stays where it was.
    EXPECT_EQ(home.ReadFile("users/ann/data-1.txt"), "x");
    EXPECT_EQ(State(), "not connected");
}

TEST_F(NetworkObject, SetJoinVars_TakesFourWordsWhateverTheyHold) {
    EXPECT_EQ(Run("net::setJoinVars {Town Square} {Power Chair} Red female"), "0");
    EXPECT_EQ(Run("return $net::join_world"), "Town Square");
    EXPECT_EQ(Run("return $net::join_vehicle"), "Power Chair");
    RunFailing("net::setJoinVars Park chair Red");
}

TEST_F(NetworkObject, ReleasedDuringAConnectionAttempt_GoesQuietly) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    net->GetSocket()->setAddress(("127.0.0.1:" + std::to_string(silent.serverPort())).c_str());
    Run("/sys/network.connect");
    EXPECT_EQ(State(), "connecting");
    net->Release();
    net = nullptr;
    // The socket of the attempt goes with a deferred delete: run it, and what it posts.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(kernel->Lookup("/sys/network"), nullptr);
}

} // namespace
