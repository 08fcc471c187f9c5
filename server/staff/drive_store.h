// What the staff view reads and the server keeps for it, behind interfaces like the other
// stores (../storage.h): the drives recorded from the data files received, and the staff
// accounts. The embedded default is SQLite (sqlite_drive_store.h), PostgreSQL for several
// instances (pg_drive_store.h); their tables are steps of the one schema (server/storage.h).
// Every call is safe from any thread.
#pragma once

#include "server/storage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace server {

// One data file received, as read: a drive, or a file that could not be read (kept on disk,
// listed with the reason).
struct DriveRow {
    std::int64_t id = 0;
    std::string user;
    std::string storedName; // the file in the user's folder
    bool readable = true;
    std::string problem; // for a file that could not be read: why
    bool sealed = false;
    std::string world;
    std::int64_t start = 0, end = 0; // seconds since 1970
    std::int64_t duration = 0;       // seconds
    double distance = 0;             // metres
    std::int64_t collisions = 0;
    std::int64_t landmarksReached = 0;
    std::int64_t landmarksTotal = -1; // -1: the world's layout is not known
    std::vector<std::string> others;  // who else was in the world
    std::int64_t samples = 0;         // trajectory samples
    std::string record;               // the trajectory section; filled by Find only
    std::int64_t recordedAt = 0;
};

// A trainee as the Trainees page lists them.
struct TraineeRow {
    std::string name;
    std::int64_t drives = 0;
    std::int64_t seconds = 0;   // driven in all
    std::int64_t lastStart = 0; // 0: never drove
    // Collisions per minute of the last drives, oldest first (at most kTrendDrives).
    std::vector<double> trend;
};

constexpr int kTrendDrives = 10;

// The others of a drive as both databases keep them: one name a line.
std::string JoinOthers(const std::vector<std::string>& names);
std::vector<std::string> SplitOthers(const std::string& text);
// A drive's point on a trainee's trend; a drive shorter than a second counts as one second.
double CollisionsPerMinute(std::int64_t collisions, std::int64_t seconds);

class DriveStore {
public:
    virtual ~DriveStore() = default;
    // Exists when the user's file is recorded already.
    virtual StoreResult Add(const DriveRow& drive) = 0;
    virtual StoreResult Known(const std::string& user, const std::string& storedName,
                              bool& known) = 0;
    // A user's readable drives, oldest first, without their records.
    virtual StoreResult ForUser(const std::string& user, std::vector<DriveRow>& drives) = 0;
    // One drive or unreadable file, with its record.
    virtual StoreResult Find(std::int64_t id, DriveRow& drive) = 0;
    // Readable drives that started in [from, to), oldest first, without their records.
    virtual StoreResult InRange(std::int64_t from, std::int64_t to,
                                std::vector<DriveRow>& drives) = 0;
    virtual StoreResult Unreadable(std::vector<DriveRow>& files) = 0;
    // Every trainee with an account or a drive, by name.
    virtual StoreResult Trainees(std::vector<TraineeRow>& trainees) = 0;
};

struct StaffRecord {
    std::string name;
    std::string passwordHash; // argon2id
    std::int64_t createdAt = 0;
};

class StaffStore {
public:
    virtual ~StaffStore() = default;
    virtual StoreResult Find(const std::string& name, StaffRecord& staff) = 0;
    virtual StoreResult Add(const StaffRecord& staff) = 0;
    virtual StoreResult Remove(const std::string& name) = 0;
    virtual StoreResult List(std::vector<StaffRecord>& staff) = 0;
};

} // namespace server
