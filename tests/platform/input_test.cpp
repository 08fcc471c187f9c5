// Keyboard and mouse input turned into messages: Enter and the default button, Escape, Tab
// order, mouse moves and clicks in client pixels, capture, the close box.
#include "platform_fixture.h"

#include <QLineEdit>
#include <QPushButton>

namespace platformtest {
namespace {

using InputTest = PlatformTest;

TEST_F(InputTest, EnterInEdit_PressesDefaultButton) {
    HWND w = OpenShown(kForm);
    QWidget* name = Control(w, kName);
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(CountCommand(kOffline, BN_CLICKED), 1);
    EXPECT_EQ(Count(WM_COMMAND), 1);
}

TEST_F(InputTest, EnterWithDefaultButtonHidden_DoesNothing) {
    HWND w = OpenShown(kForm);
    ShowWindow(GetDlgItem(w, kOffline), SW_HIDE);
    QWidget* name = Control(w, kName);
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Return);
    QTest::keyClick(name, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(Count(WM_COMMAND), 0);
}

TEST_F(InputTest, EnterWithDefaultButtonDisabled_DoesNothing) {
    HWND w = OpenShown(kForm);
    EnableWindow(GetDlgItem(w, kOffline), false);
    QWidget* password = Control(w, kPassword);
    password->setFocus();
    QTest::keyClick(password, Qt::Key_Return);
    EXPECT_EQ(Count(WM_COMMAND), 0);
}

TEST_F(InputTest, EnterOnFocusedPushButton_PressesThatButton) {
    HWND w = OpenShown(kForm);
    QWidget* online = Control(w, kOnline);
    online->setFocus();
    ASSERT_EQ(Widget(w)->focusWidget(), online);
    QTest::keyClick(online, Qt::Key_Return);
    EXPECT_EQ(CountCommand(kOnline, BN_CLICKED), 1);
    EXPECT_EQ(CountCommand(kOffline, BN_CLICKED), 0);
}

TEST_F(InputTest, Escape_SendsCancelCommandAndDialogStays) {
    HWND w = OpenShown(kForm);
    QWidget* name = Control(w, kName);
    name->setFocus();
    QTest::keyClick(name, Qt::Key_Escape);
    EXPECT_EQ(CountCommand(IDCANCEL, 0), 1);
    EXPECT_EQ(Count(WM_COMMAND), 1);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_TRUE(IsWindowVisible(w));
}

// The layout, not the template's order: the group's two edits, then the buttons below them
// from left to right.
TEST_F(InputTest, Tab_FollowsLayoutOrder) {
    HWND w = OpenShown(kForm);
    QWidget* dialog = Widget(w);
    EXPECT_EQ(dialog->focusWidget(), Control(w, kName));
    const int order[] = {kPassword, kQuit, kOffline, kOnline, kName};
    for (int id : order) {
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(dialog->focusWidget(), Control(w, id)) << "expected control " << id;
    }
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(dialog->focusWidget(), Control(w, kOnline));
}

// Controls a template left without a tab stop are still reached; hidden and disabled ones
// are not. The list on the right is read after the controls beside it on the left.
TEST_F(InputTest, Tab_ReachesEveryControlThatTakesInput) {
    HWND w = OpenShown(kChoices);
    QWidget* dialog = Widget(w);
    EXPECT_EQ(dialog->focusWidget(), Control(w, kCombo));
    const int order[] = {kSortedCombo, kSlider, kSortedList, kMale, kFemale, kNoSelList, kCombo};
    for (int id : order) {
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(dialog->focusWidget(), Control(w, id)) << "expected control " << id;
    }
    EXPECT_EQ(Control(w, kSunken)->focusPolicy(), Qt::NoFocus);
}

TEST_F(InputTest, PasswordEdit_HidesCharacters) {
    HWND w = Open(kForm);
    auto* password = qobject_cast<QLineEdit*>(Control(w, kPassword));
    ASSERT_NE(password, nullptr);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    SetDlgItemText(w, kPassword, "hunter2");
    EXPECT_EQ(GetDlgItemText(w, kPassword, 127), "hunter2");
    EXPECT_EQ(qobject_cast<QLineEdit*>(Control(w, kName))->echoMode(), QLineEdit::Normal);
}

TEST_F(InputTest, ButtonClick_SendsCommandAtOnce) {
    int nested = 0;
    CurrentBehaviour() = [&](HWND, unsigned m, WPARAM, LPARAM) {
        nested += m == WM_COMMAND;
        return true;
    };
    HWND w = OpenShown(kForm);
    QTest::mouseClick(Control(w, kQuit), Qt::LeftButton);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(CountCommand(kQuit, BN_CLICKED), 1);
}

TEST_F(InputTest, MouseOverStaticBitmap_ReachesDialogInClientPixels) {
    HWND w = OpenShown(kForm);
    QWidget* dialog = Widget(w);
    QTest::mouseMove(dialog, QPoint(150, 320));
    const Received* move = Last(WM_MOUSEMOVE);
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(move->window, w);
    EXPECT_EQ(LOWORD(std::uintptr_t(move->lParam)), 150u);
    EXPECT_EQ(HIWORD(std::uintptr_t(move->lParam)), 320u);

    QTest::mouseClick(dialog, Qt::LeftButton, {}, QPoint(160, 330));
    const Received* click = Last(WM_LBUTTONDOWN);
    ASSERT_NE(click, nullptr);
    EXPECT_EQ(LOWORD(std::uintptr_t(click->lParam)), 160u);
    EXPECT_EQ(HIWORD(std::uintptr_t(click->lParam)), 330u);
}

TEST_F(InputTest, MouseOverStaticTextAndGroupBox_ReachesDialog) {
    HWND w = OpenShown(kForm);
    Rect status;
    ASSERT_TRUE(GetControlRect(w, kStatus, &status));
    QTest::mouseMove(Widget(w), QPoint(status.left + 5, status.top + 5));
    ASSERT_EQ(Count(WM_MOUSEMOVE), 1);
    EXPECT_EQ(HIWORD(std::uintptr_t(Last(WM_MOUSEMOVE)->lParam)), unsigned(status.top + 5));
}

TEST_F(InputTest, MouseOverPushButton_GoesToButtonNotDialog) {
    HWND w = OpenShown(kForm);
    Rect quit;
    ASSERT_TRUE(GetControlRect(w, kQuit, &quit));
    QTest::mouseMove(Widget(w), QPoint(quit.left + 5, quit.top + 5));
    EXPECT_EQ(Count(WM_MOUSEMOVE), 0);
}

TEST_F(InputTest, CapturedMouseOutsideClient_GivesCutNegativeCoordinates) {
    HWND w = OpenShown(kForm);
    EXPECT_EQ(SetCapture(w), nullptr);
    EXPECT_EQ(GetCapture(), w);
    // Delivered to the window as the window system does for a captured pointer.
    QTest::mouseMove(Widget(w)->windowHandle(), QPoint(-5, 20));
    const Received* move = Last(WM_MOUSEMOVE);
    ASSERT_NE(move, nullptr);
    EXPECT_EQ(LOWORD(std::uintptr_t(move->lParam)), 65531u);
    EXPECT_EQ(HIWORD(std::uintptr_t(move->lParam)), 20u);
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(InputTest, DestroyingCaptureWindow_ReleasesCapture) {
    HWND w = OpenShown(kForm);
    SetCapture(w);
    DestroyWindow(w);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(InputTest, CloseBoxUnhandled_SendsCloseThenCancelAndStays) {
    HWND w = OpenShown(kForm);
    Widget(w)->close();
    ASSERT_EQ(Log().size(), 3u); // init, close, cancel
    EXPECT_EQ(Log()[1].message, unsigned(WM_CLOSE));
    EXPECT_EQ(CountCommand(IDCANCEL, 0), 1);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_TRUE(IsWindowVisible(w));
}

TEST_F(InputTest, CloseBoxHandled_NoCancelCommand) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_CLOSE)
            DestroyWindow(w);
        return m == WM_CLOSE;
    };
    HWND w = OpenShown(kForm);
    Widget(w)->close();
    EXPECT_EQ(Count(WM_CLOSE), 1);
    EXPECT_EQ(Count(WM_COMMAND), 0);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(w));
}

} // namespace
} // namespace platformtest
