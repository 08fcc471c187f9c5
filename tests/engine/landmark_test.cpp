// The landmark information: one process-wide instance per user, landmarks recorded per world
// and saved to users/<name>/landmarks, merged with what the file already holds.
#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"

#include <algorithm>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class Landmarks : public ::testing::Test {
protected:
    void SetUp() override {
        plLandmarkInformation::resetForTesting();
        kernel = NewRuntimeKernel();
    }
    void TearDown() override { plLandmarkInformation::resetForTesting(); }

    fakes::TempHome home;
    fakes::LogRecorder log;
    std::unique_ptr<nKernelServer> kernel;
};

using List = std::vector<std::string>;

} // namespace

TEST_F(Landmarks, BeforeFirstUser_NoInstance) {
    EXPECT_EQ(plLandmarkInformation::getInstance(), nullptr);
}

TEST_F(Landmarks, SameUser_GivesTheSameInstance) {
    auto* first = plLandmarkInformation::getInstance(kernel.get(), "ann");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->userName(), "ann");
    first->setCurrentWorld("Park");
    EXPECT_EQ(plLandmarkInformation::getInstance(), first);
    EXPECT_EQ(plLandmarkInformation::getInstance(kernel.get(), "ann"), first);
    EXPECT_EQ(first->currentWorld(), "Park");
}

TEST_F(Landmarks, OtherUser_ReplacesTheInstance) {
    auto* ann = plLandmarkInformation::getInstance(kernel.get(), "ann");
    ann->setCurrentWorld("Park");
    ann->landmarkReached("Pond");
    auto* bob = plLandmarkInformation::getInstance(kernel.get(), "bob");
    EXPECT_EQ(bob->userName(), "bob");
    EXPECT_TRUE(bob->reached().empty());
    EXPECT_EQ(plLandmarkInformation::getInstance(), bob);
}

TEST_F(Landmarks, Reached_RecordedPerWorldOnce) {
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    info->setCurrentWorld("Park");
    info->landmarkReached("Pond");
    info->landmarkReached("Pond");
    info->landmarkReached("Bench");
    info->setCurrentWorld("Office");
    info->landmarkReached("Lift");
    EXPECT_EQ(info->reached().at("Park"), (List{"Pond", "Bench"}));
    EXPECT_EQ(info->reached().at("Office"), (List{"Lift"}));
}

TEST_F(Landmarks, ReachedWithoutWorld_IsNotRecorded) {
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    info->landmarkReached("Pond");
    EXPECT_TRUE(info->reached().empty());
    EXPECT_TRUE(log.Contains("no current world"));
}

TEST_F(Landmarks, Save_WritesReadableFileAndNextInstanceReadsIt) {
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    info->setCurrentWorld("Park");
    info->landmarkReached("Pond");
    info->landmarkReached("Old oak");
    info->saveLandmarkInfo();
    std::string text = home.ReadFile("users/ann/landmarks");
    EXPECT_NE(text.find("world=Park\nlandmark=Pond\nlandmark=Old oak\n"), std::string::npos)
        << text;

    plLandmarkInformation::resetForTesting();
    kernel = NewRuntimeKernel();
    auto* again = plLandmarkInformation::getInstance(kernel.get(), "ann");
    EXPECT_EQ(again->reached().at("Park"), (List{"Pond", "Old oak"}));
}

TEST_F(Landmarks, Save_MergesWithWhatTheFileHolds) {
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    // Written meanwhile by another run: kept alongside this run's landmarks.
    home.WriteFile("users/ann/landmarks",
                   "world=Park\nlandmark=Gate\nworld=Hallway\nlandmark=Exit\n");
    info->setCurrentWorld("Park");
    info->landmarkReached("Pond");
    info->landmarkReached("Gate");
    info->saveLandmarkInfo();
    EXPECT_EQ(info->reached().at("Park"), (List{"Gate", "Pond"}));
    EXPECT_EQ(info->reached().at("Hallway"), (List{"Exit"}));
    std::string text = home.ReadFile("users/ann/landmarks");
    EXPECT_NE(text.find("world=Hallway\nlandmark=Exit\n"), std::string::npos) << text;
    EXPECT_NE(text.find("world=Park\nlandmark=Gate\nlandmark=Pond\n"), std::string::npos) << text;
}

TEST_F(Landmarks, GarbledLines_AreSkippedAndLogged) {
    home.WriteFile("users/ann/landmarks", "world=Park\nlandmark=Gate\n%%%garbage\n");
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    EXPECT_EQ(info->reached().at("Park"), (List{"Gate"}));
    EXPECT_TRUE(log.Contains("not a landmark entry"));
}

TEST_F(Landmarks, GuestInAnyCase_SavesInTheGuestFolder) {
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "Guest");
    info->setCurrentWorld("Park");
    info->landmarkReached("Pond");
    info->saveLandmarkInfo();
    EXPECT_NE(home.ReadFile("users/guest/landmarks").find("landmark=Pond"), std::string::npos);
}

TEST_F(Landmarks, NameLeavingUsersFolder_IsNotSaved) {
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "../outside");
    info->setCurrentWorld("Park");
    info->landmarkReached("Pond");
    info->saveLandmarkInfo();
    EXPECT_FALSE(std::filesystem::exists(home / "outside"));
    EXPECT_FALSE(std::filesystem::exists(home / "users/outside"));
    EXPECT_TRUE(log.Contains("not saved"));
}

// A long file, with each landmark given many times over, loads as one entry per landmark in
// the order first met, and saves back the same way.
TEST_F(Landmarks, LongFileWithRepeats_LoadsEachLandmarkOnceInOrder) {
    std::string text = "world=Park\n";
    List expected;
    for (int i = 0; i < 100000; ++i) {
        std::string name = "bench " + std::to_string(i % 25000);
        text += "landmark=" + name + "\n";
        if (i < 25000)
            expected.push_back(name);
    }
    home.WriteFile("users/ann/landmarks", text);
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    EXPECT_EQ(info->reached().at("Park"), expected);
    info->setCurrentWorld("Park");
    info->landmarkReached("bench 5");
    info->landmarkReached("new one");
    info->saveLandmarkInfo();
    expected.push_back("new one");
    EXPECT_EQ(info->reached().at("Park"), expected);
    std::string saved = home.ReadFile("users/ann/landmarks");
    EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 25001 + 2); // heading, world, lines
}

TEST_F(Landmarks, FifoOrUnreadableFile_AnsweredAtOnceAndNeverWrittenOver) {
    home.MakeDir("users/ann");
    ASSERT_EQ(mkfifo((home / "users/ann/landmarks").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program
    auto* info = plLandmarkInformation::getInstance(kernel.get(), "ann");
    info->setCurrentWorld("Park");
    info->landmarkReached("Pond");
    info->saveLandmarkInfo();
    alarm(0);
    EXPECT_EQ(platform::GetFileKind((home / "users/ann/landmarks").string()),
              platform::FileKind::Other);
    EXPECT_TRUE(log.Contains("is a FIFO (named pipe), not a file"));
    EXPECT_TRUE(log.Contains("not saved"));
}
