// The self-driver used when nobody drives: headless runs, and worlds whose go.tcl asks for a
// self-driving drive. Plain C++, it only reads the simulation and gives a demand.
#pragma once

#include "drive_simulation.h"

// A deterministic self-driver: straight ahead until a wall stops the chair, then a quarter
// turn to the right, and on again.
class AutoPilot {
public:
    DriveInput Next(const DriveSimulation& simulation, double dt);

private:
    double turning_ = 0; // seconds of turning left
};
