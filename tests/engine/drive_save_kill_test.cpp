// The save after a drive, killed with SIGKILL at every change it makes to the disk: a real
// child process (this test program, started again) saves one drive and dies just before its
// n-th write, flush, rename or removal. Whatever n is, a drive counted in the user's progress
// always has its data file, and a data file always has its drive counted: the check reads the
// folder itself, opening the sealed files with the server's secret key.
#include "data_server.h"
#include "drive.h"
#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr const char* kKillAtVariable = "PELORA_TEST_KILL_AT_STEP";
constexpr const char* kStepsFile = "save-steps"; // in the home folder: the steps of a whole save
constexpr const char* kEarlierDrive = "data-20200101-000000.txt";
constexpr int kEarlierSeconds = 5;
constexpr int kDriveSeconds = 7;

int g_killAt = 0;
int g_steps = 0;

void KillAtStep(platform::FileChange, const std::string&) {
    if (++g_steps == g_killAt)
        std::raise(SIGKILL);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The child's part: one drive of user ann, then EndDrive, SaveDriveData and EncryptData as the
// world run calls them, killed at step `PELORA_TEST_KILL_AT_STEP` (0: never; the number of
// steps is then written to the home folder).
TEST(DriveSaveChild, SavesOneDriveAndDiesAtTheGivenStep) {
    const char* killAt = std::getenv(kKillAtVariable);
    if (!killAt)
        GTEST_SKIP() << "runs only as the child process of the test below";
    g_killAt = std::atoi(killAt);
    SetDriveDisplayForTesting(0);

    auto ownKernel = NewRuntimeKernel();
    nKernelServer& kernel = *ownKernel;
    const std::string home = pathate(&kernel, "home:");
    auto* data = dynamic_cast<plDataServer*>(kernel.New("pldata", "/sys/servers/data"));
    ASSERT_NE(data, nullptr);
    data->SetSiteInfo("Ohio", "Vantor", "site-7");
    data->SetUserName("ann");
    data->RefreshUser();
    data->SetDriveWorld("Yard");
    data->BeginDrive();
    kernel.fileServer->DefineAssign("meshes", (home + "worlds/Yard/meshes/").c_str());
    std::string result;
    nRoot* world = kernel.New("nworld", "/usr/share/scene/world");
    ASSERT_EQ(world->Call("load", {"meshes:layout.txt"}, result), nCallStatus::Ok) << result;
    nRoot* observer = kernel.New("nobserver", "/observer");
    ASSERT_EQ(observer->Call("setautodrive", {std::to_string(kDriveSeconds)}, result),
              nCallStatus::Ok);
    ASSERT_EQ(observer->Call("start", {}, result), nCallStatus::Ok) << result;

    platform::SetFileChangeHook(KillAtStep);
    data->EndDrive();
    data->SaveDriveData();
    data->EncryptData();
    platform::SetFileChangeHook(nullptr);
    std::ofstream(home + kStepsFile) << g_steps;
}

class DriveSaveUnderKill : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(sodium_init(), 0);
        crypto_box_keypair(publicKey, secretKey);
    }

    // A home with one world, the server's key, and user ann with one earlier drive whose data
    // file is still plain (the save seals it too).
    fs::path MakeHome(const std::string& name) const {
        fs::path home = root / name;
        fs::create_directories(home / "worlds/Yard/meshes");
        fs::create_directories(home / "keys");
        fs::create_directories(home / "users/ann");
        std::ofstream(home / "worlds/Yard/meshes/layout.txt")
            << "size 30 10\nstart 2 5 0\nlandmark 6 5 0.5 Gate\n";
        char hex[2 * crypto_box_PUBLICKEYBYTES + 1];
        sodium_bin2hex(hex, sizeof hex, publicKey, sizeof publicKey);
        std::ofstream(home / "keys/server.pub") << hex << "\n";
        std::ofstream(home / "users/ann/progress")
            << "level=1\nseconds=" << kEarlierSeconds << "\ndrives=1\n";
        std::ofstream(home / "users/ann" / kEarlierDrive)
            << "user=ann\nduration=" << kEarlierSeconds << "\n";
        return home;
    }

    // Runs the child on `home`; gives its exit code (128 + the signal when killed).
    int RunChild(const fs::path& home, int killAt) const {
        setenv("PELORA_HOME", home.c_str(), 1);
        setenv(kKillAtVariable, std::to_string(killAt).c_str(), 1);
        std::string self = platform::ExecutableDirectory() + "/engine_tests";
        int code = platform::SpawnAndWait(
            "sh", {"-c", "exec \"$0\" \"$1\" >/dev/null 2>&1", self,
                   "--gtest_filter=DriveSaveChild.SavesOneDriveAndDiesAtTheGivenStep"});
        unsetenv(kKillAtVariable);
        setenv("PELORA_HOME", root.path().c_str(), 1);
        return code;
    }

    int Duration(const std::string& text) const {
        size_t at = text.find("duration=");
        return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 9);
    }

    std::string OpenSealed(const std::string& sealed) const {
        if (sealed.size() < crypto_box_SEALBYTES)
            return "";
        std::string plain(sealed.size() - crypto_box_SEALBYTES, '\0');
        if (crypto_box_seal_open(reinterpret_cast<unsigned char*>(plain.data()),
                                 reinterpret_cast<const unsigned char*>(sealed.data()),
                                 sealed.size(), publicKey, secretKey) != 0)
            return "";
        return plain;
    }

    // What the user's folder says, read without the data server's code.
    struct Folder {
        int drives = 0; // counted in progress, a pending drive counted when its file is there
        int seconds = 0;
        int dataDrives = 0; // distinct data files, plain or sealed
        int dataSeconds = 0;
        int temporaries = 0;
        bool newDriveCounted = false;
    };

    Folder Inspect(const fs::path& home) const {
        Folder seen;
        fs::path folder = home / "users/ann";
        std::map<std::string, int> durations; // data file stem -> its duration
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::string name = entry.path().filename().string();
            if (platform::IsTemporaryName(name)) {
                ++seen.temporaries;
                EXPECT_FALSE(platform::MatchesPattern(name, "data*.*")) << name;
                continue;
            }
            if (name == "progress")
                continue;
            EXPECT_TRUE(platform::MatchesPattern(name, "data*.*")) << "unexpected " << name;
            std::string stem = name;
            std::string text = ReadFile(entry.path());
            if (name.size() > 7 && name.compare(name.size() - 7, 7, ".sealed") == 0) {
                stem = name.substr(0, name.size() - 7);
                text = OpenSealed(text);
                EXPECT_FALSE(text.empty()) << name << " does not open with the server's key";
            }
            EXPECT_EQ(stem.compare(stem.size() - 4, 4, ".txt"), 0) << name;
            int duration = Duration(text);
            EXPECT_GE(duration, 0) << name;
            // A plain file and its sealed twin (killed before the plain one was removed) are
            // one drive with the same figures.
            auto [it, added] = durations.emplace(stem, duration);
            if (!added) {
                EXPECT_EQ(it->second, duration) << stem;
            }
        }
        for (const auto& [stem, duration] : durations) {
            ++seen.dataDrives;
            seen.dataSeconds += duration;
        }

        std::map<std::string, std::string> progress;
        std::istringstream lines(ReadFile(folder / "progress"));
        std::string line;
        while (std::getline(lines, line)) {
            size_t equals = line.find('=');
            EXPECT_NE(equals, std::string::npos) << line;
            if (equals != std::string::npos)
                progress[line.substr(0, equals)] = line.substr(equals + 1);
        }
        seen.drives = std::atoi(progress["drives"].c_str());
        seen.seconds = std::atoi(progress["seconds"].c_str());
        if (progress.count("pending-file") && durations.count(progress["pending-file"])) {
            seen.drives += 1;
            seen.seconds += std::atoi(progress["pending-seconds"].c_str());
        }
        seen.newDriveCounted = seen.drives == 2;
        return seen;
    }

    fakes::TempHome root;
    unsigned char publicKey[crypto_box_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_box_SECRETKEYBYTES];
};

TEST_F(DriveSaveUnderKill, KilledAtEveryStepOfTheSave_CountedDrivesAndDataFilesAlwaysAgree) {
    // A whole save first: how many steps it has, and what it leaves.
    fs::path whole = MakeHome("whole");
    ASSERT_EQ(RunChild(whole, 0), 0);
    const int steps = std::atoi(ReadFile(whole / kStepsFile).c_str());
    ASSERT_GT(steps, 10);
    Folder complete = Inspect(whole);
    EXPECT_EQ(complete.drives, 2);
    EXPECT_EQ(complete.dataDrives, 2);
    EXPECT_EQ(complete.seconds, kEarlierSeconds + kDriveSeconds);
    EXPECT_EQ(complete.temporaries, 0);
    EXPECT_FALSE(fs::exists(whole / "users/ann" / kEarlierDrive)); // sealed

    int counted = 0, notCounted = 0, withTemporaries = 0;
    for (int killAt = 1; killAt <= steps; ++killAt) {
        SCOPED_TRACE("killed before step " + std::to_string(killAt) + " of " +
                     std::to_string(steps));
        fs::path home = MakeHome("kill-" + std::to_string(killAt));
        ASSERT_EQ(RunChild(home, killAt), 128 + SIGKILL);
        Folder seen = Inspect(home);
        EXPECT_EQ(seen.drives, seen.dataDrives);
        EXPECT_EQ(seen.seconds, seen.dataSeconds);
        EXPECT_GE(seen.drives, 1);
        (seen.newDriveCounted ? counted : notCounted) += 1;
        withTemporaries += seen.temporaries > 0;

        // The next start reads the same: the data server settles what the save left.
        setenv("PELORA_HOME", home.c_str(), 1);
        {
            auto ownKernel = NewRuntimeKernel();
            nKernelServer& kernel = *ownKernel;
            auto* reader = dynamic_cast<plDataServer*>(kernel.New("pldata", "/sys/servers/data"));
            ASSERT_NE(reader, nullptr);
            reader->SetUserName("ann");
            reader->RefreshUser();
            EXPECT_EQ(reader->Progress().drives, seen.drives);
            EXPECT_EQ(reader->GetTime(), seen.seconds);
        }
        setenv("PELORA_HOME", root.path().c_str(), 1);
        EXPECT_EQ(ReadFile(home / "users/ann/progress").find("pending"), std::string::npos);
    }
    // The kills fell on both sides of the one step that makes the drive count.
    EXPECT_GT(counted, 0);
    EXPECT_GT(notCounted, 0);
    std::printf("[ kill points ] %d: drive counted with its data in %d, neither in %d; "
                "a killed writer's temporary left in %d\n",
                steps, counted, notCounted, withTemporaries);
}

} // namespace
