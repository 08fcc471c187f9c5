// The Login window: the program's main window. Runs the bootstrap when it is made, services
// the script server on its timer, runs the Drive Online and Drive Offline sequences and
// follows the banner link.
#include "launcher.h"

#include "config/config.h"
#include "engine/services.h"
#include "resource.h"
#include "settings/global_settings.h"

#include <cstdio>

namespace {

constexpr unsigned kClockPeriodMs = 10;
constexpr std::uintptr_t kClockTimerId = 1;

void SetStatus(const char* text) {
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_STATUS, text);
}

// Whoever sits down next must type a password of their own: the one typed for the session
// that just ended goes once the User Setup window has closed (the name stays, as the stored
// name does).
void RunUserSetup(bool online) {
    ShowUserSetup(online);
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, "");
}

void DriveOnline() {
    ShowWaitCursor();
    SetLoginBusy(true);
    g_state.createUserSent = 0;
    g_state.renameRetry = 0;
    g_state.loggedIn = 0;
    if (ConnectToServer() && VerifyUser() && LoginToServer()) {
        g_state.loggedIn = 1;
        if (g_state.globalSettings)
            g_state.globalSettings->setDriveMode("online");
        platform::SetCursor(g_state.savedCursor);
        RunUserSetup(true);
        LogoutFromServer();
        SetStatus("Ready.");
    }
    SetLoginBusy(false);
    platform::SetCursor(g_state.savedCursor);
}

void DriveOffline() {
    SetLoginBusy(true);
    g_state.loggedIn = 0;
    if (VerifyUser()) {
        g_state.loggedIn = 1;
        if (g_state.globalSettings)
            g_state.globalSettings->setDriveMode("offline");
        RunUserSetup(false);
        SetStatus("Ready.");
    }
    SetLoginBusy(false);
}

void CancelLogin() {
    if (!g_state.scriptServer)
        return;
    std::string result;
    g_state.scriptServer->RunCommand("set net::wv_connect 9", result);
    g_state.scriptServer->RunCommand("set net::ack_login 9", result);
}

} // namespace

bool LoginBusy() {
    return g_state.loginBusy != 0;
}

bool LoginDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                     platform::LPARAM lParam) {
    switch (message) {
    case platform::WM_INITDIALOG:
        g_state.loginWindow = window;
        InitLoginWindow();
        return true;
    case platform::WM_COMMAND:
        OnLoginCommand(window, int(platform::LOWORD(wParam)), int(platform::HIWORD(wParam)));
        return true;
    case platform::WM_TIMER:
        if (g_state.scriptServer && !g_state.inWorld)
            g_state.scriptServer->ProcessEvents();
        return true;
    case platform::WM_MOUSEMOVE:
        TrackBannerLink(int(platform::LOWORD(std::uintptr_t(lParam))),
                        int(platform::HIWORD(std::uintptr_t(lParam))), false);
        return true;
    case platform::WM_LBUTTONDOWN:
        TrackBannerLink(int(platform::LOWORD(std::uintptr_t(lParam))),
                        int(platform::HIWORD(std::uintptr_t(lParam))), true);
        return true;
    case platform::WM_CLOSE:
        // A login waits inside a script command: destroying now would release the engine
        // under it.
        if (!LoginBusy())
            platform::DestroyWindow(window);
        return true;
    case platform::WM_DESTROY:
        if (g_state.clockTimer != 0) {
            platform::KillTimer(window, g_state.clockTimer);
            g_state.clockTimer = 0;
        }
        ReleaseEngine();
        // 0 unless a quick start failed.
        platform::PostQuitMessage(g_state.exitCode);
        return true;
    default:
        return false;
    }
}

void InitLoginWindow() {
    platform::HWND window = g_state.loginWindow;
    platform::SetBigIcon(window, platform::LoadIconResource(IDI_PELORA));

    g_state.clockTimer = platform::SetTimer(window, kClockTimerId, kClockPeriodMs);
    if (g_state.clockTimer == 0)
        platform::MessageBox(nullptr, "Error creating timer", "error", platform::MB_OK);

    BootstrapEngine();

    std::string storedName = "guest";
    if (g_state.globalSettings)
        storedName = g_state.globalSettings->getUserName();
    // A guest login stores an empty name, so a quick start repeats an empty name as the guest.
    if (g_state.quickStart && storedName.empty())
        storedName = "guest";
    // The edit gets the stored name uncut: one too long for the name fields is refused by
    // VerifyUser, never cut into the name of another user.
    CopyName(g_state.userName, storedName);
    platform::SetDlgItemText(window, IDC_LOGIN_USERNAME, storedName);

    char welcome[64];
    std::snprintf(welcome, sizeof welcome, "Welcome to Pelora Version %s", kVersionText);
    SetStatus(welcome);

    if (!g_state.quickStart) {
        platform::ShowWindow(window, platform::SW_SHOWNORMAL);
        return;
    }
    // Sent, not posted: the whole login, user setup and drive run before the Quit.
    bool online = g_state.globalSettings && g_state.globalSettings->getDriveMode() == "online";
    g_state.loggedIn = 0;
    g_state.driveCompleted = 0;
    platform::SendCommand(window, online ? IDC_DRIVE_ONLINE : IDC_DRIVE_OFFLINE,
                          platform::BN_CLICKED);
    // The program's exit code says how far the quick start got (posted when the window goes).
    g_state.exitCode = QuickStartExitCode(g_state.loggedIn, g_state.driveCompleted);
    platform::SendCommand(window, IDC_QUIT, platform::BN_CLICKED);
}

void OnLoginCommand(platform::HWND window, int controlId, int notificationCode) {
    if (notificationCode != platform::BN_CLICKED)
        return;
    // While a login runs only Cancel Login acts: Enter still reaches the hidden default
    // button, and a second sequence or a Quit would run under the waiting one.
    switch (controlId) {
    case IDC_DRIVE_ONLINE:
        if (!LoginBusy())
            DriveOnline();
        break;
    case IDC_DRIVE_OFFLINE:
        if (!LoginBusy())
            DriveOffline();
        break;
    case IDC_CANCEL_LOGIN:
        CancelLogin();
        break;
    case IDC_QUIT:
        if (!LoginBusy())
            platform::DestroyWindow(window);
        break;
    default:
        break;
    }
}

void SetLoginBusy(bool busy) {
    platform::HWND window = g_state.loginWindow;
    if (busy && !g_state.loginBusy)
        g_state.focusBeforeBusy = platform::GetFocus();
    g_state.loginBusy = busy ? 1 : 0;
    int buttons = busy ? platform::SW_HIDE : platform::SW_SHOWNORMAL;
    platform::ShowWindow(platform::GetDlgItem(window, IDC_QUIT), buttons);
    platform::ShowWindow(platform::GetDlgItem(window, IDC_DRIVE_ONLINE), buttons);
    platform::ShowWindow(platform::GetDlgItem(window, IDC_DRIVE_OFFLINE), buttons);
    platform::EnableWindow(platform::GetDlgItem(window, IDC_LOGIN_USERNAME), !busy);
    platform::EnableWindow(platform::GetDlgItem(window, IDC_LOGIN_PASSWORD), !busy);
    platform::ShowWindow(platform::GetDlgItem(window, IDC_CANCEL_LOGIN),
                         busy ? platform::SW_SHOWNORMAL : platform::SW_HIDE);
    // The focus goes where the keyboard can act: on Cancel Login while the login waits (the
    // control it was on is hidden or disabled now), and back where it was afterwards.
    if (busy) {
        platform::SetFocus(platform::GetDlgItem(window, IDC_CANCEL_LOGIN));
    } else if (platform::IsWindow(g_state.focusBeforeBusy) &&
               platform::IsWindowEnabled(g_state.focusBeforeBusy)) {
        platform::SetFocus(g_state.focusBeforeBusy);
        g_state.focusBeforeBusy = nullptr;
    } else {
        platform::SetFocus(platform::GetDlgItem(window, IDC_LOGIN_USERNAME));
    }
}

void ShowWaitCursor() {
    g_state.savedCursor = platform::SetCursor(platform::LoadSystemCursor(platform::IDC_WAIT));
}

// The link is the strip along the banner's lower edge that shows the maker's address:
// 105 < x < 270 and 308 < y < 335 in client pixels (bounds excluded) where the classic font
// metrics put the banner, at (18, 16). The banner moves with the font's base units, and the
// strip moves with it.
bool InsideBannerLink(int x, int y) {
    platform::Rect banner{18, 16, 0, 0};
    platform::GetControlRect(g_state.loginWindow, IDC_LOGIN_BANNER, &banner);
    const int bannerX = x - banner.left + 18;
    const int bannerY = y - banner.top + 16;
    return bannerX > 105 && bannerX < 270 && bannerY > 308 && bannerY < 335;
}

void TrackBannerLink(int x, int y, bool clicked) {
    bool inside = InsideBannerLink(x, y);
    if (inside) {
        if (clicked) {
            GotoURL(kMakerUrl, 1);
        } else if (!g_state.bannerCaptured) {
            g_state.bannerCaptured = 1;
            platform::SetCapture(g_state.loginWindow);
            platform::SetCursor(platform::LoadCursorResource(IDC_LINK_HAND));
        }
    } else if (g_state.bannerCaptured) {
        g_state.bannerCaptured = 0;
        platform::ReleaseCapture();
    }
}

bool GotoURL(const char* address, int /*showCommand*/) {
    return platform::OpenUrl(address);
}
