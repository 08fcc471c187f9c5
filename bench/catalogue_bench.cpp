// Timing of the User Setup catalogues on a large home: 10,000 world folders with random
// difficulty files and 100 vehicle folders. Prints the world catalogue build and the vehicle
// scan next to a bare listing (readdir and stat) of the same folders. Not a pass/fail test.
#include "config/config.h"
#include "engine/kernel.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kWorlds = 10000;
constexpr int kVehicles = 100;
constexpr int kRounds = 7;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// readdir and stat of every entry: the least any scan of the folder has to do.
size_t BareListing(const std::string& folder) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        return 0;
    size_t folders = 0;
    while (dirent* entry = readdir(dir.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        if (stat((folder + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            ++folders;
    }
    return folders;
}

// Median and fastest of several rounds, in milliseconds.
void Time(const char* what, const std::function<void()>& run) {
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        run();
        auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%-40s median %9.3f ms   fastest %9.3f ms\n", what, times[times.size() / 2],
                times.front());
}

void MakeHome(const std::filesystem::path& home) {
    std::mt19937 random(7);
    std::filesystem::create_directories(home / "worlds");
    std::filesystem::create_directories(home / "avatars");
    for (int i = 0; i < kWorlds; ++i) {
        auto folder = home / "worlds" /
                      ("world" + std::to_string(random() % 1000000) + "_" + std::to_string(i));
        std::filesystem::create_directory(folder);
        if (random() % 10 != 0)
            std::ofstream(folder / "difficulty") << int(random() % 7) - 1 << "\n";
    }
    for (int i = 0; i < kVehicles; ++i)
        std::filesystem::create_directory(home / "avatars" / ("vehicle" + std::to_string(i)));
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
    std::printf("making %d world folders and %d vehicle folders in %s\n", kWorlds, kVehicles,
                home.c_str());
    MakeHome(home);

    g_state.kernelServer = new nKernelServer;
    const std::string worlds = pathate(g_state.kernelServer, "worlds:");
    const std::string avatars = pathate(g_state.kernelServer, "avatars:");

    size_t listed = 0;
    Time("bare listing of worlds (readdir, stat)", [&] { listed = BareListing(worlds); });
    std::list<WorldEntry> catalogue;
    Time("BuildWorldCatalogue", [&] { BuildWorldCatalogue(worlds, catalogue); });
    std::printf("  %zu folders listed, %zu worlds in the catalogue\n", listed, catalogue.size());

    Time("bare listing of avatars (readdir, stat)", [&] { listed = BareListing(avatars); });
    // Without a window the list calls have nothing to fill: this is the folder scan alone.
    Time("FillVehicleList (scan, no window)", [] { FillVehicleList(); });

    delete g_state.kernelServer;
    g_state.kernelServer = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
