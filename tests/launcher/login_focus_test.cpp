// The Login window's keyboard focus across a login: on Cancel Login while the login waits
// (everything else is hidden or disabled then), and back where it was when the login ends.
#include "launcher_fixture.h"

#include "platform/dialog_window.h"

#include <QTest>

namespace launcher_test {
namespace {

class LoginFocus : public LauncherTest {
protected:
    platform::HWND OpenActive() {
        UseFakeEngine();
        platform::HWND window = OpenLoginWindow();
        QWidget* widget = platform::detail::LiveWidget(window);
        widget->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(widget));
        return window;
    }
    platform::HWND Item(int id) const { return platform::GetDlgItem(g_state.loginWindow, id); }
};

TEST_F(LoginFocus, BusyAndIdle_FocusOnCancelThenBackWhereItWas) {
    OpenActive();
    platform::SetFocus(Item(IDC_LOGIN_PASSWORD));

    SetLoginBusy(true);
    EXPECT_EQ(platform::GetFocus(), Item(IDC_CANCEL_LOGIN));
    SetLoginBusy(false);
    EXPECT_EQ(platform::GetFocus(), Item(IDC_LOGIN_PASSWORD));
}

// A wrong password typed and Enter pressed in the password field: while the check runs (its
// box is up) the focus is on Cancel Login; afterwards the password field has it again, so
// the user can type the password once more at once.
TEST_F(LoginFocus, FailedOfflineLogin_FocusBackInThePasswordField) {
    home.WriteFile("users/bob/colors", std::string(1, '\x01') + char('x' ^ 0xE7));
    OpenActive();
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, "bob");
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, "wrong");
    platform::SetFocus(Item(IDC_LOGIN_PASSWORD));
    platform::HWND focusAtBox = nullptr;
    platform::SetMessageBoxHook([&](const platform::MessageBoxRecord&) {
        focusAtBox = platform::GetFocus();
        return platform::IDOK;
    });

    QTest::keyClick(platform::detail::LiveWidget(Item(IDC_LOGIN_PASSWORD)), Qt::Key_Return);

    EXPECT_EQ(focusAtBox, Item(IDC_CANCEL_LOGIN));
    EXPECT_EQ(platform::GetFocus(), Item(IDC_LOGIN_PASSWORD));
    EXPECT_FALSE(LoginBusy());
}

} // namespace
} // namespace launcher_test
