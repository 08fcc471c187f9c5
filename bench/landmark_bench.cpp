// Timing of landmark bookkeeping on large user data: a world layout with 100,000 landmarks on
// one spot (all reached in the first step of a drive) and a landmarks file of 200,000 lines.
// Each figure is printed beside its floor, the least the same work can cost, measured in the
// same run: a plain read of the same file (and a plain write for the save), or one pass over
// the landmarks for the drive. Not a pass/fail test.
#include "drive_simulation.h"
#include "engine/kernel.h"
#include "engine/services.h"
#include "platform/file_system.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kLayoutLandmarks = 100000;
constexpr int kFileWorlds = 4;
constexpr int kFileLinesPerWorld = 50000; // with the world lines: 200,004 lines
constexpr int kRounds = 5;

struct Timing {
    double median = 0;
    double fastest = 0;
};

// Median and fastest of several rounds, in milliseconds.
Timing Time(const std::function<void()>& run) {
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        run();
        auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

void Report(const char* what, const Timing& figure, const char* floorWhat, const Timing& floor) {
    std::printf("%-44s median %9.2f ms  fastest %9.2f ms\n", what, figure.median, figure.fastest);
    std::printf("  floor: %-36s median %9.2f ms  fastest %9.2f ms   (x%.1f)\n", floorWhat,
                floor.median, floor.fastest, floor.median > 0 ? figure.median / floor.median : 0);
}

size_t CountLines(const std::string& bytes) {
    return size_t(std::count(bytes.begin(), bytes.end(), '\n'));
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    std::string pattern = (std::filesystem::temp_directory_path() / "pelora-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path home = pattern;
    setenv("PELORA_HOME", home.c_str(), 1);
    std::filesystem::create_directories(home / "users/ann");
    std::filesystem::create_directories(home / "worlds/Big/meshes");

    const std::string layoutPath = (home / "worlds/Big/meshes/layout.txt").string();
    {
        std::ofstream layout(layoutPath);
        layout << "name Big\nsize 40 40\nstart 20 20 0\n";
        for (int i = 0; i < kLayoutLandmarks; ++i)
            layout << "landmark 20 20 1 spot " << i << "\n";
    }
    const std::string landmarksPath = (home / "users/ann/landmarks").string();
    {
        std::ofstream file(landmarksPath);
        for (int w = 0; w < kFileWorlds; ++w) {
            file << "world=World " << w << "\n";
            for (int i = 0; i < kFileLinesPerWorld; ++i)
                file << "landmark=place " << i << "\n";
        }
    }
    std::printf("layout: %d landmarks on one spot; landmarks file: %d lines\n", kLayoutLandmarks,
                kFileWorlds * (kFileLinesPerWorld + 1));

    auto ownKernel = NewRuntimeKernel();
    nKernelServer& kernel = *ownKernel;
    std::string bytes;
    size_t lines = 0;

    Timing plainRead = Time([&] {
        platform::ReadWholeFile(landmarksPath, bytes);
        lines = CountLines(bytes);
    });
    Timing load = Time([&] {
        plLandmarkInformation::resetForTesting();
        plLandmarkInformation::getInstance(&kernel, "ann");
    });
    Report("landmarks file loaded (200,000 lines)", load, "plain read of the file", plainRead);

    // This session reaches the 100,000 landmarks of the layout; the save merges them in.
    std::vector<std::string> reached;
    for (int i = 0; i < kLayoutLandmarks; ++i)
        reached.push_back("spot " + std::to_string(i));
    const std::string saved = landmarksPath + ".copy";
    Timing plainCopy = Time([&] {
        platform::ReadWholeFile(landmarksPath, bytes);
        platform::WriteFileAtomically(saved, bytes);
    });
    Timing save = Time([&] {
        std::filesystem::copy_file(saved, landmarksPath,
                                   std::filesystem::copy_options::overwrite_existing);
        plLandmarkInformation::resetForTesting();
        auto* info = plLandmarkInformation::getInstance(&kernel, "ann");
        info->setCurrentWorld("Big");
        for (const auto& name : reached)
            info->landmarkReached(name);
        info->saveLandmarkInfo();
    });
    Report("load, 100,000 reached, save", save, "plain read and write of the file", plainCopy);

    Timing plainLayout = Time([&] { platform::ReadWholeFile(layoutPath, bytes); });
    WorldLayout layout;
    Timing parse = Time([&] {
        std::string text, error;
        platform::ReadWholeFile(layoutPath, text);
        ParseWorldLayout(text, layout, error);
    });
    Report("layout read (100,000 landmarks)", parse, "plain read of the layout", plainLayout);

    // One second of driving: the first step reaches every landmark, the other 29 look at
    // each one again. The floor: 30 passes that only measure each landmark's distance.
    size_t reachedCount = 0;
    Timing drive = Time([&] {
        DriveSimulation simulation(layout, 1.0, 0.0);
        simulation.Advance(1.0, {1.0, 0.0});
        reachedCount = simulation.LandmarksReached().size();
    });
    double sink = 0;
    Timing passes = Time([&] {
        for (int step = 0; step < 30; ++step) {
            for (const auto& landmark : layout.landmarks) {
                double dx = 20.0 - landmark.centre.x, dy = 20.0 - landmark.centre.y;
                sink += std::sqrt(dx * dx + dy * dy) <= landmark.radius ? 1 : 0;
            }
        }
    });
    Report("1 s of driving, all 100,000 reached", drive, "30 passes over the landmarks", passes);
    std::printf("  (%zu lines read, %zu landmarks reached, %.0f touches)\n", lines, reachedCount,
                sink);

    plLandmarkInformation::resetForTesting();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
