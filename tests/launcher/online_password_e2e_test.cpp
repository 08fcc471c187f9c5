// One password: a password changed with plconfig --passwd is changed on the server too, so
// the next Drive Online logs in with it (no Rename dialog, no second account); when the
// server cannot be told, plconfig says so, and that the next Drive Online will fail.
#include "online_fixture.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace launcher_test {
namespace {

class OnlinePassword : public OnlineTest {
protected:
    // Runs the built plconfig on this test's home with `input` on its standard input.
    int RunPlconfig(const QStringList& arguments, const std::string& input, std::string& said) {
        QProcess plconfig;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
        plconfig.setProcessEnvironment(environment);
        plconfig.setProcessChannelMode(QProcess::MergedChannels);
        plconfig.start(PLCONFIG_PROGRAM, arguments);
        EXPECT_TRUE(plconfig.waitForStarted(10000));
        plconfig.write(input.data(), qint64(input.size()));
        plconfig.closeWriteChannel();
        const bool ended = plconfig.waitForFinished(30000);
        if (!ended)
            plconfig.kill();
        said = plconfig.readAll().toStdString();
        return ended && plconfig.exitStatus() == QProcess::NormalExit ? plconfig.exitCode() : -1;
    }
};

TEST_F(OnlinePassword, PlconfigPasswd_ChangesItOnTheServerAndTheNextDriveOnlineLogsIn) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_EQ(DriveOnline("ann", "secret"), 1); // the account is made on the server

    std::string said;
    EXPECT_EQ(RunPlconfig({"--passwd", "ann"}, "fresh one\n", said), 0) << said;
    EXPECT_NE(said.find("changed on the server 127.0.0.1:" + std::to_string(serverPort)),
              std::string::npos)
        << said;
    EXPECT_EQ(probe->LoginReply("ann", "fresh one"), '0');

    boxes.boxes.clear();
    EXPECT_EQ(DriveOnline("ann", "fresh one"), 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(g_state.renameRetry, 0);
    EXPECT_EQ(g_state.createUserSent, 0);
}

TEST_F(OnlinePassword, ServerNotReached_SaidClearlyWithExitCodeEightAndChangedHere) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_EQ(server.Stop(), 0);

    std::string said;
    EXPECT_EQ(RunPlconfig({"--passwd", "ann"}, "fresh one\n", said), 8) << said;
    EXPECT_NE(said.find("could NOT be changed on the server"), std::string::npos) << said;
    EXPECT_NE(said.find("next Drive Online"), std::string::npos) << said;
    EXPECT_NE(said.find("pelora-server --set-password ann"), std::string::npos) << said;
    std::string stored;
    ASSERT_TRUE(accounts::ReadColorsFile((home / "users" / "ann").string(), stored));
    EXPECT_EQ(stored, "fresh one");
}

} // namespace
} // namespace launcher_test
