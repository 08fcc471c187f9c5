// The world run against the recording fakes: the order of its steps, the network and data
// server variants, its failure returns, the clear scripts, and the join's script words on the
// real Tcl server.
#include "world_run_fixture.h"

#include <map>

namespace worldrun_test {
namespace {

using WorldRun = DriveFixture;

const char* const kServerLostText =
    "There was a problem with the network connection. \nYou will have to login again.";

// What the launcher state looked like when a command arrived.
struct Seen {
    std::string cwd;
    int inWorld = -1;
    bool setupVisible = false;
};

class WorldRunSteps : public WorldRun {
protected:
    // Notes the state at every command; `answer` may give a result.
    void Watch(std::function<bool(const std::string&, std::string&)> answer = nullptr) {
        Answer([this, answer](const std::string& command, std::string& result) {
            seen[command] = {Cwd(), g_state.inWorld,
                             platform::IsWindowVisible(g_state.setupWindow)};
            if (answer && answer(command, result))
                return true;
            auto it = script->answers.find(command);
            if (it == script->answers.end())
                return false;
            result = it->second;
            return true;
        });
    }
    std::string Folder(const std::string& relative) const {
        return Canonical(home.path() / relative);
    }
    std::map<std::string, Seen> seen;
};

TEST_F(WorldRunSteps, OfflineDrive_RunsEveryStepInOrderWithoutNetworkSteps) {
    UseDataServer();
    data->level = 3;
    script->answers["file exists go.tcl"] = "1";
    Watch();
    int inWorldAtTime = -1;
    WatchedDataServer::watch = [&](const std::string& call) {
        if (call == "GetTime")
            inWorldAtTime = g_state.inWorld;
    };
    std::string levelLabel;
    bool visibleAfter = false;
    int code = InSetupWindow([&] {
        startWorld();
        levelLabel = platform::GetDlgItemText(g_state.setupWindow, IDC_SETUP_LEVEL, 127);
        visibleAfter = platform::IsWindowVisible(g_state.setupWindow);
    });

    EXPECT_EQ(code, 0);
    EXPECT_TRUE(boxes->boxes.empty());
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.Count("\n\n**** startWorld()   user: alice   world: park\n"), 1);
    const std::vector<std::string> order = {"command skill::set_level 3 false",
                                            "data SetDriveWorld park",
                                            "data BeginDrive",
                                            "command new n3dnode /usr/share/scene/avmodel",
                                            "command file exists go.tcl",
                                            "script go.tcl",
                                            "command /observer.start",
                                            "command /sys/servers/gfx.closedisplay",
                                            "data EndDrive",
                                            "data SaveDriveData",
                                            "data EncryptData",
                                            "data GetTime",
                                            "script scripts:clear.tcl"};
    int previous = -1;
    for (const auto& step : order) {
        int at = Index(step);
        EXPECT_GT(at, previous) << step;
        previous = at;
    }
    for (const char* absent :
         {"command return $net::state", "data SetOnline true", "command /sys/network.start",
          "command net::infoPositions", "data SendData", "command net::leave"})
        EXPECT_EQ(Index(absent), -1) << absent;
    EXPECT_EQ(IndexStarting("command net::setJoinVars"), -1);
    EXPECT_EQ(levelLabel, "3");

    EXPECT_EQ(seen["new n3dnode /usr/share/scene/avmodel"].cwd, Folder("avatars/chair"));
    EXPECT_EQ(seen["file exists go.tcl"].cwd, Folder("worlds/park"));
    EXPECT_EQ(seen["/observer.start"].cwd, homeFolder);
    EXPECT_EQ(Cwd(), homeFolder);
    EXPECT_EQ(kernel->fileServer->GetAssign("meshes"),
              pathate(kernel.get(), "worlds:park/meshes/"));
    auto* current = dynamic_cast<nEnv*>(kernel->Lookup("/usr/share/scene/currentworld"));
    ASSERT_NE(current, nullptr);
    EXPECT_STREQ(current->GetString(), "park");

    EXPECT_EQ(seen["file exists go.tcl"].inWorld, 0);
    EXPECT_EQ(seen["/observer.start"].inWorld, 1);
    EXPECT_EQ(seen["/sys/servers/gfx.closedisplay"].inWorld, 1);
    EXPECT_EQ(inWorldAtTime, 1);
    EXPECT_EQ(g_state.inWorld, 0);

    EXPECT_TRUE(setupVisibleAtStart);
    EXPECT_FALSE(seen["file exists go.tcl"].setupVisible);
    EXPECT_FALSE(seen["/observer.start"].setupVisible);
    EXPECT_TRUE(visibleAfter);
}

TEST_F(WorldRunSteps, OnlineDrive_JoinsBeforeAndLeavesAfterTheDrive) {
    UseDataServer();
    script->answers["return $net::state"] = "online";
    script->answers["net::leave"] = "0";
    Watch();
    std::map<std::string, std::vector<std::string>> progressAt;
    std::map<std::string, int> inWorldAt;
    WatchedDataServer::watch = [&](const std::string& call) {
        progressAt[call] = ProgressTexts();
        inWorldAt[call] = g_state.inWorld;
    };
    g_state.online = 1;
    InSetupWindow([] { startWorld(); });

    const std::vector<std::string> order = {"command return $net::state",
                                            "data BeginDrive",
                                            "command file exists go.tcl",
                                            "data SetOnline true",
                                            "command net::setJoinVars park chair Red female",
                                            "command /sys/network.start",
                                            "command net::infoPositions",
                                            "command /observer.start",
                                            "data SendData",
                                            "command net::leave",
                                            "script scripts:clear.tcl"};
    int previous = -1;
    for (const auto& step : order) {
        int at = Index(step);
        EXPECT_GT(at, previous) << step;
        previous = at;
    }
    EXPECT_EQ(inWorldAt["SetOnline"], 0);
    EXPECT_EQ(seen["net::leave"].inWorld, 0);
    EXPECT_TRUE(Contains(progressAt["SaveDriveData"], "Saving settings..."));
    EXPECT_TRUE(Contains(progressAt["EncryptData"], "Encrypting data..."));
    EXPECT_FALSE(Contains(progressAt["EncryptData"], "Saving settings..."));
    EXPECT_TRUE(Contains(progressAt["SendData"], "Sending files to server..."));
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(WorldRunSteps, NoDataServer_SendsNoLevelAndShowsOnlySavingSettings) {
    script->answers["return $net::state"] = "online";
    std::vector<std::string> progressAtLeave;
    Watch([&](const std::string& command, std::string& result) {
        if (command != "net::leave")
            return false;
        progressAtLeave = ProgressTexts();
        result = "0";
        return true;
    });
    g_state.online = 1;
    std::string levelLabel;
    InSetupWindow([&] {
        platform::SetDlgItemText(g_state.setupWindow, IDC_SETUP_LEVEL, "7");
        startWorld();
        levelLabel = platform::GetDlgItemText(g_state.setupWindow, IDC_SETUP_LEVEL, 127);
    });

    EXPECT_EQ(IndexStarting("command skill::set_level"), -1);
    EXPECT_EQ(IndexStarting("data "), -1);
    EXPECT_NE(Index("command /observer.start"), -1);
    EXPECT_TRUE(Contains(progressAtLeave, "Saving settings..."));
    EXPECT_FALSE(Contains(progressAtLeave, "Encrypting data..."));
    EXPECT_FALSE(Contains(progressAtLeave, "Sending files to server..."));
    EXPECT_EQ(levelLabel, "7");
}

TEST_F(WorldRunSteps, JoystickSettings_ReachTheObserverAsPlainWordsBeforeTheDrive) {
    UseDataServer();
    script->answers["file exists go.tcl"] = "1";
    Watch();
    auto* settings = new RecordedUserSettings;
    settings->setUser(kUser);
    settings->setValue("joystick-dead-zone", "0.3");
    settings->setValue("joystick-swap-axes", "true]; exit {");
    g_state.userSettings = settings;
    InSetupWindow([] { startWorld(); });

    int passed = Index("command /observer.setjoystick {0.3} {trueexit} {} {}");
    EXPECT_NE(passed, -1);
    EXPECT_LT(passed, Index("command /observer.start"));
}

class WorldRunNetworkState : public WorldRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(WorldRunNetworkState, NotExactlyOnline_EndsSetupWindowWithoutStoppingNetwork) {
    UseDataServer();
    script->answers["return $net::state"] = GetParam();
    g_state.online = 1;
    g_state.userSettings = new RecordedUserSettings;
    int code = InSetupWindow([] { startWorld(); });

    EXPECT_EQ(code, 2);
    EXPECT_EQ(g_state.setupWindow, nullptr);
    EXPECT_EQ(g_state.userSettings, nullptr);
    EXPECT_NE(Index("user settings destroyed"), -1);
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, kServerLostText);
    EXPECT_EQ(boxes->boxes[0].caption, "Network Error");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_ICONERROR));
    EXPECT_EQ(script->commands, std::vector<std::string>{"return $net::state"});
    EXPECT_EQ(IndexStarting("data "), -1);
}

INSTANTIATE_TEST_SUITE_P(Lost, WorldRunNetworkState,
                         ::testing::Values("Online", "online ", " online", "", "offline"));

TEST_F(WorldRun, NetworkStateExactlyOnline_Drives) {
    script->answers["return $net::state"] = "online";
    script->answers["net::leave"] = "0";
    g_state.online = 1;
    int code = InSetupWindow([] { startWorld(); });
    EXPECT_EQ(code, 0);
    EXPECT_NE(Index("command /observer.start"), -1);
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(WorldRunSteps, GoTclMissing_ShowsMessageLogsAndReturnsToTheSetupWindow) {
    UseDataServer();
    script->answers["file exists go.tcl"] = "0";
    Watch();
    bool visibleAfter = false;
    int code = InSetupWindow([&] {
        startWorld();
        visibleAfter = platform::IsWindowVisible(g_state.setupWindow);
    });

    const std::string text = "Error loading world \"park\": Can't find \"go.tcl\"";
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, text);
    EXPECT_EQ(boxes->boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(log.Count("ERROR \\nebula\\code\\src\\pelox\\config/520: " + text + "\n"), 1);
    EXPECT_EQ(Index("script go.tcl"), -1);
    EXPECT_EQ(Index("command /observer.start"), -1);
    EXPECT_EQ(Index("script scripts:clear.tcl"), -1);
    EXPECT_FALSE(seen["file exists go.tcl"].setupVisible);
    EXPECT_TRUE(visibleAfter);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Cwd(), homeFolder);
    EXPECT_EQ(g_state.inWorld, 0);
}

class WorldRunGoTclResult : public WorldRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(WorldRunGoTclResult, AnythingButZero_RunsGoTcl) {
    script->answers["file exists go.tcl"] = GetParam();
    InSetupWindow([] { startWorld(); });
    EXPECT_NE(Index("script go.tcl"), -1);
    EXPECT_NE(Index("command /observer.start"), -1);
    EXPECT_TRUE(boxes->boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Present, WorldRunGoTclResult,
                         ::testing::Values("1", "", "00", "0 ", "invalid command name \"file\""));

TEST_F(WorldRun, WorldWithoutClearScript_RunsOnlyTheCommonOne) {
    InSetupWindow([] { startWorld(); });
    EXPECT_EQ(script->scripts,
              (std::vector<std::string>{"avatar.tcl", "go.tcl", "scripts:clear.tcl"}));
}

TEST_F(WorldRun, WorldWithClearScript_RunsItAfterTheCommonOne) {
    home.WriteFile("worlds/park/clear.tcl", "# clear\n");
    InSetupWindow([] { startWorld(); });
    ASSERT_EQ(script->scripts.size(), 4u);
    EXPECT_EQ(script->scripts[2], "scripts:clear.tcl");
    EXPECT_EQ(Canonical(script->scripts[3]), Canonical(home.path() / "worlds/park/clear.tcl"));
}

TEST_F(WorldRun, WorldFolderMissing_ShowsMessageAndReturnsHome) {
    UseDataServer();
    CopyName(g_state.worldName, "nowhere");
    bool visibleAfter = false;
    InSetupWindow([&] {
        startWorld();
        visibleAfter = platform::IsWindowVisible(g_state.setupWindow);
    });
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, "Error loading world \"nowhere\"");
    EXPECT_EQ(boxes->boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(Cwd(), homeFolder);
    EXPECT_TRUE(visibleAfter);
    EXPECT_NE(Index("data BeginDrive"), -1);
    EXPECT_NE(Index("command new n3dnode /usr/share/scene/avmodel"), -1);
    EXPECT_EQ(Index("command file exists go.tcl"), -1);
    EXPECT_EQ(Index("command /observer.start"), -1);
}

TEST_F(WorldRun, NoScriptServer_ShowsMessageAndChangesNothing) {
    UseDataServer();
    g_state.scriptServer = nullptr;
    InSetupWindow([] { startWorld(); });
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, "Can't start world, script server is down.");
    EXPECT_EQ(boxes->boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(IndexStarting("data "), -1);
    EXPECT_TRUE(script->commands.empty());
}

TEST_F(WorldRun, AvatarFolderMissing_EndsTheRunBeforeTheWorld) {
    UseDataServer();
    CopyName(g_state.vehicleType, "nothing");
    InSetupWindow([] { startWorld(); });
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, "Error loading avatar \"nothing\"");
    EXPECT_NE(Index("data BeginDrive"), -1);
    EXPECT_EQ(Index("command file exists go.tcl"), -1);
    EXPECT_EQ(kernel->Lookup("/usr/share/scene/currentworld"), nullptr);
}

TEST_F(WorldRun, QuickStart_LeavesSetupWindowHiddenAndAsksForNoSummary) {
    g_state.quickStart = 1;
    bool visibleAfter = true;
    InSetupWindow([&] {
        startWorld();
        visibleAfter = platform::IsWindowVisible(g_state.setupWindow);
    });
    int noSummary = Index("command /observer.setsummary false");
    EXPECT_NE(noSummary, -1);
    EXPECT_LT(noSummary, Index("command /observer.start"));
    EXPECT_FALSE(visibleAfter);
}

TEST_F(WorldRun, DriveFromTheWindow_LeavesTheSummaryOn) {
    InSetupWindow([] { startWorld(); });
    EXPECT_NE(Index("command /observer.start"), -1);
    EXPECT_EQ(IndexStarting("command /observer.setsummary"), -1);
}

TEST_F(WorldRun, FailedLeave_RunsClearScriptsAndClosesProgressBeforeTheWindowEnds) {
    UseDataServer();
    script->answers["return $net::state"] = "online";
    g_state.online = 1;
    g_state.userSettings = new RecordedUserSettings;
    std::vector<std::string> progressAtBox;
    platform::SetMessageBoxHook([&](const platform::MessageBoxRecord& box) {
        fakes::Record("box " + box.caption);
        progressAtBox = ProgressTexts();
        return platform::IDOK;
    });
    std::vector<std::string> progressAfter;
    int code = InSetupWindow([&] {
        startWorld();
        progressAfter = ProgressTexts();
    });

    EXPECT_EQ(code, 2);
    EXPECT_LT(Index("command net::leave"), Index("command /sys/network.stop"));
    EXPECT_LT(Index("command /sys/network.stop"), Index("box Network Error"));
    EXPECT_LT(Index("box Network Error"), Index("script scripts:clear.tcl"));
    EXPECT_TRUE(Contains(progressAtBox, "Sending files to server..."));
    EXPECT_TRUE(progressAfter.empty());
    EXPECT_EQ(IndexStarting("command net::sendfile"), -1);
    EXPECT_EQ(g_state.setupWindow, nullptr);
    EXPECT_EQ(g_state.userSettings, nullptr);
}

// The join on the real script server: each name reaches the procedure as itself.
class WorldRunRealTcl : public DriveFixture {
protected:
    WorldRunRealTcl() { realScriptServer = true; }
    std::string Run(const std::string& command) {
        std::string result;
        g_state.scriptServer->RunCommand(command.c_str(), result);
        return result;
    }
};

TEST_F(WorldRunRealTcl, NamesWithScriptCharacters_ReachSetJoinVarsAsOneWordEach) {
    ASSERT_NE(g_state.scriptServer, nullptr);
    Run("namespace eval net {}");
    Run("proc net::setJoinVars {args} {set ::got $args}");
    const std::vector<std::string> names = {"green park [set ::pwned 1]", "chair $::env(HOME)",
                                            "{Red", "fe\"male\\ }"};
    CopyName(g_state.worldName, names[0]);
    CopyName(g_state.vehicleType, names[1]);
    CopyName(g_state.vehicleColor, names[2]);
    CopyName(g_state.gender, names[3]);
    joinWorld();

    ASSERT_EQ(Run("llength $::got"), "4");
    for (size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(Run("lindex $::got " + std::to_string(i)), names[i]) << i;
    EXPECT_EQ(Run("info exists ::pwned"), "0");
}

} // namespace
} // namespace worldrun_test
