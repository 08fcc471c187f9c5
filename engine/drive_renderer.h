// Draws the 3D drive with OpenGL 3.3 core: the world's mesh, landmark markers in their
// reached / not yet reached colours, and chairs in their users' colours, lit by a sun and a
// fill light. It holds its GPU resources in Qt's owners and decides nothing about the drive:
// the caller says what to draw in a DriveFrame. It draws into whatever framebuffer is bound
// in the current context (a QOpenGLWidget's, or a framebuffer object in tests and benchmarks).
#pragma once

#include "drive_scene.h"
#include "drive_simulation.h"

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLExtraFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLVertexArrayObject>

#include <memory>
#include <string>
#include <vector>

class QOpenGLContext;

enum class DriveCamera { FirstPerson, Chase };

// One chair to draw: where its seat centre stands, which way it faces, its colour.
struct DrawnChair {
    double x = 0, y = 0;
    double heading = 0; // degrees, as the simulation gives it
    SceneColour colour{0.5f, 0.5f, 0.5f};
};

// What one frame shows.
struct DriveFrame {
    DriveCamera camera = DriveCamera::FirstPerson;
    DrawnChair own;                    // the trainee's chair: the eye, and drawn in the chase view
    std::vector<DrawnChair> others;    // the other users of a shared world
    std::vector<char> landmarkReached; // per landmark of the layout
};

// The frame of a simulation as the trainee sees it, without the others of a shared world.
DriveFrame SimulationFrame(const DriveSimulation& simulation, DriveCamera camera,
                           SceneColour ownColour);

// Whether this machine can give OpenGL 3.3 core through Qt; `why` says what failed. Asked once
// per process, then remembered.
bool OpenGlUsable(std::string& why);
// The same, and Qt's platform can show OpenGL inside a widget window (its offscreen and minimal
// platforms cannot, even where they make contexts).
bool OpenGlWidgetsUsable(std::string& why);
// The surface format the renderer needs.
class QSurfaceFormat;
QSurfaceFormat DriveSurfaceFormat();

class DriveRenderer : protected QOpenGLExtraFunctions {
public:
    explicit DriveRenderer(const WorldLayout& layout);
    ~DriveRenderer();
    DriveRenderer(const DriveRenderer&) = delete;
    DriveRenderer& operator=(const DriveRenderer&) = delete;

    // With the context current: compiles the shaders and uploads the meshes. False, with the
    // reason, when the context cannot run them.
    bool Initialize(std::string& why);
    // Draws a frame of `width` x `height` pixels into the bound framebuffer.
    void Render(const DriveFrame& frame, int width, int height);
    // The last frame's world-to-clip matrix, to place labels over the picture.
    const QMatrix4x4& ViewProjection() const { return viewProjection_; }
    // Releases the GPU resources; the context must be current (or gone with them).
    void Release();

    size_t WorldTriangles() const { return worldMesh_.Triangles(); }

private:
    struct GpuMesh {
        QOpenGLVertexArrayObject vao;
        QOpenGLBuffer vertices{QOpenGLBuffer::VertexBuffer};
        QOpenGLBuffer instances{QOpenGLBuffer::VertexBuffer};
        int count = 0;
    };
    struct Instance {
        float x, z, cos, sin; // where it stands, and its turn
        float r, g, b, scale;
    };
    bool Upload(GpuMesh& gpu, const SceneMesh& mesh, bool instanced);
    void DrawInstanced(GpuMesh& gpu, const std::vector<Instance>& instances);
    void CheckErrors(const char* where);

    WorldLayout layout_;
    SceneMesh worldMesh_;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    GpuMesh world_, chair_, marker_, disc_;
    std::vector<Instance> scratch_;
    QMatrix4x4 viewProjection_;
    bool ready_ = false;
};
