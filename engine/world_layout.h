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
//   wall <x1> <y1> <x2> <y2> [height=<m>]
//   box <x> <y> <width> <depth> [kind=<kind>] [height=<m>]
//                                  four walls around a rectangle, drawn as its kind: block
//                                  (the default), bench, table, counter, pillar or tree
//   landmark <x> <y> <radius> <name>   a place to reach; the name is the rest of the line
// The optional fields may come in any order. A bad optional value does not stop the world from
// loading: the default is used and a warning names the line.
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

constexpr double kDefaultWallHeight = 2.5; // metres, also the floor's edge walls
constexpr double kMinItemHeight = 0.05;
constexpr double kMaxItemHeight = 30.0;

// What a box is, which decides how it is drawn (it stops the chair the same either way).
enum class BoxKind { Block, Bench, Table, Counter, Pillar, Tree };

// The kind's name in layouts ("block", "bench", ...), and the kind of a name (false when none).
const char* BoxKindName(BoxKind kind);
bool BoxKindByName(const std::string& name, BoxKind& kind);
// A box's height when its line gives none.
double DefaultBoxHeight(BoxKind kind);

struct LayoutWall {
    Vec2 a, b;
    double height = kDefaultWallHeight;
    int box = -1; // the index in WorldLayout::boxes of the box this side belongs to, or -1
};

struct LayoutBox {
    Vec2 corner; // the corner with the least x and y
    double width = 0, depth = 0;
    double height = 1.0;
    BoxKind kind = BoxKind::Block;
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
    std::vector<LayoutWall> walls; // the walls, then every box's four sides (which stop the chair)
    std::vector<LayoutBox> boxes;
    std::vector<LayoutLandmark> landmarks;
};

// Parses a layout text. On failure `error` names the line and what is wrong with it. A bad
// optional field is no failure: `warnings` (when given) gets "line N: ..." for each, and the
// default is used.
bool ParseWorldLayout(const std::string& text, WorldLayout& out, std::string& error,
                      std::vector<std::string>* warnings = nullptr);
