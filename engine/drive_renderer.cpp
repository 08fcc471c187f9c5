// The 3D drive's renderer (see drive_renderer.h). One shader draws everything: a mesh placed
// per instance (position, turn, scale) with the instance's colour mixed in where the mesh's
// vertices ask for it; the world's mesh is one instance at the origin.
#include "drive_renderer.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <optional>

namespace {

constexpr float kFieldOfView = 70.0f; // degrees, vertical
constexpr float kNear = 0.05f, kFar = 250.0f;
constexpr double kChaseBack = 3.2, kChaseUp = 2.3;
constexpr float kChairBound = 0.8f; // a chair lies within this of its centre at 0.5 m up
// A seated driver looks a little down at the way ahead: the middle of the picture is the floor
// some 8 m ahead, unless something stands closer.
constexpr double kLookDownDegrees = 8.0;

// Lighting is worked out per vertex: every face is flat (its vertices share one normal), so
// this gives the same shades as per pixel at a fraction of the cost on a software renderer.
const char* const kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec4 aColour;   // rgb, and how much of the instance's colour to take
layout(location = 3) in vec4 iPlace;    // x, z, and the turn's cosine and sine
layout(location = 4) in vec4 iColour;   // rgb, and the scale
uniform mat4 uViewProjection;
uniform vec3 uEye;
uniform vec3 uSky;
out vec3 vColour;
void main() {
    float c = iPlace.z, s = iPlace.w;
    vec3 p = aPosition * iColour.w;
    vec3 world = vec3(c * p.x - s * p.z + iPlace.x, p.y, s * p.x + c * p.z + iPlace.y);
    vec3 n = vec3(c * aNormal.x - s * aNormal.z, aNormal.y, s * aNormal.x + c * aNormal.z);
    // A sun from the south-east and above, a weaker fill from the opposite side: no two faces
    // of a block meet in the same shade, so edges read.
    float sun = max(dot(n, normalize(vec3(0.45, 0.8, 0.35))), 0.0);
    float fill = max(dot(n, normalize(vec3(-0.5, 0.3, -0.6))), 0.0);
    vec3 lit = mix(aColour.rgb, iColour.rgb, aColour.a) * (0.5 + 0.55 * sun + 0.25 * fill);
    float haze = clamp((length(world - uEye) - 40.0) / 160.0, 0.0, 0.6);
    vColour = mix(min(lit, vec3(1.0)), uSky, haze);
    gl_Position = uViewProjection * vec4(world, 1.0);
}
)";

const char* const kFragmentShader = R"(#version 330 core
in vec3 vColour;
out vec4 fragColour;
void main() {
    fragColour = vec4(vColour, 1.0);
}
)";

const float kSky[3] = {0.64f, 0.78f, 0.92f};

} // namespace

QSurfaceFormat DriveSurfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    return format;
}

bool OpenGlUsable(std::string& why) {
    static std::optional<bool> usable;
    static std::string reason;
    if (!usable) {
        usable = false;
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            reason = "no graphical application";
        } else {
            QOpenGLContext context;
            context.setFormat(DriveSurfaceFormat());
            QOffscreenSurface surface;
            surface.setFormat(DriveSurfaceFormat());
            surface.create();
            if (!context.create()) {
                reason = "no OpenGL context could be made on platform " +
                         QGuiApplication::platformName().toStdString();
            } else if (context.isOpenGLES() || context.format().version() < qMakePair(3, 3)) {
                char text[96];
                std::snprintf(text, sizeof text, "OpenGL %d.%d%s, 3.3 needed",
                              context.format().majorVersion(), context.format().minorVersion(),
                              context.isOpenGLES() ? " ES" : "");
                reason = text;
            } else if (!surface.isValid() || !context.makeCurrent(&surface)) {
                reason = "the OpenGL context cannot draw here";
            } else {
                context.doneCurrent();
                usable = true;
            }
        }
    }
    why = reason;
    return *usable;
}

bool OpenGlWidgetsUsable(std::string& why) {
    if (!OpenGlUsable(why))
        return false;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        why = "Qt's " + platform.toStdString() + " platform shows no OpenGL in a window";
        return false;
    }
    return true;
}

DriveFrame SimulationFrame(const DriveSimulation& simulation, DriveCamera camera,
                           SceneColour ownColour) {
    DriveFrame frame;
    frame.camera = camera;
    Vec2 centre = simulation.Centre();
    frame.own = {centre.x, centre.y, simulation.Heading(), ownColour};
    const auto& landmarks = simulation.Layout().landmarks;
    frame.landmarkReached.reserve(landmarks.size());
    for (const auto& landmark : landmarks)
        frame.landmarkReached.push_back(simulation.HasReached(landmark.name) ? 1 : 0);
    return frame;
}

DriveRenderer::DriveRenderer(const WorldLayout& layout)
    : layout_(layout), worldMesh_(BuildWorldMesh(layout)) {}

DriveRenderer::~DriveRenderer() {
    // The owners free their GPU objects only with their context current; a caller that wants
    // them freed calls Release first. Without a context they go with it.
    if (ready_ && QOpenGLContext::currentContext())
        Release();
}

void DriveRenderer::CheckErrors([[maybe_unused]] const char* where) {
#ifndef NDEBUG
    for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
        std::fprintf(stderr, "OpenGL error 0x%x after %s\n", error, where);
#endif
}

bool DriveRenderer::Upload(GpuMesh& gpu, const SceneMesh& mesh, bool instanced) {
    if (!gpu.vao.create() || !gpu.vertices.create())
        return false;
    gpu.vao.bind();
    gpu.vertices.bind();
    gpu.vertices.setUsagePattern(QOpenGLBuffer::StaticDraw);
    gpu.vertices.allocate(mesh.vertices.data(), int(mesh.vertices.size() * sizeof(SceneVertex)));
    const GLsizei stride = sizeof(SceneVertex);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<void*>(offsetof(SceneVertex, nx)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<void*>(offsetof(SceneVertex, r)));
    if (instanced) {
        if (!gpu.instances.create())
            return false;
        gpu.instances.bind();
        gpu.instances.setUsagePattern(QOpenGLBuffer::StreamDraw);
        const GLsizei istride = sizeof(Instance);
        glEnableVertexAttribArray(3);
        glVertexAttribPointer(3, 4, GL_FLOAT, GL_FALSE, istride, nullptr);
        glVertexAttribDivisor(3, 1);
        glEnableVertexAttribArray(4);
        glVertexAttribPointer(4, 4, GL_FLOAT, GL_FALSE, istride,
                              reinterpret_cast<void*>(offsetof(Instance, r)));
        glVertexAttribDivisor(4, 1);
    }
    gpu.vao.release();
    gpu.count = int(mesh.vertices.size());
    return true;
}

bool DriveRenderer::Initialize(std::string& why) {
    initializeOpenGLFunctions();
    program_ = std::make_unique<QOpenGLShaderProgram>();
    if (!program_->addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) ||
        !program_->addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader) ||
        !program_->link()) {
        why = "the drive's shaders do not build: " + program_->log().toStdString();
        program_.reset();
        return false;
    }
    if (!Upload(world_, worldMesh_, false) || !Upload(chair_, BuildChairMesh(), true) ||
        !Upload(marker_, BuildMarkerMesh(), true) || !Upload(disc_, BuildDiscMesh(), true)) {
        why = "the drive's meshes cannot be uploaded";
        return false;
    }
    CheckErrors("uploading the meshes");
    ready_ = true;
    return true;
}

void DriveRenderer::Release() {
    for (GpuMesh* gpu : {&world_, &chair_, &marker_, &disc_}) {
        gpu->vao.destroy();
        gpu->vertices.destroy();
        gpu->instances.destroy();
    }
    program_.reset();
    ready_ = false;
}

void DriveRenderer::DrawInstanced(GpuMesh& gpu, const std::vector<Instance>& instances) {
    if (instances.empty())
        return;
    gpu.vao.bind();
    gpu.instances.bind();
    gpu.instances.allocate(instances.data(), int(instances.size() * sizeof(Instance)));
    glDrawArraysInstanced(GL_TRIANGLES, 0, gpu.count, GLsizei(instances.size()));
    gpu.vao.release();
}

void DriveRenderer::Render(const DriveFrame& frame, int width, int height) {
    glViewport(0, 0, width, height);
    glClearColor(kSky[0], kSky[1], kSky[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!ready_)
        return;
    glEnable(GL_DEPTH_TEST);
    // Every mesh is closed and wound counter-clockwise seen from outside.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glDisable(GL_BLEND);

    const Vec2 forward = Direction(frame.own.heading);
    QVector3D eye, target;
    if (frame.camera == DriveCamera::FirstPerson) {
        eye = QVector3D(float(frame.own.x), float(kSeatedEyeHeight), float(frame.own.y));
        const double down = kLookDownDegrees * std::numbers::pi / 180.0;
        target = eye + QVector3D(float(forward.x * std::cos(down)), float(-std::sin(down)),
                                 float(forward.y * std::cos(down)));
    } else {
        // Behind and above the chair, looking at a point just ahead of it; never outside the
        // floor, so the camera does not look at the world from behind its edge walls.
        double bx = std::clamp(frame.own.x - forward.x * kChaseBack, 0.2, layout_.width - 0.2);
        double bz = std::clamp(frame.own.y - forward.y * kChaseBack, 0.2, layout_.depth - 0.2);
        eye = QVector3D(float(bx), float(kChaseUp), float(bz));
        target = QVector3D(float(frame.own.x + forward.x * 1.5), 0.6f,
                           float(frame.own.y + forward.y * 1.5));
    }
    QMatrix4x4 projection, view;
    const float aspect = float(width) / float(std::max(1, height));
    projection.perspective(kFieldOfView, aspect, kNear, kFar);
    view.lookAt(eye, target, QVector3D(0, 1, 0));
    viewProjection_ = projection * view;

    program_->bind();
    program_->setUniformValue("uViewProjection", viewProjection_);
    program_->setUniformValue("uEye", eye);
    program_->setUniformValue("uSky", QVector3D(kSky[0], kSky[1], kSky[2]));

    // The world: one instance at the origin, given as constant attributes.
    world_.vao.bind();
    glVertexAttrib4f(3, 0, 0, 1, 0);
    glVertexAttrib4f(4, 1, 1, 1, 1);
    glDrawArrays(GL_TRIANGLES, 0, world_.count);
    world_.vao.release();

    scratch_.clear();
    for (size_t i = 0; i < layout_.landmarks.size(); ++i) {
        const auto& landmark = layout_.landmarks[i];
        SceneColour c = MarkerColour(i < frame.landmarkReached.size() && frame.landmarkReached[i]);
        scratch_.push_back({float(landmark.centre.x), float(landmark.centre.y), 1, 0, c.r, c.g, c.b,
                            float(landmark.radius)});
    }
    DrawInstanced(disc_, scratch_);
    for (auto& instance : scratch_)
        instance.scale = 1;
    DrawInstanced(marker_, scratch_);

    scratch_.clear();
    auto addChair = [&](const DrawnChair& chair) {
        const double turn = chair.heading * std::numbers::pi / 180.0;
        scratch_.push_back({float(chair.x), float(chair.y), float(std::cos(turn)),
                            float(std::sin(turn)), chair.colour.r, chair.colour.g, chair.colour.b,
                            1});
    };
    // Only the chairs that can be in the picture go to the GPU: on a software renderer every
    // vertex costs, seen or not.
    const float halfWidth = std::tan(kFieldOfView * float(std::numbers::pi) / 360.0f) * aspect;
    const float halfHeight = std::tan(kFieldOfView * float(std::numbers::pi) / 360.0f);
    for (const auto& other : frame.others) {
        QVector3D at = view.map(QVector3D(float(other.x), 0.5f, float(other.y)));
        float ahead = -at.z(); // the view looks down -z
        if (ahead < -kChairBound || ahead > kFar + kChairBound)
            continue;
        float reach = std::max(ahead, 0.0f);
        if (std::abs(at.x()) > reach * halfWidth + kChairBound * 1.6f ||
            std::abs(at.y()) > reach * halfHeight + kChairBound * 1.6f)
            continue;
        addChair(other);
    }
    if (frame.camera == DriveCamera::Chase)
        addChair(frame.own);
    DrawInstanced(chair_, scratch_);
    program_->release();
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    CheckErrors("drawing a frame");
}
