// The drive window on a real X server with Mesa's OpenGL: a drive opens in the first-person 3D
// view with the floor plan as a small map in its corner, V cycles first person, chase view and
// the floor plan, and the picture is the world seen from the seat (sky above, floor below).
#include "drive.h"
#include "drive_gl_view.h"
#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

class DriveWindow3D : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "no X server: DISPLAY is not set or cannot be reached (.ci/run "
                            "starts Xvfb for these checks)";
        if (!OpenGlWidgetsUsable(why))
            GTEST_SKIP() << "no OpenGL 3.3 core on this X server: " << why;
        SetDriveDisplayForTesting(1);
        home.WriteFile("worlds/Yard/meshes/layout.txt",
                       "name The Yard\nsize 30 10\nstart 2 5 0\nwall 20 0 20 10\n"
                       "landmark 10 5 0.5 Gate\n");
        kernel = NewRuntimeKernel();
        kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes").c_str());
        std::string result;
        nRoot* world = kernel->New("nworld", "/usr/share/scene/world");
        ASSERT_EQ(world->Call("load", {"meshes:layout.txt"}, result), nCallStatus::Ok) << result;
        observer = dynamic_cast<nObserver*>(kernel->New("nobserver", "/observer"));
        ASSERT_NE(observer, nullptr);
    }
    void TearDown() override { SetDriveDisplayForTesting(-1); }

    static QWidget* DriveWindowNow() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == "Pelora - The Yard")
                return w;
        return nullptr;
    }

    // Runs a drive with the user at the keys; `during` is called on the event loop once the
    // 3D view has drawn, and must leave the drive (Escape) when done.
    void DriveAndThen(const std::function<void(QWidget*, DriveGlView*)>& during) {
        QTimer poll;
        bool called = false;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* window = DriveWindowNow();
            auto* gl = window ? window->findChild<DriveGlView*>() : nullptr;
            if (called || !gl || !gl->isValid() || !gl->isVisible())
                return;
            called = true;
            during(window, gl);
        });
        poll.start(20);
        std::string result;
        ASSERT_EQ(observer->Call("setsummary", {"false"}, result), nCallStatus::Ok);
        ASSERT_EQ(observer->Call("start", {}, result), nCallStatus::Ok) << result;
        EXPECT_TRUE(called);
    }

    fakes::TempHome home;
    fakes::LogRecorder log;
    std::unique_ptr<nKernelServer> kernel;
    nObserver* observer = nullptr;
};

} // namespace

TEST_F(DriveWindow3D, Drive_OpensInFirstPersonWithSkyAboveAndFloorBelow) {
    QImage frame;
    bool leaveOnTop = false;
    DriveAndThen([&](QWidget* window, DriveGlView* gl) {
        frame = gl->grabFramebuffer();
        for (auto* button : window->findChildren<QPushButton*>())
            if (button->text() == "Leave")
                leaveOnTop =
                    button->isVisible() && window->childAt(button->geometry().center()) == button;
        QTest::keyClick(window, Qt::Key_Escape);
    });
    ASSERT_FALSE(frame.isNull());
    EXPECT_TRUE(leaveOnTop); // the Leave button stays over the 3D picture
    EXPECT_EQ(log.Count("3D drive view is not available"), 0);
    // Sky at the top middle, beige floor at the bottom middle, the map in the lower right.
    QColor sky = frame.pixelColor(frame.width() / 2, 4);
    EXPECT_GT(sky.blue(), sky.red() + 40) << sky.name().toStdString();
    QColor floor = frame.pixelColor(frame.width() / 2, frame.height() - 60);
    EXPECT_GT(floor.red(), floor.blue()) << floor.name().toStdString();
}

TEST_F(DriveWindow3D, KeyV_CyclesFirstPersonChaseAndPlan) {
    bool chase = false, plan = false, backToFirst = false;
    DriveAndThen([&](QWidget* window, DriveGlView* gl) {
        QTest::keyClick(window, Qt::Key_V);
        chase = gl->isVisible() && gl->Camera() == DriveCamera::Chase;
        QTest::keyClick(window, Qt::Key_V);
        plan = !gl->isVisible();
        QTest::keyClick(window, Qt::Key_V);
        backToFirst = gl->isVisible() && gl->Camera() == DriveCamera::FirstPerson;
        QTest::keyClick(window, Qt::Key_Escape);
    });
    EXPECT_TRUE(chase);
    EXPECT_TRUE(plan);
    EXPECT_TRUE(backToFirst);
}
