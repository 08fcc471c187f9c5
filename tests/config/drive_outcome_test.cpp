// Whether a world run counts as a drive run to its end, which is what a quick start's exit
// code reports: the engine must have run the drive and, online, the leave must have kept the
// connection. Every earlier way out leaves the mark cleared.
#include "world_run_fixture.h"

namespace worldrun_test {
namespace {

class DriveOutcome : public DriveFixture {
protected:
    // A previous run's mark, so that a run which stops early is seen to clear it.
    bool CompletedAfter(std::function<void()> prepare) {
        g_state.driveCompleted = 1;
        if (prepare)
            prepare();
        InSetupWindow([] { startWorld(); });
        return g_state.driveCompleted != 0;
    }
};

TEST_F(DriveOutcome, OfflineDriveToTheEnd_Completed) {
    g_state.driveCompleted = 0;
    InSetupWindow([] { startWorld(); });
    EXPECT_NE(Index("command /observer.start"), -1);
    EXPECT_EQ(g_state.driveCompleted, 1);
}

TEST_F(DriveOutcome, OnlineDriveWithLeave_Completed) {
    script->answers["return $net::state"] = "online";
    script->answers["net::leave"] = "0";
    g_state.online = 1;
    InSetupWindow([] { startWorld(); });
    EXPECT_EQ(g_state.driveCompleted, 1);
}

TEST_F(DriveOutcome, RunsStoppedBeforeTheDrive_NotCompleted) {
    EXPECT_FALSE(CompletedAfter([this] { script->answers["file exists go.tcl"] = "0"; }));
    EXPECT_FALSE(CompletedAfter([] { CopyName(g_state.worldName, "nowhere"); }));
    CopyName(g_state.worldName, kWorld);
    EXPECT_FALSE(CompletedAfter([] { CopyName(g_state.vehicleType, "nothing"); }));
    CopyName(g_state.vehicleType, kVehicle);
    EXPECT_FALSE(CompletedAfter([this] {
        g_state.online = 1;
        script->answers["return $net::state"] = "offline";
    }));
    EXPECT_EQ(Index("command /observer.start"), -1);
}

TEST_F(DriveOutcome, NoScriptServer_NotCompleted) {
    g_state.scriptServer = nullptr;
    EXPECT_FALSE(CompletedAfter(nullptr));
}

TEST_F(DriveOutcome, LeaveFailsAfterTheDrive_NotCompleted) {
    g_state.userSettings = new RecordedUserSettings;
    EXPECT_FALSE(CompletedAfter([this] {
        g_state.online = 1;
        script->answers["return $net::state"] = "online";
        script->answers["net::leave"] = "1";
    }));
    EXPECT_NE(Index("command /observer.start"), -1);
    EXPECT_EQ(g_state.setupWindow, nullptr);
}

// On the engine's own script server a world whose go.tcl loads nothing cannot be driven:
// "/observer.start" fails, and the run says so instead of counting as a drive.
class DriveOutcomeRealTcl : public DriveFixture {
protected:
    DriveOutcomeRealTcl() { realScriptServer = true; }
};

TEST_F(DriveOutcomeRealTcl, EngineRefusesTheDrive_NotCompleted) {
    ASSERT_NE(g_state.scriptServer, nullptr);
    std::string result;
    g_state.scriptServer->RunCommand("new nobserver /observer", result);
    g_state.driveCompleted = 1;
    InSetupWindow([] { startWorld(); });
    EXPECT_EQ(g_state.driveCompleted, 0);

    EXPECT_FALSE(g_state.scriptServer->RunCommand("/observer.start", result));
    EXPECT_NE(result.find("no world loaded"), std::string::npos) << result;
}

} // namespace
} // namespace worldrun_test
