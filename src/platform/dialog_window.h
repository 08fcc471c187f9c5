// Private to the window-system layer: the records behind window handles, the Qt dialog built
// from a template, and the hooks the layer's files use among themselves.
#pragma once

#include "window_system.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QImage>
#include <QPointer>

#include <map>
#include <memory>
#include <string>
#include <vector>

class QEventLoop;
class QFontMetrics;
class QMessageBox;
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

// Trackbar notification codes carried in the low word of WM_HSCROLL's wParam.
enum TrackbarCode : unsigned {
    TB_LINEUP = 0,
    TB_LINEDOWN = 1,
    TB_PAGEUP = 2,
    TB_PAGEDOWN = 3,
    TB_THUMBPOSITION = 4,
    TB_THUMBTRACK = 5,
    TB_TOP = 6,
    TB_BOTTOM = 7,
    TB_ENDTRACK = 8,
};

struct ControlRecord {
    ControlTemplate layout;
    QPointer<QWidget> widget;
    Qt::FocusPolicy focusPolicy = Qt::NoFocus; // as built; taken away while out of sight
    WindowObject* handle = nullptr;            // made on first GetDlgItem
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
    // Gives focus to the first control in Tab order, as a dialog does after its
    // initialisation.
    void FocusFirstControl();

    std::map<std::uintptr_t, QTimer*> timers;

    void done(int) override {}
    void accept() override {}
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
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
    std::vector<ControlRecord*> tabOrder_; // the controls that take input, in layout order
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

// Layout (dialog_layout.cpp). The font every dialog is drawn in: the platform's UI font.
QFont DialogFont();
// Controls a user can act on: they all take the focus by Tab, whatever the template says,
// since a control left out of the Tab order cannot be reached without a mouse.
bool TakesInput(ControlKind kind);
// The controls that take input in reading order of the layout: top to bottom, left to right,
// with a group box's controls together, and side-by-side columns (as in the User Setup
// window) each read down before the next.
std::vector<ControlRecord*>
LayoutOrder(const std::vector<std::unique_ptr<ControlRecord>>& controls);
// After the dialog was resized: controls outside its client area no longer take the focus.
void UpdateReachableControls(DialogWindow* dialog);
// A control's template rectangle in client pixels.
QRect TemplateRect(const ControlTemplate& layout);
// Sizes a static picture to its bitmap, in the middle of its template rectangle.
void PlaceStaticBitmap(ControlRecord* record);
// Sizes a static text to its template rectangle, or grows it into free room when its text
// needs more lines than that holds.
void FitStaticText(DialogWindow* dialog, ControlRecord* record);

// The text with a break allowed between any two characters of each word wider than
// `width` pixels, so that a wrapping label shows all of it instead of cutting the word off.
// The breaks are zero-width spaces; VisibleText takes them out again.
QString BreakableText(const QString& text, const QFontMetrics& metrics, int width);
QString VisibleText(const QString& shown);

// Message boxes (window_system.cpp): the box as it is shown, for the layer and its tests.
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& text,
                                             const std::string& caption, unsigned flags);

// Trackbar keys and wheel (trackbar_input.cpp); true when the event was used.
bool HandleTrackbarInput(DialogWindow* dialog, ControlRecord* record, QEvent* event);

} // namespace detail
} // namespace platform
