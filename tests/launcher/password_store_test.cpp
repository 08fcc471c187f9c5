// Local accounts: the colors file, the conversion of passwd.txt, and every refusal of the
// offline check with its status line and box.
#include "launcher_fixture.h"
#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace launcher_test {
namespace {

namespace fs = std::filesystem;

std::string Scrambled(const std::string& password) {
    std::string bytes;
    for (char c : password)
        bytes += char(static_cast<unsigned char>(c) ^ 0xE7);
    return bytes;
}

class PasswordStoreTest : public LauncherTest {
protected:
    void SetUp() override {
        UseFakeEngine();
        window = OpenLoginWindow();
        ASSERT_NE(window, nullptr);
        usersFolder = pathate(g_state.kernelServer, "users:");
    }

    void MakeUser(const std::string& name, const std::string& password) {
        home.WriteFile("users/" + name + "/colors",
                       std::string(1, char(password.size())) + Scrambled(password));
    }
    std::string Folder(const std::string& name) const { return (home / "users" / name).string(); }

    bool Verify(const std::string& name, const std::string& password) {
        platform::SetDlgItemText(window, IDC_LOGIN_USERNAME, name);
        platform::SetDlgItemText(window, IDC_LOGIN_PASSWORD, password);
        boxes.boxes.clear();
        return VerifyUser();
    }

    // The refusal shows the same text on the status line and in one Login Error box.
    void ExpectRefusal(const std::string& text) {
        EXPECT_EQ(Status(), text);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, text);
        EXPECT_EQ(boxes.boxes[0].caption, "Login Error");
        EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONERROR));
        EXPECT_EQ(boxes.boxes[0].owner, window);
    }

    platform::HWND window = nullptr;
    std::string usersFolder;
};

// ---- the offline check ----

TEST_F(PasswordStoreTest, RightNameAndPassword_PassesAndStoresName) {
    MakeUser("bob", "secret");

    EXPECT_TRUE(Verify("bob", "secret"));

    EXPECT_EQ(Status(), "Verifying username and password...");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_STREQ(g_state.userName, "bob");
    EXPECT_EQ(g_state.globalSettings->getUserName(), "bob");
}

TEST_F(PasswordStoreTest, EmptyName_AsksForName) {
    EXPECT_FALSE(Verify("", "secret"));
    ExpectRefusal("Please enter a user name.");
}

TEST_F(PasswordStoreTest, UnknownUser_ShowsDoesNotExist) {
    MakeUser("bob", "secret");
    EXPECT_FALSE(Verify("carol", "secret"));
    ExpectRefusal("User \"carol\" does not exist.  Please try again.");
}

TEST_F(PasswordStoreTest, WrongCaseName_ShowsCaseSensitivityMessage) {
    MakeUser("Bob", "secret");
    EXPECT_FALSE(Verify("bob", "secret"));
    ExpectRefusal("User Name and Password are case-sensitive.  Please try again.");

    MakeUser("alice", "secret");
    EXPECT_FALSE(Verify("ALICE", "secret"));
    ExpectRefusal("User Name and Password are case-sensitive.  Please try again.");
    EXPECT_EQ(g_state.globalSettings->getUserName(), "guest");
}

TEST_F(PasswordStoreTest, NameOfAFileOrOutsideUsers_ShowsDoesNotExist) {
    MakeUser("bob", "secret");
    home.WriteFile("users/dave", "not a folder");

    EXPECT_FALSE(Verify("dave", "x"));
    ExpectRefusal("User \"dave\" does not exist.  Please try again.");
    EXPECT_FALSE(Verify("x/../bob", "secret"));
    ExpectRefusal("User \"x/../bob\" does not exist.  Please try again.");
    EXPECT_FALSE(Verify("..", "secret"));
    ExpectRefusal("User \"..\" does not exist.  Please try again.");
}

TEST_F(PasswordStoreTest, EmptyPassword_AsksForPassword) {
    MakeUser("bob", "secret");
    EXPECT_FALSE(Verify("bob", ""));
    ExpectRefusal("Please enter a password.");
}

TEST_F(PasswordStoreTest, WrongPassword_RefusedButNameStored) {
    MakeUser("bob", "Secret");

    EXPECT_FALSE(Verify("bob", "secret"));
    ExpectRefusal("Password invalid for user \"bob\".  Please try again.");
    EXPECT_EQ(g_state.globalSettings->getUserName(), "bob");

    EXPECT_FALSE(Verify("bob", "Secret2"));
    ExpectRefusal("Password invalid for user \"bob\".  Please try again.");
}

TEST_F(PasswordStoreTest, MissingPasswordFile_BoxOnlyStatusKept) {
    home.MakeDir("users/bob");

    EXPECT_FALSE(Verify("bob", "secret"));

    EXPECT_EQ(Status(), "Verifying username and password...");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "ERROR:  Password file corrupted or missing for user \"bob\".");
    EXPECT_EQ(boxes.boxes[0].caption, "Login Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONERROR));
    EXPECT_EQ(boxes.boxes[0].owner, window);
}

TEST_F(PasswordStoreTest, GuestInAnyCase_PassesWithoutFolderAndClearsStoredName) {
    for (const char* name : {"guest", "Guest", "GUEST"}) {
        SCOPED_TRACE(name);
        g_state.globalSettings->setUserName("someone");
        EXPECT_TRUE(Verify(name, ""));
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_STREQ(g_state.userName, name);
        EXPECT_EQ(g_state.globalSettings->getUserName(), "");
    }
}

// Names up to 127 characters fit a folder, but only 119 bytes fit the name rules: a longer
// name must never log in as the user whose name is its first 119 characters.
TEST_F(PasswordStoreTest, NameOf127Characters_RefusedNeverTakenForIts119CharacterPrefix) {
    const std::string prefix(119, 'n');
    const std::string longName = prefix + "-longer";
    ASSERT_EQ(longName.size(), 126u);
    MakeUser(prefix, "prefix-password");
    MakeUser(longName + "x", "long-password");
    const std::string tooLong =
        "That user name is too long.  A user name can hold at most 119 bytes (letters with "
        "accents take two or more).";

    for (int quick : {0, 1}) {
        SCOPED_TRACE(quick);
        g_state.quickStart = std::uint8_t(quick);
        EXPECT_FALSE(Verify(longName + "x", "prefix-password"));
        ExpectRefusal(tooLong);
        EXPECT_STREQ(g_state.userName, "");
        EXPECT_EQ(g_state.globalSettings->getUserName(), "guest");
        EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_PASSWORD, 200), "prefix-password");
    }
    g_state.quickStart = 0;
    EXPECT_TRUE(Verify(prefix, "prefix-password"));
    EXPECT_STREQ(g_state.userName, prefix.c_str());
}

TEST_F(PasswordStoreTest, StoredNameTooLong_ShownUncutAndQuickStartRefused) {
    const std::string prefix(119, 'n');
    MakeUser(prefix, "secret");
    const std::string stored = prefix + "12345678";
    g_state.globalSettings->setUserName(stored);
    platform::DestroyWindow(window);
    window = OpenLoginWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 1000), stored);

    g_state.quickStart = 1;
    boxes.boxes.clear();
    EXPECT_FALSE(VerifyUser());
    EXPECT_TRUE(BoxShown(
        "That user name is too long.  A user name can hold at most 119 bytes (letters with "
        "accents take two or more)."));
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_PASSWORD, 200), "");
}

// Such a user's drive would keep no progress and no data file: the data server refuses the
// name. The edit holds text, so bytes that are not UTF-8 never reach the check.
TEST_F(PasswordStoreTest, ControlCharacterName_RefusedAtTheDoorAndNamedSafely) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ann\tlee", "ann\\x09lee"},
        {"two\nlines", "two\\x0Alines"},
        {"esc\x1b[31m", "esc\\x1B[31m"},
    };
    for (const auto& [name, printable] : cases) {
        SCOPED_TRACE(printable);
        MakeUser(name, "secret");
        EXPECT_FALSE(Verify(name, "secret"));
        ExpectRefusal("User \"" + printable +
                      "\" cannot be used.  A user name cannot hold control characters such as a "
                      "tab or a line break.");
        EXPECT_EQ(g_state.globalSettings->getUserName(), "guest");
        EXPECT_STREQ(g_state.userName, "");
    }
}

TEST_F(PasswordStoreTest, TypedPasswordLongerThanTheStoredOne_Refused) {
    const std::string password(119, 'p');
    MakeUser("bob", password);
    EXPECT_FALSE(Verify("bob", password + "extra"));
    ExpectRefusal("Password invalid for user \"bob\".  Please try again.");
    EXPECT_TRUE(Verify("bob", password));

    // A stored password of 127 characters can be typed whole.
    MakeUser("carol", std::string(127, 'c'));
    EXPECT_TRUE(Verify("carol", std::string(127, 'c')));
}

TEST_F(PasswordStoreTest, QuickStart_FillsPasswordFieldWithoutComparing) {
    MakeUser("bob", "secret");
    g_state.quickStart = 1;

    EXPECT_TRUE(Verify("bob", "wrong"));

    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_PASSWORD, 200), "secret");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PasswordStoreTest, QuickStartWithoutPasswordFile_Fails) {
    home.MakeDir("users/bob");
    g_state.quickStart = 1;

    EXPECT_FALSE(Verify("bob", ""));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "ERROR:  Password file corrupted or missing for user \"bob\".");
}

TEST_F(PasswordStoreTest, EmptyStoredPassword_OnlyQuickStartLogsIn) {
    MakeUser("bob", "");
    EXPECT_FALSE(Verify("bob", ""));
    ExpectRefusal("Please enter a password.");

    g_state.quickStart = 1;
    EXPECT_TRUE(Verify("bob", ""));
}

// ---- the colors file ----

TEST_F(PasswordStoreTest, ColorsLengths_ZeroShortLongAndTooLarge) {
    char out[kNameSize];
    home.WriteFile("users/zero/colors", std::string(1, '\0'));
    ASSERT_TRUE(ReadPasswordFile(Folder("zero"), out));
    EXPECT_STREQ(out, "");

    home.WriteFile("users/short/colors", std::string(1, char(5)) + Scrambled("abc"));
    EXPECT_FALSE(ReadPasswordFile(Folder("short"), out));

    home.WriteFile("users/long/colors", std::string(1, char(3)) + Scrambled("abcdef"));
    ASSERT_TRUE(ReadPasswordFile(Folder("long"), out));
    EXPECT_STREQ(out, "abc");

    home.WriteFile("users/large/colors",
                   std::string(1, char(200)) + Scrambled(std::string(200, 'z')));
    EXPECT_FALSE(ReadPasswordFile(Folder("large"), out));

    home.WriteFile("users/most/colors",
                   std::string(1, char(127)) + Scrambled(std::string(127, 'm')));
    ASSERT_TRUE(ReadPasswordFile(Folder("most"), out));
    EXPECT_EQ(std::string(out), std::string(127, 'm'));

    home.MakeDir("users/none");
    EXPECT_FALSE(ReadPasswordFile(Folder("none"), out));
    home.WriteFile("users/empty/colors", "");
    EXPECT_FALSE(ReadPasswordFile(Folder("empty"), out));
}

TEST_F(PasswordStoreTest, WritePasswordFile_StoresLengthAndScrambledBytes) {
    home.MakeDir("users/bob");

    ASSERT_TRUE(WritePasswordFile(Folder("bob"), "Pa55 word"));

    EXPECT_EQ(home.ReadFile("users/bob/colors"), std::string(1, char(9)) + Scrambled("Pa55 word"));
    char out[kNameSize];
    ASSERT_TRUE(ReadPasswordFile(Folder("bob"), out));
    EXPECT_STREQ(out, "Pa55 word");
}

TEST_F(PasswordStoreTest, WritePasswordFileTooLong_RefusedAndNothingWritten) {
    home.MakeDir("users/bob");
    EXPECT_FALSE(WritePasswordFile(Folder("bob"), std::string(128, 'p')));
    EXPECT_FALSE(fs::exists(home / "users/bob/colors"));
}

// ---- conversion of passwd.txt ----

TEST_F(PasswordStoreTest, LegacyFileOnly_ConvertedAndDeleted) {
    home.WriteFile("users/bob/passwd.txt", "<Password>\tsecret\n");
    char out[kNameSize];

    ASSERT_TRUE(LoadUserPassword(usersFolder, "bob", out));

    EXPECT_STREQ(out, "secret");
    EXPECT_EQ(home.ReadFile("users/bob/colors"), std::string(1, char(6)) + Scrambled("secret"));
    EXPECT_FALSE(fs::exists(home / "users/bob/passwd.txt"));
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(PasswordStoreTest, LegacyFileThroughLogin_UserLogsInWithIt) {
    home.WriteFile("users/bob/passwd.txt", "<Password>  secret\n");
    EXPECT_TRUE(Verify("bob", "secret"));
    EXPECT_FALSE(fs::exists(home / "users/bob/passwd.txt"));
}

TEST_F(PasswordStoreTest, BothFiles_ColorsWinsAndLegacyUntouched) {
    MakeUser("bob", "fromcolors");
    home.WriteFile("users/bob/passwd.txt", "<Password>\tfromlegacy\n");
    char out[kNameSize];

    ASSERT_TRUE(LoadUserPassword(usersFolder, "bob", out));

    EXPECT_STREQ(out, "fromcolors");
    EXPECT_EQ(home.ReadFile("users/bob/passwd.txt"), "<Password>\tfromlegacy\n");
}

TEST_F(PasswordStoreTest, ShortColorsWithLegacy_ConvertedFromLegacy) {
    home.WriteFile("users/bob/colors", std::string(1, char(9)) + Scrambled("ab"));
    home.WriteFile("users/bob/passwd.txt", "<Password>\tsecret\n");
    char out[kNameSize];

    ASSERT_TRUE(LoadUserPassword(usersFolder, "bob", out));

    EXPECT_STREQ(out, "secret");
    EXPECT_FALSE(fs::exists(home / "users/bob/passwd.txt"));
}

// A directory named colors cannot be replaced by a file, for root as for anyone.
TEST_F(PasswordStoreTest, ColorsCannotBeWritten_LegacyKeptAndBoxShown) {
    home.MakeDir("users/bob/colors");
    home.WriteFile("users/bob/passwd.txt", "<Password>\tsecret\n");
    char out[kNameSize];

    EXPECT_FALSE(LoadUserPassword(usersFolder, "bob", out));

    EXPECT_EQ(home.ReadFile("users/bob/passwd.txt"), "<Password>\tsecret\n");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, "ERROR:  Password file corrupted or missing for user \"bob\".");
}

TEST_F(PasswordStoreTest, LegacyWithoutPassword_KeptAndBoxShown) {
    for (const char* text : {"<Password>\t\n", "something else\n", ""}) {
        SCOPED_TRACE(text);
        home.WriteFile("users/bob/passwd.txt", text);
        boxes.boxes.clear();
        char out[kNameSize];

        EXPECT_FALSE(MigrateLegacyPassword(Folder("bob")));
        EXPECT_FALSE(LoadUserPassword(usersFolder, "bob", out));

        EXPECT_TRUE(fs::exists(home / "users/bob/passwd.txt"));
        EXPECT_FALSE(fs::exists(home / "users/bob/colors"));
        EXPECT_EQ(boxes.boxes.size(), 1u);
    }
}

TEST_F(PasswordStoreTest, FifoAsColorsOrPasswdTxt_AnsweredAtOnceWithTheBox) {
    home.MakeDir("users/bob");
    home.MakeDir("users/carol");
    ASSERT_EQ(mkfifo((home / "users/bob/colors").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((home / "users/carol/passwd.txt").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program
    EXPECT_FALSE(Verify("bob", "secret"));
    EXPECT_TRUE(BoxShown("ERROR:  Password file corrupted or missing for user \"bob\"."));
    EXPECT_FALSE(Verify("carol", "secret"));
    EXPECT_TRUE(BoxShown("ERROR:  Password file corrupted or missing for user \"carol\"."));
    alarm(0);
    EXPECT_EQ(platform::GetFileKind((home / "users/carol/passwd.txt").string()),
              platform::FileKind::Other);
}

TEST_F(PasswordStoreTest, LegacyPasswordLongerThan127_RefusedAndFileKept) {
    const std::string text = "<Password>\t" + std::string(200, 'w') + "\n";
    home.WriteFile("users/bob/passwd.txt", text);
    char out[kNameSize];

    // Cutting the password would lock its owner out once the original is gone.
    EXPECT_FALSE(LoadUserPassword(usersFolder, "bob", out));
    EXPECT_TRUE(std::filesystem::exists(home / "users/bob/passwd.txt"));
    EXPECT_FALSE(std::filesystem::exists(home / "users/bob/colors"));
}

} // namespace
} // namespace launcher_test
