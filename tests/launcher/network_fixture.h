// Shared scope of the network-login tests: a recording script server that plays the network
// layer (its variables, set-up script, net::connect and net::login) under the Login window.
#pragma once

#include "accounts/password_file.h"
#include "launcher_fixture.h"

#include <functional>
#include <string>
#include <vector>

namespace launcher_test {

constexpr const char* kNoConnection =
    "Could not connect to server.  (Are you connected to the Internet?)";

// The network layer as the launcher sees it: the variables network_started and net::state,
// the set-up script that makes the network object, net::connect and net::login answering what
// the test says. Commands it does not know fall to the fake's own answers.
struct ScriptedNetwork {
    bool started = true;
    bool makesNetworkObject = true;
    std::string state = "disconnected";
    std::string connectResult = "0";
    std::string stateAfterConnect = "connected";
    std::vector<std::string> loginReplies = {"0"}; // in turn; the last one repeats
    size_t logins = 0;
    // Run while net::connect or net::login waits, as window messages are then; a cancel set
    // meanwhile (net::wv_connect or net::ack_login set to 9) makes the wait give 9.
    std::function<void()> duringConnect, duringLogin;
    bool connectCancelled = false, loginCancelled = false;
    // The status line at each run of the set-up script and of net::connect.
    std::vector<std::string> statusSeen;
};

class NetworkLoginTest : public LauncherTest {
protected:
    void SetUp() override {
        UseFakeEngine();
        classes.UseNetwork();
        classes.UseVoiceServers();
        window = OpenLoginWindow();
        ASSERT_NE(window, nullptr);
        script = Script();
        ASSERT_NE(script, nullptr);
        script->handler = [this](const std::string& command, std::string& result) {
            return Answer(command, result);
        };
        script->scriptHandler = [this](const std::string& path, std::string&) {
            net.statusSeen.push_back("script " + path + ": " + Status());
            if (path == "scripts:netsetup.tcl" && net.makesNetworkObject)
                g_state.kernelServer->New("fakenetwork", "/sys/network");
            return true;
        };
        script->commands.clear();
        script->scripts.clear(); // the bootstrap's
        fakes::Events().clear();
        boxes.boxes.clear();
    }

    bool Answer(const std::string& command, std::string& result) {
        if (command == "info exists network_started") {
            result = net.started ? "1" : "0";
        } else if (command == "set network_started true") {
            net.started = true;
            result = "true";
        } else if (command == "return $net::state") {
            result = net.state;
        } else if (command == "net::connect") {
            net.statusSeen.push_back("connect: " + Status());
            net.connectCancelled = false;
            if (net.duringConnect)
                net.duringConnect();
            if (net.connectCancelled) {
                result = "9";
                return true;
            }
            result = net.connectResult;
            net.state = net.stateAfterConnect;
        } else if (command.rfind("net::login ", 0) == 0) {
            net.loginCancelled = false;
            if (net.duringLogin)
                net.duringLogin();
            result = net.loginCancelled
                         ? "9"
                         : net.loginReplies[std::min(net.logins++, net.loginReplies.size() - 1)];
        } else if (command == "set net::wv_connect 9") {
            net.connectCancelled = true;
        } else if (command == "set net::ack_login 9") {
            net.loginCancelled = true;
        } else {
            return false;
        }
        return true;
    }

    void LoginReplies(std::vector<std::string> replies) {
        net.loginReplies = std::move(replies);
        net.logins = 0;
    }

    void SetUser(const std::string& name, const std::string& password) {
        CopyName(g_state.userName, name);
        platform::SetDlgItemText(window, IDC_LOGIN_USERNAME, name);
        platform::SetDlgItemText(window, IDC_LOGIN_PASSWORD, password);
    }

    // A local user with a password file, as the configuration tool makes one.
    void MakeUser(const std::string& name, const std::string& password) {
        home.MakeDir("users/" + name);
        ASSERT_TRUE(accounts::WriteColorsFile((home / "users" / name).string(), password));
    }

    void ExpectLoginError(const std::string& text) {
        EXPECT_EQ(Status(), text);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, text);
        EXPECT_EQ(boxes.boxes[0].caption, "Login Error");
        EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONERROR));
        EXPECT_EQ(boxes.boxes[0].owner, window);
    }

    // Takes the script server away for one check and gives it back for the release.
    template <typename Check> void WithoutScriptServer(Check check) {
        nScriptServer* saved = g_state.scriptServer;
        g_state.scriptServer = nullptr;
        check();
        g_state.scriptServer = saved;
    }

    int Made(const std::string& className) const {
        return fakes::IndexOf("made " + className) >= 0 ? 1 : 0;
    }

    platform::HWND window = nullptr;
    fakes::FakeScriptServer* script = nullptr;
    ScriptedNetwork net;
};

} // namespace launcher_test
