// Files, folders and processes under the settings store: folder patterns, folder searches,
// stored names, atomic replacement and child processes.
#include "platform/file_system.h"

#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using settings_test::HomeAsCurrentDirectory;

std::set<std::string> NamesIn(const std::string& folder, const std::string& pattern = "*") {
    std::set<std::string> names;
    platform::FolderSearch search(folder, pattern);
    platform::FolderEntry entry;
    while (search.Next(entry)) {
        EXPECT_TRUE(names.insert(entry.name).second) << entry.name << " given twice";
    }
    return names;
}

TEST(FileSystemPattern, DataStarDotStar_MatchesAsTheClassicPlatform) {
    for (const char* name : {"data1.txt", "DATA2", "database.log", "Data.", "data"}) {
        EXPECT_TRUE(platform::MatchesPattern(name, "data*.*")) << name;
    }
    for (const char* name : {"mydata.txt", "dat", "dat1.txt", ""}) {
        EXPECT_FALSE(platform::MatchesPattern(name, "data*.*")) << name;
    }
}

TEST(FileSystemPattern, StarQuestionMarkAndCase_Match) {
    EXPECT_TRUE(platform::MatchesPattern("anything", "*"));
    EXPECT_TRUE(platform::MatchesPattern("noext", "*.*"));
    EXPECT_TRUE(platform::MatchesPattern("Thumb.BMP", "*.bmp"));
    EXPECT_FALSE(platform::MatchesPattern("thumb.bmpx", "*.bmp"));
    EXPECT_TRUE(platform::MatchesPattern("a1c", "a?c"));
    EXPECT_FALSE(platform::MatchesPattern("ac", "a?c"));
    EXPECT_TRUE(platform::MatchesPattern("go.tcl", "GO.TCL"));
    EXPECT_TRUE(platform::MatchesPattern("aXbXc", "a*b*c"));
    EXPECT_FALSE(platform::MatchesPattern("aXbXcX", "a*b*c"));
}

TEST(FileSystemFolderSearch, Folder_GivesEntriesWithoutDotsAndMarksFolders) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("data1.txt", "1");
    cwd.home.WriteFile("DATA2", "2");
    cwd.home.WriteFile("mydata.txt", "3");
    cwd.home.MakeDir("database.dir");
    EXPECT_EQ(NamesIn("."),
              (std::set<std::string>{"data1.txt", "DATA2", "mydata.txt", "database.dir"}));
    EXPECT_EQ(NamesIn(cwd.home.path().string(), "data*.*"),
              (std::set<std::string>{"data1.txt", "DATA2", "database.dir"}));

    platform::FolderSearch search(".", "*.dir");
    platform::FolderEntry entry;
    ASSERT_TRUE(search.Next(entry));
    EXPECT_EQ(entry.name, "database.dir");
    EXPECT_TRUE(entry.isDirectory);
    EXPECT_FALSE(search.Next(entry));
    EXPECT_FALSE(search.Next(entry));
}

TEST(FileSystemFolderSearch, MissingFolder_IsNotOpenAndGivesNothing) {
    platform::FolderSearch search("/no/such/folder/anywhere");
    EXPECT_FALSE(search.IsOpen());
    platform::FolderEntry entry;
    EXPECT_FALSE(search.Next(entry));
}

TEST(FileSystemStoredName, OtherCase_GivesTheSpellingOnDisk) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("users/Alice");
    EXPECT_EQ(platform::StoredName("users/alice"), "Alice");
    EXPECT_EQ(platform::StoredName("users/ALICE/"), "Alice");
    EXPECT_EQ(platform::StoredName((cwd.home / "USERS").string()), "users");
    EXPECT_EQ(platform::StoredName("users/bob"), "");
    EXPECT_EQ(platform::StoredName("nowhere/alice"), "");
}

TEST(FileSystemStoredName, BothSpellingsOnDisk_ExactOneWins) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("users/bob");
    cwd.home.MakeDir("users/Bob");
    EXPECT_EQ(platform::StoredName("users/Bob"), "Bob");
    EXPECT_EQ(platform::StoredName("users/bob"), "bob");
}

TEST(FileSystemAtomicWrite, ExistingFile_ReplacedWholeAndModeKept) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("target", "old contents that are longer");
    ASSERT_EQ(chmod("target", 0640), 0);
    ASSERT_TRUE(platform::WriteFileAtomically("target", "new"));
    std::string bytes;
    ASSERT_TRUE(platform::ReadWholeFile("target", bytes));
    EXPECT_EQ(bytes, "new");
    struct stat info;
    ASSERT_EQ(stat("target", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(NamesIn("."), std::set<std::string>{"target"});
}

TEST(FileSystemAtomicWrite, MissingFolder_FailsAndLeavesNothing) {
    HomeAsCurrentDirectory cwd;
    EXPECT_FALSE(platform::WriteFileAtomically("missing/target", "x"));
    EXPECT_TRUE(NamesIn(".").empty());
}

TEST(FileSystemAtomicWrite, FolderInTheWay_FailsAndRemovesTheTemporary) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("target/inside", "keep");
    EXPECT_FALSE(platform::WriteFileAtomically("target", "x"));
    EXPECT_EQ(NamesIn("."), std::set<std::string>{"target"});
    EXPECT_EQ(cwd.home.ReadFile("target/inside"), "keep");
}

TEST(FileSystemAtomicWrite, TemporaryOfADeadWriter_RemovedByTheNextWrite) {
    HomeAsCurrentDirectory cwd;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    std::string dead = "target.tmp-" + std::to_string(child) + "-0-0badf00d";
    std::string live = "target.tmp-" + std::to_string(getppid()) + "-0-0badf00d";
    cwd.home.WriteFile(dead, "torn");
    cwd.home.WriteFile(live, "being written");
    cwd.home.WriteFile("other.tmp-" + std::to_string(child) + "-0-0", "not ours");

    ASSERT_TRUE(platform::WriteFileAtomically("target", "whole"));
    EXPECT_EQ(NamesIn("."), (std::set<std::string>{"target", live,
                                                   "other.tmp-" + std::to_string(child) + "-0-0"}));
}

TEST(FileSystemAtomicWrite, BinaryBytes_ReadBackExactly) {
    HomeAsCurrentDirectory cwd;
    std::string bytes(100000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 % 256);
    }
    ASSERT_TRUE(platform::WriteFileAtomically("binary", bytes));
    std::string back;
    ASSERT_TRUE(platform::ReadWholeFile("binary", back));
    EXPECT_EQ(back, bytes);
    EXPECT_FALSE(platform::ReadWholeFile("absent", back));
}

TEST(FileSystemKinds, FilesFoldersAndNothing_AreTold) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("file", "x");
    cwd.home.MakeDir("folder");
    EXPECT_EQ(platform::GetFileKind("file"), platform::FileKind::File);
    EXPECT_EQ(platform::GetFileKind("folder"), platform::FileKind::Directory);
    EXPECT_EQ(platform::GetFileKind("none"), platform::FileKind::None);
    EXPECT_TRUE(platform::FileExists("folder"));
    EXPECT_FALSE(platform::IsDirectory("file"));
}

TEST(FileSystemCurrentDirectory, SetAndGet_AgreeAndMissingFolderFails) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("sub");
    ASSERT_TRUE(platform::SetCurrentDirectory("sub"));
    EXPECT_EQ(std::filesystem::path(platform::GetCurrentDirectory()),
              std::filesystem::canonical(cwd.home / "sub"));
    EXPECT_FALSE(platform::SetCurrentDirectory("no-such-folder"));
    EXPECT_FALSE(platform::SetCurrentDirectory(""));
}

TEST(FileSystemSpawn, Child_GivesItsExitCodeAndSeesItsArguments) {
    HomeAsCurrentDirectory cwd;
    EXPECT_EQ(platform::SpawnAndWait("sh", {"-c", "exit 7"}), 7);
    EXPECT_EQ(platform::SpawnAndWait("sh", {"-c", "printf '%s' \"$1\" > out", "sh", "-add"}), 0);
    EXPECT_EQ(cwd.home.ReadFile("out"), "-add");
}

TEST(FileSystemSpawn, MissingProgram_GivesMinusOne) {
    EXPECT_EQ(platform::SpawnAndWait("no-such-program-pelora", {"-add"}), -1);
    EXPECT_EQ(platform::SpawnAndWait("./no-such-program-pelora", {}), -1);
}

TEST(FileSystemExecutable, Directory_HoldsThisTestProgram) {
    std::string folder = platform::ExecutableDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "settings_tests"));
}

} // namespace
