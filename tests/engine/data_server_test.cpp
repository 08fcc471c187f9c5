// The data server: progress kept across restarts, the level rule, a drive's time and data
// file, sealing the data files to the server's key without ever losing a plain file, and
// corrupt progress files.
#include "data_server.h"
#include "drive.h"
#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class DataServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(sodium_init(), 0);
        SetDriveDisplayForTesting(0);
        plLandmarkInformation::resetForTesting();
        home.WriteFile("worlds/Yard/meshes/layout.txt",
                       "name The Yard\nsize 40 10\nstart 2 5 0\nlandmark 6 5 0.5 Gate\n");
        Restart();
    }
    void TearDown() override {
        SetDriveDisplayForTesting(-1);
        plLandmarkInformation::resetForTesting();
    }

    // A new engine on the same home folder, as after a restart of the program.
    void Restart() {
        data = nullptr;
        kernel.reset();
        kernel = NewRuntimeKernel();
        data = dynamic_cast<plDataServer*>(kernel->New("pldata", "/sys/servers/data"));
        ASSERT_NE(data, nullptr);
    }

    // The figures of the last drive of the observer at /observer.
    const DriveFigures& LastDriveFigures() const {
        return dynamic_cast<nObserver&>(*kernel->Lookup("/observer")).LastFigures();
    }

    void Login(const char* user) {
        data->SetSiteInfo("Ohio", "Vantor", "site-7");
        data->SetUserName(user);
        data->RefreshUser();
    }

    // A whole self-driving drive of `seconds` in the Yard, ended and saved as the world run
    // does it.
    void Drive(const char* seconds) {
        data->SetDriveWorld("Yard");
        data->BeginDrive();
        kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes").c_str());
        std::string result;
        nRoot* world = kernel->New("nworld", "/usr/share/scene/world");
        ASSERT_EQ(world->Call("load", {"meshes:layout.txt"}, result), nCallStatus::Ok) << result;
        nRoot* observer = kernel->New("nobserver", "/observer");
        ASSERT_EQ(observer->Call("setautodrive", {seconds}, result), nCallStatus::Ok);
        ASSERT_EQ(observer->Call("start", {}, result), nCallStatus::Ok) << result;
        data->EndDrive();
        data->SaveDriveData();
    }

    std::vector<std::string> UserFiles(const std::string& user) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(home / ("users/" + user)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string WriteKeyPair(bool hex) {
        unsigned char pk[crypto_box_PUBLICKEYBYTES];
        crypto_box_keypair(pk, secretKey);
        std::copy(pk, pk + sizeof pk, publicKey);
        if (hex) {
            char text[2 * crypto_box_PUBLICKEYBYTES + 1];
            sodium_bin2hex(text, sizeof text, pk, sizeof pk);
            home.WriteFile("keys/server.pub", std::string(text) + "\n");
        } else {
            home.WriteFile("keys/server.pub", std::string(reinterpret_cast<char*>(pk), sizeof pk));
        }
        return (home / "keys/server.pub").string();
    }

    std::string Open(const std::string& sealed) {
        if (sealed.size() < crypto_box_SEALBYTES)
            return "<too short>";
        std::string plain(sealed.size() - crypto_box_SEALBYTES, '\0');
        if (crypto_box_seal_open(reinterpret_cast<unsigned char*>(plain.data()),
                                 reinterpret_cast<const unsigned char*>(sealed.data()),
                                 sealed.size(), publicKey, secretKey) != 0)
            return "<does not open>";
        return plain;
    }

    fakes::TempHome home;
    fakes::LogRecorder log;
    std::unique_ptr<nKernelServer> kernel;
    plDataServer* data = nullptr;
    unsigned char publicKey[crypto_box_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_box_SECRETKEYBYTES];
};

} // namespace

// ---- level rule and progress format -------------------------------------------------------

TEST(LevelRule, OneLevelPerTenMinutes_FromOneUpToTen) {
    EXPECT_EQ(LevelForSeconds(0), 1);
    EXPECT_EQ(LevelForSeconds(599), 1);
    EXPECT_EQ(LevelForSeconds(600), 2);
    EXPECT_EQ(LevelForSeconds(1799), 3);
    EXPECT_EQ(LevelForSeconds(5400), 10);
    EXPECT_EQ(LevelForSeconds(1000000), 10);
    EXPECT_EQ(LevelForSeconds(-5), 1);
}

TEST(ProgressFile, WrittenText_ReadsBackTheSame) {
    UserProgress progress;
    progress.level = 3;
    progress.seconds = 1234;
    progress.drives = 7;
    EXPECT_EQ(FormatProgress(progress), "level=3\nseconds=1234\ndrives=7\n");
    UserProgress read;
    std::string error;
    ASSERT_TRUE(ParseProgress(FormatProgress(progress), read, error)) << error;
    EXPECT_EQ(read.level, 3);
    EXPECT_EQ(read.seconds, 1234);
    EXPECT_EQ(read.drives, 7);
}

TEST(ProgressFile, PendingDrive_WrittenAndReadBackAndSettled) {
    UserProgress progress;
    progress.level = 2;
    progress.seconds = 700;
    progress.drives = 4;
    progress.pending = PendingDrive{"data-20240101-101010.txt", 30};
    const std::string text = "level=2\nseconds=700\ndrives=4\n"
                             "pending-file=data-20240101-101010.txt\npending-seconds=30\n";
    EXPECT_EQ(FormatProgress(progress), text);
    UserProgress read;
    std::string error;
    ASSERT_TRUE(ParseProgress(text, read, error)) << error;
    EXPECT_EQ(read.pending.dataFile, "data-20240101-101010.txt");
    EXPECT_EQ(read.pending.seconds, 30);

    UserProgress counted = SettlePending(read, true);
    EXPECT_EQ(counted.seconds, 730);
    EXPECT_EQ(counted.drives, 5);
    EXPECT_TRUE(counted.pending.dataFile.empty());
    UserProgress dropped = SettlePending(read, false);
    EXPECT_EQ(dropped.seconds, 700);
    EXPECT_EQ(dropped.drives, 4);
    EXPECT_TRUE(dropped.pending.dataFile.empty());

    EXPECT_FALSE(
        ParseProgress("level=1\nseconds=0\ndrives=0\npending-file=data-1.txt\n", read, error));
    EXPECT_EQ(error, "pending-file without pending-seconds");
    EXPECT_FALSE(ParseProgress("level=1\nseconds=0\ndrives=0\npending-file=../x\n"
                               "pending-seconds=1\n",
                               read, error));
    EXPECT_NE(error.find("line 4"), std::string::npos) << error;
}

TEST(ProgressFile, StoredLevelBelowTheRule_IsRaised) {
    UserProgress read;
    std::string error;
    ASSERT_TRUE(ParseProgress("drives=1\nseconds=1300\nlevel=1\n", read, error)) << error;
    EXPECT_EQ(read.level, 3);
}

TEST(ProgressFile, MalformedTexts_AreRefusedWithTheReason) {
    UserProgress read;
    std::string error;
    EXPECT_FALSE(ParseProgress("level=2\nseconds=-4\ndrives=1\n", read, error));
    EXPECT_NE(error.find("line 2"), std::string::npos);
    EXPECT_FALSE(ParseProgress("level=2\nseconds=4\n", read, error));
    EXPECT_EQ(error, "missing drives");
    EXPECT_FALSE(ParseProgress("level=2\nlevel=3\nseconds=4\ndrives=1\n", read, error));
    EXPECT_FALSE(ParseProgress("level=11\nseconds=4\ndrives=1\n", read, error));
    EXPECT_FALSE(ParseProgress("level=2\nseconds=4\ndrives=1\nbonus=9\n", read, error));
    EXPECT_NE(error.find("bonus"), std::string::npos);
}

TEST(UserFolders, GuestAnyCaseAndUnsafeNames) {
    EXPECT_EQ(UserFolderName("GuEsT"), "guest");
    EXPECT_EQ(UserFolderName("Ann Lee"), "Ann Lee");
    EXPECT_EQ(UserFolderName("Zo\xc3\xab"), "Zo\xc3\xab");
    EXPECT_EQ(UserFolderName("Zo\xeb"), ""); // not UTF-8
    EXPECT_EQ(UserFolderName(std::string(119, 'n')), std::string(119, 'n'));
    EXPECT_EQ(UserFolderName(std::string(120, 'n')), "");
    EXPECT_EQ(UserFolderName("esc\x1b"), "");
    EXPECT_EQ(UserFolderName(""), "");
    EXPECT_EQ(UserFolderName(".."), "");
    EXPECT_EQ(UserFolderName("../ann"), "");
    EXPECT_EQ(UserFolderName("a\\b"), "");
    EXPECT_EQ(UserFolderName("a\nb"), "");
}

// ---- progress across drives and restarts --------------------------------------------------

TEST_F(DataServer, NewUser_StartsAtLevelOneWithNoTime) {
    Login("ann");
    EXPECT_EQ(data->GetLevel(), 1);
    EXPECT_EQ(data->GetTime(), 0);
}

TEST_F(DataServer, Drive_AddsItsTimeAndSavesProgress) {
    Login("ann");
    Drive("4");
    EXPECT_EQ(data->GetTime(), 4);
    Drive("5");
    EXPECT_EQ(data->GetTime(), 9);
    EXPECT_EQ(home.ReadFile("users/ann/progress"), "level=1\nseconds=9\ndrives=2\n");
}

TEST_F(DataServer, Progress_SurvivesARestart) {
    Login("ann");
    Drive("7");
    Restart();
    Login("ann");
    EXPECT_EQ(data->GetTime(), 7);
    EXPECT_EQ(data->Progress().drives, 1);
}

TEST_F(DataServer, EnoughTime_RaisesTheLevelAndCollisionsNeverLowerIt) {
    home.WriteFile("users/ann/progress", "level=4\nseconds=1195\ndrives=30\n");
    Login("ann");
    EXPECT_EQ(data->GetLevel(), 4); // above the rule's 2: kept
    home.WriteFile("worlds/Yard/meshes/layout.txt", "size 4 4\nstart 2 2 0\n"); // all walls
    Drive("10");
    ASSERT_GT(LastDriveFigures().collisions, 0);
    EXPECT_EQ(data->GetLevel(), 4);
    EXPECT_EQ(data->GetTime(), 1205);

    home.WriteFile("users/bob/progress", "level=1\nseconds=1795\ndrives=3\n");
    Login("bob");
    Drive("6");
    EXPECT_EQ(data->GetLevel(), 4); // 1801 seconds: three full 10 minutes
}

TEST_F(DataServer, GuestInAnyCase_KeepsProgressInGuestFolder) {
    Login("GUEST");
    Drive("3");
    EXPECT_EQ(home.ReadFile("users/guest/progress"), "level=1\nseconds=3\ndrives=1\n");
}

TEST_F(DataServer, NameOutsideUsersFolder_KeepsNothing) {
    Login("../escape");
    Drive("3");
    EXPECT_FALSE(fs::exists(home / "escape"));
    EXPECT_FALSE(fs::exists(home / "users"));
    EXPECT_TRUE(log.Contains("cannot name a user folder"));
}

TEST_F(DataServer, EndWithoutADrive_AddsNoTimeAndKeepsNoDataFile) {
    Login("ann");
    data->SetDriveWorld("Yard");
    data->BeginDrive();
    data->EndDrive(); // the world never started
    data->SaveDriveData();
    EXPECT_EQ(data->GetTime(), 0);
    EXPECT_FALSE(fs::exists(home / "users/ann"));
    EXPECT_EQ(log.Count("no drive ran"), 1);
    EXPECT_EQ(log.Count("SaveDriveData without"), 0); // said once, by EndDrive
}

TEST_F(DataServer, PendingDrive_CountedExactlyWhenItsDataFileIsOnDisk) {
    const std::string pending =
        "level=1\nseconds=100\ndrives=2\npending-file=data-1.txt\npending-seconds=20\n";
    struct Case {
        const char* file; // what the folder holds besides progress
        int seconds, drives;
    };
    for (const Case& c : {Case{nullptr, 100, 2}, Case{"data-1.txt", 120, 3},
                          Case{"data-1.txt.sealed", 120, 3}, Case{"data-2.txt", 100, 2}}) {
        SCOPED_TRACE(c.file ? c.file : "nothing");
        fs::remove_all(home / "users/ann");
        home.WriteFile("users/ann/progress", pending);
        if (c.file)
            home.WriteFile(std::string("users/ann/") + c.file, "duration=20\n");
        Restart();
        Login("ann");
        EXPECT_EQ(data->GetTime(), c.seconds);
        EXPECT_EQ(data->Progress().drives, c.drives);
        // Settled on disk as well: what the upload removes later cannot change the count.
        EXPECT_EQ(home.ReadFile("users/ann/progress"),
                  "level=1\nseconds=" + std::to_string(c.seconds) +
                      "\ndrives=" + std::to_string(c.drives) + "\n");
        EXPECT_TRUE(log.Contains("Settled the drive being saved"));
    }
}

TEST_F(DataServer, FifoInPlaceOfProgress_AnsweredAtOnceAndSetAside) {
    home.MakeDir("users/ann");
    ASSERT_EQ(mkfifo((home / "users/ann/progress").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program
    Login("ann");
    Drive("3");
    alarm(0);
    EXPECT_EQ(home.ReadFile("users/ann/progress"), "level=1\nseconds=3\ndrives=1\n");
    EXPECT_TRUE(log.Contains("unreadable progress file"));
    EXPECT_TRUE(log.Contains("is a FIFO (named pipe), not a file"));
    int aside = 0;
    for (const auto& name : UserFiles("ann"))
        aside += name.rfind("progress.corrupt-", 0) == 0;
    EXPECT_EQ(aside, 1);
}

TEST_F(DataServer, CorruptProgress_KeptAsideLoggedAndFreshProgressUsed) {
    home.WriteFile("users/ann/progress", "level=3\nseconds=lots\n");
    Login("ann");
    EXPECT_EQ(data->GetTime(), 0);
    EXPECT_EQ(data->GetLevel(), 1);
    auto files = UserFiles("ann");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("progress.corrupt-", 0), 0u) << files[0];
    EXPECT_EQ(home.ReadFile("users/ann/" + files[0]), "level=3\nseconds=lots\n");
    std::string path = (home / "users/ann/progress").string();
    EXPECT_TRUE(log.Contains("corrupt progress file " + path + " (line 2"));

    Drive("3");
    EXPECT_EQ(home.ReadFile("users/ann/progress"), "level=1\nseconds=3\ndrives=1\n");
}

// ---- drive data files ---------------------------------------------------------------------

TEST_F(DataServer, SaveDriveData_WritesTheDriveFigures) {
    Login("ann");
    Drive("4");
    std::string name = fs::path(data->LastDataFile()).filename().string();
    EXPECT_EQ(name.rfind("data-", 0), 0u);
    std::string text = home.ReadFile("users/ann/" + name);
    const DriveFigures& f = LastDriveFigures();
    for (std::string line :
         {std::string("user=ann\n"), std::string("state=Ohio\n"),
          std::string("organization=Vantor\n"), std::string("data-id=site-7\n"),
          std::string("world=Yard\n"), std::string("duration=4\n"),
          "collisions=" + std::to_string(f.collisions) + "\n", std::string("landmarks=1\n"),
          std::string("landmark=Gate\n"), std::string("distance=6.00\n")})
        EXPECT_NE(text.find(line), std::string::npos) << line << " missing from\n" << text;
    EXPECT_NE(text.find("start=20"), std::string::npos);
}

TEST_F(DataServer, SaveDriveData_WritesTheTrajectoryAfterTheFigures) {
    Login("ann");
    Drive("4");
    std::string text =
        home.ReadFile("users/ann/" + fs::path(data->LastDataFile()).filename().string());
    // Today's keys stay first.
    EXPECT_LT(text.find("other"), text.find("record=1\n"));
    drive_record::DataFile file;
    std::string error;
    ASSERT_TRUE(drive_record::ParseDataFile(text, file, error)) << error << "\n" << text;
    EXPECT_EQ(file.recordVersion, 1);
    EXPECT_EQ(file.summary.user, "ann");
    EXPECT_EQ(file.record.samples.size(), 41u); // four seconds at 10 a second, and the start
    EXPECT_EQ(file.record.reaches.size(), 1u);
    EXPECT_EQ(int(file.record.hits.size()), LastDriveFigures().collisions);
}

TEST_F(DataServer, TwoDrivesInOneSecond_GetTwoFiles) {
    Login("ann");
    Drive("1");
    std::string first = data->LastDataFile();
    Drive("1");
    EXPECT_NE(data->LastDataFile(), first);
    EXPECT_TRUE(fs::exists(first));
    EXPECT_TRUE(fs::exists(data->LastDataFile()));
}

TEST_F(DataServer, SaveTwiceForOneDrive_WritesOneFile) {
    Login("ann");
    Drive("1");
    data->SaveDriveData();
    data->SaveDriveData();
    int dataFiles = 0;
    for (const auto& name : UserFiles("ann"))
        dataFiles += name.rfind("data", 0) == 0;
    EXPECT_EQ(dataFiles, 1);
}

// ---- sealing ------------------------------------------------------------------------------

TEST_F(DataServer, HexKey_SealsEveryPlainFileAndItOpensWithTheSecretKey) {
    WriteKeyPair(true);
    Login("ann");
    Drive("2");
    std::string plainPath = data->LastDataFile();
    std::string plain = home.ReadFile("users/ann/" + fs::path(plainPath).filename().string());
    home.WriteFile("users/ann/data-older.txt", "older drive\n");

    data->EncryptData();

    EXPECT_FALSE(fs::exists(plainPath));
    EXPECT_FALSE(fs::exists(home / "users/ann/data-older.txt"));
    std::string sealedName = fs::path(plainPath).filename().string() + ".sealed";
    EXPECT_EQ(Open(home.ReadFile("users/ann/" + sealedName)), plain);
    EXPECT_EQ(Open(home.ReadFile("users/ann/data-older.txt.sealed")), "older drive\n");
    EXPECT_TRUE(fs::exists(home / "users/ann/progress")); // not a data file
}

TEST_F(DataServer, RawKeyAndSealedFilesPresent_SealsOnlyThePlainOnes) {
    WriteKeyPair(false);
    Login("ann");
    home.WriteFile("users/ann/data-a.txt", "a\n");
    home.WriteFile("users/ann/data-b.txt.sealed", "sealed before");
    data->EncryptData();
    EXPECT_EQ(Open(home.ReadFile("users/ann/data-a.txt.sealed")), "a\n");
    EXPECT_EQ(home.ReadFile("users/ann/data-b.txt.sealed"), "sealed before");
    EXPECT_FALSE(fs::exists(home / "users/ann/data-b.txt.sealed.sealed"));
}

TEST_F(DataServer, TemporariesOfWritersInTheFolder_NeverSealed) {
    WriteKeyPair(true);
    Login("ann");
    const std::string live = std::to_string(getpid());
    const std::vector<std::string> temporaries = {
        ".pelora-tmp-" + live + "-0-0badf00d",
        "data-20240101-101010.txt.tmp-" + live + "-3-0badf00d", // the earlier naming
    };
    for (const auto& name : temporaries)
        home.WriteFile("users/ann/" + name, "half a drive");
    Drive("2");
    data->EncryptData();
    for (const auto& name : UserFiles("ann")) {
        if (name.find("tmp") == std::string::npos)
            continue;
        EXPECT_NE(std::find(temporaries.begin(), temporaries.end(), name), temporaries.end())
            << name << " was made from a temporary";
    }
    EXPECT_TRUE(fs::exists(home / ("users/ann/" + temporaries[1])));
}

TEST_F(DataServer, NoKeyFile_LeavesDataPlainAndWarns) {
    Login("ann");
    home.WriteFile("users/ann/data-a.txt", "a\n");
    data->EncryptData();
    EXPECT_EQ(home.ReadFile("users/ann/data-a.txt"), "a\n");
    std::string keyPath = (home / "keys/server.pub").string();
    EXPECT_TRUE(log.Contains("WARN: no server key at " + keyPath + "; drive data left unsealed\n"));
}

TEST_F(DataServer, BadKeyFile_LeavesEveryPlainFile) {
    home.WriteFile("keys/server.pub", "not a key at all\n");
    Login("ann");
    home.WriteFile("users/ann/data-a.txt", "a\n");
    data->EncryptData();
    EXPECT_EQ(UserFiles("ann"), std::vector<std::string>{"data-a.txt"});
    EXPECT_TRUE(log.Contains("unusable server key"));

    home.WriteFile("keys/server.pub", std::string(64, 'z'));
    data->EncryptData();
    EXPECT_EQ(home.ReadFile("users/ann/data-a.txt"), "a\n");
}

TEST_F(DataServer, SealedFileCannotBeWritten_PlainFileKept) {
    WriteKeyPair(true);
    Login("ann");
    home.WriteFile("users/ann/data-a.txt", "a\n");
    home.WriteFile("users/ann/data-b.txt", "b\n");
    // A folder in the sealed file's place: the write fails whoever runs the test.
    home.MakeDir("users/ann/data-a.txt.sealed/x");
    data->EncryptData();
    EXPECT_EQ(home.ReadFile("users/ann/data-a.txt"), "a\n");
    EXPECT_TRUE(log.Contains("data-a.txt left unsealed"));
    EXPECT_FALSE(fs::exists(home / "users/ann/data-b.txt")); // the others still sealed
    EXPECT_EQ(Open(home.ReadFile("users/ann/data-b.txt.sealed")), "b\n");
}

TEST_F(DataServer, SendData_WithoutANetworkLayer_LeavesTheDrivesFileForTheUpload) {
    Login("ann");
    Drive("2");
    data->SaveDriveData();
    ASSERT_FALSE(data->LastDataFile().empty());
    data->SendData(); // offline: nothing is tried
    EXPECT_TRUE(log.Contains("offline drive"));
    data->SetOnline(true);
    data->SendData();
    EXPECT_TRUE(fs::exists(data->LastDataFile()));
    EXPECT_TRUE(log.Contains("left for the next upload"));
}
