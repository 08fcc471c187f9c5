// Drive Online end to end, the drive half: an online drive joins the shared world (a user
// already there sees the chair arrive and move) and leaves it, the next drive of the same
// stay joins again, and each drive's data file, sealed to the server's key, reaches the
// server's data folder byte for byte and opens there; a server stopped during a drive gives
// the Network Error box and the Login window, and the next Drive Online, once the server is
// back on its port, sends what was left behind; a server lost while the user prepares a drive
// is found when Drive is pressed.
#include "online_fixture.h"

#include <QTimer>

#include <csignal>
#include <set>

namespace launcher_test {
namespace {

constexpr int kSealBytes = 48; // what sealing adds to a file

class OnlineDrive : public OnlineTest {
protected:
    // Chooses `world` in the User Setup window's list as the user would.
    static void ChooseWorld(platform::HWND setup, const std::string& world) {
        for (int i = 0; i < platform::ComboBoxGetCount(setup, IDC_SETUP_WORLD); ++i) {
            if (platform::ComboBoxGetText(setup, IDC_SETUP_WORLD, i) == world) {
                platform::ComboBoxSetCurSel(setup, IDC_SETUP_WORLD, i);
                platform::SendCommand(setup, IDC_SETUP_WORLD, platform::CBN_SELCHANGE);
            }
        }
        ASSERT_EQ(std::string(g_state.worldName), world);
    }

    // What `pelora-server --open-data` makes of the files the server received: the opened
    // files of `user`, name to bytes.
    std::map<std::string, std::string> OpenedOnServer(const std::string& user) {
        ScratchFolder opened;
        int code = -1;
        std::string said = ServerPrints(
            {"--data-dir", serverData.path().string(), "--open-data", (opened / "out").string()},
            &code);
        EXPECT_EQ(code, 0) << said;
        std::map<std::string, std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(opened / "out" / user, ec))
            files[entry.path().filename().string()] = ReadBytes(entry.path());
        return files;
    }

    // Every data file the server holds for `user` is, byte for byte, one the launcher moved
    // into the user's sent/ folder, and none is left in the user's folder.
    void ExpectAllSent(const std::string& user, size_t count) {
        const auto onServer = ServerFiles(user);
        const auto sent = HomeFiles("users/" + user + "/sent");
        EXPECT_EQ(onServer.size(), count);
        EXPECT_EQ(onServer, sent);
        EXPECT_TRUE(HomeFiles("users/" + user).empty());
        for (const auto& [name, bytes] : onServer) {
            EXPECT_EQ(name.rfind("data-", 0), 0u) << name;
            EXPECT_NE(name.find(".sealed"), std::string::npos) << name;
        }
    }
};

TEST_F(OnlineDrive, TwoDrives_JoinAndLeaveTheSharedWorldAndTheSealedDataReachesTheServer) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    ASSERT_TRUE(probe->JoinWorld("watcher", "Park"));

    // Where the watcher saw ann's chair, per drive, and in which colour.
    std::vector<std::set<std::string>> annSeenAt;
    std::string annColour;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (plPeerAvatar* peer : PeerAvatars(probe->Kernel())) {
            std::string position;
            peer->Call("getposition", {}, position);
            if (peer->userName == "ann" && !position.empty()) {
                annColour = peer->colour;
                annSeenAt.back().insert(position);
            }
        }
    });
    auto watchedDrive = [&](platform::HWND setup) {
        annSeenAt.emplace_back();
        watch.start(20);
        Drive(setup);
        watch.stop();
    };

    std::vector<std::string> listedBefore, listedAfter;
    std::string colour;
    int opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        ASSERT_NO_FATAL_FAILURE(ChooseWorld(setup, "Park"));
        colour = g_state.vehicleColor;
        listedBefore = OnlineUsers(setup);
        watchedDrive(setup);
        listedAfter = OnlineUsers(setup); // renewed after the leave
        watchedDrive(setup);              // the same stay joins again
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(listedBefore, (std::vector<std::string>{"ann (not driving)", "watcher (Park)"}));
    EXPECT_EQ(listedAfter, listedBefore);
    // In each drive the watcher saw the chair in its colour at more than one place, and after
    // the leave sees it no more.
    EXPECT_EQ(annColour, colour);
    ASSERT_EQ(annSeenAt.size(), 2u);
    EXPECT_GE(annSeenAt[0].size(), 2u);
    EXPECT_GE(annSeenAt[1].size(), 2u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return PeerAvatars(probe->Kernel()).empty(); }, 3000));

    // Each drive's file went sealed and arrived whole; opened with the server's key it is the
    // drive, in Park, with the watcher noted as there.
    ASSERT_NO_FATAL_FAILURE(ExpectAllSent("ann", 2));
    const auto sealed = ServerFiles("ann");
    const auto plain = OpenedOnServer("ann");
    ASSERT_EQ(plain.size(), 2u);
    for (const auto& [name, text] : plain) {
        ASSERT_EQ(sealed.count(name + ".sealed"), 1u) << name;
        EXPECT_EQ(sealed.at(name + ".sealed").size(), text.size() + kSealBytes);
        EXPECT_NE(text.find("user=ann\n"), std::string::npos) << text;
        EXPECT_NE(text.find("world=Park\n"), std::string::npos) << text;
        EXPECT_NE(text.find("others=1\nother=watcher\n"), std::string::npos) << text;
    }
}

TEST_F(OnlineDrive, ServerStoppedDuringDrive_NetworkErrorThenNextDriveOnlineSendsWhatWasLeft) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    const int port = server.Port();

    platform::HWND firstSetup = nullptr;
    int opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        firstSetup = setup;
        // Stopped as its owner stops it; the drive goes on meanwhile.
        QTimer::singleShot(500, [&] { ::kill(server.Pid(), SIGTERM); });
        Drive(setup); // the failed leave ends the window
    });

    EXPECT_EQ(opened, 1);
    EXPECT_EQ(server.Stop(), 0); // it had ended cleanly
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kLostConnection);
    EXPECT_EQ(boxes.boxes[0].caption, "Network Error");
    EXPECT_EQ(boxes.boxes[0].flags, unsigned(platform::MB_ICONERROR));
    EXPECT_EQ(boxes.boxes[0].owner, firstSetup);
    // Back at the Login window, which waits for the next login.
    EXPECT_EQ(g_state.setupWindow, nullptr);
    EXPECT_EQ(g_state.userSettings, nullptr);
    EXPECT_FALSE(LoginBusy());
    EXPECT_FALSE(platform::IsIconic(window));
    EXPECT_TRUE(platform::IsWindowVisible(platform::GetDlgItem(window, IDC_DRIVE_ONLINE)));
    const std::string state = RunScript("return $net::state");
    EXPECT_NE(state, "online");
    EXPECT_NE(state, "connected");
    // The drive's data stayed on this machine.
    const auto left = HomeFiles("users/ann");
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left.begin()->first.find(".sealed"), std::string::npos);
    EXPECT_TRUE(ServerFiles("ann").empty());

    // The server is back on its port with its data; the next Drive Online reconnects, logs
    // in (the account is still there) and, after a drive, both drives' files are on the server.
    ASSERT_NO_FATAL_FAILURE(StartServer(port));
    boxes.boxes.clear();
    opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        Drive(setup);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(g_state.createUserSent, 0);
    ASSERT_NO_FATAL_FAILURE(ExpectAllSent("ann", 2));
    EXPECT_EQ(ServerFiles("ann").count(left.begin()->first), 1u);
    EXPECT_EQ(ServerFiles("ann")[left.begin()->first], left.begin()->second);
}

TEST_F(OnlineDrive, ServerStoppedWhileInUserSetup_DriveGivesNetworkErrorAndDoesNotDrive) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    platform::HWND setupWindow = nullptr;
    bool lostSeen = false;
    int opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        setupWindow = setup;
        ::kill(server.Pid(), SIGTERM);
        lostSeen =
            QTest::qWaitFor([&] { return RunScript("return $net::state") != "online"; }, 5000);
        Drive(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(lostSeen);
    EXPECT_EQ(server.Stop(), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text, kLostConnection);
    EXPECT_EQ(boxes.boxes[0].caption, "Network Error");
    EXPECT_EQ(boxes.boxes[0].owner, setupWindow);
    EXPECT_EQ(g_state.setupWindow, nullptr);
    EXPECT_EQ(g_state.userSettings, nullptr);
    EXPECT_FALSE(LoginBusy());
    EXPECT_FALSE(log.Contains("Drive started"));
    EXPECT_TRUE(HomeFiles("users/ann").empty());
}

} // namespace
} // namespace launcher_test
