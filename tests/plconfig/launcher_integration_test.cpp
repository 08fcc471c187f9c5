// The tool and the launcher together: users the tool makes pass the launcher's own offline
// check, and the launcher's first run with the real tool in place leaves a home that is not a
// first run any more (in the bootstrap, and end to end with the built programs).
#include "launcher_fixture.h"
#include "user_store.h"

#include "engine/services.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>

namespace launcher_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFirstRunNotice = "Pelora has detected that it is being run for the first";

class ToolAndLauncher : public LauncherTest {};

TEST_F(ToolAndLauncher, UsersTheToolKeeps_PassOrFailTheLaunchersOfflineCheck) {
    UseFakeEngine();
    platform::HWND window = OpenLoginWindow();
    ASSERT_NE(window, nullptr);
    plconfig::UserStore store(pathate(g_state.kernelServer, "users:"));
    auto verify = [&](const std::string& name, const std::string& password) {
        platform::SetDlgItemText(window, IDC_LOGIN_USERNAME, name);
        platform::SetDlgItemText(window, IDC_LOGIN_PASSWORD, password);
        boxes.boxes.clear();
        return VerifyUser();
    };
    const std::string longest(plconfig::kMaxTypedPasswordBytes, 'q');
    ASSERT_TRUE(store.AddUser("Zoë", "pässwort 1").Ok());
    ASSERT_TRUE(store.AddUser("max", longest).Ok());

    EXPECT_TRUE(verify("Zoë", "pässwort 1")) << Status();
    EXPECT_TRUE(verify("max", longest)) << Status();
    EXPECT_FALSE(verify("Zoë", "Pässwort 1"));
    EXPECT_TRUE(BoxShown("Password invalid for user \"Zoë\".  Please try again."));

    ASSERT_TRUE(store.ChangePassword("Zoë", "neu").Ok());
    EXPECT_FALSE(verify("Zoë", "pässwort 1"));
    EXPECT_TRUE(verify("Zoë", "neu")) << Status();

    ASSERT_TRUE(store.RemoveUser("Zoë").Ok());
    EXPECT_FALSE(verify("Zoë", "neu"));
    EXPECT_TRUE(BoxShown("User \"Zoë\" does not exist.  Please try again."));
}

TEST_F(ToolAndLauncher, FirstRunWithTheRealTool_MakesGuestAndTheNextStartIsNotAFirstRun) {
    classes.UseScriptServer();
    classes.UseGfxServers();
    // The tool in the folder the launcher is started from (the test program's own folder
    // holds none); it runs on the test's home, without a display.
    const fs::path start = home / "start";
    fs::create_directories(start);
    fs::create_symlink(PLCONFIG_PROGRAM, start / "plconfig");
    fs::current_path(start);
    ASSERT_FALSE(fs::exists(home / "users" / "guest"));

    BootstrapEngine();

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text.rfind(kFirstRunNotice, 0), 0u);
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));

    ReleaseEngine();
    ResetLauncherState();
    fs::current_path(start);
    boxes.boxes.clear();
    BootstrapEngine();

    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_NE(g_state.gfxServer, nullptr);
}

// The built launcher and the built tool beside it, on a copy of the default home without the
// guest account: a quick start that is a first run, then one that is not.
TEST_F(ToolAndLauncher, QuickStartOnAFreshHome_RunsTheToolOnceAndDrivesAsGuest) {
    std::error_code ec;
    fs::copy(fs::path(PELORA_SOURCE_DIR) / "home", home.path(),
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    ASSERT_FALSE(ec) << ec.message();
    fs::remove_all(home / "users" / "guest");
    auto quickStart = [&](std::string& output) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(home.path().string()));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(PELOX_PROGRAM, {"-quick"});
        if (!process.waitForStarted(10000) || !process.waitForFinished(90000)) {
            process.kill();
            process.waitForFinished(5000);
            return -1000;
        }
        output = process.readAll().toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1001;
    };
    std::string first, second;

    EXPECT_EQ(quickStart(first), 0) << first;
    EXPECT_NE(first.find(kFirstRunNotice), std::string::npos) << first;
    EXPECT_NE(first.find("plconfig --add-user NAME"), std::string::npos) << first;
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));

    EXPECT_EQ(quickStart(second), 0) << second;
    EXPECT_EQ(second.find(kFirstRunNotice), std::string::npos) << second;
    EXPECT_NE(home.ReadFile("n_runlog.txt").find("startWorld()   user: guest"), std::string::npos);
}

} // namespace
} // namespace launcher_test
