// Dialog templates as data: caption, size and controls in dialog units, ids, kinds, texts
// and styles, as the resource compiler of the classic platform would hold them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class ControlKind {
    Edit,
    PushButton,
    DefPushButton,
    GroupBox,
    Static,       // text
    StaticBitmap, // picture; `bitmapId` names a bitmap resource or 0 for none
    AutoRadioButton,
    ComboDropList,
    ListBox,
    Trackbar,
};

// Control styles (bits of `ControlTemplate::style`).
enum ControlStyle : std::uint32_t {
    WS_TABSTOP = 1u << 0,
    WS_BORDER = 1u << 1,
    WS_VSCROLL = 1u << 2,
    WS_HIDDEN = 1u << 3, // not visible at creation
    WS_DISABLED = 1u << 4,
    ES_PASSWORD = 1u << 5,
    ES_AUTOHSCROLL = 1u << 6,
    CBS_SORT = 1u << 7,
    LBS_SORT = 1u << 8,
    LBS_NOSEL = 1u << 9,
    LBS_NOINTEGRALHEIGHT = 1u << 10,
    SS_CENTER = 1u << 11,
    SS_SUNKEN = 1u << 12,
    SS_CENTERIMAGE = 1u << 13,
    SS_NOTIFY = 1u << 14,
    TBS_BOTH = 1u << 15,
    TBS_HORZ = 1u << 16,
    TBS_AUTOTICKS = 1u << 17,
};

// Dialog styles (bits of `DialogTemplate::style`).
enum DialogStyle : std::uint32_t {
    DS_CENTER = 1u << 0,
    DS_MODALFRAME = 1u << 1,
    DS_SETFOREGROUND = 1u << 2,
    WS_POPUP = 1u << 3,
    WS_CAPTION = 1u << 4,
    WS_SYSMENU = 1u << 5,
    WS_MINIMIZEBOX = 1u << 6,
    WS_VISIBLE = 1u << 7,
};

struct ControlTemplate {
    int id; // -1 for controls without an id
    ControlKind kind;
    std::string text;
    int x, y, cx, cy; // dialog units
    std::uint32_t style = 0;
    int bitmapId = 0;
};

struct DialogTemplate {
    int id;
    bool extended;
    std::string caption; // empty: no caption
    int cx, cy;          // dialog units
    std::string font;
    int fontSize;
    std::uint32_t style;
    std::vector<ControlTemplate> controls; // template (tab) order
};

} // namespace platform
