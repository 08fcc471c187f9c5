// The machine-wide settings: defaults when the file is missing, no defaults merged into a file
// that loads, booleans, the resolution split and values kept for the next run.
#include "settings/global_settings.h"

#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using settings_test::HomeAsCurrentDirectory;

std::string FileWith(const std::map<std::string, std::string>& values) {
    return PersistentSettings::Serialize(values);
}

TEST(GlobalSettingsMissingFile, Construction_LogsAndGivesEveryDefault) {
    HomeAsCurrentDirectory cwd;
    fakes::LogRecorder log;
    GlobalSettings settings("globalSettings");
    EXPECT_EQ(log.Count("Unable to load global settings file: globalSettings\n"), 1);
    EXPECT_EQ(settings.getServerName(), GlobalSettings::kDefaultServerName);
    EXPECT_EQ(settings.getServerPort(), "3152");
    EXPECT_EQ(settings.getResolution(), "1024x768");
    EXPECT_EQ(settings.getScreenWidth(), "1024");
    EXPECT_EQ(settings.getScreenHeight(), "768");
    EXPECT_EQ(settings.getGfxServerType(), "Direct3D");
    EXPECT_EQ(settings.getBitsPerPixel(), "32");
    EXPECT_TRUE(settings.useFullscreen());
    EXPECT_EQ(settings.getState(), "");
    EXPECT_EQ(settings.getOrganization(), "");
    EXPECT_EQ(settings.getVantorDataId(), "");
    EXPECT_FALSE(settings.useHeadTracker());
    EXPECT_TRUE(settings.soundEnabled());
    EXPECT_FALSE(settings.voipEnabled());
    EXPECT_EQ(settings.getUserName(), "guest");
    EXPECT_EQ(settings.getDriveMode(), "offline");
    EXPECT_EQ(settings.values().size(), 14u);
}

TEST(GlobalSettingsMissingFile, Defaults_AreWrittenAndLoadNextRunWithoutTheLogLine) {
    HomeAsCurrentDirectory cwd;
    { GlobalSettings first("globalSettings"); }
    fakes::LogRecorder log;
    GlobalSettings second("globalSettings");
    EXPECT_FALSE(log.Contains("Unable to load global settings file"));
    EXPECT_EQ(second.getValue("use-fullscreen"), "true");
    EXPECT_EQ(second.getValue("use-head-tracker"), "false");
    EXPECT_EQ(second.getValue("state"), "");
    EXPECT_EQ(second.values().size(), 14u);
}

TEST(GlobalSettingsLoadedFile, MissingKeys_ReadEmptyOrFalseWithoutDefaults) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("globalSettings", FileWith({{"server-name", "sim.example.org"}}));
    fakes::LogRecorder log;
    GlobalSettings settings("globalSettings");
    EXPECT_FALSE(log.Contains("Unable to load"));
    EXPECT_EQ(settings.getServerName(), "sim.example.org");
    EXPECT_FALSE(settings.useFullscreen());
    EXPECT_FALSE(settings.soundEnabled());
    EXPECT_EQ(settings.getServerPort(), "");
    EXPECT_EQ(settings.getUserName(), "");
    EXPECT_EQ(settings.getScreenWidth(), "");
    EXPECT_EQ(settings.values().size(), 1u);
}

TEST(GlobalSettingsLoadedFile, UnparsableFile_ThrowsNonZeroCodeWithoutDefaults) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("globalSettings", "# Pelora settings\nresolution=1024x768\ngarbage\n");
    fakes::LogRecorder log;
    std::unique_ptr<GlobalSettings> settings;
    try {
        settings = std::make_unique<GlobalSettings>("globalSettings");
        FAIL() << "construction did not throw";
    } catch (const FileException& e) {
        EXPECT_NE(e.getCode(), 0);
        EXPECT_NE(e.getMessage().find("globalSettings, line 3"), std::string::npos)
            << e.getMessage();
    }
    EXPECT_FALSE(log.Contains("Unable to load global settings file"));
    EXPECT_EQ(cwd.home.ReadFile("globalSettings"),
              "# Pelora settings\nresolution=1024x768\ngarbage\n");
}

TEST(GlobalSettingsBooleans, OnlyExactTrue_ReadsTrue) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("globalSettings", FileWith({{"use-fullscreen", "True"},
                                                   {"sound-enabled", "1"},
                                                   {"voip-enabled", "true "},
                                                   {"use-head-tracker", "true"}}));
    GlobalSettings settings("globalSettings");
    EXPECT_FALSE(settings.useFullscreen());
    EXPECT_FALSE(settings.soundEnabled());
    EXPECT_FALSE(settings.voipEnabled());
    EXPECT_TRUE(settings.useHeadTracker());
}

TEST(GlobalSettingsBooleans, Setters_StoreTrueAndFalseTexts) {
    HomeAsCurrentDirectory cwd;
    GlobalSettings settings("globalSettings");
    settings.setUseHeadTracker(true);
    EXPECT_EQ(settings.getValue("use-head-tracker"), "true");
    EXPECT_TRUE(settings.useHeadTracker());
    settings.setVoipEnabled(true);
    settings.setUseFullscreen(false);
    settings.setSoundEnabled(false);
    EXPECT_EQ(settings.getValue("use-fullscreen"), "false");
    EXPECT_EQ(settings.getValue("sound-enabled"), "false");

    GlobalSettings nextRun("globalSettings");
    EXPECT_TRUE(nextRun.useHeadTracker());
    EXPECT_TRUE(nextRun.voipEnabled());
    EXPECT_FALSE(nextRun.useFullscreen());
    EXPECT_FALSE(nextRun.soundEnabled());
}

TEST(GlobalSettingsResolution, Split_AtTheFirstLowerCaseX) {
    struct Case {
        std::string resolution, width, height;
    };
    const Case cases[] = {
        {"640x480x2", "640", "480x2"},
        {"1280", "1280", "1280"},
        {"1024X768", "1024X768", "1024X768"},
        {"x600", "", "600"},
        {"800x", "800", ""},
        {"", "", ""},
    };
    HomeAsCurrentDirectory cwd;
    GlobalSettings settings("globalSettings");
    for (const Case& c : cases) {
        settings.setResolution(c.resolution);
        EXPECT_EQ(settings.getResolution(), c.resolution);
        EXPECT_EQ(settings.getScreenWidth(), c.width) << c.resolution;
        EXPECT_EQ(settings.getScreenHeight(), c.height) << c.resolution;
    }
}

TEST(GlobalSettingsTexts, EverySetter_WritesItsOwnKeyForTheNextRun) {
    HomeAsCurrentDirectory cwd;
    {
        GlobalSettings settings("globalSettings");
        settings.setServerName("host.example");
        settings.setServerPort("4000");
        settings.setGfxServerType("OpenGL");
        settings.setBitsPerPixel("16");
        settings.setState("Ohio");
        settings.setOrganization("Rehab = Centre\n2");
        settings.setVantorDataId("id-7");
        settings.setUserName("J\xc3\xb6rg");
        settings.setDriveMode("online");
    }
    GlobalSettings nextRun("globalSettings");
    EXPECT_EQ(nextRun.getValue("server-name"), "host.example");
    EXPECT_EQ(nextRun.getValue("server-port"), "4000");
    EXPECT_EQ(nextRun.getValue("gfx-server-type"), "OpenGL");
    EXPECT_EQ(nextRun.getValue("bits-per-pixel"), "16");
    EXPECT_EQ(nextRun.getValue("state"), "Ohio");
    EXPECT_EQ(nextRun.getValue("organization"), "Rehab = Centre\n2");
    EXPECT_EQ(nextRun.getValue("vantor-data-id"), "id-7");
    EXPECT_EQ(nextRun.getValue("user-name"), "J\xc3\xb6rg");
    EXPECT_EQ(nextRun.getValue("drive-mode"), "online");
    EXPECT_EQ(nextRun.getOrganization(), "Rehab = Centre\n2");
    EXPECT_EQ(nextRun.getDriveMode(), "online");
    EXPECT_EQ(nextRun.getUserName(), "J\xc3\xb6rg");
}

TEST(GlobalSettingsTexts, EmptyUserName_IsKeptEmpty) {
    HomeAsCurrentDirectory cwd;
    {
        GlobalSettings settings("globalSettings");
        settings.setUserName("");
    }
    GlobalSettings nextRun("globalSettings");
    EXPECT_EQ(nextRun.getUserName(), "");
    EXPECT_EQ(nextRun.values().count("user-name"), 1u);
}

} // namespace
