// Leaving the shared network world after an online drive: on success the user's data files go
// to the server and the online list is renewed; otherwise the connection counts as lost and
// the user goes back to the Login window.
#include "config/world_run.h"
#include "engine/services.h"
#include "settings/user_settings.h"

#include <string>

void EndSetupAfterNetworkLoss() {
    platform::MessageBox(g_state.setupWindow,
                         "There was a problem with the network connection. \nYou will have to "
                         "login again.",
                         "Network Error", platform::MB_ICONERROR);
    // A modal dialog ends once control is back in its loop, so the world run still finishes
    // its clean-up first.
    platform::EndDialog(g_state.setupWindow, 2);
    g_state.setupWindow = nullptr;
    delete g_state.userSettings;
    g_state.userSettings = nullptr;
}

void leaveWorld() {
    std::string result;
    // Without a script server the leave cannot be confirmed: that is a lost connection too.
    if (g_state.scriptServer)
        g_state.scriptServer->RunCommand("net::leave", result);
    if (!result.empty() && result[0] == '0') {
        sendDataFiles();
        NotifyOnlineUsersChanged();
        return;
    }
    if (g_state.scriptServer) {
        std::string ignored;
        g_state.scriptServer->RunCommand("/sys/network.stop", ignored);
    }
    EndSetupAfterNetworkLoss();
}
