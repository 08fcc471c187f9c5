// The launcher's one process-wide state record.
#include "config/launcher_state.h"

#include <algorithm>
#include <cstring>

LauncherState g_state;

void ResetLauncherState() {
    g_state = LauncherState();
}

void CopyName(char (&buffer)[kNameSize], const std::string& text) {
    std::size_t length = std::min(text.size(), std::size_t(kNameSize - 1));
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}
