// The Tab order of the program's own windows follows their layout, reaches every control a
// user can act on (the Colour and World lists too) and nothing the window does not show.
#include "platform_fixture.h"

#include "resource.h"

namespace platformtest {
namespace {

class TabOrder : public PlatformTest {
protected:
    HWND OpenProgramShown(int id) {
        HWND w = CreateDialogParam(nullptr, id, nullptr, SilentProc, 0);
        EXPECT_NE(w, nullptr);
        ShowWindow(w, SW_SHOWNORMAL);
        Widget(w)->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Widget(w)));
        return w;
    }

    // The control ids the focus visits, starting where it is, `presses` Tab presses long.
    static std::vector<int> Visit(HWND w, int presses, Qt::Key key = Qt::Key_Tab) {
        std::vector<int> ids{FocusedId(w)};
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(Widget(w)->focusWidget(), key);
            ids.push_back(FocusedId(w));
        }
        return ids;
    }

    static int FocusedId(HWND w) {
        QWidget* focus = Widget(w)->focusWidget();
        for (const auto& record : detail::LiveDialog(w)->Controls()) {
            if (record->widget == focus)
                return record->layout.id;
        }
        return 0;
    }
};

// Avatar group top to bottom (the two voices left to right), the World group, Drive and
// Logout under it, then the Online Users group; round to the start.
TEST_F(TabOrder, UserSetup_AvatarThenWorldThenButtonsThenOnlineUsers) {
    HWND w = OpenProgramShown(IDD_SETUP);
    const std::vector<int> expected{IDC_SETUP_VEHICLE, IDC_SETUP_COLOR,  IDC_SETUP_MALE,
                                    IDC_SETUP_FEMALE,  IDC_SETUP_ADJUST, IDC_SETUP_WORLD,
                                    IDC_SETUP_DRIVE,   IDC_SETUP_LOGOUT, IDC_SETUP_ONLINE_USERS,
                                    IDC_SETUP_UPDATE,  IDC_SETUP_VEHICLE};
    EXPECT_EQ(Visit(w, 10), expected);

    std::vector<int> backwards(expected.rbegin(), expected.rend());
    EXPECT_EQ(Visit(w, 10, Qt::Key_Backtab), backwards);
}

// Offline the window is narrowed and the Online Users part lies outside it: Tab must not
// take the focus there, where nobody can see it.
TEST_F(TabOrder, NarrowedUserSetup_SkipsControlsOutsideTheWindow) {
    HWND w = OpenProgramShown(IDD_SETUP);
    Rect r;
    ASSERT_TRUE(GetWindowRect(w, &r));
    const int offset = DialogUnitsToPixelsX(68);
    ASSERT_TRUE(MoveWindow(w, r.left + offset, r.top, r.right - r.left - 2 * offset,
                           r.bottom - r.top, true));
    EnableWindow(GetDlgItem(w, IDC_SETUP_UPDATE), false);

    const std::vector<int> visited = Visit(w, 8);
    const std::vector<int> expected{IDC_SETUP_VEHICLE, IDC_SETUP_COLOR,  IDC_SETUP_MALE,
                                    IDC_SETUP_FEMALE,  IDC_SETUP_ADJUST, IDC_SETUP_WORLD,
                                    IDC_SETUP_DRIVE,   IDC_SETUP_LOGOUT, IDC_SETUP_VEHICLE};
    EXPECT_EQ(visited, expected);

    // Wide again: the list comes back into the order.
    ASSERT_TRUE(MoveWindow(w, r.left, r.top, r.right - r.left, r.bottom - r.top, true));
    EXPECT_NE(Control(w, IDC_SETUP_ONLINE_USERS)->focusPolicy(), Qt::NoFocus);
}

TEST_F(TabOrder, Login_EditsThenButtonsLeftToRight) {
    HWND w = OpenProgramShown(IDD_LOGIN);
    EXPECT_EQ(Visit(w, 5),
              (std::vector<int>{IDC_LOGIN_USERNAME, IDC_LOGIN_PASSWORD, IDC_QUIT, IDC_DRIVE_OFFLINE,
                                IDC_DRIVE_ONLINE, IDC_LOGIN_USERNAME}));
}

TEST_F(TabOrder, SetFocusAndGetFocus_NameControlsOfTheActiveDialog) {
    HWND w = OpenProgramShown(IDD_LOGIN);
    HWND password = GetDlgItem(w, IDC_LOGIN_PASSWORD);
    EXPECT_EQ(SetFocus(password), GetDlgItem(w, IDC_LOGIN_USERNAME));
    EXPECT_EQ(GetFocus(), password);
    EXPECT_EQ(FocusedId(w), IDC_LOGIN_PASSWORD);
    EXPECT_EQ(SetFocus(w), password); // a dialog is no control: nothing changes
    EXPECT_EQ(GetFocus(), password);
}

// The sliders come first (they are at the top); the focus starts on the speed slider.
TEST_F(TabOrder, AdjustWheelchair_SlidersThenOkThenCancel) {
    HWND w = OpenProgramShown(IDD_ADJUST);
    EXPECT_EQ(Visit(w, 4), (std::vector<int>{IDC_ADJUST_SPEED, IDC_ADJUST_AXIS, IDOK, IDCANCEL,
                                             IDC_ADJUST_SPEED}));
}

TEST_F(TabOrder, RenameUser_EditThenButtonsLeftToRight) {
    HWND w = OpenProgramShown(IDD_RENAME);
    EXPECT_EQ(Visit(w, 3), (std::vector<int>{IDC_RENAME_EDIT, IDC_RENAME_CANCEL, IDC_RENAME_OK,
                                             IDC_RENAME_EDIT}));
}

} // namespace
} // namespace platformtest
