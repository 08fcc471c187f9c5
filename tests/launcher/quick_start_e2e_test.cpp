// End to end: the built launcher started as `pelox -quick` on a copy of the default home, with
// the real engine (kernel, Tcl script server, data server, a drive that drives itself without
// a display). A user saved as the last offline user logs in, drives once and the program ends.
#include "engine/services.h"
#include "fakes.h"
#include "launcher/launcher.h"
#include "platform/file_system.h"
#include "settings/global_settings.h"
#include "settings/user_settings.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "tester";
constexpr int kSecondsBefore = 100;

// The user's driving time as a data server of a fresh kernel reads it from the home folder.
int DrivingTime(const std::string& user) {
    auto ownKernel = NewRuntimeKernel();
    nKernelServer& kernel = *ownKernel;
    auto* data = dynamic_cast<plData*>(kernel.New("pldata", "/sys/servers/data"));
    if (!data)
        return -1;
    data->SetUserName(user.c_str());
    data->RefreshUser();
    return data->GetTime();
}

class QuickStart : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        fs::copy(fs::path(PELORA_SOURCE_DIR) / "home", home.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
        ASSERT_TRUE(fs::is_directory(home / "worlds")) << "the default home has no worlds";
        // A guest folder marks a machine that was set up already.
        home.MakeDir("users/guest");
        home.MakeDir(std::string("users/") + kUser);
        ASSERT_TRUE(WritePasswordFile((home / "users" / kUser).string(), "secret"));
        home.WriteFile(std::string("users/") + kUser + "/progress",
                       "level=1\nseconds=" + std::to_string(kSecondsBefore) + "\ndrives=1\n");
        {
            GlobalSettings settings((home / "globalSettings").string());
            settings.setUserName(kUser);
            settings.setDriveMode("offline");
        }
    }

    // Runs the launcher with `arguments` on the temporary home; false when it did not end.
    // Without `offscreen` it runs with no display at all (and no platform named).
    bool RunLauncher(const QStringList& arguments, bool offscreen = true) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
        if (offscreen) {
            environment.insert("QT_QPA_PLATFORM", "offscreen");
        } else {
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                environment.remove(name);
        }
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(QString::fromStdString(home.path().string()));
        process.start(PELOX_PROGRAM, arguments);
        if (!process.waitForStarted(10000))
            return false;
        bool ended = process.waitForFinished(90000);
        if (!ended) {
            process.kill();
            process.waitForFinished(5000);
        }
        output = process.readAllStandardOutput().toStdString() +
                 process.readAllStandardError().toStdString();
        exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -999;
        return ended;
    }

    // How often the engine log says a drive was started for `user`.
    int DrivesLogged(const std::string& user) const {
        const std::string runLog = home.ReadFile("n_runlog.txt");
        const std::string line = "**** startWorld()   user: " + user + "   world: ";
        int count = 0;
        for (auto at = runLog.find(line); at != std::string::npos; at = runLog.find(line, at + 1))
            ++count;
        return count;
    }

    fakes::TempHome home;
    std::string output;
    int exitCode = -1;
};

TEST_F(QuickStart, OfflineUser_DrivesOnceSavesAndEnds) {
    ASSERT_EQ(DrivingTime(kUser), kSecondsBefore);

    ASSERT_TRUE(RunLauncher({"-quick"})) << output;
    EXPECT_EQ(exitCode, 0) << output;

    // The choices of the drive were stored for the user.
    const fs::path userFolder = home / "users" / kUser;
    ASSERT_TRUE(fs::is_regular_file(userFolder / "userSettings")) << output;
    platform::SetCurrentDirectory(home.path().string());
    UserSettings settings(kUser);
    const std::string world = settings.getWorld();
    ASSERT_FALSE(world.empty());
    EXPECT_TRUE(fs::is_directory(home / "worlds" / world)) << world;
    EXPECT_FALSE(settings.getVehicleType().empty());

    const std::string runLog = home.ReadFile("n_runlog.txt");
    EXPECT_NE(runLog.find(std::string("**** startWorld()   user: ") + kUser + "   world: " + world +
                          "\n"),
              std::string::npos)
        << runLog;
    EXPECT_EQ(runLog.find("Error loading world"), std::string::npos) << runLog;
    EXPECT_EQ(runLog.find("Error loading avatar"), std::string::npos) << runLog;

    int dataFiles = 0;
    platform::FolderSearch search(userFolder.string(), "data*.*");
    platform::FolderEntry entry;
    while (search.Next(entry))
        dataFiles += entry.isDirectory ? 0 : 1;
    EXPECT_GE(dataFiles, 1);

    EXPECT_GT(DrivingTime(kUser), kSecondsBefore);
}

// The first quick start on a machine logs in as the guest, which stores an empty name; the
// next one must read that as the guest again, not stop at "Please enter a user name.".
TEST_F(QuickStart, GuestQuickStartTwice_BothDriveAndEndWithZero) {
    fs::remove(home / "globalSettings");

    ASSERT_TRUE(RunLauncher({"-quick"})) << output;
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_EQ(GlobalSettings((home / "globalSettings").string()).getUserName(), "");
    EXPECT_EQ(DrivesLogged("guest"), 1);

    ASSERT_TRUE(RunLauncher({"-quick"})) << output;
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_EQ(output.find("Please enter a user name."), std::string::npos) << output;
    EXPECT_EQ(DrivesLogged("guest"), 2);
}

TEST_F(QuickStart, StoredUserWithoutFolder_EndsWithLoginFailedCode) {
    GlobalSettings((home / "globalSettings").string()).setUserName("nobody");

    ASSERT_TRUE(RunLauncher({"-quick"})) << output;
    EXPECT_EQ(exitCode, kExitLoginFailed) << output;
    EXPECT_NE(output.find("User \"nobody\" does not exist."), std::string::npos) << output;
    EXPECT_EQ(DrivesLogged("nobody"), 0);
}

TEST_F(QuickStart, NoWorldToDrive_EndsWithDriveFailedCode) {
    std::error_code ec;
    fs::remove_all(home / "worlds", ec);
    home.MakeDir("worlds");

    ASSERT_TRUE(RunLauncher({"-quick"})) << output;
    EXPECT_EQ(exitCode, kExitDriveFailed) << output;
    EXPECT_EQ(DrivingTime(kUser), kSecondsBefore);
}

// Answered without any display and without touching the home folder.
TEST_F(QuickStart, HelpAndVersion_PrintTextAndEndWithZeroWithoutDisplay) {
    ASSERT_TRUE(RunLauncher({"--help"}, false)) << output;
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_EQ(output, UsageText());

    ASSERT_TRUE(RunLauncher({"--version"}, false)) << output;
    EXPECT_EQ(exitCode, 0) << output;
    EXPECT_EQ(output, "pelox 2.1\n");
    EXPECT_FALSE(fs::exists(home / "n_runlog.txt"));
}

} // namespace
