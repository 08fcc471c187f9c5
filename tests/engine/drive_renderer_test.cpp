// The 3D drive's picture, drawn by the real renderer on the machine's OpenGL (Mesa's software
// renderer under Xvfb in CI) into a framebuffer object and read back: facts about pixels (what
// is in the middle of the frame, where a chair shows, which colour a marker has), never whole
// golden images. Without an X server or OpenGL 3.3 the tests skip and say why.
#include "drive_renderer.h"
#include "drive_simulation.h"

#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWidth = 320, kHeight = 240;
constexpr SceneColour kBlue{0.0f, 0.0f, 1.0f};

// A long hall with a wall across it at x = 24, the start facing east; the hall's west end is
// more than 20 m behind the start.
const char* const kHall = "name Hall\nsize 40 10\nstart 20 5 0\nwall 24 0 24 10\n";

bool IsBlue(QColor c) {
    return c.blue() > 120 && c.red() < 60 && c.green() < 60;
}
bool IsOrange(QColor c) {
    return c.red() > 150 && c.green() > 60 && c.green() < 170 && c.blue() < 60;
}
bool IsGreen(QColor c) {
    return c.green() > 110 && c.red() < 90 && c.blue() < 110;
}
// The walls are a pale blue-grey in any light, the floor a warm beige (more red than blue),
// the sky a stronger blue.
bool IsWall(QColor c) {
    return c.red() > 90 && c.blue() >= c.red() && c.blue() - c.red() < 40;
}

class DriveRender : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!OpenGlUsable(why))
            GTEST_SKIP() << "no OpenGL 3.3 core here (" << why
                         << "); the render tests need an X server with Mesa: run them with "
                            "DISPLAY set (xvfb-run -a)";
        context = std::make_unique<QOpenGLContext>();
        context->setFormat(DriveSurfaceFormat());
        ASSERT_TRUE(context->create());
        surface = std::make_unique<QOffscreenSurface>();
        surface->setFormat(context->format());
        surface->create();
        ASSERT_TRUE(context->makeCurrent(surface.get()));
        fbo = std::make_unique<QOpenGLFramebufferObject>(
            kWidth, kHeight, QOpenGLFramebufferObject::CombinedDepthStencil);
        ASSERT_TRUE(fbo->isValid());
    }
    void TearDown() override {
        if (renderer)
            renderer->Release();
        renderer.reset();
        fbo.reset();
        if (context)
            context->doneCurrent();
    }

    void Load(const std::string& text) {
        std::string error;
        ASSERT_TRUE(ParseWorldLayout(text, layout, error)) << error;
        renderer = std::make_unique<DriveRenderer>(layout);
        std::string why;
        ASSERT_TRUE(renderer->Initialize(why)) << why;
    }

    QImage Draw(const DriveFrame& frame) {
        fbo->bind();
        renderer->Render(frame, kWidth, kHeight);
        fbo->release();
        return fbo->toImage();
    }

    // The pixels of `image` for which `test` holds, counted in columns [x0, x1).
    template <class Test> static int Count(const QImage& image, Test test, int x0, int x1) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = x0; x < x1; ++x)
                count += test(image.pixelColor(x, y));
        return count;
    }

    WorldLayout layout;
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLFramebufferObject> fbo;
    std::unique_ptr<DriveRenderer> renderer;
};

} // namespace

TEST_F(DriveRender, WallCloseAhead_CentreIsWallAndAfterAHalfTurnItIsNot) {
    Load(kHall);
    DriveSimulation simulation(layout, 1.0, 0.0);
    simulation.Advance(5.0, {1.0, 0.0}); // up against the wall at x = 24
    ASSERT_TRUE(simulation.Touching());
    QImage ahead = Draw(SimulationFrame(simulation, DriveCamera::FirstPerson, kBlue));
    QColor centre = ahead.pixelColor(kWidth / 2, kHeight / 2);
    EXPECT_TRUE(IsWall(centre)) << centre.name().toStdString();
    // Close up, the wall fills the middle column from top to bottom.
    EXPECT_TRUE(IsWall(ahead.pixelColor(kWidth / 2, 2)));

    simulation.Advance(2.0, {0.0, 1.0}); // 180 degrees at 90 a second
    ASSERT_NEAR(simulation.Heading(), 180.0, 1e-6);
    QImage behind = Draw(SimulationFrame(simulation, DriveCamera::FirstPerson, kBlue));
    centre = behind.pixelColor(kWidth / 2, kHeight / 2);
    EXPECT_FALSE(IsWall(centre)) << centre.name().toStdString();
}

TEST_F(DriveRender, OtherChairAhead_ShowsInTheMiddleThirdInItsColour) {
    Load("name Open\nsize 40 20\nstart 2 10 0\n");
    DriveSimulation simulation(layout, 1.0, 0.0);
    DriveFrame frame = SimulationFrame(simulation, DriveCamera::FirstPerson, {0.5f, 0.5f, 0.5f});
    QImage empty = Draw(frame);
    EXPECT_EQ(Count(empty, IsBlue, 0, kWidth), 0);

    frame.others.push_back({6.0, 10.0, 90.0, kBlue}); // 4 m straight ahead, side on
    QImage withChair = Draw(frame);
    EXPECT_GT(Count(withChair, IsBlue, kWidth / 3, 2 * kWidth / 3), 100);
    EXPECT_EQ(Count(withChair, IsBlue, 0, kWidth / 3), 0);
    EXPECT_EQ(Count(withChair, IsBlue, 2 * kWidth / 3, kWidth), 0);

    // The same chair to the left of the way ahead shows in the left third.
    frame.others[0] = {6.0, 7.5, 90.0, kBlue};
    QImage left = Draw(frame);
    EXPECT_GT(Count(left, IsBlue, 0, kWidth / 3), 50);
    EXPECT_EQ(Count(left, IsBlue, 2 * kWidth / 3, kWidth), 0);
}

TEST_F(DriveRender, OwnChair_OnlyInTheChaseView) {
    Load("name Open\nsize 40 20\nstart 10 10 0\n");
    DriveSimulation simulation(layout, 1.0, 0.0);
    QImage seat = Draw(SimulationFrame(simulation, DriveCamera::FirstPerson, kBlue));
    EXPECT_EQ(Count(seat, IsBlue, 0, kWidth), 0);
    QImage chase = Draw(SimulationFrame(simulation, DriveCamera::Chase, kBlue));
    EXPECT_GT(Count(chase, IsBlue, kWidth / 3, 2 * kWidth / 3), 100);
}

TEST_F(DriveRender, LandmarkMarker_ChangesColourWhenReached) {
    Load("name Hall\nsize 40 10\nstart 2 5 0\nlandmark 6 5 0.4 Post\n");
    DriveSimulation simulation(layout, 1.0, 0.0);
    QImage before = Draw(SimulationFrame(simulation, DriveCamera::FirstPerson, kBlue));
    EXPECT_GT(Count(before, IsOrange, 0, kWidth), 50);
    EXPECT_EQ(Count(before, IsGreen, 0, kWidth), 0);

    // Drive through the landmark and on, then turn round to look back at it.
    simulation.Advance(4.0, {1.0, 0.0});
    ASSERT_TRUE(simulation.HasReached("Post"));
    simulation.Advance(2.0, {0.0, 1.0});
    QImage after = Draw(SimulationFrame(simulation, DriveCamera::FirstPerson, kBlue));
    EXPECT_GT(Count(after, IsGreen, 0, kWidth), 50);
    EXPECT_EQ(Count(after, IsOrange, 0, kWidth), 0);
}

TEST_F(DriveRender, BoxKinds_DrawnWithTheirOwnColours) {
    Load("name Park\nsize 40 20\nstart 2 10 0\nbox 8 9 1 1 kind=tree\n");
    DriveSimulation simulation(layout, 1.0, 0.0);
    QImage image = Draw(SimulationFrame(simulation, DriveCamera::FirstPerson, kBlue));
    auto leaves = [](QColor c) { return c.green() > c.red() + 30 && c.green() > c.blue() + 30; };
    EXPECT_GT(Count(image, leaves, kWidth / 3, 2 * kWidth / 3), 100);
}
