// The process entry: graphics check, command line, the Login window and the message loop.
#include "launcher.h"

#include "resource.h"

#include <strings.h>

bool assertDX8() {
    return platform::GraphicsRuntimeAvailable();
}

int WinMain(platform::HINSTANCE instance, platform::HINSTANCE /*previous*/, const char* commandLine,
            int /*showCommand*/) {
    g_state.instance = instance;
    if (!assertDX8())
        return 1;
    if (commandLine && strcasecmp(commandLine, "-quick") == 0)
        g_state.quickStart = 1;

    platform::HWND loginWindow =
        platform::CreateDialogParam(instance, IDD_LOGIN, nullptr, LoginDialogProc, 0);
    // A quick start logs in, drives and quits inside the window's own initialisation, so the
    // window is already gone here; its posted quit ends the loop below at once.
    if (!loginWindow && !platform::QuitPosted()) {
        platform::MessageBox(nullptr, platform::GetLastErrorText(), "Error",
                             platform::MB_ICONEXCLAMATION);
        return 1;
    }

    for (;;) {
        int result = platform::GetMessage();
        if (result == 0)
            break;
        if (result == -1)
            return -1;
    }
    int exitCode = platform::QuitCode();
    // A quit posted while the Login window still exists (a start-up window that could not be
    // made) still releases the engine objects on the way out.
    if (loginWindow && platform::IsWindow(loginWindow))
        platform::DestroyWindow(loginWindow);
    return exitCode;
}
