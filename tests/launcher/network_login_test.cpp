// Drive Online's network steps against a recording script server that plays the network layer:
// the start-up once per run, the connection with its cancel and failure, the server login with
// its reply codes, account creation and renames, and the logout.
#include "network_fixture.h"

namespace launcher_test {
namespace {

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
        "command info exists network_started",
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
    std::vector<std::string> expected = {"command info exists network_started",
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

TEST_F(NetworkLoginTest, CancelLoginWhileConnectOrLoginWaits_CancelledAndIdleAgain) {
    SetUser("guest", "");
    fakes::DialogDriver setup(IDD_SETUP, {[](platform::HWND dialog) {
                                  platform::SendCommand(dialog, IDC_SETUP_LOGOUT, 0);
                              }});
    auto pressCancel = [this] {
        EXPECT_TRUE(platform::IsWindowVisible(platform::GetDlgItem(window, IDC_CANCEL_LOGIN)));
        platform::SendCommand(window, IDC_CANCEL_LOGIN, 0);
    };
    auto expectIdle = [this] {
        EXPECT_TRUE(platform::IsWindowVisible(platform::GetDlgItem(window, IDC_DRIVE_ONLINE)));
        EXPECT_FALSE(platform::IsWindowVisible(platform::GetDlgItem(window, IDC_CANCEL_LOGIN)));
    };

    net.duringConnect = pressCancel;
    platform::SendCommand(window, IDC_DRIVE_ONLINE, 0);
    EXPECT_EQ(Status(), "Login cancelled.");
    expectIdle();
    EXPECT_EQ(fakes::IndexOf("command net::login", true), -1);

    net.duringConnect = nullptr;
    net.duringLogin = pressCancel;
    platform::SendCommand(window, IDC_DRIVE_ONLINE, 0);
    EXPECT_EQ(Status(), "Login cancelled.");
    expectIdle();
    EXPECT_EQ(setup.opened(), 0);
    EXPECT_EQ(script->CountCommands("net::logout"), 0);
    EXPECT_TRUE(boxes.boxes.empty());
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

    std::vector<std::string> expected = {"info exists network_started", "net::login bob secret",
                                         "net::createuser bob secret",
                                         "info exists network_started", "net::login bob secret"};
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
    erring.answers["info exists network_started"] = "1";
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
