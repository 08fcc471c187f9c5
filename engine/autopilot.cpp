// The self-driver (see autopilot.h).
#include "autopilot.h"

DriveInput AutoPilot::Next(const DriveSimulation& simulation, double dt) {
    if (simulation.Touching() && turning_ <= 0)
        turning_ = 90.0 / DriveSimulation::kTurnRate;
    if (turning_ > 0) {
        turning_ -= dt;
        return {0.0, 1.0};
    }
    return {1.0, 0.0};
}
