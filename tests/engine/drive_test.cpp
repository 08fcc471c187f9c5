// The drive: layout files, the wheelchair simulation (movement, walls, landmarks, speed and
// axis), whole drives through "nworld" and "/observer.start" with and without a window, and
// the default home's scripts, vehicles and worlds driven end to end.
#include "autopilot.h"
#include "drive.h"
#include "drive_simulation.h"
#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"
#include "peer_avatars.h"
#include "scene_objects.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// An empty 20 x 10 floor, start in the middle of the west side facing east.
const char* const kOpenRoom = "name Open Room\nsize 20 10\nstart 2 5 0\n";

WorldLayout Parse(const std::string& text) {
    WorldLayout layout;
    std::string error;
    EXPECT_TRUE(ParseWorldLayout(text, layout, error)) << error;
    return layout;
}

std::string ParseError(const std::string& text) {
    WorldLayout layout;
    std::string error;
    EXPECT_FALSE(ParseWorldLayout(text, layout, error));
    return error;
}

} // namespace

// ---- layout files -------------------------------------------------------------------------

TEST(WorldLayoutFile, FullLayout_ReadsEveryItem) {
    auto layout = Parse("# a test world\n"
                        "name Shopping Street  \n"
                        "size 30 12.5\n"
                        "start 1.5 6 90   # facing south\n"
                        "wall 0 4 10 4\n"
                        "box 12 2 3 1\n"
                        "landmark 25 3 1.2 Book shop\n");
    EXPECT_EQ(layout.name, "Shopping Street");
    EXPECT_DOUBLE_EQ(layout.width, 30);
    EXPECT_DOUBLE_EQ(layout.depth, 12.5);
    EXPECT_DOUBLE_EQ(layout.start.x, 1.5);
    EXPECT_DOUBLE_EQ(layout.startHeading, 90);
    ASSERT_EQ(layout.walls.size(), 5u); // one wall and the four sides of the box
    EXPECT_DOUBLE_EQ(layout.walls[2].a.x, 15);
    EXPECT_DOUBLE_EQ(layout.walls[2].a.y, 2);
    ASSERT_EQ(layout.landmarks.size(), 1u);
    EXPECT_EQ(layout.landmarks[0].name, "Book shop");
    EXPECT_DOUBLE_EQ(layout.landmarks[0].radius, 1.2);
}

TEST(WorldLayoutFile, BadLines_NameTheLineAndTheFault) {
    EXPECT_EQ(ParseError("size 10 10\nstart 1 1 0\ntree 3 3\n"), "line 3: unknown item 'tree'");
    EXPECT_EQ(ParseError("size 10 10\nstart 1 1 0\nwall 1 2 3\n"),
              "line 3: wall needs x1 y1 x2 y2");
    EXPECT_EQ(ParseError("size 10 10\nstart 1 1 0\nwall 1 2 3 4x\n"),
              "line 3: wall needs x1 y1 x2 y2");
    EXPECT_EQ(ParseError("size 10 -1\n"), "line 1: size needs a positive width and depth");
    EXPECT_EQ(ParseError("size 10 10\nstart 1 1 0 9\n"), "line 2: unexpected '9'");
    EXPECT_EQ(ParseError("size 10 10\nstart 1 1 0\nlandmark 1 1 2\n"),
              "line 3: landmark without a name");
}

TEST(WorldLayoutFile, MissingOrMisplacedStart_IsRefused) {
    EXPECT_EQ(ParseError("size 10 10\n"), "line 0: no start given");
    EXPECT_EQ(ParseError("start 1 1 0\n"), "line 0: no size given");
    EXPECT_EQ(ParseError("size 10 10\nstart 11 1 0\n"), "line 0: the start lies outside the floor");
}

// ---- simulation ---------------------------------------------------------------------------

TEST(DriveSimulationMoves, ForwardInOpenRoom_CoversSpeedTimesTime) {
    DriveSimulation sim(Parse(kOpenRoom), 1.0, 0.0);
    sim.Advance(2.0, {1.0, 0.0});
    EXPECT_NEAR(sim.Distance(), 2.0 * DriveSimulation::kTopSpeed, 1e-6);
    EXPECT_NEAR(sim.Centre().x, 2.0 + 2.0 * DriveSimulation::kTopSpeed, 1e-6);
    EXPECT_NEAR(sim.Centre().y, 5.0, 1e-6);
    EXPECT_NEAR(sim.Elapsed(), 2.0, 1e-9);
    EXPECT_EQ(sim.Collisions(), 0);
}

TEST(DriveSimulationMoves, SpeedScale_ScalesTheDistance) {
    DriveSimulation full(Parse(kOpenRoom), 1.0, 0.0);
    DriveSimulation slow(Parse(kOpenRoom), 0.5, 0.0);
    full.Advance(3.0, {1.0, 0.0});
    slow.Advance(3.0, {1.0, 0.0});
    ASSERT_GT(full.Distance(), 0.0);
    EXPECT_NEAR(slow.Distance() / full.Distance(), 0.5, 1e-6);
}

TEST(DriveSimulationMoves, RightTurn_TurnsClockwiseAtTheTurnRate) {
    DriveSimulation sim(Parse(kOpenRoom), 1.0, 0.0);
    sim.Advance(1.0, {0.0, 1.0});
    EXPECT_NEAR(sim.Heading(), DriveSimulation::kTurnRate, 1e-6);
    sim.Advance(1.0, {1.0, 0.0}); // now facing south: y grows
    EXPECT_NEAR(sim.Centre().y, 5.0 + DriveSimulation::kTopSpeed, 1e-6);
}

TEST(DriveSimulationMoves, AxisBehindSeat_TurningOnTheSpotSwingsTheSeat) {
    DriveSimulation centred(Parse(kOpenRoom), 1.0, 0.0);
    DriveSimulation rearAxis(Parse(kOpenRoom), 1.0, -1.0);
    centred.Advance(1.0, {0.0, 1.0});
    rearAxis.Advance(1.0, {0.0, 1.0});
    EXPECT_NEAR(centred.Centre().x, 2.0, 1e-6);
    EXPECT_NEAR(centred.Centre().y, 5.0, 1e-6);
    // A quarter turn about an axis one foot behind the seat moves the seat back and south.
    EXPECT_NEAR(rearAxis.Centre().x, 2.0 - DriveSimulation::kFeetToMetres, 1e-6);
    EXPECT_NEAR(rearAxis.Centre().y, 5.0 + DriveSimulation::kFeetToMetres, 1e-6);
}

TEST(DriveSimulationWalls, DrivingIntoWall_StopsAndCountsOneCollisionPerContact) {
    DriveSimulation sim(Parse("size 20 10\nstart 2 5 0\nwall 5 0 5 10\n"), 1.0, 0.0);
    sim.Advance(5.0, {1.0, 0.0});
    EXPECT_EQ(sim.Collisions(), 1);
    EXPECT_TRUE(sim.Touching());
    EXPECT_LE(sim.Centre().x, 5.0 - DriveSimulation::kChairRadius);
    EXPECT_GT(sim.Centre().x, 4.0);
    double stoppedAt = sim.Centre().x;

    sim.Advance(1.0, {1.0, 0.0}); // pressing on
    EXPECT_EQ(sim.Collisions(), 1);
    EXPECT_DOUBLE_EQ(sim.Centre().x, stoppedAt);

    sim.Advance(1.0, {-1.0, 0.0}); // back off, then into the wall again
    EXPECT_FALSE(sim.Touching());
    sim.Advance(2.0, {1.0, 0.0});
    EXPECT_EQ(sim.Collisions(), 2);
}

TEST(DriveSimulationWalls, FloorEdge_IsAWall) {
    DriveSimulation sim(Parse("size 4 4\nstart 2 2 180\n"), 1.0, 0.0);
    sim.Advance(4.0, {1.0, 0.0});
    EXPECT_EQ(sim.Collisions(), 1);
    EXPECT_NEAR(sim.Centre().x, DriveSimulation::kChairRadius, 0.06);
}

TEST(DriveSimulationRecord, StepsAreSampledAndCollisionsAndLandmarksKeptWithTimeAndPlace) {
    DriveSimulation sim(Parse("size 20 10\nstart 2 5 0\nlandmark 4 5 0.5 Fountain\n"
                              "wall 8 0 8 10\n"),
                        1.0, 0.0);
    sim.Advance(6.0, {1.0, 0.0});
    drive_record::Record record = sim.Record();
    // The start, then every tenth of a second of the six.
    ASSERT_EQ(record.samples.size(), 61u);
    EXPECT_DOUBLE_EQ(record.samples[0].time, 0.0);
    EXPECT_DOUBLE_EQ(record.samples[0].x, 2.0);
    EXPECT_NEAR(record.samples[10].time, 1.0, 1e-6);
    EXPECT_NEAR(record.samples[10].x, 3.5, 1e-6);
    EXPECT_NEAR(record.samples[10].speed, DriveSimulation::kTopSpeed, 1e-6);
    EXPECT_DOUBLE_EQ(record.samples[10].forward, 1.0);
    EXPECT_DOUBLE_EQ(record.samples.back().speed, 0.0); // against the wall
    ASSERT_EQ(record.hits.size(), 1u);
    EXPECT_EQ(record.hits[0].what, "wall 0");
    EXPECT_NEAR(record.hits[0].x, 8.0 - DriveSimulation::kChairRadius, 0.06);
    EXPECT_NEAR(record.hits[0].time, (8.0 - DriveSimulation::kChairRadius - 2.0) / 1.5, 0.05);
    ASSERT_EQ(record.reaches.size(), 1u);
    EXPECT_EQ(record.reaches[0].landmark, "Fountain");
    EXPECT_NEAR(record.reaches[0].time, (4.0 - 0.5 - DriveSimulation::kChairRadius - 2.0) / 1.5,
                0.05);
}

TEST(DriveSimulationLandmarks, PassingALandmark_ReportsItOnce) {
    DriveSimulation sim(Parse("size 20 10\nstart 2 5 0\nlandmark 6 5 0.5 Fountain\n"
                              "landmark 6 9 0.5 Far away\n"),
                        1.0, 0.0);
    auto first = sim.Advance(3.0, {1.0, 0.0});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0], "Fountain");
    EXPECT_TRUE(sim.Advance(1.0, {-1.0, 0.0}).empty());
    EXPECT_TRUE(sim.Advance(1.0, {1.0, 0.0}).empty());
    EXPECT_EQ(sim.LandmarksReached(), std::vector<std::string>{"Fountain"});
    EXPECT_FALSE(sim.HasReached("Far away"));
}

// Thousands of landmarks on one spot, half of them sharing names: one step reaches them all,
// each name once and in layout order, and a name reached elsewhere later is not new.
TEST(DriveSimulationLandmarks, ManyOverlappingAndRepeatedNames_EachNameReachedOnce) {
    std::string layout = "size 20 10\nstart 2 5 0\n";
    std::vector<std::string> names;
    for (int i = 0; i < 20000; ++i) {
        std::string name = "spot " + std::to_string(i % 10000);
        layout += "landmark 2 5 1 " + name + "\n";
        if (i < 10000)
            names.push_back(name);
    }
    layout += "landmark 10 5 0.5 spot 7\n";
    DriveSimulation sim(Parse(layout), 1.0, 0.0);
    EXPECT_EQ(sim.Advance(DriveSimulation::kStep, {}), names);
    EXPECT_EQ(sim.LandmarksReached(), names);
    EXPECT_TRUE(sim.Advance(8.0, {1.0, 0.0}).empty()); // past "spot 7" again
    EXPECT_TRUE(sim.HasReached("spot 9999"));
    EXPECT_FALSE(sim.HasReached("spot 10000"));
}

TEST(DriveSimulationAutoPilot, WallAhead_TurnsAwayAndDrivesOn) {
    DriveSimulation sim(Parse("size 20 10\nstart 2 5 0\nwall 5 0 5 10\n"), 1.0, 0.0);
    AutoPilot pilot;
    for (int i = 0; i < 6 * 30; ++i)
        sim.Advance(DriveSimulation::kStep, pilot.Next(sim, DriveSimulation::kStep));
    EXPECT_GE(sim.Collisions(), 1);
    EXPECT_GT(sim.Centre().y, 5.5); // turned right (south) and went on
}

// ---- whole drives -------------------------------------------------------------------------

class DriveRun : public ::testing::Test {
protected:
    void SetUp() override {
        SetDriveDisplayForTesting(0);
        plLandmarkInformation::resetForTesting();
        home.WriteFile("worlds/Yard/meshes/layout.txt",
                       "name The Yard\nsize 20 10\nstart 2 5 0\nwall 12 0 12 10\n"
                       "landmark 6 5 0.5 Gate\n");
        kernel = NewRuntimeKernel();
        kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes").c_str());
        observer = dynamic_cast<nObserver*>(kernel->New("nobserver", "/observer"));
        ASSERT_NE(observer, nullptr);
    }
    void TearDown() override {
        SetDriveDisplayForTesting(-1);
        plLandmarkInformation::resetForTesting();
    }

    nWorld* LoadWorld() {
        auto* world = dynamic_cast<nWorld*>(kernel->New("nworld", "/usr/share/scene/world"));
        EXPECT_NE(world, nullptr);
        std::string result;
        EXPECT_EQ(world->Call("load", {"meshes:layout.txt"}, result), nCallStatus::Ok) << result;
        return world;
    }

    // The figures of the last drive of the observer at /observer.
    const DriveFigures& LastDriveFigures() const {
        return dynamic_cast<nObserver&>(*kernel->Lookup("/observer")).LastFigures();
    }

    nCallStatus Observer(const std::string& method, std::vector<std::string> args = {}) {
        last.clear();
        return observer->Call(method, args, last);
    }

    fakes::TempHome home;
    fakes::LogRecorder log;
    std::unique_ptr<nKernelServer> kernel;
    nObserver* observer = nullptr;
    std::string last;
};

TEST_F(DriveRun, HeadlessStart_EndsByItselfAndReportsItsFigures) {
    auto* world = LoadWorld();
    ASSERT_EQ(world->Call("setname", {"Back", "Yard"}, last), nCallStatus::Ok);
    auto* landmarks = plLandmarkInformation::getInstance(kernel.get(), "ann");
    landmarks->setCurrentWorld("Yard");

    ASSERT_EQ(Observer("start"), nCallStatus::Ok) << last;

    const DriveFigures& figures = LastDriveFigures();
    EXPECT_EQ(figures.sequence, 1);
    EXPECT_EQ(figures.world, "Back Yard");
    EXPECT_EQ(figures.durationSeconds, 3);
    EXPECT_EQ(figures.endTime - figures.startTime, 3);
    EXPECT_NEAR(figures.distanceMetres, 3 * DriveSimulation::kTopSpeed, 1e-6);
    EXPECT_EQ(figures.collisions, 0);
    EXPECT_EQ(figures.landmarks, std::vector<std::string>{"Gate"});
    EXPECT_EQ(landmarks->reached().at("Yard"), std::vector<std::string>{"Gate"});
    EXPECT_TRUE(log.Contains("Landmark reached: Gate"));
}

TEST_F(DriveRun, SelfDrivingLengthFromScript_HoldsForOneDrive) {
    LoadWorld();
    ASSERT_EQ(Observer("setautodrive", {"8"}), nCallStatus::Ok);
    ASSERT_EQ(Observer("start"), nCallStatus::Ok);
    EXPECT_EQ(LastDriveFigures().durationSeconds, 8);
    EXPECT_EQ(LastDriveFigures().collisions, 1); // the wall at x = 12
    ASSERT_EQ(Observer("getautodrive"), nCallStatus::Ok);
    EXPECT_EQ(last, "0");

    ASSERT_EQ(Observer("start"), nCallStatus::Ok);
    EXPECT_EQ(LastDriveFigures().sequence, 2);
    EXPECT_EQ(LastDriveFigures().durationSeconds, 3);
}

TEST_F(DriveRun, SpeedScaleFromScript_ChangesTheDistance) {
    LoadWorld();
    ASSERT_EQ(Observer("setspeed", {"0.5"}), nCallStatus::Ok);
    ASSERT_EQ(Observer("start"), nCallStatus::Ok);
    double slow = LastDriveFigures().distanceMetres;
    ASSERT_EQ(Observer("setspeed", {"1.2"}), nCallStatus::Ok);
    ASSERT_EQ(Observer("start"), nCallStatus::Ok);
    double fast = LastDriveFigures().distanceMetres;
    ASSERT_GT(slow, 0.0);
    EXPECT_NEAR(fast / slow, 1.2 / 0.5, 1e-6);
}

TEST_F(DriveRun, BadSettings_AreScriptErrorsAndChangeNothing) {
    EXPECT_EQ(Observer("setspeed", {"fast"}), nCallStatus::Error);
    EXPECT_NE(last.find("setspeed"), std::string::npos);
    EXPECT_EQ(Observer("setspeed", {"-1"}), nCallStatus::Error);
    EXPECT_EQ(Observer("setaxis", {}), nCallStatus::Error);
    EXPECT_EQ(Observer("setlevel", {"2.5"}), nCallStatus::Error);
    EXPECT_EQ(Observer("setautodrive", {"1e9"}), nCallStatus::Error);
    EXPECT_EQ(Observer("setsummary", {"no"}), nCallStatus::Error);
    EXPECT_TRUE(observer->showSummary);
    EXPECT_DOUBLE_EQ(observer->speedScale, 1.0);
    EXPECT_DOUBLE_EQ(observer->autoDriveSeconds, 0.0);

    ASSERT_EQ(Observer("setaxis", {"0.25"}), nCallStatus::Ok);
    ASSERT_EQ(Observer("setlevel", {"4"}), nCallStatus::Ok);
    EXPECT_DOUBLE_EQ(observer->axisOffset, 0.25);
    EXPECT_EQ(observer->level, 4);
}

TEST_F(DriveRun, NoWorldLoaded_StartFailsWithoutFigures) {
    EXPECT_EQ(Observer("start"), nCallStatus::Error);
    EXPECT_NE(last.find("no world loaded"), std::string::npos);
    EXPECT_EQ(LastDriveFigures().sequence, 0);
}

TEST_F(DriveRun, MissingOrBadLayout_LoadFailsNamingTheFile) {
    auto* world = dynamic_cast<nWorld*>(kernel->New("nworld", "/usr/share/scene/world"));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->Call("load", {"meshes:nothing.txt"}, last), nCallStatus::Error);
    EXPECT_NE(last.find("nothing.txt"), std::string::npos);
    home.WriteFile("worlds/Yard/meshes/bad.txt", "size 5 5\nstart 1 1 0\nstairs\n");
    EXPECT_EQ(world->Call("load", {"meshes:bad.txt"}, last), nCallStatus::Error);
    EXPECT_NE(last.find("line 3"), std::string::npos);
    EXPECT_FALSE(world->IsLoaded());

    ASSERT_EQ(mkfifo((home / "worlds/Yard/meshes/fifo.txt").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program
    EXPECT_EQ(world->Call("load", {"meshes:fifo.txt"}, last), nCallStatus::Error);
    alarm(0);
    EXPECT_NE(last.find("fifo.txt"), std::string::npos);
}

TEST_F(DriveRun, WindowedSelfDrive_ShowsTheWorldAndEndsByItself) {
    SetDriveDisplayForTesting(1);
    LoadWorld();
    ASSERT_EQ(Observer("setsummary", {"false"}), nCallStatus::Ok); // the end: drive_view_test
    bool sawWindow = false;
    QTimer::singleShot(50, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            sawWindow |= w->isVisible() && w->windowTitle() == "Pelora - The Yard";
    });
    ASSERT_EQ(Observer("setautodrive", {"0.3"}), nCallStatus::Ok);
    ASSERT_EQ(Observer("start"), nCallStatus::Ok) << last;
    EXPECT_TRUE(sawWindow);
    EXPECT_EQ(LastDriveFigures().sequence, 1);
    EXPECT_GT(LastDriveFigures().distanceMetres, 0.0);
}

TEST_F(DriveRun, WindowedDrive_EscapeLeavesTheWorld) {
    SetDriveDisplayForTesting(1);
    LoadWorld();
    ASSERT_EQ(Observer("setsummary", {"false"}), nCallStatus::Ok);
    QTimer::singleShot(100, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == "Pelora - The Yard")
                QTest::keyClick(w, Qt::Key_Escape);
        }
    });
    ASSERT_EQ(Observer("start"), nCallStatus::Ok) << last;
    EXPECT_EQ(LastDriveFigures().sequence, 1);
    EXPECT_EQ(LastDriveFigures().distanceMetres, 0.0); // no key was pressed to drive
}

// ---- the default home's scripts, avatars and worlds --------------------------------------

namespace {

class DefaultHome : public ::testing::Test {
protected:
    void SetUp() override {
        SetDriveDisplayForTesting(0);
        std::filesystem::copy(std::filesystem::path(PELORA_SOURCE_DIR) / "home", home.path(),
                              std::filesystem::copy_options::recursive);
        kernel = NewRuntimeKernel();
        script = dynamic_cast<nScriptServer*>(kernel->New("ntclserver", "/sys/servers/script"));
        ASSERT_NE(script, nullptr);
        std::filesystem::current_path(home.path());
        std::string result;
        ASSERT_TRUE(script->RunScript("apps/pelox/scripts/startup.tcl", result)) << result;
    }
    void TearDown() override { SetDriveDisplayForTesting(-1); }
    // The figures of the last drive of the observer at /observer.
    const DriveFigures& LastDriveFigures() const {
        return dynamic_cast<nObserver&>(*kernel->Lookup("/observer")).LastFigures();
    }

    std::string Run(const std::string& command) {
        std::string result;
        EXPECT_TRUE(script->RunCommand(command.c_str(), result)) << command << ": " << result;
        return result;
    }
    std::vector<std::string> Folders(const std::string& relative) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(home / relative))
            if (entry.is_directory())
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fakes::TempHome home;
    fakes::LogRecorder log;
    std::unique_ptr<nKernelServer> kernel;
    nScriptServer* script = nullptr;
};

// Bits per pixel of a BMP file (0 when it is no BMP).
int BmpDepth(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    char header[30] = {};
    if (!in.read(header, sizeof header) || header[0] != 'B' || header[1] != 'M')
        return 0;
    return (unsigned char)header[28] | ((unsigned char)header[29] << 8);
}

} // namespace

TEST_F(DefaultHome, StartupScript_MakesObserverAndSkillProceduresReachIt) {
    auto* observer = dynamic_cast<nObserver*>(kernel->Lookup("/observer"));
    ASSERT_NE(observer, nullptr);
    EXPECT_NE(
        dynamic_cast<zuwLabel*>(kernel->Lookup("/usr/share/gui/helpwindow/lbl_main_title/widget")),
        nullptr);
    Run("skill::set_level 3 false");
    Run("skill::set_speed 0.800000");
    Run("set_avatar_center -0.750000");
    EXPECT_EQ(observer->level, 3);
    EXPECT_DOUBLE_EQ(observer->speedScale, 0.8);
    EXPECT_DOUBLE_EQ(observer->axisOffset, -0.75);
    EXPECT_TRUE(log.Contains("startup.tcl"));
    Run("source scripts:audio.tcl");
    Run("source scripts:intertrax.tcl");
    EXPECT_TRUE(log.Contains("audio.tcl: sound enabled"));
    EXPECT_TRUE(log.Contains("intertrax.tcl:"));
}

TEST_F(DefaultHome, EveryVehicle_BuildsItsModelAndHasSixThumbnails) {
    auto vehicles = Folders("avatars");
    ASSERT_GE(vehicles.size(), 3u);
    for (const auto& vehicle : vehicles) {
        SCOPED_TRACE(vehicle);
        Run("new n3dnode /usr/share/scene/avmodel");
        Run("sel /usr/share/scene/avmodel");
        std::filesystem::current_path(home / ("avatars/" + vehicle));
        std::string result;
        ASSERT_TRUE(script->RunScript("avatar.tcl", result)) << result;
        EXPECT_NE(dynamic_cast<nMaterialNode*>(
                      kernel->Lookup("/usr/share/scene/avmodel/matlib/dynamic_color")),
                  nullptr);
        EXPECT_NE(dynamic_cast<zuwLabel*>(
                      kernel->Lookup("/usr/share/scene/avmodel/labelnode/flip/label")),
                  nullptr);
        int shapes = 0;
        for (nRoot* child : kernel->Lookup("/usr/share/scene/avmodel")->GetChildren())
            if (auto* node = dynamic_cast<nTransformNode*>(child))
                shapes += !node->GetShape().empty();
        EXPECT_GE(shapes, 3);
        for (const char* colour : {"Red", "Orange", "Yellow", "Green", "Blue", "Violet"})
            EXPECT_EQ(BmpDepth(home / ("avatars/" + vehicle + "/thumbs/" + colour + ".bmp")), 24)
                << colour;
        Run("delete /usr/share/scene/avmodel");
    }
}

TEST_F(DefaultHome, EveryWorld_LoadsDrivesAndClearsAway) {
    auto worlds = Folders("worlds");
    ASSERT_GE(worlds.size(), 5u);
    std::set<int> difficulties;
    Run("new n3dnode /usr/share/scene/avmodel");
    for (const auto& world : worlds) {
        SCOPED_TRACE(world);
        difficulties.insert(std::atoi(home.ReadFile("worlds/" + world + "/difficulty").c_str()));
        EXPECT_EQ(BmpDepth(home / ("worlds/" + world + "/thumb.bmp")), 24);

        std::filesystem::current_path(home / ("worlds/" + world));
        kernel->fileServer->DefineAssign("meshes",
                                         (home / ("worlds/" + world + "/meshes")).c_str());
        std::string result;
        ASSERT_TRUE(script->RunScript("go.tcl", result)) << result;
        auto* loaded = dynamic_cast<nWorld*>(kernel->Lookup("/usr/share/scene/world"));
        ASSERT_NE(loaded, nullptr);
        ASSERT_TRUE(loaded->IsLoaded());
        EXPECT_GE(loaded->Layout().landmarks.size(), 2u);

        // The start leaves room to turn on the spot.
        DriveSimulation sim(loaded->Layout(), 1.0, 0.0);
        sim.Advance(0.2, {0.0, 1.0});
        EXPECT_NE(sim.Heading(), loaded->Layout().startHeading);

        int before = LastDriveFigures().sequence;
        Run("/observer.start");
        EXPECT_EQ(LastDriveFigures().sequence, before + 1);
        EXPECT_EQ(LastDriveFigures().world, loaded->DisplayName());

        std::filesystem::current_path(home.path());
        ASSERT_TRUE(script->RunScript("scripts:clear.tcl", result)) << result;
        if (std::filesystem::exists(home / ("worlds/" + world + "/clear.tcl"))) {
            ASSERT_TRUE(script->RunScript(("worlds:" + world + "/clear.tcl").c_str(), result))
                << result;
        }
        EXPECT_EQ(kernel->Lookup("/usr/share/scene/world"), nullptr);
        EXPECT_EQ(kernel->Lookup("/usr/share/scene/departures"), nullptr);
        EXPECT_NE(kernel->Lookup("/usr/share/scene/avmodel"), nullptr);
    }
    EXPECT_EQ(difficulties, (std::set<int>{1, 2, 3, 4, 5}));
}

TEST_F(DriveRun, WindowedDrive_ArrowKeyDrivesForward) {
    SetDriveDisplayForTesting(1);
    LoadWorld();
    ASSERT_EQ(Observer("setsummary", {"false"}), nCallStatus::Ok);
    auto driveWindow = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->windowTitle() == "Pelora - The Yard")
                return w;
        }
        return static_cast<QWidget*>(nullptr);
    };
    QTimer::singleShot(50, [&] {
        if (QWidget* w = driveWindow())
            QTest::keyPress(w, Qt::Key_Up);
    });
    QTimer::singleShot(400, [&] {
        if (QWidget* w = driveWindow()) {
            QTest::keyRelease(w, Qt::Key_Up);
            QTest::keyClick(w, Qt::Key_Escape);
        }
    });
    ASSERT_EQ(Observer("start"), nCallStatus::Ok) << last;
    EXPECT_GT(LastDriveFigures().distanceMetres, 0.0);
    EXPECT_EQ(LastDriveFigures().collisions, 0);
}

TEST_F(DriveRun, SetJoystick_KeepsTheUsersChoicesAndTheDefaultForABadOne) {
    ASSERT_EQ(Observer("setjoystick", {"0.25", "true", "", "1"}), nCallStatus::Ok) << last;
    EXPECT_DOUBLE_EQ(observer->stick.deadZone, 0.25);
    EXPECT_TRUE(observer->stick.swapAxes);
    EXPECT_FALSE(observer->stick.invertForward);
    EXPECT_TRUE(observer->stick.invertTurn);

    ASSERT_EQ(Observer("setjoystick", {"lots", "", "", ""}), nCallStatus::Ok) << last;
    EXPECT_DOUBLE_EQ(observer->stick.deadZone, 0.15);
    EXPECT_TRUE(log.Contains("WARN: joystick setting joystick-dead-zone 'lots'"));

    EXPECT_EQ(Observer("setjoystick", {"1", "2", "3", "4", "5"}), nCallStatus::Error);
}

TEST_F(DriveRun, SharedWorldWithAChairOnTheStart_StartsBesideIt) {
    LoadWorld();
    kernel->New("nroot", "/usr/share/scene/peers");
    auto* peer =
        dynamic_cast<plPeerAvatar*>(kernel->New("plpeeravatar", "/usr/share/scene/peers/7"));
    ASSERT_NE(peer, nullptr);
    peer->motion.Add({2, 5, 0}, 1.0, 0); // standing on the start
    ASSERT_EQ(Observer("setautodrive", {"0.1"}), nCallStatus::Ok);
    ASSERT_EQ(Observer("start"), nCallStatus::Ok) << last;
    double x = 0, y = 0;
    int found = 0;
    for (const auto& line : log.lines)
        found += std::sscanf(line.c_str(), "Drive started in The Yard (self-driving) at %lf %lf",
                             &x, &y) == 2;
    ASSERT_EQ(found, 1);
    EXPECT_GE(std::hypot(x - 2, y - 5), kSpawnSpacing - 1e-9) << x << " " << y;
    EXPECT_LE(std::hypot(x - 2, y - 5), 2 * kSpawnSpacing) << x << " " << y;
}
