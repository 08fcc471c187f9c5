// Drive Online end to end, the login half: a user the server does not know is created on the
// first Drive Online; a user logged in elsewhere is told so; a name that is someone else's on
// the server is answered in the Rename-user dialog (the folder moves, the account is made
// under the new name), also twice in a row; a login cancelled while the server is busy and
// retried at once goes through; a server down at the first Drive Online is reached by the
// next one once it runs; Cancel Login ends a connect to a server that never answers, and
// without a cancel the connect ends at its bound with a log line that says why.
#include "online_fixture.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace launcher_test {
namespace {

constexpr const char* kNoConnection =
    "Could not connect to server.  (Are you connected to the Internet?)";

std::string Prompt(platform::HWND dialog) {
    return platform::GetDlgItemText(dialog, IDC_RENAME_PROMPT, 500);
}

// What a Rename-user dialog showed when it opened, and the name typed into it.
struct RenameSeen {
    std::string prompt, edit;
};

// Records the dialog and answers it with `newName`, pressing Rename.
fakes::DialogDriver::Action RenameTo(const std::string& newName, std::vector<RenameSeen>& seen) {
    return [newName, &seen](platform::HWND dialog) {
        seen.push_back({Prompt(dialog), platform::GetDlgItemText(dialog, IDC_RENAME_EDIT, 127)});
        platform::SetDlgItemText(dialog, IDC_RENAME_EDIT, newName);
        platform::SendCommand(dialog, IDC_RENAME_OK, platform::BN_CLICKED);
    };
}

using OnlineLogin = OnlineTest;

TEST_F(OnlineLogin, NewUser_FirstDriveOnlineCreatesTheAccountAndListsTheUser) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_EQ(probe->LoginReply("ann", "secret"), '2'); // not on the server yet

    std::vector<std::string> listed;
    std::string nameLabel;
    int opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        listed = OnlineUsers(setup);
        nameLabel = platform::GetDlgItemText(setup, IDC_SETUP_NAME, 127);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(nameLabel, "ann");
    EXPECT_EQ(listed, std::vector<std::string>{"ann (not driving)"});
    // The next person at this machine types a password of their own.
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_PASSWORD, 200), "");
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 200), "ann");
    EXPECT_EQ(g_state.createUserSent, 1);
    EXPECT_EQ(g_state.globalSettings->getDriveMode(), "online");
    // Logged out when the window closed; the connection stays for the next Drive Online.
    EXPECT_EQ(RunScript("return $net::state"), "connected");
    // The account is on the server, with the local password.
    EXPECT_EQ(probe->LoginReply("ann", "not-her-password"), '3');
    EXPECT_EQ(probe->LoginReply("ann", "secret"), '0');

    // The next Drive Online of the run logs in on the standing connection and creates nothing.
    opened = DriveOnline("ann", "secret");
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(g_state.createUserSent, 0);
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(boxes.boxes.empty());
}

// Ordinary operation: the first Drive Online of a run, a drive, Logout, and a second Drive
// Online. Nothing in it is an error, so the engine log holds no ERROR line.
TEST_F(OnlineLogin, OrdinaryOnlineStay_EngineLogHoldsNoError) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("una", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    EXPECT_EQ(DriveOnline("una", "secret",
                          [&](platform::HWND setup) {
                              Drive(setup);
                              PressLogout(setup);
                          }),
              1);
    EXPECT_EQ(DriveOnline("una", "secret"), 1);

    EXPECT_TRUE(boxes.boxes.empty());
    const std::string runLog = ReadBytes(home / "n_runlog.txt");
    EXPECT_NE(runLog.find("startWorld()"), std::string::npos) << runLog;
    EXPECT_EQ(runLog.find("ERROR"), std::string::npos) << runLog;
}

TEST_F(OnlineLogin, UserLoggedInElsewhere_AlreadyLoggedInErrorThenLogsInOnceFree) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("hal", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_TRUE(probe->CreateAccount("hal", "secret"));
    ASSERT_EQ(probe->Run("net::login hal secret").substr(0, 1), "0"); // hal at another machine

    EXPECT_EQ(DriveOnline("hal", "secret"), 0);
    const std::string text = "Could not log in.  User hal is already logged in.";
    EXPECT_EQ(Status(), text);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, text);
    EXPECT_EQ(boxes.boxes[0].caption, "Login Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONERROR));
    EXPECT_EQ(boxes.boxes[0].owner, window);

    probe->Run("net::logout");
    boxes.boxes.clear();
    EXPECT_EQ(DriveOnline("hal", "secret"), 1);
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(OnlineLogin, NameTakenOnServer_RenamedFolderMovedAndAccountMadeUnderNewName) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("carol", "secret"));
    home.WriteFile("users/carol/data-20240101-100000.txt", "an earlier drive\n");
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_TRUE(probe->CreateAccount("carol", "someone-else"));

    std::vector<RenameSeen> renames;
    fakes::DialogDriver rename(IDD_RENAME, {RenameTo("carol2", renames)});
    std::string nameLabel;
    std::vector<std::string> listed;
    int opened = DriveOnline("carol", "secret", [&](platform::HWND setup) {
        nameLabel = platform::GetDlgItemText(setup, IDC_SETUP_NAME, 127);
        listed = OnlineUsers(setup);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    ASSERT_EQ(renames.size(), 1u);
    EXPECT_EQ(renames[0].prompt, "The user name you have chosen is already in use by another "
                                 "user.  Please enter a new name for \"carol\"");
    EXPECT_EQ(renames[0].edit, "carol");
    // The folder moved with everything in it; the Login window and the session carry the name.
    EXPECT_FALSE(fs::exists(home / "users" / "carol"));
    EXPECT_EQ(home.ReadFile("users/carol2/data-20240101-100000.txt"), "an earlier drive\n");
    std::string password;
    EXPECT_TRUE(accounts::ReadColorsFile((home / "users" / "carol2").string(), password));
    EXPECT_EQ(password, "secret");
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 127), "carol2");
    EXPECT_EQ(nameLabel, "carol2");
    EXPECT_EQ(listed, std::vector<std::string>{"carol2 (not driving)"});
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(boxes.boxes.empty());
    // The new account has the local password; the other carol's account is untouched.
    EXPECT_EQ(probe->LoginReply("carol2", "not-the-password"), '3');
    EXPECT_EQ(probe->LoginReply("carol2", "secret"), '0');
    EXPECT_EQ(probe->LoginReply("carol", "someone-else"), '0');
}

TEST_F(OnlineLogin, SecondClashAfterRename_AlsoInUsePromptWithTheNewName) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("dave", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_TRUE(probe->CreateAccount("dave", "first-dave"));
    ASSERT_TRUE(probe->CreateAccount("dave2", "second-dave"));

    std::vector<RenameSeen> renames;
    fakes::DialogDriver rename(IDD_RENAME,
                               {RenameTo("dave2", renames), RenameTo("dave3", renames)});
    int opened = DriveOnline("dave", "secret");

    EXPECT_EQ(opened, 1);
    ASSERT_EQ(renames.size(), 2u);
    EXPECT_EQ(renames[1].prompt, "Sorry, the new name you just entered is also in use.  Please "
                                 "enter another name for \"dave2\"");
    EXPECT_EQ(renames[1].edit, "dave2");
    EXPECT_FALSE(fs::exists(home / "users" / "dave"));
    EXPECT_FALSE(fs::exists(home / "users" / "dave2"));
    EXPECT_TRUE(fs::is_regular_file(home / "users" / "dave3" / "colors"));
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(probe->LoginReply("dave3", "secret"), '0');
    EXPECT_EQ(probe->LoginReply("dave2", "second-dave"), '0');
}

TEST_F(OnlineLogin, LoginCancelledWhileServerBusy_ImmediateRetryLogsIn) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("fay", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_EQ(DriveOnline("fay", "secret"), 1); // the account made; the connection stays
    ASSERT_NO_FATAL_FAILURE(HoldServer());

    QTimer::singleShot(
        300, [&] { platform::SendCommand(window, IDC_CANCEL_LOGIN, platform::BN_CLICKED); });
    int opened = DriveOnline("fay", "secret");
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(Status(), "Login cancelled.");
    EXPECT_TRUE(boxes.boxes.empty());

    // The user tries again at once; the server gets to the cancelled login (which succeeds)
    // only after the new one was sent.
    QTimer::singleShot(300, [&] { ReleaseServer(); });
    std::vector<std::string> listed;
    opened = DriveOnline("fay", "secret", [&](platform::HWND setup) {
        listed = OnlineUsers(setup);
        PressLogout(setup);
    });
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty()) << (boxes.boxes.empty() ? "" : boxes.boxes[0].text);
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(listed, std::vector<std::string>{"fay (not driving)"});
    // Logged out in the end, whatever became of the cancelled login.
    EXPECT_EQ(probe->LoginReply("fay", "secret"), '0');
}

TEST_F(OnlineLogin, ServerDownAtFirstDriveOnline_NoConnectionThenLogsInOnceItRuns) {
    const int port = server.Port();
    ASSERT_EQ(server.Stop(), 0);
    ASSERT_NO_FATAL_FAILURE(MakeUser("ida", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    EXPECT_EQ(DriveOnline("ida", "secret"), 0);
    EXPECT_EQ(Status(), kNoConnection);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(log.Contains("Network: could not connect to server 127.0.0.1:" +
                             std::to_string(port) + ": connection refused"))
        << ::testing::PrintToString(log.lines);

    // The network layer stays started with its address; the server comes up there.
    ASSERT_NO_FATAL_FAILURE(StartServer(port));
    EXPECT_EQ(DriveOnline("ida", "secret"), 1);
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(probe->LoginReply("ida", "secret"), '0');
}

// A listener that accepts connections and never says a word.
class SilentServer {
public:
    SilentServer() {
        listening = listener.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&listener, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = listener.nextPendingConnection())
                held.push_back(socket); // owned by the listener
        });
    }
    int Port() const { return listener.serverPort(); }
    QTcpServer listener;
    std::vector<QTcpSocket*> held;
    bool listening = false;
};

TEST_F(OnlineLogin, ServerThatNeverAnswers_CancelLoginEndsTheConnectAndTheBoundEndsItOtherwise) {
    SilentServer silent;
    ASSERT_TRUE(silent.listening);
    GlobalSettings((home / "globalSettings").string()).setServerPort(std::to_string(silent.Port()));
    ASSERT_NO_FATAL_FAILURE(MakeUser("erin", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    bool busyLayout = false;
    std::string statusWhileWaiting;
    size_t accepted = 0;
    QTimer::singleShot(300, [&] {
        busyLayout = platform::IsWindowVisible(platform::GetDlgItem(window, IDC_CANCEL_LOGIN)) &&
                     !platform::IsWindowVisible(platform::GetDlgItem(window, IDC_DRIVE_ONLINE));
        statusWhileWaiting = Status();
        accepted = silent.held.size();
        platform::SendCommand(window, IDC_CANCEL_LOGIN, platform::BN_CLICKED);
    });
    QElapsedTimer clock;
    clock.start();
    int opened = DriveOnline("erin", "secret");
    const qint64 waited = clock.elapsed();

    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(busyLayout);
    EXPECT_EQ(statusWhileWaiting, "Connecting to server...");
    EXPECT_GE(accepted, 1u);
    EXPECT_EQ(Status(), "Login cancelled.");
    EXPECT_LT(waited, kTestConnectTimeoutMs); // the cancel ended it, not the bound
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(LoginBusy());
    EXPECT_TRUE(platform::IsWindowVisible(platform::GetDlgItem(window, IDC_DRIVE_ONLINE)));
    EXPECT_NE(RunScript("return $net::state"), "connected");

    // Nobody cancels: the wait ends at its bound, and the engine log names the server and why.
    RunScript("set net::connect_timeout 600");
    opened = DriveOnline("erin", "secret");
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(Status(), kNoConnection);
    EXPECT_TRUE(boxes.boxes.empty());
    const std::string address = "127.0.0.1:" + std::to_string(silent.Port());
    EXPECT_TRUE(log.Contains("Network: could not connect to server " + address + ": timed out"))
        << ::testing::PrintToString(log.lines);
}

} // namespace
} // namespace launcher_test
