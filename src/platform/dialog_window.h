// Private to the window-system layer: the records behind window handles, the Qt dialog built
// from a template, and the hooks the layer's files use among themselves.
#pragma once

#include "window_system.h"

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QEventLoop;
class QTimer;

namespace platform {

class DialogWindow;

// A handle's record. Records are never freed or reused while the process lives, so a stale
// handle stays a harmless value; `alive` says whether it still names a window.
struct WindowObject {
    bool alive = true;
    bool destroying = false;
    bool isControl = false;
    QPointer<DialogWindow> dialog; // a dialog: itself; a control: the dialog holding it
    QPointer<QWidget> widget;      // the dialog or the control
    WindowObject* owner = nullptr; // dialogs only
    int controlId = 0;             // controls only
    DialogProc proc = nullptr;
    HICON bigIcon = nullptr;
    // Modal run.
    QEventLoop* loop = nullptr;
    bool ended = false;
    int endCode = 0;
    bool initialising = false;
    bool hiddenDuringInit = false;
};

struct IconObject {
    QIcon icon;
};

struct BitmapObject {
    QImage image;
};

struct ControlRecord {
    ControlTemplate layout;
    QPointer<QWidget> widget;
    WindowObject* handle = nullptr; // made on first GetDlgItem
    HBITMAP bitmap = nullptr;
    std::vector<int> ticks;    // trackbars: positions set by TrackbarSetTick
    bool programmatic = false; // trackbars: a change made by this layer, not by the user
    int lastAction = 0;        // trackbars: the user's last QAbstractSlider action
};

class DialogWindow : public QDialog {
public:
    DialogWindow(const DialogTemplate& dialogTemplate, WindowObject* handle);

    WindowObject* Handle() const { return handle_; }
    const DialogTemplate& Template() const { return template_; }
    ControlRecord* Control(int controlId);
    const std::vector<std::unique_ptr<ControlRecord>>& Controls() const { return controls_; }
    // Gives focus to the first tab stop, as a dialog does after its initialisation.
    void FocusFirstControl();

    std::map<std::uintptr_t, QTimer*> timers;

    void done(int) override {}
    void accept() override {}
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControl(const ControlTemplate& layout);
    bool MouseMessageWanted(const QPoint& position) const;

    WindowObject* handle_;
    DialogTemplate template_;
    std::vector<std::unique_ptr<ControlRecord>> controls_;
};

namespace detail {

WindowObject* NewWindowObject();
// The handle names a window that still exists (dialog or control).
bool IsLive(HWND window);
// The dialog of a live dialog handle; null for controls, dead or unknown handles.
DialogWindow* LiveDialog(HWND window);
// The widget of a live dialog or control handle.
QWidget* LiveWidget(HWND window);
// The control record of a live dialog's control.
ControlRecord* LiveControl(HWND dialog, int controlId);
// Every dialog still alive, in creation order.
std::vector<HWND> LiveDialogs();
void MarkDead(WindowObject* window);

// Resources registered by the program.
std::string BitmapResourcePath(int id);
std::string IconResourcePath(int id);
bool CursorResource(int id, std::string* path, int* hotX, int* hotY);

// Switches off Qt's own ending of the application when its last window closes: the quit
// message is this layer's business.
void PrepareApplication();
void QuitModalLoops();
// Capture and cursors (cursors.cpp).
void ForgetCapture(HWND window);
void ResetCursors();

} // namespace detail
} // namespace platform
