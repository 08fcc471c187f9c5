// The Rename-user dialog: the folder move with its three outcomes, the names refused before
// anything moves, the prompts, the ways the dialog ends and does not end, and its keyboard
// (Enter presses Rename, Escape does nothing), also with real key presses on an X server.
#include "accounts/password_file.h"
#include "launcher_fixture.h"
#include "platform/dialog_window.h"
#include "protocol/user_name.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cstdlib>

namespace launcher_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFirstPrompt = "The user name you have chosen is already in use by another "
                                     "user.  Please enter a new name for \"bob\"";
constexpr const char* kAlsoInUsePrompt = "Sorry, the new name you just entered is also in use.  "
                                         "Please enter another name for \"bob\"";

class RenameDialogTest : public LauncherTest {
protected:
    void SetUp() override {
        UseFakeEngine();
        window = OpenLoginWindow();
        ASSERT_NE(window, nullptr);
        home.MakeDir("users/bob");
        ASSERT_TRUE(accounts::WriteColorsFile(Folder("bob"), "secret"));
        home.WriteFile("users/bob/data1.txt", "drive data");
        CopyName(g_state.userName, "bob");
        platform::SetDlgItemText(window, IDC_LOGIN_USERNAME, "bob");
        boxes.boxes.clear();
    }

    std::string Folder(const std::string& name) const { return (home / "users" / name).string(); }

    // The names under users:, sorted.
    std::vector<std::string> Users() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(home / "users"))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Every entry of the home folder, so that a test sees anything made or moved anywhere.
    std::vector<std::string> Tree() const {
        std::vector<std::string> paths;
        for (const auto& entry : fs::recursive_directory_iterator(home.path()))
            paths.push_back(fs::relative(entry.path(), home.path()).string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }

    void ExpectBobUntouched() {
        EXPECT_TRUE(fs::is_directory(home / "users" / "bob"));
        EXPECT_EQ(home.ReadFile("users/bob/data1.txt"), "drive data");
        EXPECT_EQ(std::string(g_state.userName), "bob");
        EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 127), "bob");
    }

    static std::string Prompt(platform::HWND dialog) {
        return platform::GetDlgItemText(dialog, IDC_RENAME_PROMPT, 500);
    }
    static std::string Edit(platform::HWND dialog) {
        return platform::GetDlgItemText(dialog, IDC_RENAME_EDIT, 127);
    }
    static bool Open(platform::HWND dialog) {
        return platform::detail::LiveDialog(dialog) && !dialog->ended;
    }
    static void Press(platform::HWND dialog, int button) {
        platform::SendCommand(dialog, button, platform::BN_CLICKED);
    }
    static void Type(platform::HWND dialog, const std::string& name) {
        platform::SetDlgItemText(dialog, IDC_RENAME_EDIT, name);
    }

    // AskForNewName with `act` run on the open dialog; gives the end code.
    int Ask(fakes::DialogDriver::Action act) {
        fakes::DialogDriver driver(IDD_RENAME, {std::move(act)});
        int code = AskForNewName();
        EXPECT_EQ(driver.opened(), 1);
        return code;
    }

    platform::HWND window = nullptr;
};

// ---- the move ----

TEST_F(RenameDialogTest, Move_FolderWithContentsAndNameFollow) {
    EXPECT_EQ(RenameUserFolder("carol"), 0);

    EXPECT_FALSE(fs::exists(home / "users" / "bob"));
    EXPECT_EQ(home.ReadFile("users/carol/data1.txt"), "drive data");
    std::string password;
    EXPECT_TRUE(accounts::ReadColorsFile(Folder("carol"), password));
    EXPECT_EQ(password, "secret");
    EXPECT_EQ(std::string(g_state.userName), "carol");
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 127), "carol");
    EXPECT_EQ(fs::current_path(), fs::canonical(home.path()));
    // The stored last user is the local check's business, not the rename's.
    EXPECT_NE(g_state.globalSettings->getUserName(), "carol");
}

TEST_F(RenameDialogTest, TargetThere_AnyKindOrLetterCase_NothingMoved) {
    home.MakeDir("users/carol");
    home.WriteFile("users/carol/colors", "x");
    home.WriteFile("users/dave", "a file");
    home.MakeDir("users/erin"); // empty: a plain rename would replace it
    home.MakeDir("users/Frank");
    const auto before = Tree();

    for (const char* name : {"carol", "dave", "erin", "frank", "FRANK", "bob"})
        EXPECT_EQ(RenameUserFolder(name), 1) << name;

    EXPECT_EQ(Tree(), before);
    ExpectBobUntouched();
}

TEST_F(RenameDialogTest, ChangeOfCaseOfOwnFolder_Moves) {
    EXPECT_EQ(RenameUserFolder("Bob"), 0);
    EXPECT_EQ(Users(), (std::vector<std::string>{"Bob", "guest"}));
    EXPECT_EQ(std::string(g_state.userName), "Bob");
}

TEST_F(RenameDialogTest, OldFolderGone_OtherFailureLogged) {
    fs::remove_all(home / "users" / "bob");

    EXPECT_EQ(RenameUserFolder("carol"), 2);

    EXPECT_FALSE(fs::exists(home / "users" / "carol"));
    EXPECT_EQ(std::string(g_state.userName), "bob");
    EXPECT_TRUE(log.Contains("renaming user folder"));
    EXPECT_EQ(fs::current_path(), fs::canonical(home.path()));
}

TEST_F(RenameDialogTest, NamesReachingOutsideUsersOrNotNames_NothingMovedOrMade) {
    home.MakeDir("outside");
    const auto before = Tree();
    const std::string bad[] = {"",       ".",     "..",          "../outside/bob",
                               "../bob", "a/b",   "a\\b",        "tab\there",
                               "line\n", "\x7f",  "not\xffutf8", std::string(120, 'n'),
                               "guest",  "GUEST", "Guest"};
    for (const std::string& name : bad)
        EXPECT_EQ(RenameUserFolder(name), 2) << names::PrintableName(name);

    // An old name that is not a plain name is not moved either, whatever the new one.
    CopyName(g_state.userName, "../users/bob");
    EXPECT_EQ(RenameUserFolder("carol"), 2);
    CopyName(g_state.userName, "guest");
    EXPECT_EQ(RenameUserFolder("carol"), 2);

    EXPECT_EQ(Tree(), before);
}

TEST_F(RenameDialogTest, LongestAllowedName_Moves) {
    const std::string longest(names::kMaxUserNameBytes, 'n');
    EXPECT_EQ(RenameUserFolder(longest), 0);
    EXPECT_TRUE(fs::is_directory(home / "users" / longest));
}

TEST(NewNameProblemTest, SaysWhyForEachRefusedName) {
    EXPECT_EQ(NewNameProblem("carol"), "");
    EXPECT_EQ(NewNameProblem("Zoë Ōta"), "");
    EXPECT_EQ(NewNameProblem(""), "A user name cannot be empty.");
    EXPECT_EQ(NewNameProblem(".."), "A user name cannot be \".\" or \"..\".");
    EXPECT_EQ(NewNameProblem("a/b"), "A user name cannot hold a slash (/) or a backslash (\\).");
    EXPECT_EQ(NewNameProblem("a\tb"),
              "A user name cannot hold control characters such as a tab or a line break.");
    EXPECT_EQ(NewNameProblem("\xc3"), "A user name must be valid UTF-8 text.");
    EXPECT_NE(NewNameProblem(std::string(120, 'x')).find("119"), std::string::npos);
    EXPECT_EQ(NewNameProblem("GuEsT"), "\"GuEsT\" is the name of the shared guest account.");
}

// ---- the dialog ----

TEST_F(RenameDialogTest, Opens_WithPromptForRetryStateAndOldName) {
    std::string prompt, edit;
    EXPECT_EQ(Ask([&](platform::HWND dialog) {
                  prompt = Prompt(dialog);
                  edit = Edit(dialog);
                  Press(dialog, IDC_RENAME_CANCEL);
              }),
              1);
    EXPECT_EQ(prompt, kFirstPrompt);
    EXPECT_EQ(edit, "bob");

    g_state.renameRetry = 1;
    EXPECT_EQ(Ask([&](platform::HWND dialog) {
                  prompt = Prompt(dialog);
                  Press(dialog, IDC_RENAME_CANCEL);
              }),
              1);
    EXPECT_EQ(prompt, kAlsoInUsePrompt);
    ExpectBobUntouched();
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RenameDialogTest, LocalClash_StaysOpenWithAlsoInUsePromptThenRenames) {
    home.MakeDir("users/carol");
    bool openAfterClash = false;
    std::string prompt, edit;

    int code = Ask([&](platform::HWND dialog) {
        Type(dialog, "carol");
        Press(dialog, IDC_RENAME_OK);
        openAfterClash = Open(dialog);
        prompt = Prompt(dialog);
        edit = Edit(dialog);
        Type(dialog, "dave");
        Press(dialog, IDC_RENAME_OK);
    });

    EXPECT_EQ(code, 0);
    EXPECT_TRUE(openAfterClash);
    EXPECT_EQ(prompt, kAlsoInUsePrompt);
    EXPECT_EQ(edit, "carol");
    EXPECT_EQ(g_state.renameRetry, 1);
    EXPECT_EQ(Users(), (std::vector<std::string>{"carol", "dave", "guest"}));
    EXPECT_EQ(std::string(g_state.userName), "dave");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RenameDialogTest, RefusedNames_BoxSaysWhyAndDialogStaysOpen) {
    home.MakeDir("outside");
    const auto before = Tree();
    std::vector<bool> stayedOpen;

    int code = Ask([&](platform::HWND dialog) {
        for (const char* name : {"../outside", "", "guest", "..", "a\\b"}) {
            Type(dialog, name);
            Press(dialog, IDC_RENAME_OK);
            stayedOpen.push_back(Open(dialog));
        }
        Type(dialog, std::string(120, 'x'));
        Press(dialog, IDC_RENAME_OK);
        stayedOpen.push_back(Open(dialog));
        Press(dialog, IDC_RENAME_CANCEL);
    });

    EXPECT_EQ(code, 1);
    EXPECT_EQ(stayedOpen, std::vector<bool>(6, true));
    ASSERT_EQ(boxes.boxes.size(), 6u);
    EXPECT_EQ(boxes.boxes[0].text, "A user name cannot hold a slash (/) or a backslash (\\).  "
                                   "Please enter another name.");
    EXPECT_EQ(boxes.boxes[1].text, "A user name cannot be empty.  Please enter another name.");
    EXPECT_EQ(boxes.boxes[2].text, "\"guest\" is the name of the shared guest account.  Please "
                                   "enter another name.");
    EXPECT_NE(boxes.boxes[5].text.find("119"), std::string::npos);
    for (const auto& box : boxes.boxes) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.flags, unsigned(platform::MB_ICONERROR));
        EXPECT_NE(box.owner, nullptr);
        EXPECT_NE(box.owner, window);
    }
    EXPECT_EQ(g_state.renameRetry, 0);
    EXPECT_EQ(Tree(), before);
    ExpectBobUntouched();
}

TEST_F(RenameDialogTest, MoveFails_ErrorBoxAndEndsWithTwo) {
    fs::remove_all(home / "users" / "bob");
    platform::HWND opened = nullptr;

    int code = Ask([&](platform::HWND dialog) {
        opened = dialog;
        Type(dialog, "carol");
        Press(dialog, IDC_RENAME_OK);
    });

    EXPECT_EQ(code, 2);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "Error renaming directory.  User was not renamed.");
    EXPECT_EQ(boxes.boxes[0].caption, "Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONERROR));
    EXPECT_EQ(boxes.boxes[0].owner, opened);
    EXPECT_EQ(std::string(g_state.userName), "bob");
}

TEST_F(RenameDialogTest, EscapeCloseAndOtherCommands_DoNothing) {
    std::vector<bool> stillOpen;
    int code = Ask([&](platform::HWND dialog) {
        Press(dialog, platform::IDCANCEL);
        stillOpen.push_back(Open(dialog));
        Press(dialog, platform::IDOK);
        stillOpen.push_back(Open(dialog));
        platform::SendCommand(dialog, IDC_RENAME_EDIT, 0x300); // the edit's change notice
        stillOpen.push_back(Open(dialog));
        platform::detail::LiveDialog(dialog)->close(); // Alt+F4 and the like
        stillOpen.push_back(Open(dialog));
        Press(dialog, IDC_RENAME_CANCEL);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(stillOpen, std::vector<bool>(4, true));
    ExpectBobUntouched();
}

TEST_F(RenameDialogTest, EndedByQuitMessage_NotTakenAsRenamed) {
    int code = Ask([](platform::HWND) { platform::PostQuitMessage(0); });
    EXPECT_EQ(code, 1);
    ExpectBobUntouched();
}

TEST_F(RenameDialogTest, Keyboard_EscapeDoesNothingEnterPressesRename) {
    bool openAfterEscape = false;
    int code = Ask([&](platform::HWND dialog) {
        QWidget* edit = platform::detail::LiveWidget(platform::GetDlgItem(dialog, IDC_RENAME_EDIT));
        ASSERT_NE(edit, nullptr);
        ASSERT_EQ(platform::detail::LiveDialog(dialog)->focusWidget(), edit);
        QTest::keyClick(edit, Qt::Key_Escape);
        openAfterEscape = Open(dialog);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, "carol");
        QTest::keyClick(edit, Qt::Key_Return);
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::string(g_state.userName), "carol");
    EXPECT_TRUE(fs::is_directory(home / "users" / "carol"));
}

// ---- real key presses on an X server ----

// Counts the Escape presses that reach any widget, so the test knows the key arrived.
class EscapeCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            ++count;
        return false;
    }
};

bool Xdotool(const QStringList& arguments) {
    return QProcess::execute("xdotool", arguments) == 0;
}

// Runs in a child process on the X server that the test below starts; never on its own.
TEST_F(RenameDialogTest, DISABLED_RealKeysOnXServer) {
    if (!std::getenv("PELORA_REAL_KEYS"))
        GTEST_SKIP() << "runs only as the child of RealKeys_EnterRenamesEscapeDoesNothing";
    EscapeCounter escapes;
    qApp->installEventFilter(&escapes);
    bool openAfterEscape = false;

    int code = Ask([&](platform::HWND dialog) {
        QWidget* widget = platform::detail::LiveDialog(dialog);
        widget->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(widget, 5000)) << "the dialog never got focus";
        ASSERT_TRUE(Xdotool({"key", "Escape"}));
        EXPECT_TRUE(QTest::qWaitFor([&] { return escapes.count > 0; }, 5000));
        // A wrongly handled Escape ends the dialog while its key event is handled, or posts
        // that end: a marker posted now runs after all of it.
        bool drained = false;
        QMetaObject::invokeMethod(
            qApp, [&] { drained = true; }, Qt::QueuedConnection);
        EXPECT_TRUE(QTest::qWaitFor([&] { return drained; }, 5000));
        openAfterEscape = Open(dialog);
        ASSERT_TRUE(Xdotool({"key", "ctrl+a"}));
        ASSERT_TRUE(Xdotool({"type", "--delay", "10", "carol"}));
        EXPECT_TRUE(QTest::qWaitFor([&] { return Edit(dialog) == "carol"; }, 5000));
        ASSERT_TRUE(Xdotool({"key", "Return"}));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Open(dialog); }, 5000));
    });

    qApp->removeEventFilter(&escapes);
    EXPECT_GE(escapes.count, 1);
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(fs::is_directory(home / "users" / "carol"));
}

TEST(RenameDialogKeys, RealKeys_EnterRenamesEscapeDoesNothing) {
    const QString xvfb = QStandardPaths::findExecutable("Xvfb");
    if (xvfb.isEmpty() || QStandardPaths::findExecutable("xdotool").isEmpty())
        GTEST_SKIP() << "no X server to press keys on: Xvfb or xdotool is not installed";

    // A private X server on a display number of its own choosing, so runs never collide.
    QProcess server;
    server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    ASSERT_TRUE(server.waitForStarted(10000)) << "Xvfb did not start";
    QString display;
    for (int waited = 0; display.isEmpty() && waited < 100; ++waited) {
        server.waitForReadyRead(100);
        display = QString::fromUtf8(server.readAllStandardOutput()).trimmed();
    }
    ASSERT_FALSE(display.isEmpty()) << "Xvfb gave no display number";

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", ":" + display);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.insert("PELORA_REAL_KEYS", "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("/proc/self/exe", {"--gtest_also_run_disabled_tests",
                                   "--gtest_filter=RenameDialogTest.DISABLED_RealKeysOnXServer"});
    const bool ended = child.waitForFinished(60000);
    const QString output = QString::fromUtf8(child.readAll());
    server.terminate();
    server.waitForFinished(5000);

    ASSERT_TRUE(ended) << "the child did not end:\n" << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace
} // namespace launcher_test
