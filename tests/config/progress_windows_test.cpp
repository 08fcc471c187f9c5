// The start-up and progress windows: made from their templates, owned by the Login window,
// inert to every message.
#include "config/launcher_state.h"
#include "config/progress_windows.h"
#include "fakes.h"
#include "resource.h"

#include <gtest/gtest.h>

namespace {

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ResetForTesting();
        platform::ClearQuit();
        ResetLauncherState();
    }
    void TearDown() override {
        platform::ResetForTesting();
        platform::ClearQuit();
        ResetLauncherState();
    }

    fakes::MessageBoxRecorder boxes;
};

TEST_F(ProgressWindowTest, StartupWindow_VisibleWithEmptyStatus) {
    platform::HWND window = CreateStartupWindow();

    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(platform::IsWindowVisible(window));
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_STARTUP_STATUS, 100), "");
    EXPECT_TRUE(platform::SetDlgItemText(window, IDC_STARTUP_STATUS, "Configuring..."));
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_STARTUP_STATUS, 100), "Configuring...");
    EXPECT_FALSE(platform::QuitPosted());
    EXPECT_TRUE(boxes.boxes.empty());
    platform::DestroyWindow(window);
    EXPECT_FALSE(platform::IsWindow(window));
}

TEST_F(ProgressWindowTest, ProgressWindow_HeadlineAndEmptyDetail) {
    platform::HWND window = CreateProgressWindow();

    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(platform::IsWindowVisible(window));
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_PROGRESS_HEADLINE, 100), "...");
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_PROGRESS_DETAIL, 100), "");
    platform::DestroyWindow(window);
}

TEST_F(ProgressWindowTest, SilentProcedure_HandlesNoMessage) {
    for (unsigned message : {unsigned(platform::WM_INITDIALOG), unsigned(platform::WM_COMMAND),
                             unsigned(platform::WM_TIMER), unsigned(platform::WM_CLOSE),
                             unsigned(platform::WM_DESTROY)})
        EXPECT_FALSE(
            SilentDialogProc(nullptr, message, platform::MAKEWPARAM(platform::IDOK, 0), 0));
}

TEST_F(ProgressWindowTest, CloseOrEnter_LeavesProgressWindowOpen) {
    platform::HWND window = CreateProgressWindow();

    platform::SendCommand(window, platform::IDOK, 0);
    platform::SendCommand(window, platform::IDCANCEL, 0);

    EXPECT_TRUE(platform::IsWindow(window));
    platform::DestroyWindow(window);
}

} // namespace
