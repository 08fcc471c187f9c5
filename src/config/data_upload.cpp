// Upload of the user's data files (files named data*, any letter case) to the simulator
// server after an online drive, one "net::sendfile" per file, under a progress window.
#include "config/world_run.h"

#include "config/progress_windows.h"
#include "engine/services.h"
#include "engine/user_files.h"
#include "platform/file_system.h"
#include "resource.h"

#include <strings.h>

#include <string>

namespace {

constexpr int kMaxFilesPerUpload = 25;

// Destroys the progress window on every way out.
class ProgressWindow {
public:
    ProgressWindow() : window_(CreateProgressWindow()) {}
    ~ProgressWindow() { platform::DestroyWindow(window_); }
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;
    void ShowDetail(const std::string& text) {
        platform::SetDlgItemText(window_, IDC_PROGRESS_DETAIL, text);
    }

private:
    platform::HWND window_;
};

} // namespace

void sendDataFiles() {
    if (strcasecmp(g_state.userName, "guest") == 0)
        return;
    if (!g_state.scriptServer) {
        platform::MessageBox(g_state.setupWindow, "Can't send data files, script server is down.",
                             "ERROR!", platform::MB_OK);
        return;
    }

    ProgressWindow progress;
    const std::string home = pathate(g_state.kernelServer, "home:");
    const std::string userFolder = pathate(g_state.kernelServer, "users:%s", g_state.userName);
    const bool entered = platform::SetCurrentDirectory(userFolder);
    const std::string folder = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(home);
    if (!entered) {
        // Searching whatever folder happens to be current would send another folder's files.
        n_printf("Can't send data files, the user folder does not open: %s\n", userFolder.c_str());
        return;
    }

    platform::FolderSearch search(folder, "data*.*");
    platform::FolderEntry entry;
    int sent = 0;
    while (sent < kMaxFilesPerUpload && search.Next(entry)) {
        if (entry.isDirectory)
            continue;
        progress.ShowDetail(entry.name);
        std::string result;
        if (!SendDataFile(g_state.scriptServer, g_state.userName, entry.name, result)) {
            n_printf("Error sending datafiles.  net::sendfile returned: %s", result.c_str());
            return;
        }
        ++sent;
    }
}
