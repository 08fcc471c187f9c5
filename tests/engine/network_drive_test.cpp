// Online drives against a real pelora-server: while one user drives, the other sees the chair
// arrive where it went; the drive view draws the other users in their colours and stops
// drawing one who leaves; the drive's data file names who else was in the world.
#include "network_server_fixture.h"

#include "data_server.h"
#include "drive.h"
#include "drive_hud.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class NetworkDrive : public NetworkServerFixture {
protected:
    void SetUp() override {
        NetworkServerFixture::SetUp();
        plLandmarkInformation::resetForTesting();
        home.WriteFile("worlds/Yard/meshes/layout.txt", "name The Yard\nsize 20 10\nstart 2 5 0\n");
        kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes").c_str());
        Run("new nworld /usr/share/scene/world; /usr/share/scene/world.load meshes:layout.txt; "
            "new nobserver /observer");
    }
    void TearDown() override {
        SetDriveDisplayForTesting(-1);
        plLandmarkInformation::resetForTesting();
        NetworkServerFixture::TearDown();
    }
    // The figures of the last drive of the observer at /observer.
    const DriveFigures& LastDriveFigures() const {
        return dynamic_cast<nObserver&>(*kernel->Lookup("/observer")).LastFigures();
    }

    // Ann and bob logged in and in the world Park, bob standing at (12, 5).
    void BothInTheWorld(OtherEngine& bob) {
        ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
        bob.LogIn("bob");
        Run("net::setJoinVars Park chair Red female; /sys/network.start");
        ASSERT_EQ(Run("net::infoPositions").substr(0, 1), "0");
        bob.Run("net::setJoinVars Park chair Blue male; /sys/network.start");
        ASSERT_EQ(bob.Run("net::infoPositions").substr(0, 1), "0");
        bob.Run("/sys/network.setposition 12 5 180");
        ASSERT_TRUE(WaitFor([&] { return Seen(kernel.get(), "bob") == "12.000 5.000 180.0"; }));
    }

    // Where the kernel's peer avatar of `name` was last placed ("" when none).
    static std::string Seen(nKernelServer* kernel, const std::string& name) {
        std::string position;
        for (plPeerAvatar* peer : PeerAvatars(kernel))
            if (peer->userName == name)
                peer->Call("getposition", {}, position);
        return position;
    }

    static QWidget* DriveWindow() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == "Pelora - The Yard")
                return w;
        return nullptr;
    }
    // Pixels of the pure blue of bob's seat in the drive window.
    static int BluePixels() {
        QWidget* window = DriveWindow();
        if (!window)
            return -1;
        QImage image = window->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                QColor c = image.pixelColor(x, y);
                count += c.blue() > 220 && c.red() < 40 && c.green() < 40;
            }
        return count;
    }
};

TEST_F(NetworkDrive, OnlineDrive_TheOtherSeesWhereTheChairWentAndTheDataFileNamesThem) {
    OtherEngine bob(server.Port());
    ASSERT_NO_FATAL_FAILURE(BothInTheWorld(bob));
    SetDriveDisplayForTesting(0);
    auto* data = dynamic_cast<plDataServer*>(kernel->New("pldata", "/sys/servers/data"));
    ASSERT_NE(data, nullptr);
    data->SetUserName("ann");
    data->RefreshUser();
    data->SetDriveWorld("Yard");
    data->BeginDrive();
    Run("/observer.setautodrive 3; /observer.start");
    data->EndDrive();
    data->SaveDriveData();

    std::string end = Run("/sys/network.getposition");
    EXPECT_NE(end, "2.000 5.000 0.0"); // the chair moved
    EXPECT_TRUE(WaitFor([&] { return Seen(bob.Kernel(), "ann") == end; }))
        << Seen(bob.Kernel(), "ann") << " vs " << end;
    EXPECT_EQ(LastDriveFigures().others, std::vector<std::string>{"bob"});
    std::string text =
        home.ReadFile("users/ann/" + fs::path(data->LastDataFile()).filename().string());
    EXPECT_NE(text.find("others=1\nother=bob\n"), std::string::npos) << text;
}

TEST_F(NetworkDrive, DriveView_DrawsTheOtherInItsColourUntilTheyLeave) {
    OtherEngine bob(server.Port());
    ASSERT_NO_FATAL_FAILURE(BothInTheWorld(bob));
    SetDriveDisplayForTesting(1);
    int blueWhileThere = -1, blueAfterLeaving = -1;
    std::string annSeenEarly;
    QTimer::singleShot(400, [&] {
        blueWhileThere = BluePixels();
        annSeenEarly = Seen(bob.Kernel(), "ann");
        bob.Run("net::leave");
    });
    QTimer::singleShot(1200, [&] { blueAfterLeaving = BluePixels(); });
    Run("/observer.setsummary false; /observer.setautodrive 1.6; /observer.start");

    EXPECT_GT(blueWhileThere, 20);
    EXPECT_EQ(blueAfterLeaving, 0);
    // While ann drove, her position reached bob a few times a second: the place he saw her at
    // early in the drive was already away from the start, and not yet the end.
    EXPECT_NE(annSeenEarly, "");
    EXPECT_NE(annSeenEarly, "2.000 5.000 0.0");
    EXPECT_NE(annSeenEarly, Run("/sys/network.getposition"));
}

TEST_F(NetworkDrive, ServerLostDuringADrive_StateSaysSoWhenTheDriveEnds) {
    OtherEngine bob(server.Port());
    ASSERT_NO_FATAL_FAILURE(BothInTheWorld(bob));
    SetDriveDisplayForTesting(1);
    QTimer::singleShot(300, [&] { SignalServer(SIGKILL); });
    Run("/observer.setsummary false; /observer.setautodrive 1.2; /observer.start");
    EXPECT_EQ(State(), "lost");
    EXPECT_TRUE(PeerAvatars(kernel.get()).empty());
    EXPECT_NE(Run("net::leave").substr(0, 1), "0");
}

TEST_F(NetworkDrive, ServerLostDuringADrive_TheHudSaysSoWhileTheDriveGoesOn) {
    OtherEngine bob(server.Port());
    ASSERT_NO_FATAL_FAILURE(BothInTheWorld(bob));
    SetDriveDisplayForTesting(1);
    bool online = false, killed = false, told = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* window = DriveWindow();
        if (!window)
            return;
        std::string hud = window->accessibleDescription().toStdString();
        if (!killed && hud.find("Server: online.") != std::string::npos) {
            online = true;
            killed = true;
            SignalServer(SIGKILL);
        } else if (killed && hud.find(kConnectionLostText) != std::string::npos && !told) {
            told = true;
            QTest::keyClick(window, Qt::Key_Escape); // the drive went on until now
        }
    });
    poll.start(20);
    Run("/observer.setsummary false; /observer.setautodrive 20; /observer.start");
    EXPECT_TRUE(online);
    EXPECT_TRUE(told);
    EXPECT_EQ(State(), "lost");
}

} // namespace
