// The program's resources as data: the dialog templates of the Login, User Setup, Rename-user,
// Adjust-wheelchair, start-up and progress windows, and the banner bitmap, window icon and
// hand cursor compiled in as Qt resources.
#include "resource.h"

#include "platform/dialog_template.h"
#include "platform/window_system.h"

#include <QtCore/qglobal.h>

using platform::ControlKind;
using platform::ControlTemplate;
using platform::DialogTemplate;

namespace {

constexpr int kNoId = -1;
constexpr const char* kFont = "MS Sans Serif";
constexpr int kFontSize = 8;

// The fingertip of the hand cursor's picture, in its pixels.
constexpr int kHandHotX = 10;
constexpr int kHandHotY = 2;

DialogTemplate LoginTemplate() {
    using namespace platform;
    DialogTemplate t{IDD_LOGIN,
                     true,
                     "Vantor Pelora - Login",
                     257,
                     335,
                     kFont,
                     kFontSize,
                     DS_CENTER | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                     {}};
    t.controls = {
        {IDC_LOGIN_USERNAME, ControlKind::Edit, "", 25, 261, 85, 15, WS_BORDER | WS_TABSTOP},
        {IDC_LOGIN_PASSWORD, ControlKind::Edit, "", 140, 261, 85, 15,
         ES_PASSWORD | WS_BORDER | WS_TABSTOP},
        {IDC_DRIVE_ONLINE, ControlKind::PushButton, "Drive Online", 173, 306, 60, 15, WS_TABSTOP},
        {IDC_DRIVE_OFFLINE, ControlKind::DefPushButton, "Drive Offline", 98, 306, 60, 15,
         WS_TABSTOP},
        {IDC_QUIT, ControlKind::PushButton, "Quit", 23, 306, 60, 15, WS_TABSTOP},
        {kNoId, ControlKind::GroupBox, "Login", 10, 231, 235, 60},
        {kNoId, ControlKind::Static, "User Name:", 25, 246, 80, 10},
        {kNoId, ControlKind::Static, "Password:", 140, 246, 80, 10},
        // No SS_NOTIFY: mouse messages over the banner reach the window for the link.
        {IDC_LOGIN_BANNER, ControlKind::StaticBitmap, "", 12, 10, 233, 197, 0, IDB_BANNER},
        {IDC_LOGIN_STATUS, ControlKind::Static, "--", 18, 216, 220, 10},
        {IDC_CANCEL_LOGIN, ControlKind::PushButton, "Cancel Login", 89, 306, 79, 15,
         WS_HIDDEN | WS_TABSTOP},
    };
    return t;
}

DialogTemplate SetupTemplate() {
    using namespace platform;
    DialogTemplate t{IDD_SETUP,
                     true,
                     "Vantor Pelora - User Setup",
                     367,
                     287,
                     kFont,
                     kFontSize,
                     DS_CENTER | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                     {}};
    t.controls = {
        {IDC_SETUP_VEHICLE, ControlKind::ComboDropList, "", 15, 150, 85, 65,
         WS_VSCROLL | WS_TABSTOP},
        {IDC_SETUP_COLOR, ControlKind::ComboDropList, "", 15, 190, 85, 55},
        {IDC_SETUP_MALE, ControlKind::AutoRadioButton, "Male", 15, 230, 31, 10, WS_TABSTOP},
        {IDC_SETUP_FEMALE, ControlKind::AutoRadioButton, "Female", 55, 230, 39, 10, WS_TABSTOP},
        {IDC_SETUP_WORLD, ControlKind::ComboDropList, "", 130, 135, 85, 75},
        {IDC_SETUP_DRIVE, ControlKind::DefPushButton, "Drive", 145, 210, 50, 14, WS_TABSTOP},
        {IDC_SETUP_LOGOUT, ControlKind::PushButton, "Logout", 145, 240, 50, 14, WS_TABSTOP},
        {IDC_SETUP_UPDATE, ControlKind::PushButton, "Update", 269, 252, 55, 15, WS_TABSTOP},
        {IDC_SETUP_ONLINE_USERS, ControlKind::ListBox, "", 245, 20, 105, 218,
         LBS_SORT | LBS_NOSEL | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT},
        {kNoId, ControlKind::Static, "Name:", 15, 18, 25, 10},
        {kNoId, ControlKind::GroupBox, "Avatar", 5, 45, 105, 235},
        {kNoId, ControlKind::GroupBox, "World", 120, 45, 105, 136},
        {kNoId, ControlKind::GroupBox, "Online Users", 235, 7, 125, 273},
        {kNoId, ControlKind::Static, "Level:", 117, 18, 19, 10},
        {kNoId, ControlKind::GroupBox, "User Info", 5, 5, 220, 30},
        {IDC_SETUP_WORLD_THUMB, ControlKind::StaticBitmap, "", 130, 60, 85, 60},
        {IDC_SETUP_VEHICLE_THUMB, ControlKind::StaticBitmap, "", 15, 60, 85, 60},
        {kNoId, ControlKind::Static, "Vehicle:", 15, 135, 30, 10},
        {kNoId, ControlKind::Static, "Color:", 15, 175, 20, 10},
        {kNoId, ControlKind::Static, "Voice:", 15, 215, 30, 10},
        {IDC_SETUP_NAME, ControlKind::Static, "", 45, 18, 65, 10},
        {IDC_SETUP_LEVEL, ControlKind::Static, "", 143, 18, 13, 10},
        {kNoId, ControlKind::Static, "Difficulty:", 128, 161, 30, 8},
        {IDC_SETUP_DIFFICULTY, ControlKind::Static, "", 160, 159, 56, 13,
         SS_SUNKEN | SS_CENTERIMAGE},
        {kNoId, ControlKind::Static, "Time:", 162, 18, 19, 10},
        {IDC_SETUP_TIME, ControlKind::Static, "", 182, 18, 35, 10},
        {IDC_SETUP_ADJUST, ControlKind::PushButton, "Adjust Wheelchair ", 15, 255, 85, 14,
         WS_TABSTOP},
    };
    return t;
}

DialogTemplate RenameTemplate() {
    using namespace platform;
    DialogTemplate t{IDD_RENAME, false, "",        162,
                     122,        kFont, kFontSize, WS_POPUP | DS_MODALFRAME | DS_CENTER,
                     {}};
    t.controls = {
        {IDC_RENAME_EDIT, ControlKind::Edit, "", 30, 70, 95, 15,
         WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
        {IDC_RENAME_OK, ControlKind::DefPushButton, "Rename", 90, 95, 50, 14, WS_TABSTOP},
        {IDC_RENAME_CANCEL, ControlKind::PushButton, "Cancel", 20, 95, 50, 14, WS_TABSTOP},
        {IDC_RENAME_PROMPT, ControlKind::Static, "Static", 15, 10, 120, 45},
    };
    return t;
}

DialogTemplate AdjustTemplate() {
    using namespace platform;
    constexpr std::uint32_t kSlider = TBS_HORZ | TBS_BOTH | WS_TABSTOP;
    DialogTemplate t{IDD_ADJUST, false,     "Adjust Wheelchair Characteristics", 161, 165,
                     kFont,      kFontSize, DS_CENTER | WS_CAPTION | WS_SYSMENU, {}};
    t.controls = {
        {IDOK, ControlKind::DefPushButton, "OK", 7, 144, 50, 14, WS_TABSTOP},
        {IDCANCEL, ControlKind::PushButton, "Cancel", 102, 144, 50, 14, WS_TABSTOP},
        {IDC_ADJUST_SPEED, ControlKind::Trackbar, "", 11, 21, 136, 23, kSlider},
        {IDC_ADJUST_AXIS, ControlKind::Trackbar, "", 11, 90, 136, 22, kSlider},
        {IDC_ADJUST_SPEED_LABEL, ControlKind::Static, "", 10, 8, 128, 8},
        {IDC_ADJUST_AXIS_LABEL, ControlKind::Static, "", 15, 77, 127, 8},
        {kNoId, ControlKind::Static, "50%", 15, 45, 14, 8},
        {kNoId, ControlKind::Static, "100%", 96, 45, 18, 8},
        {kNoId, ControlKind::Static, "120%", 132, 45, 18, 8},
        {kNoId, ControlKind::Static, "Rear", 29, 115, 37, 10},
        {kNoId, ControlKind::Static, "Front", 115, 115, 17, 8},
    };
    return t;
}

DialogTemplate StartupTemplate() {
    using namespace platform;
    DialogTemplate t{
        IDD_STARTUP, false, "",        177,
        67,          kFont, kFontSize, WS_POPUP | WS_VISIBLE | DS_CENTER | DS_MODALFRAME,
        {}};
    t.controls = {
        {kNoId, ControlKind::Static, "Starting Pelora", 21, 15, 135, 15},
        {IDC_STARTUP_STATUS, ControlKind::Static, "", 21, 35, 135, 15},
    };
    return t;
}

DialogTemplate ProgressTemplate() {
    using namespace platform;
    DialogTemplate t{IDD_PROGRESS,
                     false,
                     "",
                     250,
                     68,
                     kFont,
                     kFontSize,
                     WS_POPUP | WS_VISIBLE | DS_CENTER | DS_MODALFRAME | DS_SETFOREGROUND,
                     {}};
    t.controls = {
        {IDC_PROGRESS_HEADLINE, ControlKind::Static, "...", 51, 16, 150, 15, SS_CENTER},
        {IDC_PROGRESS_DETAIL, ControlKind::Static, "", 10, 40, 230, 11, SS_CENTER},
    };
    return t;
}

} // namespace

void RegisterPeloraResources() {
    // The pictures live in a static library; its resource initialiser must be pulled in.
    Q_INIT_RESOURCE(pelora_images);

    platform::RegisterDialogTemplate(LoginTemplate());
    platform::RegisterDialogTemplate(SetupTemplate());
    platform::RegisterDialogTemplate(RenameTemplate());
    platform::RegisterDialogTemplate(AdjustTemplate());
    platform::RegisterDialogTemplate(StartupTemplate());
    platform::RegisterDialogTemplate(ProgressTemplate());

    platform::RegisterBitmapResource(IDB_BANNER, ":/res/banner107.bmp");
    platform::RegisterIconResource(IDI_PELORA, ":/res/icon104.png");
    platform::RegisterCursorResource(IDC_LINK_HAND, ":/res/cursor113.png", kHandHotX, kHandHotY);
}
