// The drive: a world's layout (walls, landmarks, start), the wheelchair simulation that moves
// through it, the figures of the last drive, and the two engine classes that scripts use:
// "nworld" (the loaded world) and "nobserver" (runs a drive with "/observer.start").
//
// Layout files (a world's meshes/layout.txt) are plain text, one item a line, '#' starts a
// comment. Lengths are metres; x grows to the right (east), y downwards (south) as seen from
// above; headings are degrees clockwise from east.
//   name <world name>              the name shown while driving
//   size <width> <depth>           the floor; its edges are walls
//   start <x> <y> <heading>        where the wheelchair stands at the start
//   wall <x1> <y1> <x2> <y2>       a wall segment
//   box <x> <y> <width> <depth>    four walls around a rectangle (furniture, pillars)
//   landmark <x> <y> <radius> <name>   a place to reach; the name is the rest of the line
#pragma once

#include "engine/kernel.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

struct Vec2 {
    double x = 0, y = 0;
};

// The unit vector along a heading in degrees (0 is +x, 90 is +y).
inline Vec2 Direction(double heading) {
    double radians = heading * std::numbers::pi / 180.0;
    return {std::cos(radians), std::sin(radians)};
}

struct LayoutWall {
    Vec2 a, b;
};

struct LayoutLandmark {
    std::string name;
    Vec2 centre;
    double radius = 1.0;
};

struct WorldLayout {
    std::string name;
    double width = 0, depth = 0;
    Vec2 start;
    double startHeading = 0;
    std::vector<LayoutWall> walls;
    std::vector<LayoutLandmark> landmarks;
};

// Parses a layout text. Kept inline so that tools (the picture generator) can read layouts
// without the runtime. On failure `error` names the line and what is wrong with it.
inline bool ParseWorldLayout(const std::string& text, WorldLayout& out, std::string& error) {
    WorldLayout layout;
    bool haveSize = false, haveStart = false;
    std::istringstream lines(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++lineNo;
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string keyword;
        if (!(words >> keyword))
            continue;
        auto numbers = [&](int count, std::vector<double>& values) {
            values.clear();
            for (int i = 0; i < count; ++i) {
                std::string word;
                if (!(words >> word))
                    return false;
                char* end = nullptr;
                double v = std::strtod(word.c_str(), &end);
                if (end == word.c_str() || *end != '\0' || !std::isfinite(v))
                    return false;
                values.push_back(v);
            }
            return true;
        };
        auto restOfLine = [&] {
            std::string rest;
            std::getline(words, rest);
            auto first = rest.find_first_not_of(" \t\r");
            auto last = rest.find_last_not_of(" \t\r");
            return first == std::string::npos ? std::string()
                                              : rest.substr(first, last - first + 1);
        };
        std::vector<double> v;
        if (keyword == "name") {
            layout.name = restOfLine();
            if (layout.name.empty())
                return fail("name without a text");
        } else if (keyword == "size") {
            if (!numbers(2, v) || v[0] <= 0 || v[1] <= 0)
                return fail("size needs a positive width and depth");
            layout.width = v[0];
            layout.depth = v[1];
            haveSize = true;
        } else if (keyword == "start") {
            if (!numbers(3, v))
                return fail("start needs x, y and a heading");
            layout.start = {v[0], v[1]};
            layout.startHeading = v[2];
            haveStart = true;
        } else if (keyword == "wall") {
            if (!numbers(4, v))
                return fail("wall needs x1 y1 x2 y2");
            layout.walls.push_back({{v[0], v[1]}, {v[2], v[3]}});
        } else if (keyword == "box") {
            if (!numbers(4, v) || v[2] <= 0 || v[3] <= 0)
                return fail("box needs x y and a positive width and depth");
            Vec2 p{v[0], v[1]}, q{v[0] + v[2], v[1]}, r{v[0] + v[2], v[1] + v[3]},
                s{v[0], v[1] + v[3]};
            layout.walls.insert(layout.walls.end(), {{p, q}, {q, r}, {r, s}, {s, p}});
        } else if (keyword == "landmark") {
            if (!numbers(3, v) || v[2] <= 0)
                return fail("landmark needs x y, a positive radius and a name");
            std::string name = restOfLine();
            if (name.empty())
                return fail("landmark without a name");
            layout.landmarks.push_back({name, {v[0], v[1]}, v[2]});
        } else {
            return fail("unknown item '" + keyword + "'");
        }
        std::string extra;
        if (keyword != "name" && keyword != "landmark" && (words >> extra))
            return fail("unexpected '" + extra + "'");
    }
    lineNo = 0;
    if (!haveSize)
        return fail("no size given");
    if (!haveStart)
        return fail("no start given");
    if (layout.start.x < 0 || layout.start.y < 0 || layout.start.x > layout.width ||
        layout.start.y > layout.depth)
        return fail("the start lies outside the floor");
    out = std::move(layout);
    error.clear();
    return true;
}

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
    int Collisions() const { return collisions_; }
    double Elapsed() const { return elapsed_; }
    bool Touching() const { return touching_; }
    const std::vector<std::string>& LandmarksReached() const { return reached_; }
    bool HasReached(const std::string& landmark) const;

private:
    std::vector<std::string> Step(double dt, DriveInput input);
    Vec2 CentreFor(Vec2 axis, double heading) const;
    bool Blocked(Vec2 centre) const;

    WorldLayout layout_;
    double speedScale_;
    double axisOffset_; // metres
    Vec2 axis_;
    double heading_;
    double distance_ = 0;
    int collisions_ = 0;
    double elapsed_ = 0;
    bool touching_ = false;
    std::vector<std::string> reached_;             // names, in the order first reached
    std::unordered_set<std::string> reachedNames_; // the same, for O(1) look-ups
    std::vector<char> landmarkDone_;               // per layout landmark: its name is reached
};

// A deterministic self-driver: straight ahead until a wall stops the chair, then a quarter
// turn to the right, and on again.
class AutoPilot {
public:
    DriveInput Next(const DriveSimulation& simulation, double dt);

private:
    double turning_ = 0; // seconds of turning left
};

// The figures of one drive, handed to the data server when the drive has ended.
struct DriveFigures {
    int sequence = 0; // 0 before the first drive of the process; then counts drives
    std::string world;
    std::int64_t startTime = 0; // seconds since the epoch
    std::int64_t endTime = 0;
    int durationSeconds = 0;
    double distanceMetres = 0;
    int collisions = 0;
    std::vector<std::string> landmarks; // reached in this drive, in order
    std::vector<std::string> others;    // other users in the shared world during the drive
};

const DriveFigures& LastDriveFigures();
void ResetDriveFiguresForTesting();
// Tests: -1 follows the platform, 0 forces a headless drive, 1 a drive with a window.
void SetDriveDisplayForTesting(int display);

// The world being driven (class "nworld", at /usr/share/scene/world).
class nWorld : public nRoot {
public:
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;
    bool Load(const std::string& path, std::string& error);
    bool IsLoaded() const { return loaded_; }
    const WorldLayout& Layout() const { return layout_; }
    std::string DisplayName() const;

private:
    WorldLayout layout_;
    std::string name_; // set by "setname"; wins over the layout's name
    bool loaded_ = false;
};

// The observer (class "nobserver", at /observer): runs a drive through the loaded world.
class nObserver : public nRoot {
public:
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;
    // Runs a whole drive; false with the reason when none could start.
    bool Start(std::string& error);

    double speedScale = 1.0;
    double axisOffset = -0.75;   // feet
    double autoDriveSeconds = 0; // 0: the user drives (self-driving anyway when headless)
    // With a window: show at the end what the drive was (or why there was none) and wait for
    // the user. "setsummary false" turns it off for the next drive (a quick start).
    bool showSummary = true;
    int level = 1;
    bool running = false;
};
