// Timing of the staff view's two heaviest pages: a trainee with 10,000 drives, and a drive of
// 30 minutes (18,001 trajectory samples) in a known world. Each figure is the whole page made
// from the SQLite store (rows read, HTML and SVG written); its floor is reading the same rows
// from the same database, which every page must do. Not a pass/fail test.
#include "record/drive_record.h"
#include "server/sqlite_storage.h"
#include "server/staff/html.h"
#include "server/staff/sqlite_drive_store.h"
#include "server/staff/staff_pages.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kDrives = 10000;
constexpr int kRounds = 7;

struct Timing {
    double median = 0;
    double fastest = 0;
};

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
    std::printf("%-46s median %9.2f ms  fastest %9.2f ms\n", what, figure.median, figure.fastest);
    std::printf("  floor: %-38s median %9.2f ms  fastest %9.2f ms   (x%.1f)\n", floorWhat,
                floor.median, floor.fastest, floor.median > 0 ? figure.median / floor.median : 0);
}

bool Run(const std::string& folder, const std::string& worlds) {
    using namespace server;
    Database database;
    std::string error;
    if (!OpenServerDatabase(database, folder + "/server.db", error)) {
        std::fprintf(stderr, "staff_view_bench: %s\n", error.c_str());
        return false;
    }
    SqliteDriveStore drives(database);
    WorldCatalog catalog;
    catalog.Load(worlds);
    const char* names[] = {"Hallway", "Office", "Park", "ShoppingStreet", "TrainStation"};

    // 10,000 drives of one trainee, in one transaction.
    {
        auto lock = database.Lock();
        database.Execute("BEGIN", error);
    }
    for (int i = 0; i < kDrives; ++i) {
        DriveRow row;
        row.user = "alice";
        row.storedName = "data-" + std::to_string(i) + ".txt";
        row.world = names[i % 5];
        row.start = 1700000000 + std::int64_t(i) * 3600;
        row.end = row.start + 300 + i % 200;
        row.duration = row.end - row.start;
        row.distance = 100 + i % 50;
        row.collisions = i % 7;
        row.landmarksReached = i % 3;
        row.landmarksTotal = 3;
        row.others = {"bob"};
        row.samples = 0;
        if (drives.Add(row) != StoreResult::Ok) {
            std::fprintf(stderr, "staff_view_bench: cannot add a drive\n");
            return false;
        }
    }
    // One drive of 30 minutes: a wandering path over the Park.
    drive_record::Recorder recorder;
    for (int step = 0; step <= 30 * 60 * 30; ++step) {
        double t = step / 30.0;
        recorder.Step(t, 15 + 12 * std::cos(t / 40), 10 + 8 * std::sin(t / 25),
                      std::fmod(t * 7, 360), 0.8, 0.1);
        if (step % 900 == 0)
            recorder.Hit(t, 15, 10, "wall 2");
    }
    drive_record::Record record = recorder.Finish();
    DriveRow longDrive;
    longDrive.user = "bob";
    longDrive.storedName = "data-long.txt";
    longDrive.world = "Park";
    longDrive.start = 1800000000;
    longDrive.end = longDrive.start + 1800;
    longDrive.duration = 1800;
    longDrive.samples = std::int64_t(record.samples.size());
    longDrive.record = drive_record::FormatRecord(record);
    drives.Add(longDrive);
    {
        auto lock = database.Lock();
        database.Execute("COMMIT", error);
    }
    std::vector<DriveRow> list;
    drives.ForUser("bob", list);
    std::int64_t longId = list.at(0).id;

    std::size_t bytes = 0;
    Timing traineePage = Time([&] {
        std::vector<DriveRow> rows;
        drives.ForUser("alice", rows);
        std::string page = staff::Page({"Trainee alice", "nurse", "token"},
                                       staff::TraineeBody("alice", rows, catalog));
        bytes = page.size();
    });
    Timing traineeRows = Time([&] {
        std::vector<DriveRow> rows;
        drives.ForUser("alice", rows);
    });
    std::printf("Trainee page: %d drives, %zu bytes of HTML\n", kDrives, bytes);
    Report("trainee page, 10,000 drives", traineePage, "reading the 10,000 rows", traineeRows);

    Timing drivePage = Time([&] {
        DriveRow row;
        drives.Find(longId, row);
        std::string page = staff::Page({"Drive", "nurse", "token"}, staff::DriveBody(row, catalog));
        bytes = page.size();
    });
    Timing driveRow = Time([&] {
        DriveRow row;
        drives.Find(longId, row);
    });
    std::printf("Drive page: %zu samples (%zu bytes of record), %zu bytes of HTML\n",
                record.samples.size(), longDrive.record.size(), bytes);
    Report("drive page, 30-minute trajectory", drivePage, "reading the drive's row", driveRow);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::printf("Usage: staff_view_bench [WORLDS-DIR]\nTimes the staff view's trainee page "
                    "with 10,000 drives and drive page with a 30-minute trajectory, each beside "
                    "reading the same rows from the database.\n");
        return 0;
    }
    std::string worlds = argc > 1 ? argv[1] : PELORA_SOURCE_DIR "/home/worlds";
    std::string folder = (std::filesystem::temp_directory_path() /
                          ("staff-view-bench-" + std::to_string(::getpid())))
                             .string();
    std::filesystem::create_directories(folder);
    bool ok = Run(folder, worlds);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return ok ? 0 : 1;
}
