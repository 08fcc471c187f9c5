// Joysticks and gamepads through SDL's virtual joystick (no device, no display needed): the
// stick's demand with its dead zone and the user's axis choices, a stick plugged in while
// polling is used at once, full forward drives the chair at its top speed, one pulled out stops
// the chair; the settings as userSettings holds them; chairs spread around a shared start.
#include "drive_simulation.h"
#include "joystick_input.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

const char* const kOpenRoom = "name Open Room\nsize 40 10\nstart 2 5 0\n";

WorldLayout Parse(const std::string& text) {
    WorldLayout layout;
    std::string error;
    EXPECT_TRUE(ParseWorldLayout(text, layout, error)) << error;
    return layout;
}

// A plain joystick of two axes (not a known game controller), plugged in for the test's life.
class VirtualStick : public ::testing::Test {
protected:
    void SetUp() override {
        input = std::make_unique<JoystickInput>(StickSettings{});
        if (!input->Available())
            GTEST_SKIP() << "SDL's joystick support did not start: " << SDL_GetError();
    }
    void TearDown() override {
        Unplug();
        input.reset();
    }
    void Plug() {
        index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_UNKNOWN, 2, 0, 0);
        ASSERT_GE(index, 0) << SDL_GetError();
        device = SDL_JoystickOpen(index); // the test's own handle, to move the axes
        ASSERT_NE(device, nullptr) << SDL_GetError();
    }
    void Unplug() {
        if (!device)
            return;
        SDL_JoystickClose(device);
        device = nullptr;
        SDL_JoystickDetachVirtual(index);
    }
    // Axis positions in -1..1 (along: -1 is pushed away from the user).
    void Push(double across, double along) {
        ASSERT_EQ(SDL_JoystickSetVirtualAxis(device, 0, Sint16(across * 32767)), 0);
        ASSERT_EQ(SDL_JoystickSetVirtualAxis(device, 1, Sint16(along * 32767)), 0);
    }

    std::unique_ptr<JoystickInput> input;
    int index = -1;
    SDL_Joystick* device = nullptr;
};

} // namespace

TEST(StickDemand, DeadZoneAndFullTravel) {
    StickSettings settings; // dead zone 0.15
    EXPECT_EQ(StickDemand(0.1, -0.14, settings).forward, 0.0);
    EXPECT_EQ(StickDemand(0.1, -0.14, settings).turn, 0.0);
    EXPECT_DOUBLE_EQ(StickDemand(0, -1, settings).forward, 1.0);
    EXPECT_DOUBLE_EQ(StickDemand(1, 0, settings).turn, 1.0);
    EXPECT_DOUBLE_EQ(StickDemand(0, 1, settings).forward, -1.0);
    // Just past the dead zone the demand starts from nothing, not from 0.15.
    EXPECT_NEAR(StickDemand(0, -0.2, settings).forward, 0.05 / 0.85, 1e-9);
}

TEST(StickDemand, SwapAndInvert) {
    StickSettings swap;
    swap.swapAxes = true;
    EXPECT_DOUBLE_EQ(StickDemand(-1, 0, swap).forward, 1.0);
    EXPECT_DOUBLE_EQ(StickDemand(0, 1, swap).turn, 1.0);
    StickSettings invert;
    invert.invertForward = true;
    invert.invertTurn = true;
    EXPECT_DOUBLE_EQ(StickDemand(1, -1, invert).forward, -1.0);
    EXPECT_DOUBLE_EQ(StickDemand(1, -1, invert).turn, -1.0);
}

TEST(StickSettingsFrom, ReadsTheUserSettingsAndKeepsDefaultsForBadValues) {
    std::string problem;
    StickSettings s = StickSettingsFrom("0.3", "true", "0", "yes", &problem);
    EXPECT_TRUE(problem.empty()) << problem;
    EXPECT_DOUBLE_EQ(s.deadZone, 0.3);
    EXPECT_TRUE(s.swapAxes);
    EXPECT_FALSE(s.invertForward);
    EXPECT_TRUE(s.invertTurn);

    s = StickSettingsFrom("", "", "", "", &problem);
    EXPECT_TRUE(problem.empty());
    EXPECT_DOUBLE_EQ(s.deadZone, 0.15);

    s = StickSettingsFrom("2", "maybe", "", "", &problem);
    EXPECT_DOUBLE_EQ(s.deadZone, 0.15);
    EXPECT_FALSE(s.swapAxes);
    EXPECT_NE(problem.find("joystick-dead-zone '2'"), std::string::npos) << problem;
}

TEST_F(VirtualStick, PluggedInWhilePolling_FullForwardDrivesAtTopSpeed) {
    input->Poll();
    EXPECT_FALSE(input->HasDevice());
    ASSERT_NO_FATAL_FAILURE(Plug());
    ASSERT_NO_FATAL_FAILURE(Push(0, -1));
    input->Poll();
    ASSERT_TRUE(input->HasDevice());
    EXPECT_EQ(input->DeviceName().rfind("Joystick: ", 0), 0u) << input->DeviceName();

    DriveSimulation simulation(Parse(kOpenRoom), 1.0, 0.0);
    for (int i = 0; i < 30; ++i) { // one second, polled every step as the drive's timer does
        input->Poll();
        simulation.Advance(DriveSimulation::kStep, input->Demand());
    }
    EXPECT_NEAR(simulation.Distance(), DriveSimulation::kTopSpeed, 1e-6);
    EXPECT_NEAR(simulation.Centre().x, 2 + DriveSimulation::kTopSpeed, 1e-6);
}

TEST_F(VirtualStick, InsideTheDeadZone_TheChairStaysPut) {
    ASSERT_NO_FATAL_FAILURE(Plug());
    ASSERT_NO_FATAL_FAILURE(Push(0.12, -0.14));
    DriveSimulation simulation(Parse(kOpenRoom), 1.0, 0.0);
    for (int i = 0; i < 30; ++i) {
        input->Poll();
        simulation.Advance(DriveSimulation::kStep, input->Demand());
    }
    EXPECT_TRUE(input->HasDevice());
    EXPECT_FALSE(input->Active());
    EXPECT_EQ(simulation.Distance(), 0.0);
    EXPECT_DOUBLE_EQ(simulation.Heading(), 0.0);
}

TEST_F(VirtualStick, Unplugged_StopsTheChair) {
    ASSERT_NO_FATAL_FAILURE(Plug());
    ASSERT_NO_FATAL_FAILURE(Push(0, -1));
    DriveSimulation simulation(Parse(kOpenRoom), 1.0, 0.0);
    input->Poll();
    simulation.Advance(0.5, input->Demand());
    ASSERT_GT(simulation.Distance(), 0.0);

    Unplug();
    input->Poll();
    EXPECT_FALSE(input->HasDevice());
    double before = simulation.Distance();
    simulation.Advance(0.5, input->Demand());
    EXPECT_EQ(simulation.Distance(), before);
}

TEST_F(VirtualStick, SpeedScale_StillTheSimulations) {
    ASSERT_NO_FATAL_FAILURE(Plug());
    ASSERT_NO_FATAL_FAILURE(Push(0, -1));
    input->Poll();
    DriveSimulation simulation(Parse(kOpenRoom), 0.5, 0.0);
    simulation.Advance(1.0, input->Demand());
    EXPECT_NEAR(simulation.Distance(), 0.5 * DriveSimulation::kTopSpeed, 1e-6);
}

TEST(SpreadStart, ChairsJoiningNeverStartOnTopOfEachOther) {
    WorldLayout layout = Parse("size 20 10\nstart 2 5 0\nwall 0 3.5 20 3.5\n");
    EXPECT_DOUBLE_EQ(SpreadStart(layout, {}).x, 2);
    std::vector<Vec2> placed;
    for (int i = 0; i < 8; ++i) {
        Vec2 start = SpreadStart(layout, placed);
        EXPECT_TRUE(ChairFits(layout, start)) << i;
        for (const Vec2& other : placed)
            EXPECT_GE(std::hypot(start.x - other.x, start.y - other.y), kSpawnSpacing - 1e-9) << i;
        double fromStart = std::hypot(start.x - 2, start.y - 5);
        EXPECT_LE(fromStart, kSpawnRings * kSpawnSpacing + 1e-9) << i;
        placed.push_back(start);
    }
}
