// Controls reached by dialog and id: handles, enabling, texts, buttons, combo boxes, list
// boxes, trackbars and static pictures.
#include "dialog_window.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>

#include <algorithm>

namespace platform {

namespace {

template <class T> T* ControlAs(HWND dialog, int controlId) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    return c ? qobject_cast<T*>(c->widget.data()) : nullptr;
}

bool IsSorted(HWND dialog, int controlId, std::uint32_t sortStyle) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    return c && (c->layout.style & sortStyle);
}

// Where a sorted list takes a new item: after every item that does not sort after it.
template <class ItemText> int SortedPosition(int count, ItemText itemText, const QString& text) {
    int position = 0;
    while (position < count && QString::compare(itemText(position), text, Qt::CaseInsensitive) <= 0)
        ++position;
    return position;
}

std::string TextOf(QWidget* w) {
    if (!w)
        return {};
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text().toStdString();
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->title().toStdString();
    if (auto* label = qobject_cast<QLabel*>(w))
        return detail::VisibleText(label->text()).toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText().toStdString();
    if (auto* dialog = qobject_cast<QDialog*>(w))
        return dialog->windowTitle().toStdString();
    return {};
}

// Cuts to at most maxBytes bytes without splitting a UTF-8 sequence, so the text always fits
// the caller's buffer.
std::string CutUtf8(std::string text, int maxBytes) {
    if (maxBytes <= 0)
        return {};
    if (text.size() <= size_t(maxBytes))
        return text;
    size_t end = size_t(maxBytes);
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

// Makes a change to a trackbar that must not reach the procedure as a user's move.
template <class Change> bool TrackbarChange(HWND dialog, int controlId, Change change) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    auto* slider = c ? qobject_cast<QSlider*>(c->widget.data()) : nullptr;
    if (!slider)
        return false;
    c->programmatic = true;
    change(slider, c);
    c->programmatic = false;
    return true;
}

} // namespace

HWND GetDlgItem(HWND dialog, int controlId) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    if (!c) {
        SetLastErrorText("Control ID not found.");
        return nullptr;
    }
    if (!c->handle) {
        c->handle = detail::NewWindowObject();
        c->handle->isControl = true;
        c->handle->dialog = dialog->dialog;
        c->handle->widget = c->widget;
        c->handle->controlId = controlId;
    }
    return c->handle;
}

bool EnableWindow(HWND window, bool enable) {
    QWidget* w = detail::LiveWidget(window);
    if (!w)
        return false;
    const bool wasDisabled = !w->isEnabled();
    w->setEnabled(enable);
    return wasDisabled;
}

HWND SetFocus(HWND control) {
    HWND previous = GetFocus();
    QWidget* w = detail::LiveWidget(control);
    if (!w || !control->isControl)
        return previous;
    w->setFocus(Qt::OtherFocusReason);
    return previous;
}

HWND GetFocus() {
    HWND found = nullptr;
    for (HWND dialog : detail::LiveDialogs()) {
        DialogWindow* d = detail::LiveDialog(dialog);
        QWidget* focus = d ? d->focusWidget() : nullptr;
        if (!focus)
            continue;
        for (const auto& record : d->Controls()) {
            if (record->widget != focus)
                continue;
            found = GetDlgItem(dialog, record->layout.id);
            if (d->isActiveWindow())
                return found;
        }
    }
    return found;
}

bool IsWindowEnabled(HWND window) {
    QWidget* w = detail::LiveWidget(window);
    return w && w->isEnabled();
}

bool SetDlgItemText(HWND dialog, int controlId, const std::string& text) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    if (!c)
        return false;
    const QString t = QString::fromUtf8(text);
    QWidget* w = c->widget;
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(t);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(t);
    else if (auto* box = qobject_cast<QGroupBox*>(w))
        box->setTitle(t);
    else if (auto* label = qobject_cast<QLabel*>(w);
             label && c->layout.kind == ControlKind::Static) {
        const int width = detail::TemplateRect(c->layout).width();
        label->setText(
            label->wordWrap() ? detail::BreakableText(t, QFontMetrics(label->font()), width) : t);
        detail::FitStaticText(dialog->dialog, c);
    } else
        return false;
    return true;
}

std::string GetDlgItemText(HWND dialog, int controlId, int maxChars) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    if (!c || c->layout.kind == ControlKind::StaticBitmap)
        return {};
    return CutUtf8(TextOf(c->widget), maxChars);
}

std::string GetWindowText(HWND window) {
    return TextOf(detail::LiveWidget(window));
}

bool CheckDlgButton(HWND dialog, int controlId, int check) {
    auto* button = ControlAs<QAbstractButton>(dialog, controlId);
    if (!button || !button->isCheckable())
        return false;
    // An auto-exclusive button refuses to be unchecked; the classic call does it anyway.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(check == BST_CHECKED);
    button->setAutoExclusive(exclusive);
    return true;
}

int IsDlgButtonChecked(HWND dialog, int controlId) {
    auto* button = ControlAs<QAbstractButton>(dialog, controlId);
    return button && button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

// ---- combo boxes -------------------------------------------------------------------------------

int ComboBoxAddString(HWND dialog, int controlId, const std::string& text) {
    auto* combo = ControlAs<QComboBox>(dialog, controlId);
    if (!combo)
        return -1;
    const QString t = QString::fromUtf8(text);
    int position = combo->count();
    if (IsSorted(dialog, controlId, CBS_SORT))
        position = SortedPosition(
            combo->count(), [combo](int i) { return combo->itemText(i); }, t);
    combo->insertItem(position, t);
    // Qt selects the first item added to an empty box; the classic box selects nothing.
    if (combo->count() == 1)
        combo->setCurrentIndex(-1);
    return position;
}

bool ComboBoxSetCurSel(HWND dialog, int controlId, int index) {
    auto* combo = ControlAs<QComboBox>(dialog, controlId);
    if (!combo)
        return false;
    if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        return false;
    }
    combo->setCurrentIndex(index);
    return true;
}

int ComboBoxGetCurSel(HWND dialog, int controlId) {
    auto* combo = ControlAs<QComboBox>(dialog, controlId);
    return combo ? combo->currentIndex() : -1;
}

int ComboBoxGetCount(HWND dialog, int controlId) {
    auto* combo = ControlAs<QComboBox>(dialog, controlId);
    return combo ? combo->count() : 0;
}

std::string ComboBoxGetText(HWND dialog, int controlId, int index) {
    auto* combo = ControlAs<QComboBox>(dialog, controlId);
    if (!combo || index < 0 || index >= combo->count())
        return {};
    return combo->itemText(index).toStdString();
}

bool ComboBoxResetContent(HWND dialog, int controlId) {
    auto* combo = ControlAs<QComboBox>(dialog, controlId);
    if (!combo)
        return false;
    combo->clear();
    return true;
}

// ---- list boxes --------------------------------------------------------------------------------

int ListBoxAddString(HWND dialog, int controlId, const std::string& text) {
    auto* list = ControlAs<QListWidget>(dialog, controlId);
    if (!list)
        return -1;
    const QString t = QString::fromUtf8(text);
    int position = list->count();
    if (IsSorted(dialog, controlId, LBS_SORT))
        position = SortedPosition(
            list->count(), [list](int i) { return list->item(i)->text(); }, t);
    list->insertItem(position, t);
    return position;
}

bool ListBoxResetContent(HWND dialog, int controlId) {
    auto* list = ControlAs<QListWidget>(dialog, controlId);
    if (!list)
        return false;
    list->clear();
    return true;
}

int ListBoxGetCount(HWND dialog, int controlId) {
    auto* list = ControlAs<QListWidget>(dialog, controlId);
    return list ? list->count() : 0;
}

std::string ListBoxGetText(HWND dialog, int controlId, int index) {
    auto* list = ControlAs<QListWidget>(dialog, controlId);
    if (!list || index < 0 || index >= list->count())
        return {};
    return list->item(index)->text().toStdString();
}

int ListBoxDeleteString(HWND dialog, int controlId, int index) {
    auto* list = ControlAs<QListWidget>(dialog, controlId);
    if (!list || index < 0 || index >= list->count())
        return -1;
    delete list->takeItem(index);
    return list->count();
}

// ---- trackbars ---------------------------------------------------------------------------------

bool TrackbarSetRange(HWND dialog, int controlId, int low, int high, bool) {
    return TrackbarChange(dialog, controlId,
                          [&](QSlider* s, ControlRecord*) { s->setRange(low, high); });
}

bool TrackbarSetPageSize(HWND dialog, int controlId, int pageSize) {
    return TrackbarChange(dialog, controlId,
                          [&](QSlider* s, ControlRecord*) { s->setPageStep(pageSize); });
}

bool TrackbarSetTick(HWND dialog, int controlId, int position) {
    return TrackbarChange(dialog, controlId, [&](QSlider* s, ControlRecord* c) {
        if (position <= s->minimum() || position >= s->maximum())
            return;
        auto& ticks = c->ticks;
        if (std::find(ticks.begin(), ticks.end(), position) == ticks.end()) {
            ticks.push_back(position);
            std::sort(ticks.begin(), ticks.end());
        }
    });
}

bool TrackbarSetPos(HWND dialog, int controlId, int position, bool) {
    return TrackbarChange(dialog, controlId,
                          [&](QSlider* s, ControlRecord*) { s->setValue(position); });
}

int TrackbarGetPos(HWND dialog, int controlId) {
    auto* slider = ControlAs<QSlider>(dialog, controlId);
    return slider ? slider->value() : 0;
}

std::vector<int> TrackbarGetTicks(HWND dialog, int controlId) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    return c && qobject_cast<QSlider*>(c->widget.data()) ? c->ticks : std::vector<int>();
}

int TrackbarGetPageSize(HWND dialog, int controlId) {
    auto* slider = ControlAs<QSlider>(dialog, controlId);
    return slider ? slider->pageStep() : 0;
}

std::pair<int, int> TrackbarGetRange(HWND dialog, int controlId) {
    auto* slider = ControlAs<QSlider>(dialog, controlId);
    return slider ? std::make_pair(slider->minimum(), slider->maximum()) : std::make_pair(0, 0);
}

// ---- static pictures ---------------------------------------------------------------------------

bool SetStaticBitmap(HWND dialog, int controlId, HBITMAP bitmap) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    auto* label = c ? qobject_cast<QLabel*>(c->widget.data()) : nullptr;
    if (!label || c->layout.kind != ControlKind::StaticBitmap)
        return false;
    c->bitmap = bitmap;
    if (bitmap)
        label->setPixmap(QPixmap::fromImage(bitmap->image));
    else
        label->clear();
    detail::PlaceStaticBitmap(c);
    return true;
}

HBITMAP GetStaticBitmap(HWND dialog, int controlId) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    return c ? c->bitmap : nullptr;
}

} // namespace platform
