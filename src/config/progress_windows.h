// The two modeless windows that only show progress: the start-up window of the launcher's
// bootstrap and the progress window of drives and uploads.
#pragma once

#include "platform/window_system.h"

platform::HWND CreateStartupWindow();
platform::HWND CreateProgressWindow();
bool SilentDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                      platform::LPARAM lParam);
