// Drive Online's network steps against a recording script server that plays the network layer:
// the start-up once per run, the connection with its cancel and failure, the server login with
// its reply codes, account creation and renames, and the logout.
#include "accounts/password_file.h"
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

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
        if (command == "return $network_started") {
            result = net.started ? "true" : "can't read \"network_started\": no such variable";
        } else if (command == "set network_started true") {
            net.started = true;
            result = "true";
        } else if (command == "return $net::state") {
            result = net.state;
        } else if (command == "net::connect") {
            net.statusSeen.push_back("connect: " + Status());
            result = net.connectResult;
            net.state = net.stateAfterConnect;
        } else if (command.rfind("net::login ", 0) == 0) {
            result = net.loginReplies[std::min(net.logins++, net.loginReplies.size() - 1)];
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

// ---- connection ----

TEST_F(NetworkLoginTest, ConnectWithoutScriptServer_BoxWithoutOwner) {
    WithoutScriptServer([&] { EXPECT_FALSE(ConnectToServer()); });

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Can't start client, script server is down.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
}

TEST_F(NetworkLoginTest, FirstConnect_StartsNetworkInOrderAndConnects) {
    net.started = false;
    g_state.globalSettings->setServerName("sim.example.org");
    g_state.globalSettings->setServerPort("4100");

    EXPECT_TRUE(ConnectToServer());

    std::vector<std::string> expected = {
        "command return $network_started",
        "script scripts:netsetup.tcl",
        "socket address sim.example.org:4100",
        "command net::setctrladdress sim.example.org 4100",
        "command set network_started true",
        "command return $net::state",
        "command net::connect",
        "command return $net::state",
    };
    EXPECT_EQ(fakes::Events(), expected);
    std::vector<std::string> seen = {"script scripts:netsetup.tcl: Starting network...",
                                     "connect: Connecting to server..."};
    EXPECT_EQ(net.statusSeen, seen);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, LaterConnects_NoStartUpAndSettingsChangesIgnored) {
    net.started = false;
    ASSERT_TRUE(ConnectToServer());
    g_state.globalSettings->setServerName("elsewhere.example.org");
    g_state.globalSettings->setVoipEnabled(true);

    // The connection was lost meanwhile: only the connection steps run again.
    net.state = "disconnected";
    net.statusSeen.clear();
    fakes::Events().clear();
    EXPECT_TRUE(ConnectToServer());
    std::vector<std::string> seen = {"connect: Connecting to server..."};
    EXPECT_EQ(net.statusSeen, seen);
    EXPECT_EQ(fakes::IndexOf("script", true), -1);
    EXPECT_EQ(fakes::IndexOf("socket address", true), -1);
    EXPECT_EQ(fakes::IndexOf("command net::setctrladdress", true), -1);
    EXPECT_EQ(Made("zuaudioinputserver"), 0);

    // Still connected: net::connect is not run and the status line is left alone.
    platform::SetDlgItemText(window, IDC_LOGIN_STATUS, "--");
    fakes::Events().clear();
    EXPECT_TRUE(ConnectToServer());
    std::vector<std::string> expected = {"command return $network_started",
                                         "command return $net::state"};
    EXPECT_EQ(fakes::Events(), expected);
    EXPECT_EQ(Status(), "--");
}

TEST_F(NetworkLoginTest, VoiceEnabled_CreatesVoiceObjectsOnlyForExactTrue) {
    net.started = false;
    g_state.globalSettings->setValue("voip-enabled", "True");
    ASSERT_TRUE(ConnectToServer());
    EXPECT_EQ(Made("zuaudioinputserver"), 0);
    EXPECT_EQ(Made("zuhawkvoiceserver"), 0);
    EXPECT_EQ(g_state.kernelServer->Lookup("/sys/servers/audioin"), nullptr);

    net.started = false;
    g_state.globalSettings->setValue("voip-enabled", "true");
    ASSERT_TRUE(ConnectToServer());
    EXPECT_LT(fakes::IndexOf("made zuaudioinputserver"), fakes::IndexOf("made zuhawkvoiceserver"));
    EXPECT_NE(g_state.kernelServer->Lookup("/sys/servers/audioin"), nullptr);
    EXPECT_NE(g_state.kernelServer->Lookup("/sys/servers/hawkvoice"), nullptr);
}

TEST_F(NetworkLoginTest, ServerAddressWithScriptCharacters_ReachesScriptAsOneWordEach) {
    net.started = false;
    g_state.globalSettings->setServerName("bad host[exit]");
    g_state.globalSettings->setServerPort("41 00;");

    ASSERT_TRUE(ConnectToServer());

    EXPECT_EQ(fakes::FakeNetwork::last->socket.address, "bad host[exit]:41 00;");
    EXPECT_EQ(script->CountCommands("net::setctrladdress {bad host[exit]} {41 00;}"), 1);
}

TEST_F(NetworkLoginTest, NoGlobalSettings_DefaultServerAddress) {
    net.started = false;
    GlobalSettings* saved = g_state.globalSettings;
    g_state.globalSettings = nullptr;

    bool connected = ConnectToServer();

    g_state.globalSettings = saved;
    EXPECT_TRUE(connected);
    EXPECT_EQ(fakes::FakeNetwork::last->socket.address, "localhost:3152");
    EXPECT_EQ(script->CountCommands("net::setctrladdress localhost 3152"), 1);
}

TEST_F(NetworkLoginTest, NoNetworkObjectAfterSetUp_LogsAndReportsNoConnection) {
    net.started = false;
    net.makesNetworkObject = false;

    EXPECT_FALSE(ConnectToServer());

    EXPECT_EQ(Status(), kNoConnection);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(log.Contains("no network object at /sys/network"));
    EXPECT_EQ(script->CountCommands("set network_started true"), 0);
    EXPECT_EQ(script->CountCommands("net::connect"), 0);

    // The next Drive Online tries the start-up again, and goes on once the object is there.
    net.makesNetworkObject = true;
    EXPECT_TRUE(ConnectToServer());
    EXPECT_EQ(script->scripts.size(), 2u);
}

TEST_F(NetworkLoginTest, ConnectResultStartingWithNine_CancelledWithoutSecondStateRead) {
    net.connectResult = "9 whatever follows";
    net.stateAfterConnect = "connected"; // not looked at after a cancel

    EXPECT_FALSE(ConnectToServer());

    EXPECT_EQ(Status(), "Login cancelled.");
    EXPECT_EQ(script->CountCommands("return $net::state"), 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, ConnectResult_OnlyStateAfterwardsDecides) {
    net.connectResult = "1 timed out";
    net.stateAfterConnect = "connected";
    EXPECT_TRUE(ConnectToServer());

    net.state = "disconnected";
    net.connectResult = "0";
    net.stateAfterConnect = "disconnected";
    EXPECT_FALSE(ConnectToServer());
    EXPECT_EQ(Status(), kNoConnection);
    EXPECT_TRUE(boxes.boxes.empty());
    // The network layer stays started: the next attempt goes straight to the connection.
    EXPECT_EQ(script->scripts.size(), 0u);
}

// ---- Drive Online as the Login window runs it ----

TEST_F(NetworkLoginTest, FirstAndSecondDriveOnline_NetworkStartedOnce) {
    net.started = false;
    SetUser("guest", "");
    fakes::DialogDriver setup(IDD_SETUP, {[](platform::HWND dialog) {
                                  platform::SendCommand(dialog, IDC_SETUP_LOGOUT, 0);
                              }});

    platform::SendCommand(window, IDC_DRIVE_ONLINE, 0);
    EXPECT_EQ(Status(), "Ready.");
    net.state = "disconnected";
    platform::SendCommand(window, IDC_DRIVE_ONLINE, 0);
    EXPECT_EQ(Status(), "Ready.");

    EXPECT_EQ(setup.opened(), 2);
    EXPECT_EQ(script->scripts, std::vector<std::string>{"scripts:netsetup.tcl"});
    EXPECT_EQ(script->CountCommands("set network_started true"), 1);
    EXPECT_EQ(script->CountCommands("net::connect"), 2);
    EXPECT_EQ(script->CountCommands("net::login guest tulip"), 2);
    EXPECT_EQ(script->CountCommands("net::logout"), 2);
    std::vector<std::string> seen = {"script scripts:netsetup.tcl: Starting network...",
                                     "connect: Connecting to server...",
                                     "connect: Connecting to server..."};
    EXPECT_EQ(net.statusSeen, seen);
    EXPECT_EQ(g_state.globalSettings->getDriveMode(), "online");
}

// ---- login ----

TEST_F(NetworkLoginTest, LoginWithoutScriptServer_BoxOwnedByLoginWindow) {
    WithoutScriptServer([&] { EXPECT_FALSE(LoginToServer()); });

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Can't login to network, script server is down.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(boxes.boxes[0].owner, window);
}

TEST_F(NetworkLoginTest, NetworkNotStarted_UnknownErrorOnStatusOnly) {
    net.started = false;
    SetUser("bob", "secret");

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(Status(), "Could not log in.  Unknown error.");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(fakes::IndexOf("command net::login", true), -1);
}

TEST_F(NetworkLoginTest, GuestInAnyCase_SendsGuestPasswordWhateverTheEditHolds) {
    for (const auto& [name, typed] : {std::pair<std::string, std::string>{"GuEsT", ""},
                                      {"guest", "guest"},
                                      {"GUEST", "something else"}}) {
        SetUser(name, typed);
        EXPECT_TRUE(LoginToServer()) << name;
        EXPECT_EQ(script->CountCommands("net::login " + name + " tulip"), 1) << name;
    }
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, EmptyPassword_AsksForPassword) {
    SetUser("bob", "");

    EXPECT_FALSE(LoginToServer());

    ExpectLoginError("Please enter a password.");
    EXPECT_EQ(fakes::IndexOf("command net::login", true), -1);
}

TEST_F(NetworkLoginTest, ReplyZeroWithAnything_Succeeds) {
    SetUser("bob", "secret");
    LoginReplies({"0 welcome back"});

    EXPECT_TRUE(LoginToServer());

    EXPECT_EQ(script->CountCommands("net::login bob secret"), 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, ReplyNine_CancelledOnStatusOnly) {
    SetUser("bob", "secret");
    LoginReplies({"9"});

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(Status(), "Login cancelled.");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, ReplyOne_TimedOut) {
    SetUser("bob", "secret");
    LoginReplies({"1"});
    EXPECT_FALSE(LoginToServer());
    ExpectLoginError("Could not log in.  Timed out waiting for server.");
}

TEST_F(NetworkLoginTest, ReplyTwoThenZero_CreatesAccountOnceAndLogsIn) {
    SetUser("bob", "secret");
    LoginReplies({"2", "0"});

    EXPECT_TRUE(LoginToServer());

    std::vector<std::string> expected = {"return $network_started", "net::login bob secret",
                                         "net::createuser bob secret", "return $network_started",
                                         "net::login bob secret"};
    EXPECT_EQ(script->commands, expected);
    EXPECT_EQ(g_state.createUserSent, 1);
}

TEST_F(NetworkLoginTest, ReplyTwoTwice_OneCreationThenErrorAndNextTryCreatesAgain) {
    SetUser("bob", "secret");
    LoginReplies({"2", "2"});

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(script->CountCommands("net::createuser bob secret"), 1);
    EXPECT_EQ(script->CountCommands("net::login bob secret"), 2);
    ExpectLoginError("Error creating new user on the server.");
    EXPECT_EQ(g_state.createUserSent, 0);

    LoginReplies({"2", "0"});
    EXPECT_TRUE(LoginToServer());
    EXPECT_EQ(script->CountCommands("net::createuser bob secret"), 2);
}

TEST_F(NetworkLoginTest, ReplyFour_AlreadyLoggedIn) {
    SetUser("bob", "secret");
    LoginReplies({"4"});
    EXPECT_FALSE(LoginToServer());
    ExpectLoginError("Could not log in.  User bob is already logged in.");
}

TEST_F(NetworkLoginTest, UnexpectedOrEmptyReply_ShowsWholeReply) {
    SetUser("bob", "secret");
    LoginReplies({"x7 strange"});
    EXPECT_FALSE(LoginToServer());
    ExpectLoginError("Could not log in.  net::login returned: x7 strange");

    boxes.boxes.clear();
    LoginReplies({""});
    EXPECT_FALSE(LoginToServer());
    ExpectLoginError("Could not log in.  net::login returned: ");
}

TEST_F(NetworkLoginTest, LongPassword_SentCutTo59Characters) {
    SetUser("bob", std::string(60, 'p'));

    EXPECT_TRUE(LoginToServer());

    EXPECT_EQ(script->CountCommands("net::login bob " + std::string(59, 'p')), 1);
}

TEST_F(NetworkLoginTest, SpecialCharacters_SentAsSingleWords) {
    SetUser("bob smith", "a b$[exit]");
    LoginReplies({"2", "0"});

    EXPECT_TRUE(LoginToServer());

    EXPECT_EQ(script->CountCommands("net::login {bob smith} {a b$[exit]}"), 2);
    EXPECT_EQ(script->CountCommands("net::createuser {bob smith} {a b$[exit]}"), 1);
}

TEST_F(NetworkLoginTest, ScriptErrorFromLogin_NotTakenAsSuccess) {
    class ErringScript : public fakes::FakeScriptServer {
    public:
        bool RunCommand(const char* command, std::string& result) override {
            FakeScriptServer::RunCommand(command, result);
            if (std::string(command).rfind("net::login", 0) == 0) {
                result = "0: invalid command name \"net::login\"";
                return false;
            }
            return true;
        }
    };
    ErringScript erring;
    erring.answers["return $network_started"] = "true";
    nScriptServer* saved = g_state.scriptServer;
    g_state.scriptServer = &erring;
    SetUser("bob", "secret");

    bool loggedIn = LoginToServer();

    g_state.scriptServer = saved;
    EXPECT_FALSE(loggedIn);
    ExpectLoginError("Could not log in.  net::login returned: 0: invalid command name "
                     "\"net::login\"");
}

// ---- login under a name that is someone else's ----

// Types `name` into the Rename-user dialog and presses Rename.
fakes::DialogDriver::Action RenameTo(const std::string& name,
                                     std::vector<std::string>* prompts = nullptr) {
    return [name, prompts](platform::HWND dialog) {
        if (prompts)
            prompts->push_back(platform::GetDlgItemText(dialog, IDC_RENAME_PROMPT, 500) + " | " +
                               platform::GetDlgItemText(dialog, IDC_RENAME_EDIT, 127));
        platform::SetDlgItemText(dialog, IDC_RENAME_EDIT, name);
        platform::SendCommand(dialog, IDC_RENAME_OK, 0);
    };
}

TEST_F(NetworkLoginTest, ReplyThreeThenRename_LogsInUnderNewNameWithFolderMoved) {
    MakeUser("bob", "secret");
    SetUser("bob", "secret");
    LoginReplies({"3", "0"});
    std::vector<std::string> prompts;
    fakes::DialogDriver rename(IDD_RENAME, {RenameTo("carol", &prompts)});

    EXPECT_TRUE(LoginToServer());

    std::vector<std::string> logins = {"net::login bob secret", "net::login carol secret"};
    std::vector<std::string> sent;
    for (const auto& command : script->commands)
        if (command.rfind("net::login", 0) == 0)
            sent.push_back(command);
    EXPECT_EQ(sent, logins);
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0], "The user name you have chosen is already in use by another user.  "
                          "Please enter a new name for \"bob\" | bob");
    EXPECT_EQ(std::string(g_state.userName), "carol");
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 127), "carol");
    EXPECT_EQ(g_state.renameRetry, 1);
    EXPECT_FALSE(std::filesystem::exists(home / "users" / "bob"));
    std::string password;
    EXPECT_TRUE(accounts::ReadColorsFile((home / "users" / "carol").string(), password));
    EXPECT_EQ(password, "secret");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, ReplyThreeAfterRename_AlsoInUsePromptWithNewName) {
    MakeUser("bob", "secret");
    SetUser("bob", "secret");
    LoginReplies({"3", "3", "0"});
    std::vector<std::string> prompts;
    fakes::DialogDriver rename(IDD_RENAME,
                               {RenameTo("carol", &prompts), RenameTo("dave", &prompts)});

    EXPECT_TRUE(LoginToServer());

    ASSERT_EQ(prompts.size(), 2u);
    EXPECT_EQ(prompts[1], "Sorry, the new name you just entered is also in use.  Please enter "
                          "another name for \"carol\" | carol");
    EXPECT_EQ(script->CountCommands("net::login dave secret"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(home / "users" / "dave"));
    EXPECT_FALSE(std::filesystem::exists(home / "users" / "carol"));
}

TEST_F(NetworkLoginTest, ReplyThreeCancelled_EndsWithoutMessageOrMove) {
    MakeUser("bob", "secret");
    SetUser("bob", "secret");
    LoginReplies({"3"});
    fakes::DialogDriver rename(IDD_RENAME, {[](platform::HWND dialog) {
                                   platform::SendCommand(dialog, IDC_RENAME_CANCEL, 0);
                               }});

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(rename.opened(), 1);
    EXPECT_EQ(script->CountCommands("net::login bob secret"), 1);
    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(std::filesystem::is_directory(home / "users" / "bob"));
    EXPECT_EQ(std::string(g_state.userName), "bob");
}

TEST_F(NetworkLoginTest, ReplyTwoAfterRename_CreatesOnlyWhenNoneCreatedBefore) {
    MakeUser("bob", "secret");
    SetUser("bob", "secret");
    LoginReplies({"3", "2", "0"});
    {
        fakes::DialogDriver rename(IDD_RENAME, {RenameTo("carol")});
        EXPECT_TRUE(LoginToServer());
    }
    EXPECT_EQ(script->CountCommands("net::createuser carol secret"), 1);

    // An account was made earlier in the same Drive Online: no second one.
    MakeUser("erin", "pw");
    SetUser("erin", "pw");
    g_state.createUserSent = 0;
    g_state.renameRetry = 0;
    script->commands.clear();
    boxes.boxes.clear();
    LoginReplies({"2", "3", "2"});
    fakes::DialogDriver second(IDD_RENAME, {RenameTo("frank")});
    EXPECT_FALSE(LoginToServer());
    EXPECT_EQ(script->CountCommands("net::createuser erin pw"), 1);
    EXPECT_EQ(script->CountCommands("net::createuser frank pw"), 0);
    ExpectLoginError("Error creating new user on the server.");
}

TEST_F(NetworkLoginTest, ReplyThreeForGuest_NoRenameOfTheSharedAccount) {
    SetUser("Guest", "");
    LoginReplies({"3 name in use"});
    fakes::DialogDriver rename(IDD_RENAME, {RenameTo("carol")});

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(rename.opened(), 0);
    ExpectLoginError("Could not log in.  net::login returned: 3 name in use");
    EXPECT_TRUE(std::filesystem::is_directory(home / "users" / "guest"));
}

// ---- logout ----

TEST_F(NetworkLoginTest, LogoutWithoutScriptServer_BoxAndFalse) {
    WithoutScriptServer([&] { EXPECT_FALSE(LogoutFromServer()); });

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Can't logout, script server is down.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
}

TEST_F(NetworkLoginTest, Logout_SendsLogoutOnlyWhenNetworkStarted) {
    EXPECT_TRUE(LogoutFromServer());
    EXPECT_EQ(script->CountCommands("net::logout"), 1);

    net.started = false;
    EXPECT_TRUE(LogoutFromServer());
    EXPECT_EQ(script->CountCommands("net::logout"), 1);
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
} // namespace launcher_test
