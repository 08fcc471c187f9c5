// The two modeless windows that only show progress (see progress_windows.h).
#include "config/progress_windows.h"

#include "config/launcher_state.h"

#include "resource.h"

namespace {

platform::HWND CreateSilentWindow(int templateId) {
    platform::HWND window = platform::CreateDialogParam(g_state.instance, templateId,
                                                        g_state.loginWindow, SilentDialogProc, 0);
    if (!window) {
        platform::MessageBox(nullptr, platform::GetLastErrorText(), "Error",
                             platform::MB_ICONEXCLAMATION);
        platform::PostQuitMessage(0);
    }
    return window;
}

} // namespace

bool SilentDialogProc(platform::HWND, unsigned, platform::WPARAM, platform::LPARAM) {
    return false;
}

platform::HWND CreateStartupWindow() {
    return CreateSilentWindow(IDD_STARTUP);
}

platform::HWND CreateProgressWindow() {
    return CreateSilentWindow(IDD_PROGRESS);
}
