// The drive window's end: after a drive with a window, what the drive was, shown until the
// user goes on by Enter, Escape, the button or the close box; nothing of the kind headless or
// when the launcher turns it off (a quick start); and a world whose go.tcl failed, told in the
// window and in the log.
#include "engine_fixture.h"

#include "drive.h"
#include "drive_view.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

namespace {

QWidget* DriveWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle().startsWith("Pelora - "))
            return w;
    }
    return nullptr;
}

// The end panel of the visible drive window, when it shows.
QWidget* EndPanel() {
    QWidget* window = DriveWindow();
    QWidget* panel = window ? window->findChild<QWidget*>("driveEnd") : nullptr;
    return panel && panel->isVisible() ? panel : nullptr;
}

std::string EndText(const char* name) {
    QWidget* panel = EndPanel();
    auto* label = panel ? panel->findChild<QLabel*>(name) : nullptr;
    return label ? label->text().toStdString() : "<no end panel>";
}

QPushButton* EndButton() {
    QWidget* panel = EndPanel();
    return panel ? panel->findChild<QPushButton*>("driveEndButton") : nullptr;
}

// A key pressed as the user presses it: to the widget with the keyboard focus in the drive
// window (the panel's button at the end), else to the window.
std::function<bool()> Press(Qt::Key key) {
    return [key] {
        if (QWidget* window = DriveWindow()) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClick(focus && focus->window() == window ? focus : window, key);
        }
        return true;
    };
}

std::function<bool()> UntilPanelShows() {
    return [] { return EndPanel() != nullptr; };
}

class DriveEnd : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        SetDriveDisplayForTesting(1);
        plLandmarkInformation::resetForTesting();
        home.WriteFile("worlds/Yard/meshes/layout.txt",
                       "name The Yard\nsize 20 10\nstart 2 5 0\nwall 12 0 12 10\n"
                       "landmark 4 5 0.5 Gate\nlandmark 15 5 0.5 Fountain\n");
        home.WriteFile("worlds/Yard/go.tcl", "new nworld /usr/share/scene/world\n"
                                             "/usr/share/scene/world.load meshes:layout.txt\n");
        kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes/").c_str());
        Run("new nobserver /observer");
    }
    void TearDown() override {
        SetDriveDisplayForTesting(-1);
        plLandmarkInformation::resetForTesting();
        EngineFixture::TearDown();
    }
    // The figures of the last drive of the observer at /observer.
    const DriveFigures& LastDriveFigures() const {
        return dynamic_cast<nObserver&>(*kernel->Lookup("/observer")).LastFigures();
    }

    // Runs `/observer.start` while `steps` run one after the other: a step that gives false
    // is tried again 20 ms later, one that gives true lets the next one run. Should the chain
    // stall, the drive is left and its end dismissed after 8 s, and the test fails.
    bool StartWith(std::vector<std::function<bool()>> steps) {
        size_t next = 0;
        QTimer poll, rescue;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (next < steps.size() && steps[next]())
                ++next;
        });
        QObject::connect(&rescue, &QTimer::timeout, [&] {
            ADD_FAILURE() << "the drive did not end in time, at step " << next;
            if (QWidget* window = DriveWindow()) {
                QTest::keyClick(window, Qt::Key_Escape);
                QTest::keyClick(window, Qt::Key_Return);
            }
        });
        poll.start(20);
        rescue.start(8000);
        std::string result;
        bool ok = script->RunCommand("/observer.start", result);
        lastResult = result;
        return ok;
    }

    std::string lastResult;
};

TEST_F(DriveEnd, WindowedDrive_SummaryShownAfterTheDriveUntilEnter) {
    Run("source worlds:Yard/go.tcl");
    Run("/observer.setautodrive 1.2"); // drives through Gate, then stands
    bool noPanelWhileDriving = false, startStillRunning = false, focusOnButton = false;
    std::string title, text, hint, button;
    bool ok = StartWith({
        [&] { return noPanelWhileDriving = DriveWindow() != nullptr && !EndPanel(); },
        UntilPanelShows(),
        [&] {
            startStillRunning = LastDriveFigures().sequence == 0;
            title = EndText("driveEndTitle");
            text = EndText("driveEndText");
            hint = EndText("driveEndHint");
            button = EndButton() ? EndButton()->text().toStdString() : "";
            focusOnButton = QApplication::focusWidget() == EndButton();
            return true;
        },
        Press(Qt::Key_Return),
    });
    ASSERT_TRUE(ok) << lastResult;
    EXPECT_TRUE(noPanelWhileDriving);
    EXPECT_TRUE(startStillRunning);
    EXPECT_EQ(title, "Drive finished");
    EXPECT_EQ(text, "Time: 00:00:01\nDistance: 1.8 m\nCollisions: 0\n"
                    "Landmarks reached: 1 of 2\nGate");
    EXPECT_EQ(hint, "Press Enter or Escape to go on.");
    EXPECT_EQ(button, "Continue");
    EXPECT_TRUE(focusOnButton);
    EXPECT_EQ(LastDriveFigures().sequence, 1);
    EXPECT_EQ(DriveWindow(), nullptr);
}

// Escape leaves the drive, and Escape, Space on the focused button, a click or the close box
// then goes on from the summary; until then the drive's command waits.
TEST_F(DriveEnd, EscapeButtonOrCloseBox_EachGoesOnFromTheSummary) {
    const std::vector<std::pair<std::string, std::function<bool()>>> ways = {
        {"Escape", Press(Qt::Key_Escape)},
        {"Space on the button", Press(Qt::Key_Space)},
        {"click",
         [] {
             if (QPushButton* b = EndButton())
                 QTest::mouseClick(b, Qt::LeftButton);
             return true;
         }},
        {"close box",
         [] {
             if (QWidget* w = DriveWindow())
                 w->close();
             return true;
         }},
    };
    int drives = 0;
    for (const auto& [way, goOn] : ways) {
        SCOPED_TRACE(way);
        Run("source worlds:Yard/go.tcl");
        bool waited = false;
        ASSERT_TRUE(StartWith({[] { return DriveWindow() != nullptr; }, Press(Qt::Key_Escape),
                               UntilPanelShows(),
                               [&] {
                                   waited = LastDriveFigures().sequence == drives;
                                   return true;
                               },
                               goOn}))
            << lastResult;
        EXPECT_TRUE(waited);
        EXPECT_EQ(LastDriveFigures().sequence, ++drives);
        EXPECT_EQ(DriveWindow(), nullptr);
    }
}

// The close box while driving leaves the drive; the summary then shows in the same window.
TEST_F(DriveEnd, CloseBoxWhileDriving_LeavesAndShowsTheSummary) {
    Run("source worlds:Yard/go.tcl");
    bool summary = false;
    ASSERT_TRUE(StartWith({[] { return DriveWindow() != nullptr; },
                           [] {
                               DriveWindow()->close();
                               return true;
                           },
                           UntilPanelShows(),
                           [&] {
                               summary = EndText("driveEndTitle") == "Drive finished";
                               return true;
                           },
                           Press(Qt::Key_Escape)}))
        << lastResult;
    EXPECT_TRUE(summary);
}

TEST_F(DriveEnd, SummaryTurnedOff_DriveEndsWithoutPanelOrWait) {
    Run("source worlds:Yard/go.tcl");
    Run("/observer.setsummary false");
    bool panelSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { panelSeen |= EndPanel() != nullptr; });
    watch.start(5);
    ASSERT_TRUE(StartWith({[] { return DriveWindow() != nullptr; }, Press(Qt::Key_Escape)}))
        << lastResult;
    watch.stop();
    EXPECT_FALSE(panelSeen);
    EXPECT_EQ(LastDriveFigures().sequence, 1);
    EXPECT_TRUE(Get<nObserver>("/observer")->showSummary); // for that one drive only
}

TEST_F(DriveEnd, HeadlessDrive_ShowsNothingAndWaitsForNothing) {
    SetDriveDisplayForTesting(0);
    Run("source worlds:Yard/go.tcl");
    bool windowSeen = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] { windowSeen |= DriveWindow() != nullptr; });
    watch.start(1);
    std::string result;
    EXPECT_TRUE(script->RunCommand("/observer.start", result)) << result;
    watch.stop();
    EXPECT_FALSE(windowSeen);
    EXPECT_EQ(LastDriveFigures().sequence, 1);
}

TEST_F(DriveEnd, GoTclRaisingAnError_ToldInTheWindowAndLoggedWithItsTrace) {
    fakes::LogRecorder log;
    home.WriteFile("worlds/Yard/go.tcl", "proc build {} {\n"
                                         "    new nworld /usr/share/scene/world\n"
                                         "    /usr/share/scene/world.load meshes:missing.txt\n"
                                         "}\n"
                                         "build\n");
    Run("new nenv /usr/share/scene/currentworld");
    Run("/usr/share/scene/currentworld.sets Yard");
    std::string result;
    EXPECT_FALSE(script->RunScript("worlds:Yard/go.tcl", result));
    EXPECT_TRUE(log.Contains("ERROR: script worlds:Yard/go.tcl: cannot read the world layout"));
    EXPECT_TRUE(log.Contains("(procedure \"build\" line 3)"));

    std::string title, text, button;
    bool ok = StartWith({UntilPanelShows(),
                         [&] {
                             title = EndText("driveEndTitle");
                             text = EndText("driveEndText");
                             button = EndButton() ? EndButton()->text().toStdString() : "";
                             return true;
                         },
                         Press(Qt::Key_Escape)});
    EXPECT_FALSE(ok);
    EXPECT_EQ(title, "The world \"Yard\" could not be loaded.");
    EXPECT_EQ(text.rfind("worlds:Yard/go.tcl failed: cannot read the world layout", 0), 0u) << text;
    EXPECT_NE(text.find("missing.txt"), std::string::npos);
    EXPECT_NE(text.find("The engine log (n_runlog.txt) has the details."), std::string::npos);
    EXPECT_EQ(button, "Back");
    EXPECT_NE(lastResult.find("no world loaded"), std::string::npos);
    EXPECT_TRUE(log.Contains("ERROR: command '/observer.start': start: no world loaded at "
                             "/usr/share/scene/world (worlds:Yard/go.tcl failed: "));
    EXPECT_EQ(LastDriveFigures().sequence, 0);
    EXPECT_EQ(DriveWindow(), nullptr);
}

TEST_F(DriveEnd, NoWorldHeadlessOrWithoutSummary_EndsAtOnceWithTheLogLine) {
    fakes::LogRecorder log;
    home.WriteFile("worlds/Yard/go.tcl", "error {the floor is lava}\n");
    std::string result;
    EXPECT_FALSE(script->RunScript("worlds:Yard/go.tcl", result));
    for (int headless : {1, 0}) {
        SCOPED_TRACE(headless ? "headless" : "summary turned off");
        SetDriveDisplayForTesting(headless ? 0 : 1);
        if (!headless)
            Run("/observer.setsummary false");
        bool windowSeen = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] { windowSeen |= DriveWindow() != nullptr; });
        watch.start(1);
        EXPECT_FALSE(script->RunCommand("/observer.start", result));
        QApplication::processEvents();
        watch.stop();
        EXPECT_FALSE(windowSeen);
        EXPECT_NE(result.find("worlds:Yard/go.tcl failed: the floor is lava"), std::string::npos)
            << result;
    }
    EXPECT_EQ(log.Count("ERROR: command '/observer.start': start: no world loaded"), 2);
}

TEST(DriveSummaryText, ManyLandmarks_FirstNamesListedTheRestCounted) {
    WorldLayout layout;
    layout.width = 10;
    layout.depth = 10;
    layout.start = {5, 5};
    for (int i = 0; i < 100; ++i)
        layout.landmarks.push_back({"L" + std::to_string(i), {5, 5}, 1.0});
    layout.landmarks.push_back({"L0", {1, 1}, 0.2}); // the same name elsewhere: one landmark
    DriveSimulation simulation(layout, 1.0, 0.0);
    simulation.Advance(DriveSimulation::kStep, {});
    std::string text = DriveSummaryText(simulation);
    EXPECT_NE(text.find("Landmarks reached: 100 of 100\nL0, L1, L2, "), std::string::npos) << text;
    EXPECT_NE(text.find(", L39 and 60 more"), std::string::npos) << text;
    EXPECT_EQ(text.find("L40"), std::string::npos);
}

} // namespace
