// The drive's HUD as text: the figures of the drive, the way to the nearest landmark not yet
// reached (how far, and how far to turn), and the connection of an online drive.
#include "drive_hud.h"

#include <gtest/gtest.h>

namespace {

DriveSimulation Simulation(const std::string& text) {
    WorldLayout layout;
    std::string error;
    EXPECT_TRUE(ParseWorldLayout(text, layout, error)) << error;
    return DriveSimulation(layout, 1.0, 0.0);
}

} // namespace

TEST(LandmarkBearing, NearestUnreached_DistanceAndTurnFromTheSeat) {
    // Facing east from (2, 5): the Gate 6 m ahead, the Shed 3 m to the south (the right).
    auto simulation = Simulation("size 20 10\nstart 2 5 0\nlandmark 8 5 0.5 Gate\n"
                                 "landmark 2 8 0.5 Shed\n");
    LandmarkBearing bearing = NearestUnreached(simulation);
    ASSERT_TRUE(bearing.valid);
    EXPECT_EQ(bearing.name, "Shed");
    EXPECT_NEAR(bearing.metres, 3, 1e-9);
    EXPECT_NEAR(bearing.turn, 90, 1e-9);

    simulation.Advance(1.0, {0.0, -1.0}); // a quarter turn left: now facing north
    bearing = NearestUnreached(simulation);
    EXPECT_NEAR(bearing.turn, 180, 1e-9);

    simulation.Advance(1.0, {0.0, 1.0}); // east again, and on to the Gate
    simulation.Advance(4.0, {1.0, 0.0});
    ASSERT_TRUE(simulation.HasReached("Gate"));
    bearing = NearestUnreached(simulation);
    EXPECT_EQ(bearing.name, "Shed");
    EXPECT_GT(bearing.turn, 90); // behind on the right: round to the right is shorter
    EXPECT_LT(bearing.turn, 180);
}

TEST(LandmarkBearing, EveryLandmarkReached_NoBearing) {
    auto simulation = Simulation("size 20 10\nstart 2 5 0\nlandmark 2 5 0.5 Here\n");
    simulation.Advance(DriveSimulation::kStep, {});
    EXPECT_FALSE(NearestUnreached(simulation).valid);
}

TEST(HudSummary, SaysTheFiguresTheWayAndALostConnection) {
    auto simulation = Simulation("size 20 10\nstart 2 5 0\nlandmark 8 5 0.5 Gate\n"
                                 "landmark 18 5 0.5 Far\n");
    simulation.Advance(2.0, {1.0, 0.0});
    HudState hud;
    hud.worldName = "Yard";
    hud.input = "Gamepad: Test pad";
    hud.connection = "online";
    std::string text = HudSummary(simulation, hud);
    EXPECT_EQ(
        text.rfind("Yard: time 00:00:02, speed 1.5 m/s, collisions 0, landmarks 0 of 2, "
                   "input Gamepad: Test pad. Next landmark: Gate, 3 m, ahead. Server: online.",
                   0),
        0u)
        << text;
    hud.connectionLost = true;
    hud.connection = "lost";
    text = HudSummary(simulation, hud);
    EXPECT_NE(text.find("Connection lost: this drive is still being recorded."), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Server:"), std::string::npos) << text;
}
