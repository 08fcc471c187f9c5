// What the trainee reads over the drive, in every view: time, speed, collisions, landmarks
// reached "n of m", the way to the nearest landmark not yet reached, which input drives, the
// connection of an online drive (and that a lost one is still being recorded), a note when the
// 3D view is not available, and a red flash when the chair hits something.
#pragma once

#include "drive_simulation.h"

#include <QRect>

#include <string>

class QPainter;

// The nearest landmark not yet reached, seen from the seat: its name, how far, and how far to
// turn (degrees, positive to the right, -180..180). `valid` is false when every one is reached.
struct LandmarkBearing {
    bool valid = false;
    std::string name;
    double metres = 0;
    double turn = 0;
};
LandmarkBearing NearestUnreached(const DriveSimulation& simulation);

struct HudState {
    std::string worldName;
    int level = 1;
    std::string input = "Keyboard"; // which input drives
    std::string connection;         // "" for a drive that is not online
    bool connectionLost = false;
    std::string note;          // a line such as why the 3D view is not shown ("" for none)
    double collisionFlash = 0; // 0..1: how strongly to show the last collision
    std::string keysHelp = "Arrow keys drive, V changes the view, M the map, Esc leaves";
};

// "Connection lost: this drive is still being recorded", as the HUD says it.
extern const char* const kConnectionLostText;

// What the HUD shows, as one line of text: the drive window's accessible description, for
// screen readers (and for tests).
std::string HudSummary(const DriveSimulation& simulation, const HudState& hud);

// Draws the HUD over `area` (the whole view).
void PaintHud(QPainter& p, const QRect& area, const DriveSimulation& simulation,
              const HudState& hud);

std::string FormatClock(double seconds);
