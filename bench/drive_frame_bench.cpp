// Frame time of the 3D drive's first-person view at 1024 x 768 on this machine's OpenGL (Mesa's
// llvmpipe under Xvfb here), in the busiest default world (the most triangles), with no other
// chairs and with 200 others standing about the floor. Beside each figure is its floor: an
// empty frame, cleared and finished, the least any frame can cost on the same target. Each
// frame ends with glFinish, so the time is the whole picture's, as a swap would wait for it.
// Not a pass/fail test. Needs an X server: `xvfb-run -a build/bench/drive_frame_bench`.
#include "drive_renderer.h"
#include "drive_simulation.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1024, kHeight = 768;
constexpr int kWarmUp = 10, kFrames = 120;
constexpr int kOthers = 200;

// Milliseconds of one frame: the wall clock's, and the processor time of the whole process (all
// of the software renderer's threads), which a machine busy with other work inflates less.
struct FrameTime {
    double wall = 0;
    double cpu = 0;
};

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

FrameTime MedianFrame(const std::function<void()>& frame, QOpenGLExtraFunctions& gl) {
    for (int i = 0; i < kWarmUp; ++i) {
        frame();
        gl.glFinish();
    }
    std::vector<double> wall, cpu;
    for (int i = 0; i < kFrames; ++i) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = CpuMs();
        frame();
        gl.glFinish();
        cpu.push_back(CpuMs() - cpuStart);
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return {Median(wall), Median(cpu)};
}

// The default world whose 3D mesh has the most triangles.
bool BusiestWorld(WorldLayout& busiest, std::string& name) {
    size_t most = 0;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(PELORA_SOURCE_DIR) / "home/worlds")) {
        std::ifstream in(entry.path() / "meshes/layout.txt");
        std::stringstream text;
        text << in.rdbuf();
        WorldLayout layout;
        std::string error;
        if (!ParseWorldLayout(text.str(), layout, error))
            continue;
        size_t triangles = BuildWorldMesh(layout).Triangles();
        if (triangles > most) {
            most = triangles;
            busiest = layout;
            name = entry.path().filename().string();
        }
    }
    return most > 0;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    std::string why;
    if (!OpenGlUsable(why)) {
        std::fprintf(stderr,
                     "drive_frame_bench: no OpenGL 3.3 core here (%s); run it with an X "
                     "server, e.g. xvfb-run -a\n",
                     why.c_str());
        return 1;
    }
    WorldLayout layout;
    std::string worldName;
    if (!BusiestWorld(layout, worldName)) {
        std::fprintf(stderr, "drive_frame_bench: no default world found\n");
        return 1;
    }

    QOpenGLContext context;
    context.setFormat(DriveSurfaceFormat());
    QOffscreenSurface surface;
    surface.setFormat(DriveSurfaceFormat());
    surface.create();
    if (!context.create() || !context.makeCurrent(&surface)) {
        std::fprintf(stderr, "drive_frame_bench: the OpenGL context does not draw\n");
        return 1;
    }
    QOpenGLFramebufferObject fbo(kWidth, kHeight, QOpenGLFramebufferObject::CombinedDepthStencil);
    fbo.bind();
    QOpenGLExtraFunctions& gl = *context.extraFunctions();

    DriveRenderer renderer(layout);
    if (!renderer.Initialize(why)) {
        std::fprintf(stderr, "drive_frame_bench: %s\n", why.c_str());
        return 1;
    }
    DriveSimulation simulation(layout, 1.0, 0.0);
    DriveFrame frame = SimulationFrame(simulation, DriveCamera::FirstPerson, {0.2f, 0.4f, 0.9f});

    // 200 chairs on clear places of the floor, the same ones every run.
    DriveFrame crowded = frame;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> x(0, layout.width), y(0, layout.depth), turn(0, 360);
    while (int(crowded.others.size()) < kOthers) {
        Vec2 at{x(random), y(random)};
        if (!ChairFits(layout, at))
            continue;
        crowded.others.push_back({at.x, at.y, turn(random), {0.8f, 0.2f, 0.2f}});
    }

    const char* renderer_name = reinterpret_cast<const char*>(gl.glGetString(GL_RENDERER));
    std::printf("drive_frame_bench: %s, %d x %d, world %s (%zu triangles), median of %d frames\n",
                renderer_name ? renderer_name : "?", kWidth, kHeight, worldName.c_str(),
                renderer.WorldTriangles(), kFrames);
    FrameTime floor = MedianFrame(
        [&] {
            gl.glViewport(0, 0, kWidth, kHeight);
            gl.glClearColor(0.6f, 0.7f, 0.9f, 1);
            gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        },
        gl);
    FrameTime alone = MedianFrame([&] { renderer.Render(frame, kWidth, kHeight); }, gl);
    FrameTime others = MedianFrame([&] { renderer.Render(crowded, kWidth, kHeight); }, gl);
    std::printf("  %-40s %8s %10s\n", "median per frame", "wall ms", "CPU ms");
    std::printf("  %-40s %8.2f %10.2f\n", "empty frame (clear + finish): the floor", floor.wall,
                floor.cpu);
    std::printf("  %-40s %8.2f %10.2f\n", "first person, no other chairs", alone.wall, alone.cpu);
    std::printf("  %-40s %8.2f %10.2f\n", "first person, 200 other chairs", others.wall,
                others.cpu);
    renderer.Release();
    fbo.release();
    context.doneCurrent();
    return 0;
}
