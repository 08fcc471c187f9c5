// The tool's users on disk: adding (never half made, even when the process dies), listing,
// refusals with their reasons, new passwords, removal by moving aside, the guest account.
#include "child_role.h"
#include "fakes.h"
#include "user_store.h"

#include "accounts/password_file.h"
#include "protocol/user_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using plconfig::Outcome;
using plconfig::UserStore;

// The permission bits of a file or folder.
unsigned ModeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

class UserStoreTest : public ::testing::Test {
protected:
    std::string Users() const { return (home / "users").string(); }
    std::string Password(const std::string& name) const {
        std::string password;
        EXPECT_TRUE(accounts::ReadColorsFile((home / "users" / name).string(), password)) << name;
        return password;
    }
    // Everything under users/, the tool's own folders included.
    std::vector<std::string> Entries(const std::string& relative = "users") const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(home / relative, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fakes::TempHome home;
    UserStore store{(home / "users").string()};
};

TEST_F(UserStoreTest, AddedUser_IsListedWithItsPasswordAndNothingLeftAside) {
    auto result = store.AddUser("alice", "s3cret");

    EXPECT_EQ(result.outcome, Outcome::Done) << result.message;
    EXPECT_EQ(result.message, "User \"alice\" added.");
    EXPECT_EQ(store.ListUsers(), std::vector<std::string>{"alice"});
    EXPECT_EQ(Password("alice"), "s3cret");
    EXPECT_TRUE(store.HasUser("alice"));
    EXPECT_TRUE(Entries("users/.adding").empty());
}

// Whatever the umask, no other account on the machine reads a user's password file.
TEST_F(UserStoreTest, AddedUser_FolderIs0700AndPasswordFile0600) {
    const mode_t before = ::umask(022);
    auto result = store.AddUser("alice", "s3cret");
    ::umask(before);

    ASSERT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(ModeOf(home / "users" / "alice"), 0700u);
    EXPECT_EQ(ModeOf(home / "users" / "alice" / "colors"), 0600u);
}

TEST_F(UserStoreTest, ChangePassword_TightensAFolderAndFileMadeWider) {
    ASSERT_TRUE(store.AddUser("gina", "old").Ok());
    fs::permissions(home / "users" / "gina", fs::perms(0755));
    fs::permissions(home / "users" / "gina" / "colors", fs::perms(0644));

    auto result = store.ChangePassword("gina", "new one");

    ASSERT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(Password("gina"), "new one");
    EXPECT_EQ(ModeOf(home / "users" / "gina"), 0700u);
    EXPECT_EQ(ModeOf(home / "users" / "gina" / "colors"), 0600u);
}

TEST_F(UserStoreTest, ListUsers_SkipsFilesAndTheToolsFolders_SortedIgnoringCase) {
    for (const char* folder : {"bob", "Alice", "carol", ".hidden", ".removed", ".adding"})
        home.MakeDir(std::string("users/") + folder);
    home.WriteFile("users/notes.txt", "not a user");

    EXPECT_EQ(store.ListUsers(), (std::vector<std::string>{".hidden", "Alice", "bob", "carol"}));
    EXPECT_FALSE(store.HasUser(".removed"));
    EXPECT_FALSE(store.HasUser("notes.txt"));
}

TEST_F(UserStoreTest, NamesAgainstTheRules_AreRefusedWithTheSharedReasonAndNothingMade) {
    for (const std::string& name :
         {std::string(), std::string("a/b"), std::string("a\\b"), std::string(".."),
          std::string("tab\there"), std::string(120, 'n'), std::string("caf\xE9")}) {
        auto result = store.AddUser(name, "pw");
        EXPECT_EQ(result.outcome, Outcome::NameRefused) << names::PrintableName(name);
        EXPECT_EQ(result.message, names::DescribeNameProblem(names::CheckUserName(name)));
    }
    for (const char* name : {".removed", ".ADDING"}) {
        auto result = store.AddUser(name, "pw");
        EXPECT_EQ(result.outcome, Outcome::NameRefused) << name;
        EXPECT_NE(result.message.find("keeps for itself"), std::string::npos) << result.message;
    }
    EXPECT_TRUE(store.ListUsers().empty());
    EXPECT_TRUE(Entries("users/.adding").empty());
}

TEST_F(UserStoreTest, LongestNameAndMultibyteNames_AreMade) {
    const std::string longest(names::kMaxUserNameBytes, 'x');
    EXPECT_TRUE(store.AddUser(longest, "pw").Ok());
    EXPECT_TRUE(store.AddUser("Zoë Ångström", "pw").Ok());
    EXPECT_TRUE(store.HasUser(longest));
    EXPECT_EQ(Password("Zoë Ångström"), "pw");
}

TEST_F(UserStoreTest, NameTakenInAnyLetterCase_IsRefusedAndTheUserKept) {
    ASSERT_TRUE(store.AddUser("Bob", "first").Ok());

    auto same = store.AddUser("Bob", "second");
    auto otherCase = store.AddUser("bob", "second");

    EXPECT_EQ(same.outcome, Outcome::UserExists);
    EXPECT_EQ(same.message, "A user \"Bob\" exists already.");
    EXPECT_EQ(otherCase.outcome, Outcome::UserExists);
    EXPECT_NE(otherCase.message.find("\"Bob\""), std::string::npos) << otherCase.message;
    EXPECT_EQ(store.ListUsers(), std::vector<std::string>{"Bob"});
    EXPECT_EQ(Password("Bob"), "first");
}

TEST_F(UserStoreTest, PasswordsTheLoginWindowCannotTake_AreRefusedAndNothingMade) {
    for (const std::string& password :
         {std::string(), std::string(plconfig::kMaxTypedPasswordBytes + 1, 'p'),
          std::string("tab\tin"), std::string("line\nbreak"), std::string("c1\xC2\x85"),
          std::string("latin1 \xE9")}) {
        auto result = store.AddUser("dave", password);
        EXPECT_EQ(result.outcome, Outcome::PasswordRefused) << names::PrintableName(password);
        EXPECT_FALSE(result.message.empty());
    }
    EXPECT_FALSE(fs::exists(home / "users" / "dave"));

    const std::string longest(plconfig::kMaxTypedPasswordBytes, 'p');
    ASSERT_TRUE(store.AddUser("dave", longest).Ok());
    EXPECT_EQ(Password("dave"), longest);
    ASSERT_TRUE(store.AddUser("erin", " pässwörd mit Leerzeichen ").Ok());
    EXPECT_EQ(Password("erin"), " pässwörd mit Leerzeichen ");
}

TEST_F(UserStoreTest, GuestInAnyCase_IsTheGuestAccountWithoutPasswordThatStays) {
    auto made = store.AddUser("GUEST", "ignored");

    EXPECT_TRUE(made.Ok()) << made.message;
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
    EXPECT_FALSE(fs::exists(home / "users" / "guest" / "colors"));
    EXPECT_EQ(store.AddUser("guest", "").outcome, Outcome::UserExists);
    EXPECT_TRUE(store.EnsureGuest().Ok());
    EXPECT_EQ(store.ChangePassword("Guest", "pw").outcome, Outcome::NameRefused);
    EXPECT_EQ(store.RemoveUser("guest").outcome, Outcome::NameRefused);
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
}

TEST_F(UserStoreTest, EnsureGuest_MakesTheUsersFolderAndGuestOnlyWhenMissing) {
    ASSERT_FALSE(fs::exists(home / "users"));

    EXPECT_TRUE(store.EnsureGuest().Ok());
    home.WriteFile("users/guest/progress", "level=3\n");
    EXPECT_TRUE(store.EnsureGuest().Ok());

    EXPECT_EQ(home.ReadFile("users/guest/progress"), "level=3\n");
}

TEST_F(UserStoreTest, UsersFolderThatCannotBeMade_FailsAndLeavesNothing) {
    home.WriteFile("users", "a file where the folder should be");

    auto result = store.AddUser("frank", "pw");

    EXPECT_EQ(result.outcome, Outcome::IoFailure);
    EXPECT_NE(result.message.find(Users()), std::string::npos) << result.message;
    EXPECT_EQ(home.ReadFile("users"), "a file where the folder should be");
}

TEST_F(UserStoreTest, ChangePassword_WritesColorsAndDropsTheOldPlainTextFile) {
    home.WriteFile("users/gina/passwd.txt", "<Password>\told\n");
    home.WriteFile("users/gina/progress", "level=2\n");

    auto result = store.ChangePassword("gina", "new one");

    EXPECT_TRUE(result.Ok()) << result.message;
    EXPECT_EQ(Password("gina"), "new one");
    EXPECT_FALSE(fs::exists(home / "users" / "gina" / "passwd.txt"));
    EXPECT_EQ(home.ReadFile("users/gina/progress"), "level=2\n");
}

TEST_F(UserStoreTest, ChangePasswordOrRemove_OfNoSuchUser_SaysSoAndNamesTheCaseTwin) {
    ASSERT_TRUE(store.AddUser("Hugo", "pw").Ok());

    auto missing = store.ChangePassword("ida", "pw");
    auto wrongCase = store.RemoveUser("hugo");
    auto outside = store.RemoveUser("../users");
    auto tool = store.RemoveUser(".removed");

    EXPECT_EQ(missing.outcome, Outcome::NoSuchUser);
    EXPECT_EQ(missing.message, "There is no user \"ida\".");
    EXPECT_EQ(wrongCase.outcome, Outcome::NoSuchUser);
    EXPECT_EQ(wrongCase.message,
              "There is no user \"hugo\"; there is \"Hugo\" (user names are case-sensitive).");
    EXPECT_EQ(outside.outcome, Outcome::NameRefused);
    EXPECT_EQ(tool.outcome, Outcome::NoSuchUser);
    EXPECT_EQ(Password("Hugo"), "pw");
}

TEST_F(UserStoreTest, RemovedUser_IsMovedAsideWholeAndNeverListed) {
    ASSERT_TRUE(store.AddUser("jan", "pw").Ok());
    home.WriteFile("users/jan/data-20240101T100000Z.txt", "drive");

    auto first = store.RemoveUser("jan");
    ASSERT_TRUE(first.Ok()) << first.message;
    ASSERT_TRUE(store.AddUser("jan", "again").Ok());
    auto second = store.RemoveUser("jan");
    ASSERT_TRUE(second.Ok()) << second.message;

    EXPECT_TRUE(store.ListUsers().empty());
    const std::vector<std::string> aside = Entries("users/.removed");
    ASSERT_EQ(aside.size(), 2u);
    EXPECT_EQ(aside[0].rfind("jan-", 0), 0u) << aside[0];
    EXPECT_NE(first.message.find("users/.removed/" + aside[0]), std::string::npos) << first.message;
    EXPECT_EQ(home.ReadFile("users/.removed/" + aside[0] + "/data-20240101T100000Z.txt"), "drive");
    std::string kept;
    EXPECT_TRUE(accounts::ReadColorsFile((home / "users/.removed" / aside[0]).string(), kept));
    EXPECT_EQ(kept, "pw");
}

// The process dies (as a kill or a crash would end it) after the new folder and its password
// file are written but before the rename that makes it a user. The dying process is this test
// program started again in this role (a fork of the test process could not run the add
// safely); it adds "kim" to the users folder that PELORA_TEST_USERS names.
constexpr const char* kUsersVariable = "PELORA_TEST_USERS";

int AddAndDieBeforeTheRename() {
    const char* users = std::getenv(kUsersVariable);
    if (!users)
        return 2;
    UserStore dying(users);
    dying.beforeRename = [] { ::_exit(0); };
    dying.AddUser("kim", "pw");
    return 1;
}

const pelora_test::ChildRoleRegistration kDyingAdd("add-and-die", AddAndDieBeforeTheRename);

TEST_F(UserStoreTest, AddInterruptedBeforeTheRename_LeavesNoUserAndTheNextRunClearsIt) {
    std::string error;
    pid_t child = pelora_test::StartChildRole(
        "add-and-die", {std::string(kUsersVariable) + "=" + Users()}, -1, error);
    ASSERT_GT(child, 0) << error;
    int status = 0;
    ASSERT_TRUE(pelora_test::WaitForChild(child, 60, status)) << "the add did not end";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the add was not interrupted; status " << status;

    EXPECT_FALSE(fs::exists(home / "users" / "kim"));
    EXPECT_TRUE(store.ListUsers().empty());
    EXPECT_EQ(Entries("users/.adding").size(), 1u) << "the interrupted add's folder";

    // A folder of an add still at work (its process lives) is left alone.
    home.MakeDir("users/.adding/1-busy42");
    ASSERT_TRUE(store.AddUser("kim", "pw").Ok());

    EXPECT_EQ(Entries("users/.adding"), std::vector<std::string>{"1-busy42"});
    EXPECT_EQ(Password("kim"), "pw");
}

// Another program makes the folder, still empty, while the add is at work: a plain rename would
// put the new folder in its place.
TEST_F(UserStoreTest, EmptyUserFolderMadeMeanwhile_IsNotReplaced) {
    store.beforeRename = [this] { home.MakeDir("users/lena"); };

    auto result = store.AddUser("lena", "pw");

    EXPECT_EQ(result.outcome, Outcome::UserExists);
    EXPECT_TRUE(fs::is_directory(home / "users" / "lena"));
    EXPECT_TRUE(Entries("users/lena").empty());
    EXPECT_TRUE(Entries("users/.adding").empty());
}

} // namespace
