// The SQLite drive and staff stores: tables "drives" and "staff" in the server's database
// (pelora-server.db), made with the other tables by OpenServerDatabase (schema version 2).
#pragma once

#include "drive_store.h"
#include "server/database.h"

#include <string>

namespace server {

class SqliteDriveStore : public DriveStore {
public:
    explicit SqliteDriveStore(Database& database) : database_(database) {}
    StoreResult Add(const DriveRow& drive) override;
    StoreResult Known(const std::string& user, const std::string& storedName, bool& known) override;
    StoreResult ForUser(const std::string& user, std::vector<DriveRow>& drives) override;
    StoreResult Find(std::int64_t id, DriveRow& drive) override;
    StoreResult InRange(std::int64_t from, std::int64_t to, std::vector<DriveRow>& drives) override;
    StoreResult Unreadable(std::vector<DriveRow>& files) override;
    StoreResult Trainees(std::vector<TraineeRow>& trainees) override;

private:
    Database& database_;
};

class SqliteStaffStore : public StaffStore {
public:
    explicit SqliteStaffStore(Database& database) : database_(database) {}
    StoreResult Find(const std::string& name, StaffRecord& staff) override;
    StoreResult Add(const StaffRecord& staff) override;
    StoreResult Remove(const std::string& name) override;
    StoreResult List(std::vector<StaffRecord>& staff) override;

private:
    Database& database_;
};

} // namespace server
