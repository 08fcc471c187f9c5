// The built launcher, started as `pelox -quick` with the last login online, against a real
// pelora-server: it logs the stored user in (making the account), drives once, sends the
// drive's data to the server and ends, without a window being shown.
#include "online_fixture.h"

#include "settings/global_settings.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace launcher_test {
namespace {

using OnlineQuickStart = OnlineTest;

TEST_F(OnlineQuickStart, StoredOnlineUser_LoggedInDrivesSendsTheDataAndEnds) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    {
        GlobalSettings settings((home / "globalSettings").string());
        settings.setUserName("ann");
        settings.setDriveMode("online");
    }

    QProcess pelox;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("PELORA_AUTODRIVE"); // the headless drive's own length
    pelox.setProcessEnvironment(environment);
    pelox.setProcessChannelMode(QProcess::MergedChannels);
    pelox.start(PELOX_PROGRAM, {"-quick"});
    ASSERT_TRUE(pelox.waitForStarted(10000));
    const bool ended = pelox.waitForFinished(30000);
    if (!ended)
        pelox.kill();
    const std::string said = pelox.readAll().toStdString();
    const std::string runLog = home.ReadFile("n_runlog.txt");

    ASSERT_TRUE(ended) << said;
    EXPECT_EQ(pelox.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(pelox.exitCode(), 0) << said << runLog;
    EXPECT_NE(runLog.find("**** startWorld()   user: ann"), std::string::npos) << runLog;
    const auto onServer = ServerFiles("ann");
    EXPECT_EQ(onServer.size(), 1u) << runLog;
    EXPECT_EQ(onServer, HomeFiles("users/ann/sent"));
    // The account was made with the stored password, and the run logged out at its end.
    ServerProbe probe(server.Port());
    EXPECT_EQ(probe.LoginReply("ann", "secret"), '0');
}

} // namespace
} // namespace launcher_test
