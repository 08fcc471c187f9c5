// Trackbars moved from the keyboard and the mouse wheel. A dialog procedure may snap every
// move to a coarser step than the trackbar's own (as the Adjust Wheelchair dialog does); a
// one-position key step would then snap straight back and the key would seem dead. So a key
// step goes on, position by position in its direction, until the procedure keeps a position
// past the start: each key press moves one of the procedure's steps, onto the positions a drag
// ends on.
#include "dialog_window.h"

#include <QKeyEvent>
#include <QSlider>
#include <QWheelEvent>

namespace platform {
namespace detail {

namespace {

void SetQuietly(ControlRecord* record, QSlider* slider, int position) {
    record->programmatic = true;
    slider->setValue(position);
    record->programmatic = false;
}

// Tells the procedure about a move; false when the dialog or the control went away.
bool Notify(HWND dialog, ControlRecord* record, unsigned code, int position) {
    const int id = record->layout.id;
    const unsigned high =
        (code == TB_THUMBPOSITION || code == TB_THUMBTRACK) ? unsigned(position) : 0;
    SendMessage(dialog, WM_HSCROLL, MAKEWPARAM(code, high), id);
    return LiveControl(dialog, id) == record;
}

// Moves `direction` (+1 or -1) from the current position, `stride` positions at first and
// then one at a time, until the procedure keeps a position past the start.
void Step(HWND dialog, ControlRecord* record, QSlider* slider, int direction, int stride,
          unsigned code) {
    const int start = slider->value();
    for (int target = start + direction * stride;
         target >= slider->minimum() && target <= slider->maximum(); target += direction) {
        SetQuietly(record, slider, target);
        if (!Notify(dialog, record, code, target))
            return;
        if ((slider->value() - start) * direction > 0)
            return;
    }
    // Nothing further that way: the trackbar stays, and the procedure hears it once more.
    SetQuietly(record, slider, start);
    Notify(dialog, record, code, start);
}

void Jump(HWND dialog, ControlRecord* record, QSlider* slider, int position, unsigned code) {
    SetQuietly(record, slider, position);
    Notify(dialog, record, code, position);
}

} // namespace

bool HandleTrackbarInput(DialogWindow* dialog, ControlRecord* record, QEvent* event) {
    auto* slider = qobject_cast<QSlider*>(record->widget.data());
    if (!slider || !slider->isEnabled())
        return false;
    HWND handle = dialog->Handle();
    // Up and Page Up move towards the high end, as the platform's own sliders do.
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        const int line = std::max(1, slider->singleStep());
        const int page = std::max(1, slider->pageStep());
        switch (key->key()) {
        case Qt::Key_Right:
        case Qt::Key_Up:
            Step(handle, record, slider, +1, line, TB_LINEDOWN);
            return true;
        case Qt::Key_Left:
        case Qt::Key_Down:
            Step(handle, record, slider, -1, line, TB_LINEUP);
            return true;
        case Qt::Key_PageUp:
            Step(handle, record, slider, +1, page, TB_PAGEDOWN);
            return true;
        case Qt::Key_PageDown:
            Step(handle, record, slider, -1, page, TB_PAGEUP);
            return true;
        case Qt::Key_Home:
            Jump(handle, record, slider, slider->minimum(), TB_TOP);
            return true;
        case Qt::Key_End:
            Jump(handle, record, slider, slider->maximum(), TB_BOTTOM);
            return true;
        default:
            return false;
        }
    }
    if (event->type() == QEvent::Wheel) {
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (delta == 0)
            return false;
        const int direction = delta > 0 ? +1 : -1;
        Step(handle, record, slider, direction, std::max(1, slider->singleStep()),
             direction > 0 ? TB_LINEDOWN : TB_LINEUP);
        return true;
    }
    return false;
}

} // namespace detail
} // namespace platform
