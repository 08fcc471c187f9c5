// The PostgreSQL drive and staff stores, for several instances on one database: tables "drives"
// and "staff" made by the schema's step 2 (server/pg_storage.cpp). Every call leases a pooled
// connection; a drive or staff account added by two instances at once is one row (the tables'
// keys with ON CONFLICT decide, never a look first).
#pragma once

#include "drive_store.h"
#include "server/pg_connection.h"

namespace server {

class PgDriveStore : public DriveStore {
public:
    explicit PgDriveStore(PgPool& pool) : pool_(pool) {}
    StoreResult Add(const DriveRow& drive) override;
    StoreResult Known(const std::string& user, const std::string& storedName, bool& known) override;
    StoreResult ForUser(const std::string& user, std::vector<DriveRow>& drives) override;
    StoreResult Find(std::int64_t id, DriveRow& drive) override;
    StoreResult InRange(std::int64_t from, std::int64_t to, std::vector<DriveRow>& drives) override;
    StoreResult Unreadable(std::vector<DriveRow>& files) override;
    StoreResult Trainees(std::vector<TraineeRow>& trainees) override;

private:
    PgPool& pool_;
};

class PgStaffStore : public StaffStore {
public:
    explicit PgStaffStore(PgPool& pool) : pool_(pool) {}
    StoreResult Find(const std::string& name, StaffRecord& staff) override;
    StoreResult Add(const StaffRecord& staff) override;
    StoreResult Remove(const std::string& name) override;
    StoreResult List(std::vector<StaffRecord>& staff) override;

private:
    PgPool& pool_;
};

} // namespace server
