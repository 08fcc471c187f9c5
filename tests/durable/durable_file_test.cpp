// The durable file writer shared by the platform layer, plconfig and the server: the bytes,
// the permission bits, the steps in order, and nothing left behind when a step fails.
#include "durable/durable_file.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t Mode(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DurableFile, NewFile_HoldsTheBytesWithTheUsualBitsAndNoTemporaryStays) {
    fakes::TempHome home;
    const fs::path target = home.path() / "progress";
    const mode_t mask = ::umask(022);
    auto outcome = durable::WriteFile(target.string(), std::string("a\0b\n", 4));
    ::umask(mask);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_TRUE(outcome.replaced);
    EXPECT_EQ(Read(target), std::string("a\0b\n", 4));
    EXPECT_EQ(Mode(target), mode_t(0644));
    EXPECT_EQ(Names(home.path()), std::vector<std::string>{"progress"});
}

TEST(DurableFile, Replacement_KeepsTheOldBitsUnlessBitsAreGiven) {
    fakes::TempHome home;
    const fs::path target = home.path() / "settings";
    home.WriteFile("settings", "old");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    ASSERT_TRUE(durable::WriteFile(target.string(), "new").ok);
    EXPECT_EQ(Read(target), "new");
    EXPECT_EQ(Mode(target), mode_t(0600));

    durable::WriteOptions options;
    options.mode = 0640;
    ASSERT_TRUE(durable::WriteFile(target.string(), "newer", options).ok);
    EXPECT_EQ(Read(target), "newer");
    EXPECT_EQ(Mode(target), mode_t(0640));
}

TEST(DurableFile, KeepExisting_NeverReplacesAndLeavesNoTemporary) {
    fakes::TempHome home;
    const fs::path target = home.path() / "drive.dat";
    durable::WriteOptions options;
    options.keepExisting = true;
    options.mode = 0600;
    ASSERT_TRUE(durable::WriteFile(target.string(), "first", options).ok);
    EXPECT_EQ(Mode(target), mode_t(0600));

    auto second = durable::WriteFile(target.string(), "second", options);
    EXPECT_FALSE(second.ok);
    EXPECT_FALSE(second.replaced);
    EXPECT_EQ(second.failedStep, durable::Step::Rename);
    EXPECT_EQ(second.error, EEXIST);
    EXPECT_EQ(Read(target), "first");
    EXPECT_EQ(Names(home.path()), std::vector<std::string>{"drive.dat"});
}

TEST(DurableFile, Steps_AreAnnouncedInOrderWithThePathsTheyTouch) {
    fakes::TempHome home;
    const std::string target = (home.path() / "file").string();
    std::vector<std::pair<durable::Step, std::string>> steps;
    durable::WriteOptions options;
    options.temporaryName = [](const std::string& path) { return path + ".tmp"; };
    options.announce = [&](durable::Step step, const std::string& at) {
        steps.emplace_back(step, at);
    };
    ASSERT_TRUE(durable::WriteFile(target, "x", options).ok);
    using S = durable::Step;
    const std::vector<std::pair<S, std::string>> expected = {
        {S::CreateTemporary, target + ".tmp"},
        {S::Write, target + ".tmp"},
        {S::Flush, target + ".tmp"},
        {S::Rename, target},
        {S::FlushFolder, home.path().string()}};
    EXPECT_EQ(steps, expected);
}

TEST(DurableFile, TakenTemporaryName_IsAskedForAgain) {
    fakes::TempHome home;
    home.WriteFile("file.tmp0", "someone else's");
    int asked = 0;
    durable::WriteOptions options;
    options.temporaryName = [&](const std::string& path) {
        return path + ".tmp" + std::to_string(asked++);
    };
    ASSERT_TRUE(durable::WriteFile((home.path() / "file").string(), "x", options).ok);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(home.ReadFile("file.tmp0"), "someone else's");
    EXPECT_EQ(home.ReadFile("file"), "x");
}

TEST(DurableFile, MissingFolder_FailsAtTheTemporaryAndLeavesNothing) {
    fakes::TempHome home;
    auto outcome = durable::WriteFile((home.path() / "none" / "file").string(), "x");
    EXPECT_FALSE(outcome.ok);
    EXPECT_FALSE(outcome.replaced);
    EXPECT_EQ(outcome.failedStep, durable::Step::CreateTemporary);
    EXPECT_EQ(outcome.error, ENOENT);
    EXPECT_FALSE(fs::exists(home.path() / "none"));
}

TEST(DurableFile, FolderInThePlace_FailsAtTheRenameAndRemovesTheTemporary) {
    fakes::TempHome home;
    home.MakeDir("target/inside");
    auto outcome = durable::WriteFile((home.path() / "target").string(), "x");
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.failedStep, durable::Step::Rename);
    EXPECT_NE(outcome.error, 0);
    EXPECT_EQ(Names(home.path()), std::vector<std::string>{"target"});
    EXPECT_TRUE(fs::is_directory(home.path() / "target" / "inside"));
}

TEST(DurableFile, SyncFolder_AndFolderOf) {
    fakes::TempHome home;
    EXPECT_TRUE(durable::SyncFolder(home.path().string()));
    EXPECT_FALSE(durable::SyncFolder((home.path() / "none").string()));
    EXPECT_EQ(durable::FolderOf("a/b/c"), "a/b");
    EXPECT_EQ(durable::FolderOf("/c"), "/");
    EXPECT_EQ(durable::FolderOf("c"), ".");
}

} // namespace
