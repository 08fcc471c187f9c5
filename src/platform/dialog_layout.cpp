// Where a template's controls go and how the keyboard reaches them: the dialog font and the
// base units that turn dialog units into pixels, the Tab order by layout, which controls a
// resized dialog still shows, and static texts that grow to show every line.
#include "dialog_window.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>

#include <algorithm>
#include <cmath>
#include <map>

namespace platform {

namespace {

// The room added to the font's own base units: a fifth across, a seventh down. The
// templates leave about a letter's width between a label and its neighbour when drawn in
// the font they were made for; in today's proportional fonts digits, capitals and
// punctuation run wider than that font's, and this gives them the room back.
constexpr double kRoomAcross = 1.2;
constexpr double kRoomDown = 8.0 / 7.0;

struct BaseUnitCache {
    QString fontKey;
    DialogBaseUnits units;
};

bool HasApplication() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

bool IsGroupBox(const ControlRecord& c) {
    return c.layout.kind == ControlKind::GroupBox;
}

// A control that takes input, or a group box with such controls inside.
struct Item {
    QRect rect;
    ControlRecord* control = nullptr;
    std::vector<Item> inside;
};

// Splits items where nothing spans the gap between them along one axis (rows when
// `vertically`, columns otherwise), in order along that axis.
std::vector<std::vector<Item>> SplitAtGaps(std::vector<Item> items, bool vertically) {
    auto start = [vertically](const Item& i) { return vertically ? i.rect.top() : i.rect.left(); };
    auto end = [vertically](const Item& i) {
        return vertically ? i.rect.bottom() : i.rect.right();
    };
    std::stable_sort(items.begin(), items.end(),
                     [&](const Item& a, const Item& b) { return start(a) < start(b); });
    std::vector<std::vector<Item>> parts;
    int partEnd = 0;
    for (Item& item : items) {
        if (parts.empty() || start(item) > partEnd) {
            parts.emplace_back();
            partEnd = end(item);
        }
        partEnd = std::max(partEnd, end(item));
        parts.back().push_back(std::move(item));
    }
    return parts;
}

// Reading order by cuts: rows where a horizontal gap runs across, else columns where a
// vertical gap runs down, each cut again inside; what no gap separates goes by top, then left.
void AppendInReadingOrder(std::vector<Item> items, std::vector<ControlRecord*>& order) {
    if (items.size() > 1) {
        for (bool vertically : {true, false}) {
            std::vector<std::vector<Item>> parts = SplitAtGaps(items, vertically);
            if (parts.size() > 1) {
                for (auto& part : parts)
                    AppendInReadingOrder(std::move(part), order);
                return;
            }
        }
        std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
            return a.rect.top() != b.rect.top() ? a.rect.top() < b.rect.top()
                                                : a.rect.left() < b.rect.left();
        });
    }
    for (Item& item : items) {
        if (item.control)
            order.push_back(item.control);
        else
            AppendInReadingOrder(std::move(item.inside), order);
    }
}

} // namespace

DialogBaseUnits GetDialogBaseUnits() {
    if (!HasApplication())
        return DialogBaseUnits{};
    static BaseUnitCache cache;
    const QFont font = detail::DialogFont();
    if (cache.fontKey == font.key())
        return cache.units;
    const QFontMetricsF metrics(font);
    const double letters = metrics.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
    DialogBaseUnits units;
    units.x = std::max(1, int(std::lround(letters * kRoomAcross)));
    units.y = std::max(1, int(std::ceil(metrics.height() * kRoomDown)));
    cache = BaseUnitCache{font.key(), units};
    return units;
}

int DialogUnitsToPixelsX(int du) {
    return du * GetDialogBaseUnits().x / 4;
}

int DialogUnitsToPixelsY(int du) {
    return du * GetDialogBaseUnits().y / 8;
}

namespace detail {

QFont DialogFont() {
    return HasApplication() ? QApplication::font() : QFont();
}

bool TakesInput(ControlKind kind) {
    switch (kind) {
    case ControlKind::Edit:
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::AutoRadioButton:
    case ControlKind::ComboDropList:
    case ControlKind::ListBox:
    case ControlKind::Trackbar:
        return true;
    case ControlKind::GroupBox:
    case ControlKind::Static:
    case ControlKind::StaticBitmap:
        return false;
    }
    return false;
}

std::vector<ControlRecord*>
LayoutOrder(const std::vector<std::unique_ptr<ControlRecord>>& controls) {
    // Each control belongs to the smallest group box around it, if any; a group's controls
    // stay together in the order.
    std::vector<Item> items;
    std::map<ControlRecord*, std::size_t> itemOfGroup;
    for (const auto& record : controls) {
        if (!record->widget || !TakesInput(record->layout.kind))
            continue;
        const QRect rect = record->widget->geometry();
        ControlRecord* group = nullptr;
        for (const auto& other : controls) {
            if (!IsGroupBox(*other) || !other->widget)
                continue;
            const QRect groupRect = other->widget->geometry();
            if (groupRect.contains(rect) &&
                (!group || group->widget->geometry().contains(groupRect)))
                group = other.get();
        }
        Item item{rect, record.get(), {}};
        if (!group) {
            items.push_back(std::move(item));
            continue;
        }
        auto [it, added] = itemOfGroup.emplace(group, items.size());
        if (added)
            items.push_back(Item{group->widget->geometry(), nullptr, {}});
        items[it->second].inside.push_back(std::move(item));
    }
    std::vector<ControlRecord*> order;
    AppendInReadingOrder(std::move(items), order);
    return order;
}

void UpdateReachableControls(DialogWindow* dialog) {
    const QRect client(QPoint(0, 0), dialog->size());
    for (const auto& record : dialog->Controls()) {
        QWidget* w = record->widget;
        if (!w || !TakesInput(record->layout.kind))
            continue;
        // A control the window no longer shows (a narrowed dialog) must not take the focus.
        if (client.contains(w->geometry())) {
            if (w->focusPolicy() == Qt::NoFocus)
                w->setFocusPolicy(record->focusPolicy);
        } else {
            w->setFocusPolicy(Qt::NoFocus);
            if (w->hasFocus())
                w->clearFocus();
        }
    }
}

QString BreakableText(const QString& text, const QFontMetrics& metrics, int width) {
    constexpr QChar kBreak(0x200B); // zero-width space
    QString result;
    result.reserve(text.size());
    qsizetype wordStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !text.at(i).isSpace())
            continue;
        const QString word = text.mid(wordStart, i - wordStart);
        if (metrics.horizontalAdvance(word) <= width) {
            result += word;
        } else {
            for (qsizetype c = 0; c < word.size(); ++c) {
                result += word.at(c);
                // Never between the halves of a surrogate pair.
                if (c + 1 < word.size() && !word.at(c).isHighSurrogate())
                    result += kBreak;
            }
        }
        if (i < text.size())
            result += text.at(i);
        wordStart = i + 1;
    }
    return result;
}

QString VisibleText(const QString& shown) {
    QString text = shown;
    return text.remove(QChar(0x200B));
}

QRect TemplateRect(const ControlTemplate& t) {
    return QRect(DialogUnitsToPixelsX(t.x), DialogUnitsToPixelsY(t.y), DialogUnitsToPixelsX(t.cx),
                 DialogUnitsToPixelsY(t.cy));
}

void PlaceStaticBitmap(ControlRecord* record) {
    QWidget* w = record->widget;
    if (!w)
        return;
    const QRect area = TemplateRect(record->layout);
    if (!record->bitmap) {
        w->setGeometry(area);
        return;
    }
    // Sized to the picture, as the classic control is; a picture smaller than its place (the
    // base units follow the font, the picture does not) sits in the middle of it.
    const QSize size = record->bitmap->image.size();
    const int x = area.left() + std::max(0, (area.width() - size.width()) / 2);
    const int y = area.top() + std::max(0, (area.height() - size.height()) / 2);
    w->setGeometry(QRect(QPoint(x, y), size));
}

void FitStaticText(DialogWindow* dialog, ControlRecord* record) {
    auto* label = qobject_cast<QLabel*>(record->widget.data());
    if (!label || record->layout.kind != ControlKind::Static)
        return;
    const QRect base = TemplateRect(record->layout);
    const int needed = label->wordWrap() ? label->heightForWidth(base.width()) : -1;
    if (needed <= base.height()) {
        label->setGeometry(base);
        label->setToolTip(QString());
        return;
    }
    // More lines than the template's height holds: the text grows down, or else up, into
    // room that no other control uses and that stays inside the window and its own group.
    const QRect client(QPoint(0, 0), dialog->size());
    auto free = [&](const QRect& wanted) {
        if (!client.contains(wanted))
            return false;
        for (const auto& other : dialog->Controls()) {
            QWidget* w = other->widget;
            if (other.get() == record || !w || !w->isVisibleTo(dialog))
                continue;
            const QRect r = w->geometry();
            if (IsGroupBox(*other) && r.contains(base)) {
                if (!r.contains(wanted))
                    return false;
                continue;
            }
            if (r.intersects(wanted))
                return false;
        }
        return true;
    };
    const QRect down(base.left(), base.top(), base.width(), needed);
    const QRect up(base.left(), base.bottom() + 1 - needed, base.width(), needed);
    if (free(down)) {
        label->setGeometry(down);
    } else if (free(up)) {
        label->setGeometry(up);
    } else {
        // No room anywhere: the lines that fit show, the whole text is there on request.
        label->setGeometry(base);
        label->setToolTip(label->text());
        return;
    }
    label->setToolTip(QString());
}

} // namespace detail
} // namespace platform
