// A world's layout: the floor, its walls, boxes and landmarks, and where the chair starts, read
// from a world's meshes/layout.txt. Plain C++ with no Qt and no Tcl: the drive, its views, the
// picture generator and the tests all read layouts through this one parser.
//
// Layout files are plain text, one item a line, '#' starts a comment. Lengths are metres; x grows
// to the right (east), y downwards (south) as seen from above; headings are degrees clockwise
// from east. docs/world-layout.md describes the format in full.
//   name <world name>              the name shown while driving
//   size <width> <depth>           the floor; its edges are walls
//   start <x> <y> <heading>        where the wheelchair stands at the start
//   wall <x1> <y1> <x2> <y2>       a wall segment
//   box <x> <y> <width> <depth>    four walls around a rectangle (furniture, pillars)
//   landmark <x> <y> <radius> <name>   a place to reach; the name is the rest of the line
#pragma once

#include <cmath>
#include <numbers>
#include <string>
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

// Parses a layout text. On failure `error` names the line and what is wrong with it.
bool ParseWorldLayout(const std::string& text, WorldLayout& out, std::string& error);
