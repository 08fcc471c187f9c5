// One user's settings: the file under users/<name>, the defaults of the two wheelchair
// adjustments, number formats and values that survive closing and reopening.
#include "settings/user_settings.h"

#include "settings_test_support.h"

#include <gtest/gtest.h>

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

TEST(UserSettingsFile, UnparsableFile_ThrowsNonZeroCode) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("users/bob/userSettings", "gender=male\nnonsense\n");
    try {
        UserSettings settings("bob");
        FAIL() << "construction did not throw";
    } catch (const FileException& e) {
        EXPECT_NE(e.getCode(), 0);
        EXPECT_NE(e.getMessage().find("users/bob/userSettings, line 2"), std::string::npos)
            << e.getMessage();
    }
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
