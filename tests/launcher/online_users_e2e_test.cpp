// Drive Online end to end for the users the server treats apart: the guest, who logs in with
// the shared password whatever the password field holds and sends no data files, and a user
// whose name and password hold blanks, quotes, brackets, braces and dollar signs, which reach
// the server, the shared world and the data folder exactly as typed. And the Online Users list,
// which follows another launcher's login and logout without anyone pressing Update.
#include "online_fixture.h"

#include <QTest>
#include <QTimer>

namespace launcher_test {
namespace {

using OnlineUsersTest = OnlineTest;

TEST_F(OnlineUsersTest, Guest_LogsInWithTheSharedPasswordDrivesAndSendsNoFiles) {
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    std::vector<std::string> listed;
    int opened = DriveOnline("Guest", "", [&](platform::HWND setup) {
        listed = OnlineUsers(setup);
        Drive(setup);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(listed, std::vector<std::string>{"guest (not driving)"});
    EXPECT_EQ(HomeFiles("users/guest").size(), 1u); // the drive's data stays here
    EXPECT_TRUE(ServerFiles("guest").empty());
    EXPECT_FALSE(log.Contains("net::sendfile returned"));
}

TEST_F(OnlineUsersTest, NameAndPasswordWithScriptCharacters_ArriveAsTyped) {
    const std::string name = "Zo\xC3\xAB {O'Neil} [$x] \"q\";";
    const std::string password = "p {w} [$y] \"z\" \\ ;";
    ASSERT_NO_FATAL_FAILURE(MakeUser(name, password));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_TRUE(probe->JoinWorld("watcher", "Park"));

    std::vector<std::string> listedBefore, listedAfter;
    bool sawChair = false;
    int opened = DriveOnline(name, password, [&](platform::HWND setup) {
        listedBefore = OnlineUsers(setup);
        for (int i = 0; i < platform::ComboBoxGetCount(setup, IDC_SETUP_WORLD); ++i) {
            if (platform::ComboBoxGetText(setup, IDC_SETUP_WORLD, i) == "Park") {
                platform::ComboBoxSetCurSel(setup, IDC_SETUP_WORLD, i);
                platform::SendCommand(setup, IDC_SETUP_WORLD, platform::CBN_SELCHANGE);
            }
        }
        // The watcher sees the chair under the name as typed.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            for (plPeerAvatar* peer : PeerAvatars(probe->Kernel()))
                if (peer->userName == name)
                    sawChair = true;
        });
        watch.start(20);
        Drive(setup);
        listedAfter = OnlineUsers(setup);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(Listed(listedBefore, name + " (not driving)"));
    EXPECT_TRUE(Listed(listedAfter, name + " (not driving)"));
    EXPECT_TRUE(sawChair);
    // The account has exactly the password typed, and the drive's file is in the user's
    // folder on the server, as sent.
    EXPECT_EQ(probe->LoginReply(name, password + "x"), '3');
    EXPECT_EQ(probe->LoginReply(name, password), '0');
    const auto onServer = ServerFiles(name);
    EXPECT_EQ(onServer.size(), 1u);
    EXPECT_EQ(onServer, HomeFiles("users/" + name + "/sent"));
}

TEST_F(OnlineUsersTest, AnotherLaunchersLoginAndLogout_ShowInTheListWithoutUpdate) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("alice", "alice-secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_TRUE(probe->CreateAccount("visitor", "visitor-secret"));

    std::vector<std::string> opening, whileIn, afterOut, afterUpdate;
    bool listed = false, unlisted = false;
    int opened = DriveOnline("alice", "alice-secret", [&](platform::HWND setup) {
        opening = OnlineUsers(setup);
        // The other launcher logs in; nobody touches this window.
        EXPECT_EQ(probe->Run("net::login visitor visitor-secret").substr(0, 1), "0");
        listed = QTest::qWaitFor(
            [&] { return Listed(OnlineUsers(setup), "visitor (not driving)"); }, 10000);
        whileIn = OnlineUsers(setup);
        EXPECT_EQ(probe->Run("net::logout").substr(0, 1), "0");
        unlisted = QTest::qWaitFor(
            [&] { return !Listed(OnlineUsers(setup), "visitor (not driving)"); }, 10000);
        afterOut = OnlineUsers(setup);
        // Update still works as before.
        platform::SendCommand(setup, IDC_SETUP_UPDATE, platform::BN_CLICKED);
        afterUpdate = OnlineUsers(setup);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(opening, std::vector<std::string>{"alice (not driving)"});
    EXPECT_TRUE(listed) << "the other launcher's login never showed";
    EXPECT_EQ(whileIn, (std::vector<std::string>{"alice (not driving)", "visitor (not driving)"}));
    EXPECT_TRUE(unlisted) << "the other launcher's logout never showed";
    EXPECT_EQ(afterOut, std::vector<std::string>{"alice (not driving)"});
    EXPECT_EQ(afterUpdate, std::vector<std::string>{"alice (not driving)"});
    EXPECT_FALSE(log.Contains("ERROR"));
}

} // namespace
} // namespace launcher_test
