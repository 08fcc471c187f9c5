// Cursors and mouse capture. A cursor set by the program is an application override cursor
// that lasts until it is set again or the pointer next moves over one of our windows while
// nothing holds the capture, the way the classic platform resets the cursor on each move.
#include "dialog_window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPixmap>
#include <QWidget>

#include <map>
#include <optional>

namespace platform {

struct CursorObject {
    QCursor cursor;
    bool arrow = false;
};

namespace {

struct CursorState {
    HCURSOR current = nullptr;
    HWND capture = nullptr;
    bool filterInstalled = false;
    std::optional<CursorObject> arrow, wait;
    std::map<int, std::unique_ptr<CursorObject>> resources;
};

CursorState& S() {
    static CursorState state;
    return state;
}

bool HaveGuiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

void DropOverride() {
    if (!HaveGuiApplication())
        return;
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

class CursorResetFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseMove && watched->isWidgetType() && S().current &&
            !GetCapture() && !QWidget::mouseGrabber()) {
            DropOverride();
            S().current = nullptr;
        }
        return false;
    }
};

void InstallFilter() {
    if (S().filterInstalled || !HaveGuiApplication())
        return;
    QCoreApplication* app = QCoreApplication::instance();
    app->installEventFilter(new CursorResetFilter(app));
    S().filterInstalled = true;
}

} // namespace

HCURSOR LoadSystemCursor(int systemCursor) {
    auto& s = S();
    switch (systemCursor) {
    case IDC_ARROW:
        if (!s.arrow)
            s.arrow = CursorObject{QCursor(Qt::ArrowCursor), true};
        return &*s.arrow;
    case IDC_WAIT:
        if (!s.wait)
            s.wait = CursorObject{QCursor(Qt::WaitCursor), false};
        return &*s.wait;
    default:
        SetLastErrorText("The specified resource name cannot be found in the image file.");
        return nullptr;
    }
}

HCURSOR LoadCursorResource(int id) {
    auto& resources = S().resources;
    if (auto it = resources.find(id); it != resources.end())
        return it->second.get();
    std::string path;
    int hotX = 0, hotY = 0;
    QPixmap pixmap;
    if (!detail::CursorResource(id, &path, &hotX, &hotY) ||
        !pixmap.load(QString::fromStdString(path))) {
        SetLastErrorText("The specified resource name cannot be found in the image file.");
        return nullptr;
    }
    auto& slot = resources[id];
    slot = std::make_unique<CursorObject>(CursorObject{QCursor(pixmap, hotX, hotY), false});
    return slot.get();
}

HCURSOR SetCursor(HCURSOR cursor) {
    auto& s = S();
    HCURSOR previous = s.current;
    s.current = cursor;
    if (!cursor || cursor->arrow) {
        DropOverride();
        return previous;
    }
    if (!HaveGuiApplication())
        return previous;
    InstallFilter();
    if (QGuiApplication::overrideCursor())
        QGuiApplication::changeOverrideCursor(cursor->cursor);
    else
        QGuiApplication::setOverrideCursor(cursor->cursor);
    return previous;
}

HCURSOR GetCursor() {
    return S().current;
}

HWND SetCapture(HWND window) {
    HWND previous = GetCapture();
    QWidget* w = detail::LiveWidget(window);
    if (!w)
        return previous;
    if (previous && previous != window)
        ReleaseCapture();
    w->grabMouse();
    S().capture = window;
    return previous;
}

bool ReleaseCapture() {
    auto& s = S();
    HWND window = s.capture;
    s.capture = nullptr;
    if (window && window->widget && QWidget::mouseGrabber() == window->widget)
        window->widget->releaseMouse();
    return true;
}

HWND GetCapture() {
    HWND window = S().capture;
    return detail::IsLive(window) ? window : nullptr;
}

namespace detail {

void ForgetCapture(HWND window) {
    if (window && S().capture == window)
        ReleaseCapture();
}

void ResetCursors() {
    ReleaseCapture();
    DropOverride();
    S().current = nullptr;
}

} // namespace detail
} // namespace platform
