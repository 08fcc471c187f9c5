// The User Setup window: the current user's settings for the time the window is open, the
// voice, the catalogues, level and time, and the Drive, Update and Logout buttons (the Online
// Users list itself is online_users.cpp).
#include "config/config.h"
#include "engine/services.h"
#include "platform/file_system.h"
#include "resource.h"
#include "settings/global_settings.h"
#include "settings/user_settings.h"

#include <cstdio>

namespace {

// Half the width of the Online Users part cut off offline: 102 pixels at the classic base
// units, kept in dialog units so that the cut still falls between the World and the Online
// Users groups in any font.
constexpr int kNarrowOffsetUnits = 68;

// Logout, the close box and WM_CLOSE end the window alike.
void CloseSetupWindow(platform::HWND window) {
    g_state.setupWindow = nullptr;
    platform::EndDialog(window, 0);
    delete g_state.userSettings;
    g_state.userSettings = nullptr;
}

// Gives true when the fresh settings object must not reach the user's file during the
// opening: something that is not a regular file stands in its place, or a damaged file could
// not be set aside. A damaged file that could be set aside does not get here: its readable
// values are loaded (UserSettings keeps them).
bool LoadUserSettings() {
    try {
        g_state.userSettings = new UserSettings(g_state.userName);
        return false;
    } catch (FileException e) {
        g_state.userSettings = new UserSettings();
        if (e.getCode() == 0) {
            n_printf("User settings file did not exist or couldn't open: %s\n",
                     e.getMessage().c_str());
            g_state.userSettings->setUser(g_state.userName);
            g_state.userSettings->setSpeedScale(1.0f);
            g_state.userSettings->setAxisOffset(-0.75f);
            return false;
        }
        n_printf("Caught exception while loading user settings: %s\n", e.getMessage().c_str());
        // Without a file name these defaults stay in memory; a speed scale of 0 would stop
        // the wheelchair.
        g_state.userSettings->setSpeedScale(1.0f);
        g_state.userSettings->setAxisOffset(-0.75f);
        return true;
    }
}

void SetVoice(platform::HWND window, bool male) {
    platform::CheckDlgButton(window, IDC_SETUP_MALE,
                             male ? platform::BST_CHECKED : platform::BST_UNCHECKED);
    platform::CheckDlgButton(window, IDC_SETUP_FEMALE,
                             male ? platform::BST_UNCHECKED : platform::BST_CHECKED);
    CopyName(g_state.gender, male ? "male" : "female");
    if (g_state.userSettings)
        g_state.userSettings->setGender(g_state.gender);
}

void ShowDataServerInfo(platform::HWND window) {
    nRoot* found =
        g_state.kernelServer ? g_state.kernelServer->Lookup("/sys/servers/data") : nullptr;
    g_state.dataServer = dynamic_cast<plData*>(found);
    if (!g_state.dataServer)
        return;
    const GlobalSettings* site = g_state.globalSettings;
    std::string state = site ? site->getState() : "";
    std::string organization = site ? site->getOrganization() : "";
    std::string dataId = site ? site->getVantorDataId() : "";
    g_state.dataServer->SetSiteInfo(state.c_str(), organization.c_str(), dataId.c_str());
    g_state.dataServer->SetUserName(g_state.userName);
    g_state.dataServer->RefreshUser();
    char level[16];
    std::snprintf(level, sizeof level, "%i", g_state.dataServer->GetLevel());
    platform::SetDlgItemText(window, IDC_SETUP_LEVEL, level);
    ShowUserTime();
}

// Cuts off the Online Users part on the right and keeps the window's centre.
void NarrowForOffline(platform::HWND window) {
    platform::EnableWindow(platform::GetDlgItem(window, IDC_SETUP_UPDATE), false);
    platform::Rect rect;
    if (!platform::GetWindowRect(window, &rect))
        return;
    const int offset = platform::DialogUnitsToPixelsX(kNarrowOffsetUnits);
    platform::MoveWindow(window, rect.left + offset, rect.top, rect.right - rect.left - 2 * offset,
                         rect.bottom - rect.top, true);
}

} // namespace

std::string FormatUserTime(int seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d", seconds / 3600, (seconds / 60) % 60,
                  seconds % 60);
    return text;
}

void ShowUserSetup(bool online) {
    g_state.online = online ? 1 : 0;
    platform::ShowWindow(g_state.loginWindow, platform::SW_SHOWMINNOACTIVE);
    int result = platform::DialogBoxParam(g_state.instance, IDD_SETUP, g_state.loginWindow,
                                          SetupDialogProc, 0);
    if (result == -1) {
        platform::MessageBox(nullptr, platform::GetLastErrorText(), "Error",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
        platform::PostQuitMessage(0);
    }
    // A window ended by a way that skipped the closing steps must not leave its settings
    // behind for the next opening.
    if (g_state.setupWindow) {
        g_state.setupWindow = nullptr;
        delete g_state.userSettings;
        g_state.userSettings = nullptr;
    }
    if (!g_state.quickStart)
        platform::ShowWindow(g_state.loginWindow, platform::SW_RESTORE);
}

bool SetupDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                     platform::LPARAM /*lParam*/) {
    switch (message) {
    case platform::WM_INITDIALOG:
        g_state.setupWindow = window;
        InitSetupWindow();
        return true;
    case platform::WM_COMMAND:
        OnSetupCommand(window, int(platform::LOWORD(wParam)), int(platform::HIWORD(wParam)));
        return true;
    case platform::WM_CLOSE:
        CloseSetupWindow(window);
        return true;
    default:
        return false;
    }
}

void InitSetupWindow() {
    platform::HWND window = g_state.setupWindow;

    platform::SetCurrentDirectory(pathate(g_state.kernelServer, "home:"));
    bool keepFileUntouched = LoadUserSettings();

    std::string storedGender = g_state.userSettings->getGender();
    SetVoice(window, storedGender.empty() || storedGender == "male");

    ApplyWheelchairAdjustments();
    g_state.inWorld = 0;
    platform::SetBigIcon(window, platform::LoadIconResource(IDI_PELORA));

    FillWorldList();
    UpdateWorldChoice();
    FillColorList();
    FillVehicleList();
    UpdateVehicleChoice();
    // The opening's own stores are done; from here on a choice of the user's is saved.
    if (keepFileUntouched)
        g_state.userSettings->setUser(g_state.userName);

    nRoot* found = g_state.kernelServer ? g_state.kernelServer->Lookup("/sys/network") : nullptr;
    if (auto* network = dynamic_cast<plNetwork*>(found)) {
        network->userInfoCallback = AddOnlineUser;
        network->usersChangedCallback = UpdateOnlineUsers;
    }

    ObserveWorldRun({ShowUserTime, RefreshOnlineUsers});
    RefreshOnlineUsers();
    platform::SetDlgItemText(window, IDC_SETUP_NAME, g_state.userName);
    ShowDataServerInfo(window);

    if (!g_state.online)
        NarrowForOffline(window);

    if (g_state.quickStart) {
        platform::SendCommand(window, IDC_SETUP_DRIVE, platform::BN_CLICKED);
        platform::SendCommand(window, IDC_SETUP_LOGOUT, platform::BN_CLICKED);
    } else {
        platform::ShowWindow(window, platform::SW_SHOWNORMAL);
    }
}

void OnSetupCommand(platform::HWND window, int controlId, int notificationCode) {
    switch (controlId) {
    case IDC_SETUP_UPDATE:
        if (notificationCode == platform::BN_CLICKED)
            RefreshOnlineUsers();
        break;
    case IDC_SETUP_LOGOUT:
        if (notificationCode == platform::BN_CLICKED)
            CloseSetupWindow(window);
        break;
    case IDC_SETUP_DRIVE:
        if (notificationCode == platform::BN_CLICKED)
            startWorld();
        break;
    case IDC_SETUP_VEHICLE:
    case IDC_SETUP_COLOR:
        if (notificationCode == platform::CBN_SELCHANGE)
            UpdateVehicleChoice();
        break;
    case IDC_SETUP_WORLD:
        if (notificationCode == platform::CBN_SELCHANGE)
            UpdateWorldChoice();
        break;
    case IDC_SETUP_MALE:
        if (platform::IsDlgButtonChecked(window, IDC_SETUP_MALE) == platform::BST_CHECKED)
            SetVoice(window, true);
        break;
    case IDC_SETUP_FEMALE:
        if (platform::IsDlgButtonChecked(window, IDC_SETUP_FEMALE) == platform::BST_CHECKED)
            SetVoice(window, false);
        break;
    case IDC_SETUP_ADJUST:
        if (notificationCode == platform::BN_CLICKED)
            ShowAdjustDialog();
        break;
    default:
        break;
    }
}

void ShowUserTime() {
    if (!g_state.dataServer)
        return;
    platform::SetDlgItemText(g_state.setupWindow, IDC_SETUP_TIME,
                             FormatUserTime(g_state.dataServer->GetTime()));
}
