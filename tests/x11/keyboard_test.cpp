// The program's windows driven by real key presses on a real X server (xdotool sends them
// through the X server's test extension, as a keyboard would): the Tab order of the User
// Setup and Login windows, and the Adjust Wheelchair dialog's sliders under the arrow, Page
// and Home/End keys and a mouse drag, with the dialog's own procedure snapping them.
#include "config/config.h"
#include "config/launcher_state.h"
#include "platform/dialog_window.h"
#include "resource.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace platform;

bool Silent(HWND, unsigned, WPARAM, LPARAM) {
    return false;
}

class RealKeys : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "no X server: DISPLAY is not set or cannot be reached, and these "
                            "checks press real keys (.ci/run starts Xvfb for them)";
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "xdotool is not installed (scripts/install-deps.sh installs it)";
        ResetForTesting();
        ResetLauncherState();
    }
    void TearDown() override {
        ResetForTesting();
        ResetLauncherState();
    }

    // Opens a dialog, shows it and gives it the X server's keyboard focus.
    HWND OpenFocused(int templateId, DialogProc proc) {
        HWND w = CreateDialogParam(nullptr, templateId, nullptr, proc, 0);
        EXPECT_NE(w, nullptr);
        if (!w)
            return nullptr;
        ShowWindow(w, SW_SHOWNORMAL);
        QWidget* widget = detail::LiveWidget(w);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(widget));
        // Without a window manager nobody hands out the focus: ask the X server for it.
        Xdotool({"windowfocus", "--sync", QString::number(widget->winId())});
        EXPECT_TRUE(QTest::qWaitForWindowActive(widget));
        return w;
    }

    static void Xdotool(const QStringList& arguments) {
        EXPECT_EQ(QProcess::execute("xdotool", arguments), 0) << arguments.join(' ').toStdString();
    }

    // Presses a key (xdotool's name for it) and lets the program handle it.
    static void Press(const char* key) {
        Xdotool({"key", QString::fromLatin1(key)});
        QTest::qWait(60);
    }

    static int FocusedId(HWND w) {
        QWidget* focus = detail::LiveWidget(w)->focusWidget();
        for (const auto& record : detail::LiveDialog(w)->Controls()) {
            if (record->widget == focus)
                return record->layout.id;
        }
        return 0;
    }

    // The focus after each of `presses` presses of `key`, after the one it starts on.
    static std::vector<int> Visit(HWND w, int presses, const char* key = "Tab") {
        std::vector<int> ids{FocusedId(w)};
        for (int i = 0; i < presses; ++i) {
            Press(key);
            ids.push_back(FocusedId(w));
        }
        return ids;
    }
};

TEST_F(RealKeys, UserSetupTab_ReachesEveryControlInLayoutOrder) {
    HWND w = OpenFocused(IDD_SETUP, Silent);
    ASSERT_NE(w, nullptr);
    const std::vector<int> expected{IDC_SETUP_VEHICLE, IDC_SETUP_COLOR,  IDC_SETUP_MALE,
                                    IDC_SETUP_FEMALE,  IDC_SETUP_ADJUST, IDC_SETUP_WORLD,
                                    IDC_SETUP_DRIVE,   IDC_SETUP_LOGOUT, IDC_SETUP_ONLINE_USERS,
                                    IDC_SETUP_UPDATE,  IDC_SETUP_VEHICLE};
    EXPECT_EQ(Visit(w, 10), expected);
    EXPECT_EQ(Visit(w, 2, "shift+Tab"),
              (std::vector<int>{IDC_SETUP_VEHICLE, IDC_SETUP_UPDATE, IDC_SETUP_ONLINE_USERS}));
}

// The Colour list, reached by Tab, changes its choice with the arrow keys and tells the
// window, as a click on an entry would.
TEST_F(RealKeys, ColourListByKeyboard_SelectsAndNotifies) {
    static int selections = 0;
    selections = 0;
    HWND w = OpenFocused(IDD_SETUP, [](HWND, unsigned message, WPARAM wParam, LPARAM) {
        if (message == WM_COMMAND && LOWORD(wParam) == unsigned(IDC_SETUP_COLOR) &&
            HIWORD(wParam) == unsigned(CBN_SELCHANGE))
            ++selections;
        return message == WM_COMMAND;
    });
    ASSERT_NE(w, nullptr);
    for (const char* colour : {"Red", "Green", "Blue"})
        ComboBoxAddString(w, IDC_SETUP_COLOR, colour);
    ComboBoxSetCurSel(w, IDC_SETUP_COLOR, 0);
    Press("Tab");
    ASSERT_EQ(FocusedId(w), IDC_SETUP_COLOR);
    Press("Down");
    EXPECT_EQ(ComboBoxGetCurSel(w, IDC_SETUP_COLOR), 1);
    EXPECT_EQ(selections, 1);
}

TEST_F(RealKeys, LoginTab_EditsThenButtonsLeftToRight) {
    HWND w = OpenFocused(IDD_LOGIN, Silent);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Visit(w, 5),
              (std::vector<int>{IDC_LOGIN_USERNAME, IDC_LOGIN_PASSWORD, IDC_QUIT, IDC_DRIVE_OFFLINE,
                                IDC_DRIVE_ONLINE, IDC_LOGIN_USERNAME}));
}

class AdjustKeys : public RealKeys {
protected:
    HWND Open() { return OpenFocused(IDD_ADJUST, AdjustDialogProc); }
    // Position and label after pressing `key`.
    std::pair<int, std::string> After(HWND w, int slider, int label, const char* key) {
        Press(key);
        return {TrackbarGetPos(w, slider), GetDlgItemText(w, label, 127)};
    }
};

// Every arrow press moves one snap step; Page Up and Page Down one page; Home and End to
// the ends. The stored defaults (100 %, -0.75 ft) are where it starts.
TEST_F(AdjustKeys, SpeedSlider_ArrowPageHomeEndMoveBySnapSteps) {
    HWND w = Open();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(FocusedId(w), IDC_ADJUST_SPEED);
    ASSERT_EQ(TrackbarGetPos(w, IDC_ADJUST_SPEED), 50);
    const int s = IDC_ADJUST_SPEED, l = IDC_ADJUST_SPEED_LABEL;
    using Seen = std::pair<int, std::string>;
    EXPECT_EQ(After(w, s, l, "Right"), Seen(60, "Adjust Speed Scale: 110%"));
    EXPECT_EQ(After(w, s, l, "Right"), Seen(70, "Adjust Speed Scale: 120%"));
    EXPECT_EQ(After(w, s, l, "Right"), Seen(70, "Adjust Speed Scale: 120%"));
    EXPECT_EQ(After(w, s, l, "Left"), Seen(60, "Adjust Speed Scale: 110%"));
    EXPECT_EQ(After(w, s, l, "Down"), Seen(50, "Adjust Speed Scale: 100%"));
    EXPECT_EQ(After(w, s, l, "Up"), Seen(60, "Adjust Speed Scale: 110%"));
    EXPECT_EQ(After(w, s, l, "Next"), Seen(50, "Adjust Speed Scale: 100%"));  // Page Down
    EXPECT_EQ(After(w, s, l, "Prior"), Seen(60, "Adjust Speed Scale: 110%")); // Page Up
    EXPECT_EQ(After(w, s, l, "Home"), Seen(0, "Adjust Speed Scale: 50%"));
    EXPECT_EQ(After(w, s, l, "Left"), Seen(0, "Adjust Speed Scale: 50%"));
    EXPECT_EQ(After(w, s, l, "End"), Seen(70, "Adjust Speed Scale: 120%"));
}

TEST_F(AdjustKeys, AxisSlider_ReachedByTabAndMovedBySnapSteps) {
    HWND w = Open();
    ASSERT_NE(w, nullptr);
    Press("Tab");
    ASSERT_EQ(FocusedId(w), IDC_ADJUST_AXIS);
    ASSERT_EQ(TrackbarGetPos(w, IDC_ADJUST_AXIS), 25);
    const int a = IDC_ADJUST_AXIS, l = IDC_ADJUST_AXIS_LABEL;
    using Seen = std::pair<int, std::string>;
    EXPECT_EQ(After(w, a, l, "Right"), Seen(50, "Adjust Axis Location: -0.50 ft."));
    EXPECT_EQ(After(w, a, l, "Prior"), Seen(75, "Adjust Axis Location: -0.25 ft."));
    EXPECT_EQ(After(w, a, l, "Next"), Seen(50, "Adjust Axis Location: -0.50 ft."));
    EXPECT_EQ(After(w, a, l, "Left"), Seen(25, "Adjust Axis Location: -0.75 ft."));
    EXPECT_EQ(After(w, a, l, "Left"), Seen(0, "Adjust Axis Location: -1.00 ft."));
    EXPECT_EQ(After(w, a, l, "End"), Seen(200, "Adjust Axis Location: +1.00 ft."));
}

// A drag with the real mouse ends on a snap position, one of those the keys step through.
TEST_F(AdjustKeys, MouseDrag_LandsOnAPositionTheKeysReach) {
    HWND w = Open();
    ASSERT_NE(w, nullptr);
    auto* slider = qobject_cast<QSlider*>(detail::LiveWidget(GetDlgItem(w, IDC_ADJUST_SPEED)));
    ASSERT_NE(slider, nullptr);
    // From the thumb at 100 % to about a third of the way from the left end.
    const QPoint from =
        slider->mapToGlobal(QPoint(slider->width() * 50 / 70, slider->height() / 2));
    const QPoint to = slider->mapToGlobal(QPoint(slider->width() * 23 / 70, slider->height() / 2));
    Xdotool({"mousemove", "--sync", QString::number(from.x()), QString::number(from.y())});
    Xdotool({"mousedown", "1"});
    QTest::qWait(50);
    for (int step = 1; step <= 4; ++step) {
        const int x = from.x() + (to.x() - from.x()) * step / 4;
        Xdotool({"mousemove", "--sync", QString::number(x), QString::number(to.y())});
        QTest::qWait(30);
    }
    Xdotool({"mouseup", "1"});
    QTest::qWait(100);

    const int dragged = TrackbarGetPos(w, IDC_ADJUST_SPEED);
    EXPECT_LT(dragged, 50);
    EXPECT_EQ(dragged % 10, 0) << dragged;
    EXPECT_EQ(GetDlgItemText(w, IDC_ADJUST_SPEED_LABEL, 127),
              "Adjust Speed Scale: " + std::to_string(50 + dragged) + "%");
}

// Enter still presses OK (the dialog ends) and Escape Cancel, from a slider too.
TEST_F(AdjustKeys, EnterAndEscape_StillEndTheDialog) {
    HWND w = Open();
    ASSERT_NE(w, nullptr);
    Press("Return");
    EXPECT_FALSE(IsWindowVisible(w));

    HWND again = Open();
    ASSERT_NE(again, nullptr);
    Press("Escape");
    EXPECT_FALSE(IsWindowVisible(again));
}

} // namespace
