// The entry point: graphics check, the -quick command line, the message loop's end and the
// release of the engine when the Login window is closed.
#include "launcher_fixture.h"

#include <QTimer>

namespace launcher_test {
namespace {

class EntryPointTest : public LauncherTest {
protected:
    // Closes the Login window from the message loop, as the user would.
    static void CloseFromLoop(std::function<void()> close) {
        QTimer::singleShot(0, [close = std::move(close)] {
            if (g_state.kernelServer)
                g_state.kernelServer->New("pldata", "/sys/servers/data", "nroot");
            close();
        });
    }
};

TEST_F(EntryPointTest, GraphicsCheckFails_ExitCodeOneAndNoWindow) {
    UseFakeEngine();
    platform::SetGraphicsCheckHook([] { return false; });

    EXPECT_EQ(WinMain(nullptr, nullptr, "", platform::SW_SHOWNORMAL), 1);

    EXPECT_EQ(g_state.loginWindow, nullptr);
    EXPECT_EQ(g_state.kernelServer, nullptr);
    EXPECT_EQ(Script(), nullptr);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(EntryPointTest, CloseBox_ReleasesEngineInOrderAndEndsWithZero) {
    UseFakeEngine();
    WriteGlobalSettings({{"user-name", "alice"}});
    PresetGlobalSettings();
    CloseFromLoop([] { platform::SendMessage(g_state.loginWindow, platform::WM_CLOSE, 0, 0); });

    EXPECT_EQ(WinMain(nullptr, nullptr, "", platform::SW_SHOWNORMAL), 0);

    int script = fakes::IndexOf("release script server");
    int gfx = fakes::IndexOf("release gfx server");
    int kernel = fakes::IndexOf("release data server");
    int settings = fakes::IndexOf("release global settings");
    ASSERT_GE(script, 0);
    EXPECT_LT(script, gfx);
    EXPECT_LT(gfx, kernel);
    EXPECT_LT(kernel, settings);
    EXPECT_EQ(g_state.scriptServer, nullptr);
    EXPECT_EQ(g_state.gfxServer, nullptr);
    EXPECT_EQ(g_state.kernelServer, nullptr);
    EXPECT_EQ(g_state.globalSettings, nullptr);
    EXPECT_FALSE(platform::IsWindow(g_state.loginWindow));
}

TEST_F(EntryPointTest, QuitButton_ReleasesEngineInOrderAndEndsWithZero) {
    UseFakeEngine();
    PresetGlobalSettings();
    CloseFromLoop([] { platform::SendCommand(g_state.loginWindow, IDC_QUIT, 0); });

    EXPECT_EQ(WinMain(nullptr, nullptr, "", platform::SW_SHOWNORMAL), 0);

    int script = fakes::IndexOf("release script server");
    int gfx = fakes::IndexOf("release gfx server");
    int kernel = fakes::IndexOf("release data server");
    int settings = fakes::IndexOf("release global settings");
    ASSERT_GE(script, 0);
    EXPECT_LT(script, gfx);
    EXPECT_LT(gfx, kernel);
    EXPECT_LT(kernel, settings);
    EXPECT_EQ(g_state.clockTimer, 0u);
}

class QuickCommandLineTest : public EntryPointTest,
                             public ::testing::WithParamInterface<const char*> {};

// The quick start runs inside the Login window's creation: an unknown saved user fails the
// login, the window quits, and the program ends with the posted code, which says so.
TEST_P(QuickCommandLineTest, QuickInAnyCase_RunsQuickStartAndEndsWithLoginFailed) {
    UseFakeEngine();
    WriteGlobalSettings({{"user-name", "nobody"}, {"drive-mode", "offline"}});

    EXPECT_EQ(WinMain(nullptr, nullptr, GetParam(), platform::SW_SHOWNORMAL), kExitLoginFailed);

    EXPECT_EQ(g_state.quickStart, 1);
    EXPECT_TRUE(BoxShown("User \"nobody\" does not exist.  Please try again."));
    EXPECT_FALSE(platform::IsWindow(g_state.loginWindow));
    EXPECT_EQ(g_state.kernelServer, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Spellings, QuickCommandLineTest,
                         ::testing::Values("-quick", "-QUICK", "-Quick"));

class OtherCommandLineTest : public EntryPointTest,
                             public ::testing::WithParamInterface<const char*> {};

TEST_P(OtherCommandLineTest, NotExactlyQuick_ShowsLoginWindowWithoutAutomaticLogin) {
    UseFakeEngine();
    WriteGlobalSettings({{"user-name", "nobody"}, {"drive-mode", "offline"}});
    bool shownWhenClosed = false;
    CloseFromLoop([&shownWhenClosed] {
        shownWhenClosed = platform::IsWindowVisible(g_state.loginWindow);
        platform::SendMessage(g_state.loginWindow, platform::WM_CLOSE, 0, 0);
    });

    EXPECT_EQ(WinMain(nullptr, nullptr, GetParam(), platform::SW_SHOWNORMAL), 0);

    EXPECT_EQ(g_state.quickStart, 0);
    EXPECT_TRUE(shownWhenClosed);
    EXPECT_TRUE(boxes.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(CommandLines, OtherCommandLineTest,
                         ::testing::Values("-quick x", "", "quick", " -quick", "-quick "));

} // namespace
} // namespace launcher_test
