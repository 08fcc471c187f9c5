// Drive Online's network steps: the connection to the server, the server login (with the
// creation of accounts the server does not know) and the logout.
#include "launcher.h"

#include "engine/services.h"
#include "resource.h"

#include <cstdio>
#include <strings.h>

namespace {

constexpr int kMaxSentPassword = 59;

void SetStatus(const std::string& text) {
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_STATUS, text);
}

bool RefuseLogin(const std::string& text) {
    SetStatus(text);
    platform::MessageBox(g_state.loginWindow, text, "Login Error", platform::MB_ICONERROR);
    return false;
}

std::string RunCommand(const std::string& command) {
    std::string result;
    g_state.scriptServer->RunCommand(command.c_str(), result);
    return result;
}

// Name and password go to the script layer as single words, whatever characters they hold.
std::string AccountCommand(const char* procedure, const std::string& password) {
    return std::string(procedure) + " " + ScriptWord(g_state.userName) + " " + ScriptWord(password);
}

} // namespace

bool ConnectToServer() {
    if (!g_state.scriptServer) {
        platform::MessageBox(nullptr, "Can't start client, script server is down.", "ERROR!",
                             platform::MB_OK);
        return false;
    }
    // The network layer (set-up script, server address, net::connect) is not part of this
    // build yet, so no connection can be made.
    SetStatus("Could not connect to server.  (Are you connected to the Internet?)");
    return false;
}

bool LoginToServer() {
    if (!g_state.scriptServer) {
        platform::MessageBox(g_state.loginWindow, "Can't login to network, script server is down.",
                             "ERROR!", platform::MB_OK);
        return false;
    }
    if (RunCommand("return $network_started") != "true") {
        SetStatus("Could not log in.  Unknown error.");
        return false;
    }

    std::string password;
    if (strcasecmp(g_state.userName, "guest") == 0) {
        password = "tulip";
    } else {
        password =
            platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, kMaxSentPassword);
        if (password.empty())
            return RefuseLogin("Please enter a password.");
    }

    std::string reply;
    // A script error (no such procedure, say) is no reply code, whatever its message starts
    // with.
    bool answered =
        g_state.scriptServer->RunCommand(AccountCommand("net::login", password).c_str(), reply);
    char code = answered && !reply.empty() ? reply[0] : '\0';
    switch (code) {
    case '0':
        return true;
    case '9':
        SetStatus("Login cancelled.");
        return false;
    case '1':
        return RefuseLogin("Could not log in.  Timed out waiting for server.");
    case '2':
        if (!g_state.createUserSent) {
            RunCommand(AccountCommand("net::createuser", password));
            g_state.createUserSent = 1;
            return LoginToServer();
        }
        g_state.createUserSent = 0;
        return RefuseLogin("Error creating new user on the server.");
    case '3':
        // The name is another user's on the server; until the Rename-user dialog exists the
        // login ends here without a further message.
        return false;
    case '4': {
        char text[256];
        std::snprintf(text, sizeof text, "Could not log in.  User %s is already logged in.",
                      g_state.userName);
        return RefuseLogin(text);
    }
    default:
        return RefuseLogin("Could not log in.  net::login returned: " + reply);
    }
}

bool LogoutFromServer() {
    if (!g_state.scriptServer) {
        platform::MessageBox(nullptr, "Can't logout, script server is down.", "ERROR!",
                             platform::MB_OK);
        return false;
    }
    if (RunCommand("return $network_started") == "true")
        RunCommand("net::logout");
    return true;
}
