// The drive window: the world from above with the chairs in it and the figures of the drive
// while it runs; at the end either what the drive was or why no world could be loaded, until
// the user goes on. It reads the simulation and sets its demand; it knows nothing of the
// drive object that started it.
#pragma once

#include "drive_simulation.h"
#include "joystick_input.h"

#include <functional>
#include <string>
#include <vector>

class nKernelServer;

// Called with the landmarks first reached in each step of the drive.
using LandmarkReport = std::function<void(const std::vector<std::string>&)>;

// How a drive with a window runs.
struct WindowedDrive {
    std::string worldName;
    int level = 1;
    double autoSeconds = 0;  // more than 0: the chair drives itself that long
    bool showSummary = true; // at the end, what the drive was, until the user goes on
    StickSettings stick;     // how a joystick or gamepad drives
};

// The drive in its window, driven by the arrow keys, a joystick or gamepad (polled with the
// simulation's steps; plugged in or out at any time), or by itself, until the user leaves
// with Escape, the Leave button or the close box; then the summary, when asked for.
void RunWithWindow(nKernelServer* kernel, DriveSimulation& simulation, const WindowedDrive& drive,
                   const LandmarkReport& report);

// Tells the user, in the drive window, that the world could not be loaded and why, until they
// go on with Enter, Escape, the button or the close box.
void ShowWorldNotLoaded(nKernelServer* kernel, const std::string& worldName,
                        const std::string& why);

// What the summary says of a drive: time, distance, collisions and the landmarks reached
// (the names after the first kMaxNamesShown counted, not listed).
constexpr size_t kMaxNamesShown = 40;
std::string DriveSummaryText(const DriveSimulation& simulation);
