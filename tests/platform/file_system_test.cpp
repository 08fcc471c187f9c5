// The platform layer's files, folders and processes (src/platform/file_system), which the
// settings store and the engine build on: folder patterns, folder searches, stored names,
// atomic replacement and its temporaries, files opened only when they are regular files, and
// child processes.
#include "platform/file_system.h"

#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <utility>
#include <vector>

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

// A process id that is surely not running: a child that has been waited for. The child only
// calls _exit, which is safe in a fork of a process with other threads.
pid_t DeadProcessId() {
    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

TEST(FileSystemAtomicWrite, TemporariesOfDeadWriters_RemovedWhateverFileTheyWereFor) {
    HomeAsCurrentDirectory cwd;
    const std::string dead = std::to_string(DeadProcessId());
    const std::string live = std::to_string(getppid());
    const std::set<std::string> stale = {
        ".pelora-tmp-" + dead + "-3-0badf00d",
        "data-20240101-101010.txt.tmp-" + dead + "-0-0badf00d", // the earlier naming
        "progress.tmp-" + dead + "-12-deadbeef",
    };
    const std::set<std::string> kept = {
        ".pelora-tmp-" + live + "-0-0badf00d",      // a writer at work
        "userSettings.tmp-" + live + "-0-0badf00d", // likewise, earlier naming
        "other.tmp-" + dead + "-0-0",               // not a temporary's name
        "notes.tmp-" + dead + "-x-0badf00d",
        "data-20240101-101010.txt",
    };
    for (const auto& name : stale) {
        cwd.home.WriteFile(name, "torn");
    }
    for (const auto& name : kept) {
        cwd.home.WriteFile(name, "keep");
    }

    ASSERT_TRUE(platform::WriteFileAtomically("target", "whole"));
    std::set<std::string> expected = kept;
    expected.insert("target");
    EXPECT_EQ(NamesIn("."), expected);
}

std::vector<std::pair<platform::FileChange, std::string>> g_changes;
void RecordChange(platform::FileChange change, const std::string& path) {
    g_changes.emplace_back(change, path);
}

TEST(FileSystemAtomicWrite, EveryStep_AnnouncedAndTheTemporaryIsNoDataFile) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("users/ann");
    g_changes.clear();
    platform::SetFileChangeHook(RecordChange);
    bool written = platform::WriteFileAtomically("users/ann/data-20240101-101010.txt", "figures");
    platform::SetFileChangeHook(nullptr);
    ASSERT_TRUE(written);

    using platform::FileChange;
    ASSERT_EQ(g_changes.size(), 5u);
    EXPECT_EQ(g_changes[0].first, FileChange::CreateTemporary);
    EXPECT_EQ(g_changes[1].first, FileChange::Write);
    EXPECT_EQ(g_changes[2].first, FileChange::Flush);
    EXPECT_EQ(g_changes[3].first, FileChange::Rename);
    EXPECT_EQ(g_changes[3].second, "users/ann/data-20240101-101010.txt");
    EXPECT_EQ(g_changes[4], std::make_pair(FileChange::Flush, std::string("users/ann")));

    const std::string temporary = std::filesystem::path(g_changes[0].second).filename().string();
    EXPECT_EQ(g_changes[0].second, "users/ann/" + temporary);
    EXPECT_TRUE(platform::IsTemporaryName(temporary)) << temporary;
    for (const char* pattern : {"data*.*", "*.txt", "*.sealed", "progress*", "userSettings*"}) {
        EXPECT_FALSE(platform::MatchesPattern(temporary, pattern)) << temporary << " " << pattern;
    }
    EXPECT_FALSE(platform::IsTemporaryName("data-20240101-101010.txt"));
    EXPECT_FALSE(platform::IsTemporaryName("progress"));
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

// Refuses within seconds or the whole test program dies of the alarm: a FIFO must never be
// waited on.
class NoHangScope {
public:
    NoHangScope() { alarm(20); }
    ~NoHangScope() { alarm(0); }
};

TEST(FileSystemRegularFilesOnly, FifoFolderAndDevice_RefusedAtOnceAndLeftAsTheyAre) {
    HomeAsCurrentDirectory cwd;
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    cwd.home.MakeDir("folder");
    NoHangScope noHang;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"fifo", "FIFO"}, {"folder", "folder"}, {"/dev/null", "device"}};
    for (const auto& [path, kind] : cases) {
        std::string bytes = "untouched";
        platform::FileError error;
        EXPECT_FALSE(platform::ReadWholeFile(path, bytes, &error)) << path;
        EXPECT_EQ(bytes, "untouched");
        EXPECT_EQ(error.kind, platform::FileError::Kind::NotRegularFile) << path;
        EXPECT_NE(error.text.find(kind), std::string::npos) << error.text;

        EXPECT_EQ(platform::OpenFileForReading(path), nullptr) << path;
        EXPECT_EQ(platform::OpenFileForAppending(path), nullptr) << path;
        error = {};
        EXPECT_EQ(platform::OpenRegularFileDescriptor(path, &error), -1) << path;
        EXPECT_EQ(error.kind, platform::FileError::Kind::NotRegularFile) << path;
    }
    platform::FileError error;
    EXPECT_FALSE(platform::WriteFileAtomically("fifo", "x", &error));
    EXPECT_EQ(error.kind, platform::FileError::Kind::NotRegularFile);
    EXPECT_EQ(platform::GetFileKind("fifo"), platform::FileKind::Other);
    EXPECT_EQ(NamesIn("."), (std::set<std::string>{"fifo", "folder"}));
}

TEST(FileSystemRegularFilesOnly, RegularFileAndLinkToOne_OpenAndMissingOneSaysWhy) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("file", "contents");
    ASSERT_EQ(symlink("file", "link"), 0);
    for (const char* path : {"file", "link"}) {
        std::string bytes;
        EXPECT_TRUE(platform::ReadWholeFile(path, bytes)) << path;
        EXPECT_EQ(bytes, "contents");
        platform::UniqueFile file = platform::OpenFileForReading(path);
        ASSERT_NE(file, nullptr) << path;
        char text[16] = {};
        EXPECT_EQ(std::fread(text, 1, sizeof text, file.get()), 8u);
        int fd = platform::OpenRegularFileDescriptor(path);
        ASSERT_GE(fd, 0) << path;
        EXPECT_EQ(::read(fd, text, sizeof text), 8);
        ::close(fd);
    }
    {
        platform::UniqueFile log = platform::OpenFileForAppending("new.log");
        ASSERT_NE(log, nullptr);
        std::fputs("line\n", log.get());
    }
    EXPECT_EQ(cwd.home.ReadFile("new.log"), "line\n");

    std::string bytes;
    platform::FileError error;
    EXPECT_FALSE(platform::ReadWholeFile("absent", bytes, &error));
    EXPECT_EQ(error.kind, platform::FileError::Kind::CannotOpen);
    EXPECT_NE(error.text.find("No such file"), std::string::npos) << error.text;
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
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "platform_tests"));
}

} // namespace
