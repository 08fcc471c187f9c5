// Drive Online's network steps: the start-up of the network layer and the connection to the
// server, the server login (with the creation of accounts the server does not know and the
// rename of a name that is someone else's) and the logout. Everything goes through script
// commands and variables; the waiting for the server happens inside the script layer.
#include "launcher.h"

#include "engine/services.h"
#include "protocol/user_name.h"
#include "resource.h"
#include "settings/global_settings.h"

#include <cstdio>
#include <strings.h>

namespace {

constexpr int kMaxSentPassword = 59;
constexpr const char* kGuestPassword = "tulip";
constexpr const char* kNoConnection =
    "Could not connect to server.  (Are you connected to the Internet?)";
constexpr const char* kNetworkObject = "/sys/network";
constexpr const char* kIdentityChanged =
    "The server's identity has changed.  Drive Online is stopped until it is checked.";

void SetNetworkStatus(const std::string& text) {
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_STATUS, text);
}

bool RefuseLogin(const std::string& text, const std::string& status = "") {
    SetNetworkStatus(status.empty() ? text : status);
    platform::MessageBox(g_state.loginWindow, text, "Login Error", platform::MB_ICONERROR);
    return false;
}

// The box of a server whose certificate or sealing key is not the one this computer knows:
// what happened, and what to do.
std::string IdentityChangedText(const std::string& server) {
    return "Pelora did not connect: the server " + server +
           " did not prove it is the server this computer knows (its certificate or its key "
           "for drive data has changed).\n\n"
           "If the server was replaced or set up again, ask the person who looks after Pelora "
           "here to check it and accept the new certificate with plconfig (the Server page, or "
           "plconfig --accept-server).\n\n"
           "Otherwise someone may be posing as the server: do not drive online, and tell them.";
}

std::string RunCommand(const std::string& command) {
    std::string result;
    g_state.scriptServer->RunCommand(command.c_str(), result);
    return result;
}

// A script error (no such procedure, say) is no reply code, whatever its message starts with:
// such a reply reads as empty here.
char ReplyCode(bool answered, const std::string& reply) {
    return answered && !reply.empty() ? reply[0] : '\0';
}

bool NetworkStarted() {
    return RunCommand("info exists network_started") == "1";
}

bool Connected() {
    return RunCommand("return $net::state") == "connected";
}

// What the network start-up reads from the global settings; without a settings object (the
// file could not be read) the settings' own defaults stand in.
struct NetworkSettings {
    std::string serverName = GlobalSettings::kDefaultServerName;
    std::string serverPort = "3152";
    bool voipEnabled = false;
};

NetworkSettings ReadNetworkSettings(const GlobalSettings* settings) {
    NetworkSettings values;
    if (!settings)
        return values;
    values.serverName = settings->getServerName();
    values.serverPort = settings->getServerPort();
    values.voipEnabled = settings->voipEnabled();
    return values;
}

// The set-up script, the voice objects, the server address on the network object's socket
// and on the script layer. Once per run: afterwards `network_started` says it was done, and
// changed settings take effect at the next program start.
bool StartNetwork() {
    SetNetworkStatus("Starting network...");
    std::string result;
    if (!g_state.scriptServer->RunScript("scripts:netsetup.tcl", result))
        n_printf("WARN %s/%d: scripts:netsetup.tcl failed: %s\n", __FILE__, __LINE__,
                 result.c_str());

    const NetworkSettings settings = ReadNetworkSettings(g_state.globalSettings);
    nKernelServer* kernel = g_state.kernelServer;
    if (settings.voipEnabled && kernel) {
        kernel->New("zuaudioinputserver", "/sys/servers/audioin", "nroot");
        kernel->New("zuhawkvoiceserver", "/sys/servers/hawkvoice", "nroot");
    }

    // Without the network object nothing can connect; the user gets the usual message and
    // the next Drive Online runs the start-up again.
    auto* network = kernel ? dynamic_cast<plNetwork*>(kernel->Lookup(kNetworkObject)) : nullptr;
    plnSocket* socket = network ? network->GetSocket() : nullptr;
    if (!socket) {
        n_printf("ERROR %s/%d: no network object at %s after scripts:netsetup.tcl\n", __FILE__,
                 __LINE__, kNetworkObject);
        SetNetworkStatus(kNoConnection);
        return false;
    }
    const std::string address = settings.serverName + ":" + settings.serverPort;
    socket->setAddress(address.c_str());

    // The settings' texts are the user's: each goes to the script layer as one word.
    RunCommand("net::setctrladdress " + ScriptWord(settings.serverName) + " " +
               ScriptWord(settings.serverPort));
    RunCommand("set network_started true");
    return true;
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
    if (!NetworkStarted() && !StartNetwork())
        return false;

    // The state is read once before and once after net::connect; all waiting for the server
    // (and for Cancel Login) happens inside net::connect.
    if (Connected())
        return true;
    SetNetworkStatus("Connecting to server...");
    std::string result;
    const bool answered = g_state.scriptServer->RunCommand("net::connect", result);
    if (ReplyCode(answered, result) == '9') {
        SetNetworkStatus("Login cancelled.");
        return false;
    }
    if (ReplyCode(answered, result) == '2') {
        const NetworkSettings settings = ReadNetworkSettings(g_state.globalSettings);
        return RefuseLogin(IdentityChangedText(settings.serverName + ":" + settings.serverPort),
                           kIdentityChanged);
    }
    if (!answered)
        n_printf("WARN %s/%d: net::connect failed: %s\n", __FILE__, __LINE__, result.c_str());
    if (Connected())
        return true;
    SetNetworkStatus(kNoConnection);
    return false;
}

bool LoginToServer() {
    if (!g_state.scriptServer) {
        platform::MessageBox(g_state.loginWindow, "Can't login to network, script server is down.",
                             "ERROR!", platform::MB_OK);
        return false;
    }
    if (!NetworkStarted()) {
        SetNetworkStatus("Could not log in.  Unknown error.");
        return false;
    }

    const bool guest = names::IsGuestName(g_state.userName);
    std::string password;
    if (guest) {
        password = kGuestPassword;
    } else {
        password =
            platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, kMaxSentPassword);
        if (password.empty())
            return RefuseLogin("Please enter a password.");
    }

    std::string reply;
    const bool answered =
        g_state.scriptServer->RunCommand(AccountCommand("net::login", password).c_str(), reply);
    switch (ReplyCode(answered, reply)) {
    case '0':
        return true;
    case '9':
        SetNetworkStatus("Login cancelled.");
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
        // The guest account is shared and its folder marks a machine that was set up, so it
        // is never renamed: a clash on it is a fault of the server's, reported as such.
        if (guest)
            break;
        if (AskForNewName() != 0)
            return false; // the dialog has said why, where there was something to say
        g_state.renameRetry = 1;
        return LoginToServer();
    case '4': {
        char text[256];
        std::snprintf(text, sizeof text, "Could not log in.  User %s is already logged in.",
                      g_state.userName);
        return RefuseLogin(text);
    }
    default:
        break;
    }
    return RefuseLogin("Could not log in.  net::login returned: " + reply);
}

bool LogoutFromServer() {
    if (!g_state.scriptServer) {
        platform::MessageBox(nullptr, "Can't logout, script server is down.", "ERROR!",
                             platform::MB_OK);
        return false;
    }
    if (NetworkStarted())
        RunCommand("net::logout");
    return true;
}
