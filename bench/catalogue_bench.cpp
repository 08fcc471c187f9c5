// Timing of the User Setup catalogues on a large home: 10,000 world folders with random
// difficulty files and 100 vehicle folders. Each figure is printed beside its floor, the
// least the same work can cost, measured in the same run: for the world catalogue, listing
// the worlds folder and reading every world's difficulty file; for the vehicle scan, a bare
// listing of the avatars folder. Not a pass/fail test.
#include "config/config.h"
#include "engine/kernel.h"
#include "engine/services.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWorlds = 10000;
constexpr int kVehicles = 100;
constexpr int kRounds = 7;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Calls `visit` with the path of every folder in `folder`: readdir, with a stat only where
// the entry's type does not say whether it is a folder.
template <class Visit> size_t ListFolders(const std::string& folder, Visit visit) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        return 0;
    size_t folders = 0;
    while (dirent* entry = readdir(dir.get())) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        std::string path = folder + "/" + name;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info;
            isFolder = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        if (isFolder) {
            ++folders;
            visit(path);
        }
    }
    return folders;
}

// The least any scan of a folder has to do.
size_t BareListing(const std::string& folder) {
    return ListFolders(folder, [](const std::string&) {});
}

// The least building the world catalogue has to do: the listing, and each world's difficulty
// file opened and read (a missing one is still looked for).
size_t ListingAndDifficulties(const std::string& folder, size_t* read) {
    *read = 0;
    return ListFolders(folder, [read](const std::string& path) {
        int fd = open((path + "/difficulty").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        char bytes[64];
        if (::read(fd, bytes, sizeof bytes) > 0)
            ++*read;
        close(fd);
    });
}

// Median and fastest of several rounds, in milliseconds; gives the median.
double Time(const char* what, const std::function<void()>& run) {
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        run();
        auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-48s median %9.3f ms   fastest %9.3f ms\n", what, median, times.front());
    return median;
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

    g_state.kernelServer = NewRuntimeKernel().release();
    const std::string worlds = pathate(g_state.kernelServer, "worlds:");
    const std::string avatars = pathate(g_state.kernelServer, "avatars:");

    size_t listed = 0, read = 0;
    const double worldFloor = Time("floor: list worlds, read each difficulty file",
                                   [&] { listed = ListingAndDifficulties(worlds, &read); });
    std::list<WorldEntry> catalogue;
    const double worldBuild =
        Time("BuildWorldCatalogue", [&] { BuildWorldCatalogue(worlds, catalogue); });
    std::printf("  %zu folders listed, %zu difficulty files read, %zu worlds in the catalogue\n",
                listed, read, catalogue.size());
    std::printf("  catalogue / floor = %.2f (target: at most 1.30)\n\n", worldBuild / worldFloor);

    const double vehicleFloor =
        Time("floor: bare listing of avatars (readdir)", [&] { listed = BareListing(avatars); });
    // Without a window the list calls have nothing to fill: this is the folder scan alone.
    const double vehicleScan = Time("FillVehicleList (scan, no window)", [] { FillVehicleList(); });
    std::printf("  vehicle scan / floor = %.2f\n", vehicleScan / vehicleFloor);

    delete g_state.kernelServer;
    g_state.kernelServer = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
