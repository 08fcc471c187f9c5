// Dialogs built from templates: the Qt dialog with its controls, the translation of Qt events
// into messages for the dialog procedure, and the modeless and modal lifecycles.
#include "dialog_window.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>

namespace platform {

namespace {

unsigned TrackbarCodeFor(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
        return TB_LINEDOWN;
    case QAbstractSlider::SliderSingleStepSub:
        return TB_LINEUP;
    case QAbstractSlider::SliderPageStepAdd:
        return TB_PAGEDOWN;
    case QAbstractSlider::SliderPageStepSub:
        return TB_PAGEUP;
    case QAbstractSlider::SliderToMinimum:
        return TB_TOP;
    case QAbstractSlider::SliderToMaximum:
        return TB_BOTTOM;
    default:
        return TB_THUMBPOSITION;
    }
}

Qt::WindowFlags FlagsFor(const DialogTemplate& t, bool owned) {
    if (t.caption.empty() && !(t.style & WS_CAPTION))
        return Qt::Dialog | Qt::FramelessWindowHint;
    Qt::WindowFlags flags = owned ? Qt::Dialog : Qt::Window;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (t.style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (t.style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    return flags;
}

// A radio button that answers a click anywhere in its rectangle, as the classic control
// does; Qt's own answers only on its circle and text, which in a wide rectangle leaves much
// of what looks like the button dead to the mouse.
class TemplateRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
    // Each radio button stays a Tab stop of its own: Qt's buttons take Tab away from the
    // rest of their group whenever one of them gets the focus.
    void focusInEvent(QFocusEvent* event) override { QWidget::focusInEvent(event); }
};

void Activate(QWidget* widget) {
    if (!Headless()) // the offscreen platform has no stacking and says so on every call
        widget->raise();
    widget->activateWindow();
}

} // namespace

// ---- the dialog --------------------------------------------------------------------------------

DialogWindow::DialogWindow(const DialogTemplate& dialogTemplate, WindowObject* handle)
    : QDialog(nullptr), handle_(handle), template_(dialogTemplate) {
    setWindowFlags(FlagsFor(template_, handle->owner != nullptr));
    setWindowTitle(QString::fromUtf8(template_.caption));
    setFixedSize(DialogUnitsToPixelsX(template_.cx), DialogUnitsToPixelsY(template_.cy));
    setMouseTracking(true);
    setSizeGripEnabled(false);
    // The template names an 8-point face of the classic platform; the platform's own UI font
    // at the user's size is drawn instead, and the base units follow it.
    setFont(detail::DialogFont());

    for (const ControlTemplate& layout : template_.controls)
        BuildControl(layout);
    for (const auto& record : controls_)
        detail::FitStaticText(this, record.get());

    tabOrder_ = detail::LayoutOrder(controls_);
    for (std::size_t i = 1; i < tabOrder_.size(); ++i)
        QWidget::setTabOrder(tabOrder_[i - 1]->widget, tabOrder_[i]->widget);

    // Positions are of the client area throughout (setGeometry, not move, which would place
    // the frame), so that GetWindowRect and MoveWindow agree before and after showing.
    QRect area(QPoint(0, 0), size());
    if (template_.style & DS_CENTER) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            area.moveCenter(screen->availableGeometry().center());
            setGeometry(area);
        }
    } else if (QWidget* owner = detail::LiveWidget(handle->owner)) {
        area.moveCenter(owner->geometry().center());
        setGeometry(area);
    }
}

void DialogWindow::BuildControl(const ControlTemplate& layout) {
    auto record = std::make_unique<ControlRecord>();
    record->layout = layout;
    ControlRecord* rec = record.get();
    WindowObject* handle = handle_;
    const int id = layout.id;
    const QString text = QString::fromUtf8(layout.text);
    QRect rect = detail::TemplateRect(layout);
    QWidget* widget = nullptr;

    switch (layout.kind) {
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        if (layout.style & ES_PASSWORD)
            edit->setEchoMode(QLineEdit::Password);
        edit->setFrame((layout.style & WS_BORDER) != 0);
        widget = edit;
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, this);
        // Enter is routed by the dialog itself (keyPressEvent), as the classic dialog does.
        button->setAutoDefault(false);
        if (layout.kind == ControlKind::DefPushButton)
            button->setDefault(true);
        connect(button, &QPushButton::clicked, this,
                [handle, id] { SendCommand(handle, id, BN_CLICKED); });
        widget = button;
        break;
    }
    case ControlKind::GroupBox: {
        auto* box = new QGroupBox(text, this);
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
        widget = box;
        break;
    }
    case ControlKind::Static: {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        Qt::Alignment align = (layout.style & SS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
        align |= (layout.style & SS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop;
        label->setAlignment(align);
        label->setWordWrap(!(layout.style & SS_CENTERIMAGE));
        if (layout.style & SS_SUNKEN)
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        widget = label;
        break;
    }
    case ControlKind::StaticBitmap: {
        auto* label = new QLabel(this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (!(layout.style & SS_NOTIFY))
            label->setAttribute(Qt::WA_TransparentForMouseEvents);
        if (layout.bitmapId > 0) {
            if (HBITMAP bitmap = LoadBitmapResource(layout.bitmapId)) {
                label->setPixmap(QPixmap::fromImage(bitmap->image));
                rec->bitmap = bitmap;
            }
        }
        rec->widget = label;
        detail::PlaceStaticBitmap(rec);
        rect = label->geometry();
        widget = label;
        break;
    }
    case ControlKind::AutoRadioButton: {
        auto* radio = new TemplateRadioButton(text, this);
        connect(radio, &QRadioButton::clicked, this,
                [handle, id] { SendCommand(handle, id, BN_CLICKED); });
        widget = radio;
        break;
    }
    case ControlKind::ComboDropList: {
        auto* combo = new QComboBox(this);
        combo->setEditable(false);
        // `activated` comes from the user only; selections made by the program stay silent.
        connect(combo, &QComboBox::activated, this,
                [handle, id](int) { SendCommand(handle, id, CBN_SELCHANGE); });
        // The template's height includes the dropped-down list.
        rect.setHeight(combo->sizeHint().height());
        widget = combo;
        break;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget(this);
        if (layout.style & LBS_NOSEL)
            list->setSelectionMode(QAbstractItemView::NoSelection);
        widget = list;
        break;
    }
    case ControlKind::Trackbar: {
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setTickPosition((layout.style & TBS_BOTH) ? QSlider::TicksBothSides
                                                          : QSlider::TicksBelow);
        slider->setTickInterval(1);
        slider->setRange(0, 100);
        slider->installEventFilter(this);
        connect(slider, &QSlider::actionTriggered, this,
                [rec](int action) { rec->lastAction = action; });
        connect(slider, &QSlider::valueChanged, this, [handle, rec, slider, id](int value) {
            if (rec->programmatic)
                return;
            unsigned code =
                slider->isSliderDown() ? unsigned(TB_THUMBTRACK) : TrackbarCodeFor(rec->lastAction);
            rec->lastAction = 0;
            unsigned high = (code == TB_THUMBTRACK || code == TB_THUMBPOSITION) ? value : 0;
            SendMessage(handle, WM_HSCROLL, MAKEWPARAM(code, high), id);
        });
        connect(slider, &QSlider::sliderReleased, this, [handle, slider, id] {
            SendMessage(handle, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, slider->value()), id);
            SendMessage(handle, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), id);
        });
        widget = slider;
        break;
    }
    }

    widget->setGeometry(rect);
    if (layout.style & WS_HIDDEN)
        widget->hide();
    if (layout.style & WS_DISABLED)
        widget->setEnabled(false);
    if (layout.kind == ControlKind::GroupBox)
        widget->lower();
    if (detail::TakesInput(layout.kind)) {
        widget->setFocusPolicy(Qt::FocusPolicy(widget->focusPolicy() | Qt::TabFocus));
    } else {
        widget->setFocusPolicy(Qt::NoFocus);
    }
    record->focusPolicy = widget->focusPolicy();
    record->widget = widget;
    controls_.push_back(std::move(record));
}

ControlRecord* DialogWindow::Control(int controlId) {
    for (auto& record : controls_) {
        if (record->layout.id == controlId && record->widget)
            return record.get();
    }
    return nullptr;
}

void DialogWindow::FocusFirstControl() {
    for (ControlRecord* record : tabOrder_) {
        QWidget* w = record->widget;
        if (w && !w->isHidden() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::Wheel) {
        for (auto& record : controls_) {
            if (record->widget == watched && record->layout.kind == ControlKind::Trackbar)
                return detail::HandleTrackbarInput(this, record.get(), event);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void DialogWindow::reject() {
    SendCommand(handle_, IDCANCEL, 0);
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // A focused push button takes Enter; otherwise the default button, unless it is
        // hidden or disabled, in which case Enter does nothing.
        QPushButton* target = nullptr;
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget());
            focused && focused->window() == this)
            target = focused;
        if (!target) {
            for (auto& record : controls_) {
                if (record->layout.kind == ControlKind::DefPushButton && record->widget) {
                    target = static_cast<QPushButton*>(record->widget.data());
                    break;
                }
            }
        }
        if (target && target->isVisibleTo(this) && target->isEnabled())
            target->click();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        SendCommand(handle_, IDCANCEL, 0);
        return;
    }
    event->ignore();
}

bool DialogWindow::MouseMessageWanted(const QPoint& position) const {
    // Over a control that takes the mouse the control gets it, unless the dialog holds the
    // capture; transparent statics let it through to the dialog.
    if (GetCapture() == handle_)
        return true;
    return childAt(position) == nullptr;
}

void DialogWindow::mouseMoveEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    if (MouseMessageWanted(p))
        SendMessage(handle_, WM_MOUSEMOVE, (event->buttons() & Qt::LeftButton) ? 1 : 0,
                    MAKELPARAM(p.x(), p.y()));
}

void DialogWindow::mousePressEvent(QMouseEvent* event) {
    QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton && MouseMessageWanted(p))
        SendMessage(handle_, WM_LBUTTONDOWN, 1, MAKELPARAM(p.x(), p.y()));
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    // The procedure decides; the classic default for an unhandled close is Cancel.
    event->ignore();
    if (!SendMessage(handle_, WM_CLOSE, 0, 0))
        SendCommand(handle_, IDCANCEL, 0);
}

// ---- lifecycle ---------------------------------------------------------------------------------

namespace {

HWND BuildDialog(int templateId, HWND owner, DialogProc proc) {
    const DialogTemplate* t = FindDialogTemplate(templateId);
    if (!t) {
        SetLastErrorText("The specified resource name cannot be found in the image file.");
        return nullptr;
    }
    detail::PrepareApplication();
    WindowObject* handle = detail::NewWindowObject();
    handle->proc = proc;
    if (owner && detail::IsLive(owner))
        handle->owner = owner->isControl ? owner->dialog->Handle() : owner;
    auto* dialog = new DialogWindow(*t, handle);
    handle->dialog = dialog;
    handle->widget = dialog;
    return handle;
}

void ShowAfterInit(WindowObject* handle) {
    DialogWindow* dialog = handle->dialog;
    dialog->show();
    if (dialog->Template().style & DS_SETFOREGROUND)
        Activate(dialog);
}

} // namespace

HWND CreateDialogParam(HINSTANCE, int templateId, HWND owner, DialogProc proc, LPARAM param) {
    HWND handle = BuildDialog(templateId, owner, proc);
    if (!handle)
        return nullptr;
    handle->initialising = true;
    SendMessage(handle, WM_INITDIALOG, 0, param);
    if (!detail::IsLive(handle))
        return nullptr;
    handle->initialising = false;
    if (!handle->dialog->focusWidget())
        handle->dialog->FocusFirstControl();
    if ((handle->dialog->Template().style & WS_VISIBLE) && !handle->hiddenDuringInit &&
        !handle->ended)
        ShowAfterInit(handle);
    return handle;
}

int DialogBoxParam(HINSTANCE, int templateId, HWND owner, DialogProc proc, LPARAM param) {
    HWND handle = BuildDialog(templateId, owner, proc);
    if (!handle)
        return -1;
    if (handle->owner)
        handle->dialog->setWindowModality(Qt::ApplicationModal);
    handle->initialising = true;
    SendMessage(handle, WM_INITDIALOG, 0, param);
    if (detail::IsLive(handle)) {
        handle->initialising = false;
        if (!handle->ended && !QuitPosted()) {
            if (!handle->dialog->focusWidget())
                handle->dialog->FocusFirstControl();
            if (!handle->hiddenDuringInit && !handle->dialog->isVisible())
                ShowAfterInit(handle);
            QEventLoop loop;
            handle->loop = &loop;
            loop.exec(QEventLoop::DialogExec);
            handle->loop = nullptr;
        }
    }
    const int code = handle->ended ? handle->endCode : 0;
    DestroyWindow(handle);
    return code;
}

bool EndDialog(HWND dialog, int result) {
    if (!detail::LiveDialog(dialog))
        return false;
    dialog->ended = true;
    dialog->endCode = result;
    dialog->dialog->hide();
    if (dialog->loop)
        dialog->loop->quit();
    return true;
}

bool DestroyWindow(HWND window) {
    if (!detail::IsLive(window) || window->destroying)
        return false;
    window->destroying = true;
    if (window->isControl) {
        QWidget* w = window->widget;
        detail::MarkDead(window);
        if (DialogWindow* dialog = window->dialog) {
            for (const auto& record : dialog->Controls()) {
                if (record->handle == window)
                    record->widget = nullptr;
            }
        }
        if (w) {
            w->hide();
            w->deleteLater();
        }
        return true;
    }
    // Owned windows go first, as on the classic platform.
    for (HWND other : detail::LiveDialogs()) {
        if (other->owner == window)
            DestroyWindow(other);
    }
    SendMessage(window, WM_DESTROY, 0, 0);
    DialogWindow* dialog = window->dialog;
    if (dialog) {
        for (auto& [id, timer] : dialog->timers) {
            timer->stop();
            timer->deleteLater();
        }
        dialog->timers.clear();
    }
    detail::ForgetCapture(window);
    if (window->loop)
        window->loop->quit();
    detail::MarkDead(window);
    if (dialog) {
        for (const auto& record : dialog->Controls()) {
            if (record->handle)
                detail::MarkDead(record->handle);
        }
        dialog->hide();
        // It may be inside one of its own event handlers.
        dialog->deleteLater();
    }
    return true;
}

bool IsWindow(HWND window) {
    return detail::IsLive(window);
}

bool SendMessage(HWND window, unsigned message, WPARAM wParam, LPARAM lParam) {
    if (!detail::IsLive(window) || window->isControl || !window->proc)
        return false;
    return window->proc(window, message, wParam, lParam);
}

bool SendCommand(HWND window, int controlId, int notificationCode) {
    return SendMessage(window, WM_COMMAND,
                       MAKEWPARAM(unsigned(controlId), unsigned(notificationCode)), 0);
}

bool ShowWindow(HWND window, int command) {
    QWidget* w = detail::LiveWidget(window);
    if (!w)
        return false;
    const bool wasVisible = w->isVisible();
    if (window->isControl) {
        w->setVisible(command != SW_HIDE);
        return wasVisible;
    }
    switch (command) {
    case SW_HIDE:
        if (window->initialising)
            window->hiddenDuringInit = true;
        w->hide();
        break;
    case SW_SHOWMINNOACTIVE:
        w->setAttribute(Qt::WA_ShowWithoutActivating);
        w->showMinimized();
        w->setAttribute(Qt::WA_ShowWithoutActivating, false);
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    default:
        window->hiddenDuringInit = false;
        w->showNormal();
        Activate(w);
        break;
    }
    return wasVisible;
}

bool IsWindowVisible(HWND window) {
    QWidget* w = detail::LiveWidget(window);
    return w && w->isVisible();
}

bool IsIconic(HWND window) {
    DialogWindow* d = detail::LiveDialog(window);
    return d && d->isMinimized();
}

bool SetForegroundWindow(HWND window) {
    DialogWindow* d = detail::LiveDialog(window);
    if (!d)
        return false;
    Activate(d);
    return true;
}

} // namespace platform
