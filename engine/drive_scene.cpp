// The 3D drive's geometry (see drive_scene.h).
#include "drive_scene.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr SceneColour kFloorLight{0.78f, 0.75f, 0.68f};
constexpr SceneColour kFloorDark{0.70f, 0.67f, 0.60f};
// Walls in a pale blue-grey, the floor in a warm beige: they never meet in the same shade.
constexpr SceneColour kWallColour{0.80f, 0.82f, 0.87f};
constexpr SceneColour kWallTop{0.55f, 0.56f, 0.60f};
constexpr SceneColour kFrame{0.16f, 0.16f, 0.18f};
constexpr double kWallThickness = 0.12;

struct Point3 {
    float x, y, z;
};

void AddTriangle(SceneMesh& mesh, Point3 a, Point3 b, Point3 c, Point3 n, SceneColour colour,
                 float tint) {
    for (Point3 p : {a, b, c})
        mesh.vertices.push_back({p.x, p.y, p.z, n.x, n.y, n.z, colour.r, colour.g, colour.b, tint});
}

// A quad a-b-c-d, counter-clockwise seen from where `n` points.
void AddQuad(SceneMesh& mesh, Point3 a, Point3 b, Point3 c, Point3 d, Point3 n, SceneColour colour,
             float tint = 0) {
    AddTriangle(mesh, a, b, c, n, colour, tint);
    AddTriangle(mesh, a, c, d, n, colour, tint);
}

// A block around (cx, cz), from y0 to y1, `sx` along x and `sz` along z, turned by `angle`
// radians about the vertical (local +x goes to (cos, sin)). The top may have its own colour.
void AddBlock(SceneMesh& mesh, double cx, double cz, double y0, double y1, double sx, double sz,
              double angle, SceneColour sides, SceneColour top, float tint = 0) {
    const double c = std::cos(angle), s = std::sin(angle);
    auto at = [&](double lx, double y, double lz) {
        return Point3{float(cx + c * lx - s * lz), float(y), float(cz + s * lx + c * lz)};
    };
    auto dir = [&](double lx, double ly, double lz) {
        return Point3{float(c * lx - s * lz), float(ly), float(s * lx + c * lz)};
    };
    const double hx = sx / 2, hz = sz / 2;
    Point3 b0 = at(-hx, y0, -hz), b1 = at(hx, y0, -hz), b2 = at(hx, y0, hz), b3 = at(-hx, y0, hz);
    Point3 t0 = at(-hx, y1, -hz), t1 = at(hx, y1, -hz), t2 = at(hx, y1, hz), t3 = at(-hx, y1, hz);
    AddQuad(mesh, t0, t3, t2, t1, dir(0, 1, 0), top, tint);
    AddQuad(mesh, b0, b1, b2, b3, dir(0, -1, 0), sides, tint);
    AddQuad(mesh, b1, t1, t2, b2, dir(1, 0, 0), sides, tint);
    AddQuad(mesh, b3, t3, t0, b0, dir(-1, 0, 0), sides, tint);
    AddQuad(mesh, b2, t2, t3, b3, dir(0, 0, 1), sides, tint);
    AddQuad(mesh, b0, t0, t1, b1, dir(0, 0, -1), sides, tint);
}

// A wall segment as a thin block standing on the floor.
void AddWall(SceneMesh& mesh, Vec2 a, Vec2 b, double height) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double length = std::sqrt(dx * dx + dy * dy);
    if (length < 1e-6)
        return;
    AddBlock(mesh, (a.x + b.x) / 2, (a.y + b.y) / 2, 0, height, length + kWallThickness,
             kWallThickness, std::atan2(dy, dx), kWallColour, kWallTop);
}

// A box of the layout as its kind looks. Every shape stays inside the box's footprint, so
// what the chair bumps into is what the trainee sees.
void AddBox(SceneMesh& mesh, const LayoutBox& box) {
    const double cx = box.corner.x + box.width / 2, cz = box.corner.y + box.depth / 2;
    const double w = box.width, d = box.depth, h = box.height;
    switch (box.kind) {
    case BoxKind::Block:
        AddBlock(mesh, cx, cz, 0, h, w, d, 0, {0.58f, 0.47f, 0.36f}, {0.66f, 0.55f, 0.43f});
        break;
    case BoxKind::Pillar:
        AddBlock(mesh, cx, cz, 0, h, w, d, 0, {0.80f, 0.78f, 0.74f}, {0.70f, 0.68f, 0.64f});
        break;
    case BoxKind::Counter:
        AddBlock(mesh, cx, cz, 0, h - 0.05, w, d, 0, {0.36f, 0.44f, 0.58f}, {0.36f, 0.44f, 0.58f});
        AddBlock(mesh, cx, cz, h - 0.05, h, w, d, 0, {0.85f, 0.85f, 0.82f}, {0.92f, 0.92f, 0.90f});
        break;
    case BoxKind::Bench: {
        const SceneColour wood{0.62f, 0.40f, 0.20f}, woodTop{0.72f, 0.50f, 0.28f};
        const double leg = std::min(0.12, std::min(w, d) / 4);
        AddBlock(mesh, cx, cz, h - 0.08, h, w, d, 0, wood, woodTop);
        AddBlock(mesh, box.corner.x + leg / 2, cz, 0, h - 0.08, leg, d, 0, kFrame, kFrame);
        AddBlock(mesh, box.corner.x + w - leg / 2, cz, 0, h - 0.08, leg, d, 0, kFrame, kFrame);
        break;
    }
    case BoxKind::Table: {
        const SceneColour top{0.74f, 0.58f, 0.38f};
        const double leg = std::min(0.08, std::min(w, d) / 4);
        AddBlock(mesh, cx, cz, h - 0.05, h, w, d, 0, top, top);
        for (double lx : {box.corner.x + leg / 2, box.corner.x + w - leg / 2})
            for (double lz : {box.corner.y + leg / 2, box.corner.y + d - leg / 2})
                AddBlock(mesh, lx, lz, 0, h - 0.05, leg, leg, 0, kFrame, kFrame);
        break;
    }
    case BoxKind::Tree: {
        const double trunk = std::min(0.3, std::min(w, d) / 2);
        AddBlock(mesh, cx, cz, 0, h * 0.45, trunk, trunk, 0, {0.42f, 0.28f, 0.16f},
                 {0.42f, 0.28f, 0.16f});
        // The crown: two blocks, the upper one narrower and turned, so it reads as round.
        const SceneColour leaves{0.24f, 0.52f, 0.22f}, leavesTop{0.30f, 0.62f, 0.26f};
        AddBlock(mesh, cx, cz, h * 0.35, h * 0.8, w, d, 0, leaves, leavesTop);
        AddBlock(mesh, cx, cz, h * 0.55, h, w * 0.7, d * 0.7, std::numbers::pi / 4, leaves,
                 leavesTop);
        break;
    }
    }
}

} // namespace

SceneMesh BuildWorldMesh(const WorldLayout& layout) {
    SceneMesh mesh;
    // Tiles of 2 m in two tones: the floor moves past as the chair drives.
    const double tile = 2.0;
    for (double x = 0; x < layout.width; x += tile) {
        for (double z = 0; z < layout.depth; z += tile) {
            float x0 = float(x), x1 = float(std::min(layout.width, x + tile));
            float z0 = float(z), z1 = float(std::min(layout.depth, z + tile));
            bool dark = (int(x / tile) + int(z / tile)) % 2 == 1;
            AddQuad(mesh, {x0, 0, z0}, {x0, 0, z1}, {x1, 0, z1}, {x1, 0, z0}, {0, 1, 0},
                    dark ? kFloorDark : kFloorLight);
        }
    }
    const double edge = kDefaultWallHeight;
    AddWall(mesh, {0, 0}, {layout.width, 0}, edge);
    AddWall(mesh, {layout.width, 0}, {layout.width, layout.depth}, edge);
    AddWall(mesh, {layout.width, layout.depth}, {0, layout.depth}, edge);
    AddWall(mesh, {0, layout.depth}, {0, 0}, edge);
    for (const auto& wall : layout.walls) {
        if (wall.box < 0)
            AddWall(mesh, wall.a, wall.b, wall.height);
    }
    for (const auto& box : layout.boxes)
        AddBox(mesh, box);
    return mesh;
}

SceneMesh BuildChairMesh() {
    SceneMesh mesh;
    const SceneColour grey{0.35f, 0.35f, 0.38f}, white{1, 1, 1};
    // Drive wheels either side, castors in front, the frame, the footrest.
    for (double side : {-0.27, 0.27}) {
        AddBlock(mesh, -0.05, side, 0, 0.6, 0.6, 0.07, 0, kFrame, grey);
        AddBlock(mesh, 0.28, side * 0.7, 0, 0.14, 0.14, 0.05, 0, kFrame, kFrame);
    }
    AddBlock(mesh, 0.02, 0, 0.18, 0.32, 0.56, 0.42, 0, grey, grey);
    AddBlock(mesh, 0.36, 0, 0.08, 0.12, 0.16, 0.34, 0, kFrame, grey);
    // Seat and back in the user's colour.
    AddBlock(mesh, 0.02, 0, 0.42, 0.55, 0.5, 0.48, 0, white, white, 1);
    AddBlock(mesh, -0.22, 0, 0.55, 1.05, 0.08, 0.48, 0, white, white, 1);
    // Armrests.
    for (double side : {-0.23, 0.23})
        AddBlock(mesh, 0.0, side, 0.7, 0.75, 0.4, 0.05, 0, kFrame, grey);
    return mesh;
}

SceneMesh BuildMarkerMesh() {
    SceneMesh mesh;
    const SceneColour post{0.92f, 0.92f, 0.92f}, white{1, 1, 1};
    AddBlock(mesh, 0, 0, 0, 2.6, 0.1, 0.1, 0, post, post);
    // The flag, as a flat block with both faces lit, and a ball on top in the flag's colour.
    AddBlock(mesh, 0.32, 0, 2.05, 2.55, 0.6, 0.04, 0, white, white, 1);
    AddBlock(mesh, 0, 0, 2.6, 2.75, 0.16, 0.16, std::numbers::pi / 4, white, white, 1);
    return mesh;
}

SceneMesh BuildDiscMesh() {
    SceneMesh mesh;
    constexpr int kSides = 24;
    const SceneColour white{1, 1, 1};
    for (int i = 0; i < kSides; ++i) {
        double a0 = 2 * std::numbers::pi * i / kSides, a1 = 2 * std::numbers::pi * (i + 1) / kSides;
        AddTriangle(mesh, {0, 0.01f, 0}, {float(std::cos(a1)), 0.01f, float(std::sin(a1))},
                    {float(std::cos(a0)), 0.01f, float(std::sin(a0))}, {0, 1, 0}, white, 1);
    }
    return mesh;
}

SceneColour MarkerColour(bool reached) {
    return reached ? SceneColour{0.15f, 0.78f, 0.30f} : SceneColour{0.98f, 0.55f, 0.08f};
}
