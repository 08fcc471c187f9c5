// The 3D drive's geometry, built from a world's layout as plain triangle lists (no Qt, no GL),
// so that the renderer only uploads and draws them and a test can look at them without a GPU.
//
// Scene coordinates: x is the layout's x (east), y is up, z is the layout's y (south); a chair
// at heading h faces (cos h, 0, sin h). Meshes of things that stand at many places (chairs,
// landmark markers) are built once around the origin facing +x and placed per instance.
#pragma once

#include "world_layout.h"

#include <vector>

struct SceneVertex {
    float x, y, z;
    float nx, ny, nz;
    float r, g, b;
    float tint; // 0: the vertex's own colour; 1: the colour of the instance (a chair's colour)
};

struct SceneMesh {
    std::vector<SceneVertex> vertices; // three per triangle
    size_t Triangles() const { return vertices.size() / 3; }
};

struct SceneColour {
    float r, g, b;
};

// Heights when a layout gives none, in metres.
constexpr double kSeatedEyeHeight = 1.2;

// The floor (tiled, so that motion reads), the floor's edge walls, the layout's walls and every
// box drawn by its kind.
SceneMesh BuildWorldMesh(const WorldLayout& layout);
// A wheelchair facing +x, its seat and back in the instance's colour.
SceneMesh BuildChairMesh();
// A landmark's post with its flag in the instance's colour, seen from afar.
SceneMesh BuildMarkerMesh();
// A flat disc of radius 1 on the floor in the instance's colour, scaled to a landmark's radius.
SceneMesh BuildDiscMesh();

// A landmark's marker colour: not yet reached, or reached.
SceneColour MarkerColour(bool reached);
