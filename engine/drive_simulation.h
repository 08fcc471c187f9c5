// The wheelchair simulation: a value that advances in fixed steps from the driver's demand
// (forward and turn, each -1..1) through a world's layout. Plain C++ with no Qt and no Tcl: the
// drive object steps it, the views only read it and input devices only set the demand.
#pragma once

#include "world_layout.h"

#include "record/drive_record.h"

#include <string>
#include <unordered_set>
#include <vector>

// What the driver asks for in one step: both in -1..1 (forward/back, left/right turn).
struct DriveInput {
    double forward = 0;
    double turn = 0;
};

// The wheelchair moving through a world: a disc that turns about its axis, is stopped by
// walls (each new contact is one collision) and reaches landmarks by touching them.
class DriveSimulation {
public:
    static constexpr double kChairRadius = 0.35; // metres
    static constexpr double kTopSpeed = 1.5;     // metres per second at speed scale 1
    static constexpr double kTurnRate = 90.0;    // degrees per second
    static constexpr double kStep = 1.0 / 30.0;  // seconds per simulation step
    static constexpr double kFeetToMetres = 0.3048;

    // `axisOffsetFeet`: where the drive axis sits relative to the seat's centre, negative
    // towards the rear (as the Adjust Wheelchair dialog sets it).
    DriveSimulation(WorldLayout layout, double speedScale, double axisOffsetFeet);

    // Advances by `seconds` in steps of at most kStep; gives the landmarks first reached.
    std::vector<std::string> Advance(double seconds, DriveInput input);

    const WorldLayout& Layout() const { return layout_; }
    Vec2 Centre() const; // the seat's centre, which walls and landmarks are measured to
    Vec2 Axis() const { return axis_; }
    double Heading() const { return heading_; }
    double Distance() const { return distance_; }
    // Metres per second in the last step, negative backwards (0 when stopped by a wall).
    double Speed() const { return speed_; }
    int Collisions() const { return collisions_; }
    double Elapsed() const { return elapsed_; }
    bool Touching() const { return touching_; }
    const std::vector<std::string>& LandmarksReached() const { return reached_; }
    bool HasReached(const std::string& landmark) const;
    // The drive so far: samples at 10 per second of drive time, collisions, landmarks.
    drive_record::Record Record() const;

private:
    std::vector<std::string> Step(double dt, DriveInput input);
    Vec2 CentreFor(Vec2 axis, double heading) const;
    bool Blocked(Vec2 centre) const;
    std::string Obstacle(Vec2 centre) const; // what Blocked found: "wall N" or "floor edge"

    WorldLayout layout_;
    double speedScale_;
    double axisOffset_; // metres
    Vec2 axis_;
    double heading_;
    double distance_ = 0;
    double speed_ = 0;
    int collisions_ = 0;
    double elapsed_ = 0;
    bool touching_ = false;
    std::vector<std::string> reached_;             // names, in the order first reached
    std::unordered_set<std::string> reachedNames_; // the same, for O(1) look-ups
    std::vector<char> landmarkDone_;               // per layout landmark: its name is reached
    drive_record::Recorder recorder_;
};

// Whether a chair's seat centre at `centre` is clear of the floor's edges and every wall.
bool ChairFits(const WorldLayout& layout, Vec2 centre);

// Chairs that join a shared world are spread around its start: the start when no other chair
// stands within kSpawnSpacing of it, else the nearest clear place on rings around it.
constexpr double kSpawnSpacing = 1.2; // metres between seat centres
constexpr int kSpawnRings = 6;
Vec2 SpreadStart(const WorldLayout& layout, const std::vector<Vec2>& others);
