// Drive Online's network steps: connection, server login with its reply codes and account
// creation, and logout.
#include "launcher_fixture.h"

namespace launcher_test {
namespace {

class NetworkLoginTest : public LauncherTest {
protected:
    void SetUp() override {
        UseFakeEngine();
        window = OpenLoginWindow();
        ASSERT_NE(window, nullptr);
        script = Script();
        ASSERT_NE(script, nullptr);
        script->answers["return $network_started"] = "true";
        script->commands.clear();
        boxes.boxes.clear();
    }

    // Replies of net::login in turn; the last one repeats.
    void LoginReplies(std::vector<std::string> replies) {
        script->handler = [replies, n = size_t(0)](const std::string& command,
                                                   std::string& result) mutable {
            if (command.rfind("net::login ", 0) != 0)
                return false;
            result = replies[std::min(n++, replies.size() - 1)];
            return true;
        };
    }

    void SetUser(const std::string& name, const std::string& password) {
        CopyName(g_state.userName, name);
        platform::SetDlgItemText(window, IDC_LOGIN_PASSWORD, password);
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

    platform::HWND window = nullptr;
    fakes::FakeScriptServer* script = nullptr;
};

TEST_F(NetworkLoginTest, ConnectWithoutScriptServer_BoxWithoutOwner) {
    WithoutScriptServer([&] { EXPECT_FALSE(ConnectToServer()); });

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Can't start client, script server is down.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
}

TEST_F(NetworkLoginTest, ConnectWithoutNetworkLayer_ReportsNoConnection) {
    EXPECT_FALSE(ConnectToServer());
    EXPECT_EQ(Status(), "Could not connect to server.  (Are you connected to the Internet?)");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(NetworkLoginTest, LoginWithoutScriptServer_BoxOwnedByLoginWindow) {
    WithoutScriptServer([&] { EXPECT_FALSE(LoginToServer()); });

    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Can't login to network, script server is down.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(boxes.boxes[0].owner, window);
}

TEST_F(NetworkLoginTest, NetworkNotStarted_UnknownErrorOnStatusOnly) {
    script->answers["return $network_started"] = "false";
    SetUser("bob", "secret");

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(Status(), "Could not log in.  Unknown error.");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(fakes::IndexOf("command net::login", true), -1);
}

TEST_F(NetworkLoginTest, GuestInAnyCase_SendsGuestPassword) {
    SetUser("GuEsT", "");
    LoginReplies({"0"});

    EXPECT_TRUE(LoginToServer());

    EXPECT_EQ(script->CountCommands("net::login GuEsT tulip"), 1);
}

TEST_F(NetworkLoginTest, EmptyPassword_AsksForPassword) {
    SetUser("bob", "");
    LoginReplies({"0"});

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

TEST_F(NetworkLoginTest, ReplyTwoTwice_OneCreationThenError) {
    SetUser("bob", "secret");
    LoginReplies({"2", "2"});

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(script->CountCommands("net::createuser bob secret"), 1);
    EXPECT_EQ(script->CountCommands("net::login bob secret"), 2);
    ExpectLoginError("Error creating new user on the server.");
    EXPECT_EQ(g_state.createUserSent, 0);
}

TEST_F(NetworkLoginTest, ReplyThree_EndsWithoutMessage) {
    SetUser("bob", "secret");
    LoginReplies({"3"});

    EXPECT_FALSE(LoginToServer());

    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
    EXPECT_TRUE(boxes.boxes.empty());
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
    SetUser("bob", std::string(70, 'p'));
    LoginReplies({"0"});

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

    script->answers["return $network_started"] = "";
    EXPECT_TRUE(LogoutFromServer());
    EXPECT_EQ(script->CountCommands("net::logout"), 1);
}

} // namespace
} // namespace launcher_test
