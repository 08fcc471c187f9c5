// The built tool on a real X server, driven by real key presses (xdotool): the first-run window
// takes a user from the keyboard alone and leaves the guest account when it closes. Skips
// itself without an X server; run it under xvfb-run to press the keys.
#include "fakes.h"

#include "accounts/password_file.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

class RealKeys : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "no X server (DISPLAY is not set): run under xvfb-run for real keys";
        xdotool = QStandardPaths::findExecutable("xdotool");
        if (xdotool.isEmpty())
            GTEST_SKIP() << "xdotool is not installed: no real keys can be pressed";
    }
    // One xdotool command; false when it failed or took more than ten seconds.
    bool Xdotool(const QStringList& arguments) {
        QProcess process;
        process.start(xdotool, arguments);
        if (process.waitForFinished(10000) && process.exitCode() == 0)
            return true;
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    // Gives the keyboard to the window of that title once it is shown.
    bool FocusWindow(const QString& title) {
        return Xdotool({"search", "--sync", "--onlyvisible", "--name", "^" + title + "$",
                        "windowfocus", "--sync"});
    }
    static bool WaitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 200 && !condition(); ++i)
            QThread::msleep(50);
        return condition();
    }

    QString xdotool;
    fakes::TempHome home;
};

TEST_F(RealKeys, FirstRunWindow_AddsAUserFromTheKeyboardAndLeavesTheGuestAccount) {
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
    environment.remove("QT_QPA_PLATFORM"); // the X server, not the test's offscreen platform
    tool.setProcessEnvironment(environment);
    tool.start(PLCONFIG_PROGRAM, {"-add"});
    ASSERT_TRUE(tool.waitForStarted(10000));

    ASSERT_TRUE(FocusWindow("Add User"));
    EXPECT_TRUE(Xdotool({"type", "--delay", "20", "alice"}));
    EXPECT_TRUE(Xdotool({"key", "Tab"}));
    EXPECT_TRUE(Xdotool({"type", "--delay", "20", "pw 1"}));
    EXPECT_TRUE(Xdotool({"key", "Tab"}));
    EXPECT_TRUE(Xdotool({"type", "--delay", "20", "pw 1"}));
    EXPECT_TRUE(Xdotool({"key", "Return"}));
    EXPECT_TRUE(WaitFor([&] { return fs::is_directory(home / "users" / "alice"); }));
    EXPECT_FALSE(fs::exists(home / "users" / "guest"));

    ASSERT_TRUE(FocusWindow("Pelora Users and Server"));
    EXPECT_TRUE(Xdotool({"key", "Escape"}));
    const bool ended = tool.waitForFinished(10000);
    if (!ended)
        tool.kill();
    ASSERT_TRUE(ended) << "the window did not close on Escape";

    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    std::string password;
    EXPECT_TRUE(accounts::ReadColorsFile((home / "users" / "alice").string(), password));
    EXPECT_EQ(password, "pw 1");
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
}

} // namespace
