// Dialogs built from templates: geometry, creation and destruction, modal runs, handles that
// outlive their windows, showing, moving, icons and timers.
#include "platform_fixture.h"

#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace platformtest {
namespace {

using DialogTest = PlatformTest;

// ---- geometry ----------------------------------------------------------------------------------

TEST_F(DialogTest, Template_ClientAreaAndControlsInPixels) {
    HWND w = Open(kForm);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Widget(w)->size(), QSize(DialogUnitsToPixelsX(257), DialogUnitsToPixelsY(335)));

    Rect banner;
    ASSERT_TRUE(GetControlRect(w, kBanner, &banner));
    EXPECT_EQ(banner.left, DialogUnitsToPixelsX(12));
    EXPECT_EQ(banner.top, DialogUnitsToPixelsY(10));
    EXPECT_EQ(banner.right - banner.left, DialogUnitsToPixelsX(233));
    EXPECT_EQ(banner.bottom - banner.top, DialogUnitsToPixelsY(197));

    Rect name;
    ASSERT_TRUE(GetControlRect(w, kName, &name));
    EXPECT_EQ(name.left, DialogUnitsToPixelsX(25));
    EXPECT_EQ(name.top, DialogUnitsToPixelsY(261));
    EXPECT_EQ(name.right - name.left, DialogUnitsToPixelsX(85));
}

TEST_F(DialogTest, CentredTemplate_CentredOnScreen) {
    HWND w = Open(kForm);
    Rect r;
    ASSERT_TRUE(GetWindowRect(w, &r));
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(std::abs((r.left + r.right) / 2 - centre.x()), 1);
    EXPECT_LE(std::abs((r.top + r.bottom) / 2 - centre.y()), 1);
}

TEST_F(DialogTest, Template_CaptionAndFrame) {
    HWND form = Open(kForm);
    HWND popup = Open(kPopup);
    EXPECT_EQ(GetWindowText(form), "Form");
    EXPECT_FALSE(Widget(form)->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(Widget(popup)->windowFlags() & Qt::FramelessWindowHint);
}

TEST_F(DialogTest, HiddenAndDisabledStyles_ApplyAtCreation) {
    HWND w = OpenShown(kChoices);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(w, kHiddenEdit)));
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(w, kCombo)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, kDisabledButton)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(w, kCombo)));
}

TEST_F(DialogTest, MoveWindow_GivesNewScreenRectangle) {
    HWND w = Open(kForm);
    ASSERT_TRUE(MoveWindow(w, 120, 40, 181, 544, true));
    Rect r;
    ASSERT_TRUE(GetWindowRect(w, &r));
    EXPECT_EQ(r.left, 120);
    EXPECT_EQ(r.top, 40);
    EXPECT_EQ(r.right, 301);
    EXPECT_EQ(r.bottom, 584);
}

TEST_F(DialogTest, WindowRect_SameBeforeAndAfterShowing) {
    HWND centred = Open(kForm);
    HWND moved = Open(kChoices);
    ASSERT_TRUE(MoveWindow(moved, 33, 44, 300, 200, true));
    Rect centredBefore, movedBefore, centredAfter, movedAfter;
    GetWindowRect(centred, &centredBefore);
    GetWindowRect(moved, &movedBefore);
    ShowWindow(centred, SW_SHOWNORMAL);
    ShowWindow(moved, SW_SHOWNORMAL);
    QCoreApplication::processEvents();
    GetWindowRect(centred, &centredAfter);
    GetWindowRect(moved, &movedAfter);
    EXPECT_EQ(centredAfter.left, centredBefore.left);
    EXPECT_EQ(centredAfter.top, centredBefore.top);
    EXPECT_EQ(movedAfter.left, 33);
    EXPECT_EQ(movedAfter.top, 44);
    EXPECT_EQ(movedAfter.right, 333);
}

// ---- pictures and icons ------------------------------------------------------------------------

TEST_F(DialogTest, BitmapResourceInTemplate_ControlSizedToPicture) {
    QTemporaryDir dir;
    RegisterBitmapResource(kBitmapResource, WriteImage(dir, "pic.bmp", 57, 31, "BMP"));
    HWND w = Open(kPicture);
    Rect r;
    ASSERT_TRUE(GetControlRect(w, kPictureBitmap, &r));
    // Wider than its place: from the place's left edge; less high: in the middle of it.
    EXPECT_EQ(r.left, DialogUnitsToPixelsX(10));
    EXPECT_EQ(r.top, DialogUnitsToPixelsY(10) + (DialogUnitsToPixelsY(20) - 31) / 2);
    EXPECT_EQ(r.right - r.left, 57);
    EXPECT_EQ(r.bottom - r.top, 31);
    HBITMAP shown = GetStaticBitmap(w, kPictureBitmap);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(BitmapWidth(shown), 57);

    // Registered again: the picture already handed out stays valid.
    RegisterBitmapResource(kBitmapResource, WriteImage(dir, "pic2.bmp", 12, 13, "BMP"));
    EXPECT_EQ(BitmapWidth(GetStaticBitmap(w, kPictureBitmap)), 57);
    EXPECT_EQ(BitmapWidth(LoadBitmapResource(kBitmapResource)), 12);
}

TEST_F(DialogTest, SetStaticBitmap_ShowsFileAtItsSize) {
    QTemporaryDir dir;
    HBITMAP bitmap = LoadBitmapFile(WriteImage(dir, "thumb.bmp", 40, 25, "BMP"));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(BitmapWidth(bitmap), 40);
    EXPECT_EQ(BitmapHeight(bitmap), 25);

    HWND w = Open(kForm);
    ASSERT_TRUE(SetStaticBitmap(w, kBanner, bitmap));
    EXPECT_EQ(GetStaticBitmap(w, kBanner), bitmap);
    Rect r;
    ASSERT_TRUE(GetControlRect(w, kBanner, &r));
    // Smaller than its place: in the middle of it.
    EXPECT_EQ(r.left, DialogUnitsToPixelsX(12) + (DialogUnitsToPixelsX(233) - 40) / 2);
    EXPECT_EQ(r.top, DialogUnitsToPixelsY(10) + (DialogUnitsToPixelsY(197) - 25) / 2);
    EXPECT_EQ(r.right - r.left, 40);
    EXPECT_EQ(r.bottom - r.top, 25);
    auto* label = qobject_cast<QLabel*>(Control(w, kBanner));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->pixmap().size(), QSize(40, 25));
}

TEST_F(DialogTest, MissingOrBrokenBitmapFile_GivesNullWithErrorText) {
    QTemporaryDir dir;
    EXPECT_EQ(LoadBitmapFile(dir.filePath("none.bmp").toStdString()), nullptr);
    EXPECT_EQ(GetLastErrorText(), "The system cannot find the file specified.");

    const std::string broken = dir.filePath("broken.bmp").toStdString();
    FILE* f = std::fopen(broken.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a picture", f);
    std::fclose(f);
    EXPECT_EQ(LoadBitmapFile(broken), nullptr);
    EXPECT_EQ(GetLastErrorText(), "The image file is invalid.");
}

TEST_F(DialogTest, BigIcon_SetAndRead) {
    QTemporaryDir dir;
    RegisterIconResource(kIconResource, WriteImage(dir, "icon.png", 32, 32, "PNG"));
    HICON icon = LoadIconResource(kIconResource);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconResource(kIconResource), icon);
    EXPECT_EQ(LoadIconResource(kIconResource + 100), nullptr);

    HWND w = Open(kForm);
    EXPECT_EQ(GetBigIcon(w), nullptr);
    ASSERT_TRUE(SetBigIcon(w, icon));
    EXPECT_EQ(GetBigIcon(w), icon);
    EXPECT_FALSE(Widget(w)->windowIcon().isNull());
}

// ---- modeless lifecycle ------------------------------------------------------------------------

TEST_F(DialogTest, CreateDialogParam_SendsInitWithParameterAndStaysHidden) {
    HWND w = Open(kForm, 4711);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(Log().size(), 1u);
    EXPECT_EQ(Log()[0].window, w);
    EXPECT_EQ(Log()[0].message, unsigned(WM_INITDIALOG));
    EXPECT_EQ(Log()[0].lParam, 4711);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_FALSE(IsWindowVisible(w));
}

TEST_F(DialogTest, VisibleTemplate_ShownAfterInit) {
    bool visibleDuringInit = true;
    CurrentBehaviour() = [&](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            visibleDuringInit = IsWindowVisible(w);
        return false;
    };
    HWND w = Open(kPopup);
    EXPECT_FALSE(visibleDuringInit);
    EXPECT_TRUE(IsWindowVisible(w));
}

TEST_F(DialogTest, ShownByProcedureDuringInit_IsVisible) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            ShowWindow(w, SW_SHOWNORMAL);
        return m == WM_INITDIALOG;
    };
    HWND w = Open(kForm);
    EXPECT_TRUE(IsWindowVisible(w));
}

TEST_F(DialogTest, DestroyedDuringInit_GivesNull) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            DestroyWindow(w);
        return true;
    };
    HWND w = Open(kForm);
    EXPECT_EQ(w, nullptr);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(Log()[0].window));
}

TEST_F(DialogTest, UnknownTemplate_NullAndMinusOneWithErrorText) {
    SetLastErrorText("");
    EXPECT_EQ(CreateDialogParam(nullptr, 9999, nullptr, RecordingProc, 0), nullptr);
    EXPECT_EQ(GetLastErrorText(), "The specified resource name cannot be found in the image file.");
    SetLastErrorText("");
    EXPECT_EQ(DialogBoxParam(nullptr, 9999, nullptr, RecordingProc, 0), -1);
    EXPECT_EQ(GetLastErrorText(), "The specified resource name cannot be found in the image file.");
    EXPECT_TRUE(Log().empty());
}

TEST_F(DialogTest, DestroyWindow_SendsDestroyAndDeletesWidgetLater) {
    HWND w = OpenShown(kForm);
    QPointer<QWidget> widget = Widget(w);
    ASSERT_TRUE(DestroyWindow(w));
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(widget->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(widget.isNull());
}

TEST_F(DialogTest, DestroyedInsideOwnButtonHandler_HandlerFinishesSafely) {
    std::string textAfterDestroy = "unset";
    CurrentBehaviour() = [&](HWND w, unsigned m, WPARAM wp, LPARAM) {
        if (m == WM_COMMAND && LOWORD(wp) == unsigned(kQuit)) {
            DestroyWindow(w);
            textAfterDestroy = GetDlgItemText(w, kName, 100);
            return true;
        }
        return false;
    };
    HWND w = OpenShown(kForm);
    QPointer<QWidget> widget = Widget(w);
    QTest::mouseClick(Control(w, kQuit), Qt::LeftButton);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_EQ(textAfterDestroy, "");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(widget.isNull());
}

TEST_F(DialogTest, DestroyedHandle_EveryCallDoesNothing) {
    HWND w = Open(kChoices);
    HWND combo = GetDlgItem(w, kCombo);
    ASSERT_NE(combo, nullptr);
    DestroyWindow(w);
    Log().clear();

    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(IsWindow(combo));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_FALSE(SendMessage(w, WM_COMMAND, 1, 0));
    EXPECT_FALSE(SendCommand(w, 1, 0));
    EXPECT_FALSE(ShowWindow(w, SW_SHOWNORMAL));
    EXPECT_FALSE(ShowWindow(combo, SW_SHOWNORMAL));
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_FALSE(EnableWindow(combo, true));
    EXPECT_FALSE(EndDialog(w, 1));
    EXPECT_EQ(GetDlgItem(w, kCombo), nullptr);
    EXPECT_FALSE(SetDlgItemText(w, kCombo, "x"));
    EXPECT_EQ(GetDlgItemText(w, kCombo, 10), "");
    EXPECT_EQ(GetWindowText(w), "");
    EXPECT_EQ(ComboBoxAddString(w, kCombo, "x"), -1);
    EXPECT_EQ(ComboBoxGetCount(w, kCombo), 0);
    EXPECT_EQ(SetTimer(w, 1, 10), 0u);
    EXPECT_FALSE(KillTimer(w, 1));
    Rect r{1, 2, 3, 4};
    EXPECT_FALSE(GetWindowRect(w, &r));
    EXPECT_EQ(r.left, 1);
    EXPECT_FALSE(MoveWindow(w, 0, 0, 10, 10, true));
    EXPECT_EQ(SetCapture(w), nullptr);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(Log().empty());

    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(ShowWindow(nullptr, SW_HIDE));
    EXPECT_EQ(GetDlgItemText(nullptr, kCombo, 10), "");
}

TEST_F(DialogTest, DestroyingOwner_DestroysOwnedWindowsFirst) {
    HWND owner = Open(kForm);
    HWND owned = CreateDialogParam(nullptr, kPopup, owner, RecordingProc, 0);
    ASSERT_NE(owned, nullptr);
    Log().clear();
    DestroyWindow(owner);
    ASSERT_EQ(Count(WM_DESTROY), 2);
    EXPECT_EQ(Log()[0].window, owned);
    EXPECT_EQ(Log()[1].window, owner);
    EXPECT_FALSE(IsWindow(owned));
}

TEST_F(DialogTest, DestroyedControl_GoneFromItsDialog) {
    HWND w = Open(kForm);
    HWND status = GetDlgItem(w, kStatus);
    ASSERT_TRUE(DestroyWindow(status));
    EXPECT_FALSE(IsWindow(status));
    EXPECT_TRUE(IsWindow(w));
    EXPECT_EQ(GetDlgItem(w, kStatus), nullptr);
    EXPECT_FALSE(SetDlgItemText(w, kStatus, "x"));
    EXPECT_TRUE(Log().size() == 1 && Log()[0].message == WM_INITDIALOG);
}

// ---- showing -----------------------------------------------------------------------------------

TEST_F(DialogTest, ShowWindow_MinimiseAndRestore) {
    HWND w = OpenShown(kForm);
    ShowWindow(w, SW_SHOWMINNOACTIVE);
    EXPECT_TRUE(IsIconic(w));
    ShowWindow(w, SW_RESTORE);
    EXPECT_FALSE(IsIconic(w));
    EXPECT_TRUE(IsWindowVisible(w));
    ShowWindow(w, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(w));
}

TEST_F(DialogTest, ControlHandles_ShowHideEnableAndText) {
    HWND w = OpenShown(kForm);
    HWND quit = GetDlgItem(w, kQuit);
    ASSERT_NE(quit, nullptr);
    EXPECT_EQ(GetDlgItem(w, kQuit), quit);
    EXPECT_EQ(GetDlgItem(w, 12345), nullptr);
    EXPECT_EQ(GetWindowText(quit), "Quit");

    ShowWindow(quit, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(quit));
    ShowWindow(quit, SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(quit));
    EnableWindow(quit, false);
    EXPECT_FALSE(IsWindowEnabled(quit));
    EnableWindow(quit, true);
    EXPECT_TRUE(IsWindowEnabled(quit));
    // A control handle has no procedure of its own.
    EXPECT_FALSE(SendMessage(quit, WM_COMMAND, 0, 0));
}

// ---- timers ------------------------------------------------------------------------------------

TEST_F(DialogTest, Timer_TicksReachProcedureUntilKilled) {
    HWND w = Open(kForm);
    EXPECT_EQ(SetTimer(w, 7, 10), 7u);
    EXPECT_TRUE(QTest::qWaitFor([] { return Count(WM_TIMER) >= 2; }, 5000));
    EXPECT_EQ(Last(WM_TIMER)->wParam, 7u);
    EXPECT_EQ(Last(WM_TIMER)->window, w);
    EXPECT_TRUE(KillTimer(w, 7));
    EXPECT_FALSE(KillTimer(w, 7));
    const int ticks = Count(WM_TIMER);
    QCoreApplication::processEvents();
    EXPECT_EQ(Count(WM_TIMER), ticks);
}

TEST_F(DialogTest, SetTimer_WithoutWindowOrId_Fails) {
    EXPECT_EQ(SetTimer(nullptr, 1, 10), 0u);
    EXPECT_EQ(GetLastErrorText(), "Invalid window handle.");
    HWND w = Open(kForm);
    EXPECT_EQ(SetTimer(w, 0, 10), 0u);
    EXPECT_EQ(GetLastErrorText(), "The parameter is incorrect.");
}

// ---- modal runs --------------------------------------------------------------------------------

class ShowCounter : public QObject {
public:
    int shows = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<QDialog*>(watched))
            ++shows;
        return false;
    }
};

TEST_F(DialogTest, Modal_EndDialogDuringInit_GivesCodeAndNeverShows) {
    ShowCounter counter;
    qApp->installEventFilter(&counter);
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            EndDialog(w, 42);
        return true;
    };
    EXPECT_EQ(DialogBoxParam(nullptr, kForm, nullptr, RecordingProc, 0), 42);
    qApp->removeEventFilter(&counter);
    EXPECT_EQ(counter.shows, 0);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_FALSE(IsWindow(Log()[0].window));
}

TEST_F(DialogTest, Modal_ShownRunsUntilEndDialogThenDestroyed) {
    HWND owner = Open(kForm);
    bool visibleWhileRunning = false;
    CurrentBehaviour() = [&](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            SetTimer(w, 3, 10);
        if (m == WM_TIMER) {
            visibleWhileRunning = IsWindowVisible(w);
            EndDialog(w, 7);
        }
        return true;
    };
    EXPECT_EQ(DialogBoxParam(nullptr, kChoices, owner, RecordingProc, 0), 7);
    EXPECT_TRUE(visibleWhileRunning);
    EXPECT_EQ(Count(WM_TIMER), 1);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_TRUE(IsWindow(owner));
}

TEST_F(DialogTest, Modal_ButtonClickEndsRunWithCode) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM wp, LPARAM) {
        if (m == WM_INITDIALOG)
            QTimer::singleShot(0, [w] {
                QTest::mouseClick(detail::LiveWidget(GetDlgItem(w, kQuit)), Qt::LeftButton);
            });
        if (m == WM_COMMAND && LOWORD(wp) == unsigned(kQuit))
            EndDialog(w, IDCANCEL);
        return true;
    };
    EXPECT_EQ(DialogBoxParam(nullptr, kForm, nullptr, RecordingProc, 0), IDCANCEL);
}

TEST_F(DialogTest, Modal_HiddenByProcedureDuringInit_StaysHidden) {
    bool visible = true;
    CurrentBehaviour() = [&](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG) {
            ShowWindow(w, SW_HIDE);
            SetTimer(w, 1, 10);
        }
        if (m == WM_TIMER) {
            visible = IsWindowVisible(w);
            EndDialog(w, 5);
        }
        return true;
    };
    EXPECT_EQ(DialogBoxParam(nullptr, kForm, nullptr, RecordingProc, 0), 5);
    EXPECT_FALSE(visible);
}

TEST_F(DialogTest, Modal_PostedQuitEndsRunAndStaysPosted) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            SetTimer(w, 1, 10);
        if (m == WM_TIMER)
            PostQuitMessage(3);
        return true;
    };
    DialogBoxParam(nullptr, kForm, nullptr, RecordingProc, 0);
    EXPECT_EQ(Count(WM_TIMER), 1);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_TRUE(QuitPosted());
    EXPECT_EQ(QuitCode(), 3);
}

TEST_F(DialogTest, Modal_DestroyedDuringRun_EndsRun) {
    CurrentBehaviour() = [](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            SetTimer(w, 1, 10);
        if (m == WM_TIMER)
            DestroyWindow(w);
        return true;
    };
    EXPECT_EQ(DialogBoxParam(nullptr, kForm, nullptr, RecordingProc, 0), 0);
    EXPECT_EQ(Count(WM_DESTROY), 1);
}

TEST_F(DialogTest, ShowNormal_ActivatesWindow) {
    HWND first = OpenShown(kForm);
    HWND second = OpenShown(kChoices);
    ASSERT_EQ(QApplication::activeWindow(), Widget(second));
    ShowWindow(first, SW_SHOWNORMAL);
    EXPECT_TRUE(QTest::qWaitForWindowActive(Widget(first)));
    EXPECT_TRUE(SetForegroundWindow(second));
    EXPECT_TRUE(QTest::qWaitForWindowActive(Widget(second)));
}

TEST_F(DialogTest, Modal_NestedRunsEndInnermostFirst) {
    std::vector<int> codes;
    CurrentBehaviour() = [&](HWND w, unsigned m, WPARAM, LPARAM) {
        if (m == WM_INITDIALOG)
            SetTimer(w, 1, 10);
        if (m == WM_TIMER) {
            KillTimer(w, 1);
            if (GetWindowText(w) == "Form") {
                codes.push_back(DialogBoxParam(nullptr, kChoices, w, RecordingProc, 0));
                EndDialog(w, 11);
            } else {
                EndDialog(w, 22);
            }
        }
        return true;
    };
    EXPECT_EQ(DialogBoxParam(nullptr, kForm, nullptr, RecordingProc, 0), 11);
    EXPECT_EQ(codes, std::vector<int>{22});
}

} // namespace
} // namespace platformtest
