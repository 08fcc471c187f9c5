// Leaving the shared world: a confirmed leave uploads and renews the online list; any other
// result stops the network, tells the user and ends the User Setup window.
#include "world_run_fixture.h"

namespace worldrun_test {
namespace {

const char* const kLostText =
    "There was a problem with the network connection. \nYou will have to login again.";

class NetworkLeave : public DriveFixture {
protected:
    void SetUp() override {
        DriveFixture::SetUp();
        g_state.online = 1;
        home.WriteFile("users/alice/data1.txt", "drive data\n");
        script->answers["net::sendfile data1.txt alice"] = "0";
    }
};

class NetworkLeaveConfirmed : public NetworkLeave,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(NetworkLeaveConfirmed, ResultStartingWithZero_UploadsThenRefreshesTheList) {
    script->answers["net::leave"] = GetParam();
    g_state.userSettings = new RecordedUserSettings;
    int code = InSetupWindow([] { leaveWorld(); });
    EXPECT_EQ(code, 0);
    int sent = Index("command net::sendfile data1.txt alice");
    ASSERT_NE(sent, -1);
    EXPECT_LT(Index("command net::leave"), sent);
    EXPECT_LT(sent, Index("command net::infoUsers"));
    EXPECT_EQ(Index("command /sys/network.stop"), -1);
    EXPECT_TRUE(boxes->boxes.empty());
    EXPECT_NE(g_state.userSettings, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Left, NetworkLeaveConfirmed, ::testing::Values("0", "0 left", "0x"));

class NetworkLeaveLost : public NetworkLeave, public ::testing::WithParamInterface<const char*> {};

TEST_P(NetworkLeaveLost, OtherResult_StopsNetworkAndEndsTheSetupWindow) {
    script->answers["net::leave"] = GetParam();
    g_state.userSettings = new RecordedUserSettings;
    platform::HWND owner = nullptr;
    int code = InSetupWindow([&] {
        owner = g_state.setupWindow;
        leaveWorld();
    });

    EXPECT_EQ(code, 2);
    EXPECT_EQ(g_state.setupWindow, nullptr);
    EXPECT_EQ(g_state.userSettings, nullptr);
    EXPECT_NE(Index("user settings destroyed"), -1);
    ASSERT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(boxes->boxes[0].text, kLostText);
    EXPECT_EQ(boxes->boxes[0].caption, "Network Error");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_ICONERROR));
    EXPECT_EQ(boxes->boxes[0].owner, owner);
    EXPECT_LT(Index("command /sys/network.stop"), IndexStarting("box Network Error"));
    EXPECT_EQ(IndexStarting("command net::sendfile"), -1);
    EXPECT_EQ(Index("command net::infoUsers"), -1);
}

INSTANTIATE_TEST_SUITE_P(Lost, NetworkLeaveLost, ::testing::Values("", "1", "-1", " 0", "O"));

TEST_F(NetworkLeave, GuestLeaving_SendsNothingButRefreshesTheList) {
    CopyName(g_state.userName, "Guest");
    home.WriteFile("users/Guest/data1.txt", "drive data\n");
    script->answers["net::leave"] = "0";
    InSetupWindow([] { leaveWorld(); });
    EXPECT_EQ(IndexStarting("command net::sendfile"), -1);
    EXPECT_NE(Index("command net::infoUsers"), -1);
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(NetworkLeave, FailedUpload_StillRefreshesTheList) {
    script->answers["net::leave"] = "0";
    script->answers["net::sendfile data1.txt alice"] = "2 disk full";
    InSetupWindow([] { leaveWorld(); });
    EXPECT_EQ(log.Count("Error sending datafiles.  net::sendfile returned: 2 disk full"), 1);
    EXPECT_NE(Index("command net::infoUsers"), -1);
    EXPECT_TRUE(boxes->boxes.empty());
}

} // namespace
} // namespace worldrun_test
