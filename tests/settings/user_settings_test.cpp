// One user's settings: the file under users/<name> (one guest folder), the defaults of the two
// wheelchair adjustments, number formats, values that survive closing and reopening, and a
// damaged file that loses nothing.
#include "settings/user_settings.h"

#include "settings_test_support.h"

#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using settings_test::HomeAsCurrentDirectory;

void WriteUserFile(const HomeAsCurrentDirectory& cwd, const std::string& user,
                   const std::map<std::string, std::string>& values) {
    cwd.home.WriteFile("users/" + user + "/userSettings", PersistentSettings::Serialize(values));
}

TEST(UserSettingsFile, Guest_UsesUsersGuestUserSettingsUnderTheHomeFolder) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("users/guest");
    UserSettings settings;
    settings.setUser("guest");
    EXPECT_EQ(settings.getFilename(), "users/guest/userSettings");
    EXPECT_EQ(settings.getOwnerName(), "guest");
    settings.setWorld("Campus");
    PersistentSettings onDisk;
    onDisk.setFilename((cwd.home / "users/guest/userSettings").string());
    onDisk.load();
    EXPECT_EQ(onDisk.getValue("world"), "Campus");
}

TEST(UserSettingsFile, MissingFile_ThrowsCodeZeroWithTheFileName) {
    HomeAsCurrentDirectory cwd;
    try {
        UserSettings settings("nobody");
        FAIL() << "construction did not throw";
    } catch (const FileException& e) {
        EXPECT_EQ(e.getCode(), 0);
        EXPECT_EQ(e.getMessage(), "users/nobody/userSettings");
    }
}

// The names in the user's folder that start with `prefix`.
std::vector<std::string> FilesStartingWith(const HomeAsCurrentDirectory& cwd,
                                           const std::string& user, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(cwd.home / ("users/" + user))) {
        std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0)
            names.push_back(name);
    }
    return names;
}

TEST(UserSettingsDamagedFile, OneBadLine_KeepsEveryOtherValueAndTheFileAside) {
    HomeAsCurrentDirectory cwd;
    fakes::LogRecorder log;
    const std::string damaged = "# Pelora settings\n"
                                "gender=female\n"
                                "vehicle-type=Power\n"
                                "this line lost its equals sign\n"
                                "vehicle-color=Green\n"
                                "world=Park\n"
                                "speed-scale=0.800000\n"
                                "axis-offset=-0.500000\n"
                                "world=Hallway\n"
                                "bad\\qescape=1\n";
    cwd.home.WriteFile("users/bob/userSettings", damaged);

    UserSettings settings("bob");

    EXPECT_EQ(settings.getGender(), "female");
    EXPECT_EQ(settings.getVehicleType(), "Power");
    EXPECT_EQ(settings.getVehicleColor(), "Green");
    EXPECT_EQ(settings.getWorld(), "Park"); // a key given twice keeps its first value
    EXPECT_FLOAT_EQ(settings.getSpeedScale(), 0.8f);
    EXPECT_FLOAT_EQ(settings.getAxisOffset(), -0.5f);
    EXPECT_EQ(settings.values().size(), 6u);

    // The damaged file is kept whole under a name that says so; the file in its place reads
    // cleanly and holds what was read.
    auto aside = FilesStartingWith(cwd, "bob", "userSettings.corrupt-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(cwd.home.ReadFile("users/bob/" + aside[0]), damaged);
    PersistentSettings onDisk;
    onDisk.setFilename("users/bob/userSettings");
    onDisk.load();
    EXPECT_EQ(onDisk.values(), settings.values());

    EXPECT_TRUE(log.Contains("users/bob/userSettings, line 4: no '=' after the key"));
    EXPECT_TRUE(log.Contains("users/bob/userSettings, line 9: the key is given twice"));
    EXPECT_TRUE(log.Contains("users/bob/userSettings, line 10: unknown escape"));
    EXPECT_TRUE(log.Contains("kept as users/bob/" + aside[0]));
}

TEST(UserSettingsDamagedFile, DamagedTwice_EachCopyKeptUnderItsOwnName) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("users/bob/userSettings", "first=1\nbroken\n");
    UserSettings first("bob");
    cwd.home.WriteFile("users/bob/userSettings", "second=2\nbroken\n");
    UserSettings second("bob");
    EXPECT_EQ(second.getValue("second"), "2");
    EXPECT_EQ(FilesStartingWith(cwd, "bob", "userSettings.corrupt-").size(), 2u);
}

TEST(UserSettingsDamagedFile, FifoOrFolderInItsPlace_RefusedAtOnceWithCodeThree) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("users/fifo");
    ASSERT_EQ(mkfifo("users/fifo/userSettings", 0600), 0);
    cwd.home.MakeDir("users/folder/userSettings");
    alarm(20); // a FIFO that is waited on ends the test program
    for (const char* user : {"fifo", "folder"}) {
        try {
            UserSettings settings(user);
            ADD_FAILURE() << user << ": construction did not throw";
        } catch (const FileException& e) {
            EXPECT_EQ(e.getCode(), FileException::kNotARegularFile) << user;
            EXPECT_NE(e.getMessage().find("not a file"), std::string::npos) << e.getMessage();
        }
    }
    alarm(0);
    EXPECT_EQ(platform::GetFileKind("users/fifo/userSettings"), platform::FileKind::Other);
    EXPECT_TRUE(FilesStartingWith(cwd, "fifo", "userSettings.corrupt-").empty());
}

TEST(UserSettingsFile, GuestInAnyCase_UsesTheOneGuestFolder) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "guest", {{"world", "Park"}});
    for (const char* name : {"Guest", "GUEST", "gUeSt"}) {
        UserSettings settings(name);
        EXPECT_EQ(settings.getFilename(), "users/guest/userSettings") << name;
        EXPECT_EQ(settings.getWorld(), "Park") << name;
        EXPECT_EQ(settings.getOwnerName(), name);
    }
    UserSettings later;
    later.setUser("GUEST");
    EXPECT_EQ(later.getFilename(), "users/guest/userSettings");
}

TEST(UserSettingsFile, DefaultConstructorAndSetUser_LoadNothing) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "ann", {{"world", "Park"}});
    UserSettings settings;
    EXPECT_EQ(settings.getOwnerName(), "");
    EXPECT_EQ(settings.getFilename(), "");
    settings.setUser("ann");
    EXPECT_EQ(settings.getWorld(), "");
    EXPECT_TRUE(settings.values().empty());
}

TEST(UserSettingsDefaults, FileWithoutAdjustments_GetsSpeedAndAxisDefaultsStored) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "ann", {{"gender", "female"}});
    UserSettings settings("ann");
    EXPECT_FLOAT_EQ(settings.getSpeedScale(), 1.0f);
    EXPECT_FLOAT_EQ(settings.getAxisOffset(), -0.75f);
    EXPECT_EQ(settings.getValue("speed-scale"), "1.000000");
    EXPECT_EQ(settings.getValue("axis-offset"), "-0.750000");
    EXPECT_EQ(settings.getGender(), "female");

    PersistentSettings onDisk;
    onDisk.setFilename("users/ann/userSettings");
    onDisk.load();
    EXPECT_EQ(onDisk.getValue("speed-scale"), "1.000000");
    EXPECT_EQ(onDisk.getValue("axis-offset"), "-0.750000");
}

TEST(UserSettingsDefaults, EmptyValues_AreReplacedByDefaults) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "ann", {{"speed-scale", ""}, {"axis-offset", ""}});
    UserSettings settings("ann");
    EXPECT_EQ(settings.getValue("speed-scale"), "1.000000");
    EXPECT_EQ(settings.getValue("axis-offset"), "-0.750000");
}

TEST(UserSettingsDefaults, NewUserFile_LeavesChoicesEmpty) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "new", {});
    UserSettings settings("new");
    EXPECT_EQ(settings.getGender(), "");
    EXPECT_EQ(settings.getVehicleColor(), "");
    EXPECT_EQ(settings.getVehicleType(), "");
    EXPECT_EQ(settings.getWorld(), "");
    EXPECT_EQ(settings.values().size(), 2u);
}

TEST(UserSettingsNumbers, StoredTexts_ReadWithAtofSemantics) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "bob", {{"speed-scale", "0.8"}, {"axis-offset", "  -0.25ft"}});
    UserSettings settings("bob");
    EXPECT_EQ(settings.getValue("speed-scale"), "0.8");
    EXPECT_EQ(settings.getSpeedScale(), 0.8f);
    EXPECT_EQ(settings.getAxisOffset(), -0.25f);
}

TEST(UserSettingsNumbers, NotANumber_ReadsZeroAndIsNotReplaced) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "bob", {{"speed-scale", "abc"}, {"axis-offset", "-0.5"}});
    UserSettings settings("bob");
    EXPECT_EQ(settings.getSpeedScale(), 0.0f);
    EXPECT_EQ(settings.getValue("speed-scale"), "abc");
}

TEST(UserSettingsNumbers, Setters_WriteSixDecimals) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "bob", {});
    UserSettings settings("bob");
    settings.setAxisOffset(-0.5f);
    EXPECT_EQ(settings.getValue("axis-offset"), "-0.500000");
    settings.setSpeedScale(0.1234567f);
    EXPECT_EQ(settings.getValue("speed-scale"), "0.123457");
    settings.setSpeedScale(1.2f);
    EXPECT_EQ(settings.getValue("speed-scale"), "1.200000");
    settings.setAxisOffset(0.0f);
    EXPECT_EQ(settings.getValue("axis-offset"), "0.000000");
}

TEST(UserSettingsPersistence, Values_SurviveCloseAndReopen) {
    HomeAsCurrentDirectory cwd;
    WriteUserFile(cwd, "carla", {});
    {
        UserSettings settings("carla");
        settings.setGender("female");
        settings.setVehicleType("Power Chair");
        settings.setVehicleColor("Dark Blue");
        settings.setWorld("Shopping Mall");
        settings.setSpeedScale(0.7f);
        settings.setAxisOffset(0.25f);
    }
    UserSettings reopened("carla");
    EXPECT_EQ(reopened.getGender(), "female");
    EXPECT_EQ(reopened.getVehicleType(), "Power Chair");
    EXPECT_EQ(reopened.getVehicleColor(), "Dark Blue");
    EXPECT_EQ(reopened.getWorld(), "Shopping Mall");
    EXPECT_EQ(reopened.getValue("speed-scale"), "0.700000");
    EXPECT_FLOAT_EQ(reopened.getSpeedScale(), 0.7f);
    EXPECT_FLOAT_EQ(reopened.getAxisOffset(), 0.25f);
}

TEST(UserSettingsPersistence, FreshObjectAfterMissingFile_WritesTheFileOnFirstSet) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("users/dan");
    UserSettings settings;
    settings.setUser("dan");
    settings.setSpeedScale(1.0f);
    settings.setAxisOffset(-0.75f);
    UserSettings reopened("dan");
    EXPECT_EQ(reopened.getValue("speed-scale"), "1.000000");
    EXPECT_EQ(reopened.getValue("axis-offset"), "-0.750000");
    EXPECT_EQ(reopened.values().size(), 2u);
}

} // namespace
