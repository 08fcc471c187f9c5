// The Online Users list of the User Setup window: the lines the network object hands over, the
// refill of Update and of the leave after a drive, and the update in place when the server says
// the users online changed. Asking for the list waits on the server (a script command that
// waits while window messages and the network's news go on), so one asking runs at a time: one
// asked for meanwhile is remembered and made, in place, once it is over. So an Update pressed
// during the wait, or news arriving then, never lists a line twice.
#include "config/config.h"
#include "engine/services.h"
#include "resource.h"

#include <map>
#include <string>
#include <vector>

namespace {

// Makes the list hold exactly `lines`, taking out the lines that went and adding those that
// came: the lines that stay are not touched, so the list neither flickers nor jumps.
void ShowOnlineUsers(const std::vector<std::string>& lines) {
    platform::HWND window = g_state.setupWindow;
    std::map<std::string, int> wanted;
    for (const std::string& line : lines)
        ++wanted[line];
    for (int i = platform::ListBoxGetCount(window, IDC_SETUP_ONLINE_USERS) - 1; i >= 0; --i) {
        auto found = wanted.find(platform::ListBoxGetText(window, IDC_SETUP_ONLINE_USERS, i));
        if (found != wanted.end() && found->second > 0)
            --found->second;
        else
            platform::ListBoxDeleteString(window, IDC_SETUP_ONLINE_USERS, i);
    }
    for (const auto& [line, count] : wanted)
        for (int n = 0; n < count; ++n)
            platform::ListBoxAddString(window, IDC_SETUP_ONLINE_USERS, line);
}

// An asking that was asked for while another waited.
void AskAgainIfAsked() {
    if (g_state.usersAskAgain) {
        g_state.usersAskAgain = 0;
        UpdateOnlineUsers();
    }
}

} // namespace

void AddOnlineUser(const char* line) {
    if (!line)
        return;
    if (g_state.usersGathering) {
        g_state.usersGathered.push_back(line);
        return;
    }
    if (!g_state.setupWindow)
        return;
    platform::ListBoxAddString(g_state.setupWindow, IDC_SETUP_ONLINE_USERS, line);
}

void RefreshOnlineUsers() {
    if (g_state.usersAsking) {
        g_state.usersAskAgain = 1;
        return;
    }
    platform::ListBoxResetContent(g_state.setupWindow, IDC_SETUP_ONLINE_USERS);
    if (g_state.online) {
        if (g_state.scriptServer) {
            std::string result;
            g_state.usersAsking = 1;
            g_state.scriptServer->RunCommand("net::infoUsers", result);
            g_state.usersAsking = 0;
            AskAgainIfAsked();
        }
    } else {
        platform::ListBoxAddString(g_state.setupWindow, IDC_SETUP_ONLINE_USERS,
                                   "( Not logged in. )");
    }
}

void UpdateOnlineUsers() {
    if (!g_state.setupWindow || !g_state.online || g_state.inWorld || !g_state.scriptServer)
        return;
    if (g_state.usersAsking) {
        g_state.usersAskAgain = 1;
        return;
    }
    g_state.usersAsking = 1;
    do {
        g_state.usersAskAgain = 0;
        g_state.usersGathered.clear();
        g_state.usersGathering = 1;
        std::string result;
        g_state.scriptServer->RunCommand("net::infoUsers", result);
        g_state.usersGathering = 0;
        // An asking that got no answer (time-out, lost connection) leaves the list as it was.
        if (g_state.setupWindow && !result.empty() && result[0] == '0')
            ShowOnlineUsers(g_state.usersGathered);
    } while (g_state.usersAskAgain && g_state.setupWindow && !g_state.inWorld);
    g_state.usersAskAgain = 0;
    g_state.usersGathered.clear();
    g_state.usersAsking = 0;
}
