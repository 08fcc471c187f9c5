// Cursors and capture: a cursor set by the program lasts until the pointer next moves over a
// window while nothing holds the capture; SetCursor and SetCapture give what was before.
#include "platform_fixture.h"

#include <QCursor>

namespace platformtest {
namespace {

using CursorTest = PlatformTest;

Qt::CursorShape OverrideShape() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c ? c->shape() : Qt::CustomCursor;
}

bool NoOverride() {
    return QGuiApplication::overrideCursor() == nullptr;
}

TEST_F(CursorTest, SetCursor_GivesPreviousCursor) {
    QTemporaryDir dir;
    RegisterCursorResource(kCursorResource, WriteImage(dir, "hand.png", 32, 32, "PNG"), 5, 0);
    HCURSOR hand = LoadCursorResource(kCursorResource);
    HCURSOR wait = LoadSystemCursor(IDC_WAIT);
    ASSERT_NE(hand, nullptr);
    ASSERT_NE(wait, nullptr);
    EXPECT_EQ(LoadCursorResource(kCursorResource), hand);

    EXPECT_EQ(SetCursor(wait), nullptr);
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    EXPECT_EQ(SetCursor(hand), wait);
    EXPECT_EQ(OverrideShape(), Qt::BitmapCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor()->hotSpot(), QPoint(5, 0));
    EXPECT_EQ(GetCursor(), hand);
    EXPECT_EQ(SetCursor(nullptr), hand);
    EXPECT_TRUE(NoOverride());
    EXPECT_EQ(GetCursor(), nullptr);
}

TEST_F(CursorTest, ArrowCursor_RemovesOverride) {
    SetCursor(LoadSystemCursor(IDC_WAIT));
    HCURSOR arrow = LoadSystemCursor(IDC_ARROW);
    SetCursor(arrow);
    EXPECT_TRUE(NoOverride());
    EXPECT_EQ(GetCursor(), arrow);
}

TEST_F(CursorTest, UnknownCursors_GiveNull) {
    EXPECT_EQ(LoadSystemCursor(12345), nullptr);
    EXPECT_EQ(LoadCursorResource(kCursorResource + 77), nullptr);
}

TEST_F(CursorTest, WaitCursor_LastsUntilPointerMovesOverWindow) {
    HWND w = OpenShown(kForm);
    SetCursor(LoadSystemCursor(IDC_WAIT));
    QCoreApplication::processEvents();
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    QTest::mouseMove(Widget(w), QPoint(30, 40));
    EXPECT_TRUE(NoOverride());
    EXPECT_EQ(GetCursor(), nullptr);
}

TEST_F(CursorTest, WaitCursor_StaysWhileCaptured) {
    HWND w = OpenShown(kForm);
    SetCapture(w);
    SetCursor(LoadSystemCursor(IDC_WAIT));
    QTest::mouseMove(Widget(w), QPoint(30, 40));
    QTest::mouseMove(Widget(w)->windowHandle(), QPoint(-30, 40));
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
    ReleaseCapture();
    QTest::mouseMove(Widget(w), QPoint(35, 40));
    EXPECT_TRUE(NoOverride());
}

TEST_F(CursorTest, CursorSetInsideMoveHandler_SurvivesThatMove) {
    // The banner link's way: on a move with no capture, capture and show the hand.
    CurrentBehaviour() = [](HWND d, unsigned m, WPARAM, LPARAM) {
        if (m == WM_MOUSEMOVE && !GetCapture()) {
            SetCapture(d);
            SetCursor(LoadSystemCursor(IDC_WAIT));
        }
        return true;
    };
    HWND w = OpenShown(kForm);
    QTest::mouseMove(Widget(w), QPoint(30, 40));
    EXPECT_EQ(GetCapture(), w);
    EXPECT_EQ(OverrideShape(), Qt::WaitCursor);
}

TEST_F(CursorTest, SetCapture_GivesPreviousCaptureWindow) {
    HWND first = OpenShown(kForm);
    HWND second = OpenShown(kChoices);
    EXPECT_EQ(SetCapture(first), nullptr);
    EXPECT_EQ(QWidget::mouseGrabber(), Widget(first));
    EXPECT_EQ(SetCapture(second), first);
    EXPECT_EQ(GetCapture(), second);
    EXPECT_EQ(QWidget::mouseGrabber(), Widget(second));
    ReleaseCapture();
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

TEST_F(CursorTest, Reset_DropsOverrideAndCapture) {
    HWND w = OpenShown(kForm);
    SetCapture(w);
    SetCursor(LoadSystemCursor(IDC_WAIT));
    ResetForTesting();
    EXPECT_TRUE(NoOverride());
    EXPECT_EQ(GetCursor(), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
}

} // namespace
} // namespace platformtest
