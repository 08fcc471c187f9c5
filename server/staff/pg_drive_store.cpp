// PostgreSQL tables for the drives and the staff accounts (see pg_drive_store.h).
#include "pg_drive_store.h"

#include <cmath>

namespace server {

namespace {

// The columns every list reads, in this order (the record only for one drive).
#define PG_DRIVE_COLUMNS                                                                           \
    "id, user_name, stored_name, readable, problem, sealed, world, start_time, end_time, "         \
    "duration, distance_cm, collisions, landmarks_reached, landmarks_total, others, samples, "     \
    "recorded_at"

bool Flag(const PgResult& result, int row, int column) {
    return result.Text(row, column) == "t";
}

DriveRow ReadRow(const PgResult& r, int row) {
    DriveRow d;
    d.id = r.Integer(row, 0);
    d.user = r.Text(row, 1);
    d.storedName = r.Text(row, 2);
    d.readable = Flag(r, row, 3);
    d.problem = r.Bytes(row, 4);
    d.sealed = Flag(r, row, 5);
    d.world = r.Bytes(row, 6);
    d.start = r.Integer(row, 7);
    d.end = r.Integer(row, 8);
    d.duration = r.Integer(row, 9);
    d.distance = double(r.Integer(row, 10)) / 100.0;
    d.collisions = r.Integer(row, 11);
    d.landmarksReached = r.Integer(row, 12);
    d.landmarksTotal = r.Integer(row, 13);
    d.others = SplitOthers(r.Bytes(row, 14));
    d.samples = r.Integer(row, 15);
    d.recordedAt = r.Integer(row, 16);
    return d;
}

StoreResult ReadAll(const PgResult& result, std::vector<DriveRow>& rows) {
    rows.clear();
    if (!result.Ok())
        return StoreResult::Failed;
    for (int row = 0; row < result.Rows(); ++row)
        rows.push_back(ReadRow(result, row));
    return StoreResult::Ok;
}

} // namespace

StoreResult PgDriveStore::Add(const DriveRow& d) {
    PgResult added = pool_.Run(
        "drive_add",
        "INSERT INTO drives (user_name, stored_name, readable, problem, sealed, world, "
        "start_time, end_time, duration, distance_cm, collisions, landmarks_reached, "
        "landmarks_total, others, samples, record, recorded_at) VALUES ($1, $2, $3, $4, $5, $6, "
        "$7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17) "
        "ON CONFLICT (user_name, stored_name) DO NOTHING RETURNING id",
        {PgParam::Text(d.user), PgParam::Text(d.storedName), PgParam::Boolean(d.readable),
         PgParam::Bytes(d.problem), PgParam::Boolean(d.sealed), PgParam::Bytes(d.world),
         PgParam::Integer(d.start), PgParam::Integer(d.end), PgParam::Integer(d.duration),
         PgParam::Integer(std::llround(d.distance * 100)), PgParam::Integer(d.collisions),
         PgParam::Integer(d.landmarksReached), PgParam::Integer(d.landmarksTotal),
         PgParam::Bytes(JoinOthers(d.others)), PgParam::Integer(d.samples),
         PgParam::Bytes(d.record), PgParam::Integer(d.recordedAt)});
    if (!added.Ok())
        return StoreResult::Failed;
    return added.Rows() == 1 ? StoreResult::Ok : StoreResult::Exists;
}

StoreResult PgDriveStore::Known(const std::string& user, const std::string& storedName,
                                bool& known) {
    PgResult found =
        pool_.Run("drive_known", "SELECT 1 FROM drives WHERE user_name = $1 AND stored_name = $2",
                  {PgParam::Text(user), PgParam::Text(storedName)});
    if (!found.Ok())
        return StoreResult::Failed;
    known = found.Rows() > 0;
    return StoreResult::Ok;
}

StoreResult PgDriveStore::ForUser(const std::string& user, std::vector<DriveRow>& drives) {
    return ReadAll(pool_.Run("drive_for_user",
                             "SELECT " PG_DRIVE_COLUMNS " FROM drives WHERE user_name = $1 AND "
                             "readable ORDER BY start_time, id",
                             {PgParam::Text(user)}),
                   drives);
}

StoreResult PgDriveStore::Find(std::int64_t id, DriveRow& drive) {
    PgResult found =
        pool_.Run("drive_find", "SELECT " PG_DRIVE_COLUMNS ", record FROM drives WHERE id = $1",
                  {PgParam::Integer(id)});
    if (!found.Ok())
        return StoreResult::Failed;
    if (found.Rows() == 0)
        return StoreResult::NotFound;
    drive = ReadRow(found, 0);
    drive.record = found.Bytes(0, 17);
    return StoreResult::Ok;
}

StoreResult PgDriveStore::InRange(std::int64_t from, std::int64_t to,
                                  std::vector<DriveRow>& drives) {
    return ReadAll(pool_.Run("drive_in_range",
                             "SELECT " PG_DRIVE_COLUMNS " FROM drives WHERE readable AND "
                             "start_time >= $1 AND start_time < $2 ORDER BY start_time, id",
                             {PgParam::Integer(from), PgParam::Integer(to)}),
                   drives);
}

StoreResult PgDriveStore::Unreadable(std::vector<DriveRow>& files) {
    return ReadAll(pool_.Run("drive_unreadable",
                             "SELECT " PG_DRIVE_COLUMNS
                             " FROM drives WHERE NOT readable ORDER BY user_name, stored_name",
                             {}),
                   files);
}

StoreResult PgDriveStore::Trainees(std::vector<TraineeRow>& trainees) {
    trainees.clear();
    auto lease = pool_.Acquire();
    if (!lease) {
        pool_.Exhausted();
        return StoreResult::Failed;
    }
    // The totals and the trends from one snapshot, while other instances add drives.
    if (!lease->Execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY").Ok())
        return StoreResult::Failed;
    auto fail = [&] {
        lease->Execute("ROLLBACK");
        trainees.clear();
        return StoreResult::Failed;
    };
    // Everyone with an account or a drive, with their totals.
    PgResult totals = lease->Run("drive_trainees", R"sql(
        SELECT names.name, count(d.id), COALESCE(sum(d.duration), 0),
               COALESCE(max(d.start_time), 0)
        FROM (SELECT name FROM accounts UNION SELECT user_name FROM drives) AS names
        LEFT JOIN drives AS d ON d.user_name = names.name AND d.readable
        GROUP BY names.name ORDER BY names.name)sql",
                                 {});
    if (!totals.Ok())
        return fail();
    for (int row = 0; row < totals.Rows(); ++row)
        trainees.push_back({totals.Text(row, 0),
                            totals.Integer(row, 1),
                            totals.Integer(row, 2),
                            totals.Integer(row, 3),
                            {}});
    // The last drives of each, oldest first, for the trend.
    PgResult recent = lease->Run("drive_recent", R"sql(
        SELECT user_name, duration, collisions FROM (
            SELECT user_name, duration, collisions, start_time, id,
                   row_number() OVER (PARTITION BY user_name
                                      ORDER BY start_time DESC, id DESC) AS n
            FROM drives WHERE readable) AS last
        WHERE n <= $1 ORDER BY user_name, start_time, id)sql",
                                 {PgParam::Integer(kTrendDrives)});
    if (!recent.Ok())
        return fail();
    lease->Execute("COMMIT");
    std::size_t at = 0;
    for (int row = 0; row < recent.Rows(); ++row) {
        std::string user = recent.Text(row, 0);
        while (at < trainees.size() && trainees[at].name < user)
            ++at;
        if (at == trainees.size() || trainees[at].name != user)
            continue;
        trainees[at].trend.push_back(
            CollisionsPerMinute(recent.Integer(row, 2), recent.Integer(row, 1)));
    }
    return StoreResult::Ok;
}

StoreResult PgStaffStore::Find(const std::string& name, StaffRecord& staff) {
    PgResult found =
        pool_.Run("staff_find", "SELECT name, password_hash, created_at FROM staff WHERE name = $1",
                  {PgParam::Text(name)});
    if (!found.Ok())
        return StoreResult::Failed;
    if (found.Rows() == 0)
        return StoreResult::NotFound;
    staff = {found.Text(0, 0), found.Text(0, 1), found.Integer(0, 2)};
    return StoreResult::Ok;
}

StoreResult PgStaffStore::Add(const StaffRecord& staff) {
    PgResult added = pool_.Run("staff_add",
                               "INSERT INTO staff (name, password_hash, created_at) VALUES ($1, "
                               "$2, $3) ON CONFLICT (name) DO NOTHING",
                               {PgParam::Text(staff.name), PgParam::Text(staff.passwordHash),
                                PgParam::Integer(staff.createdAt)});
    if (!added.Ok())
        return StoreResult::Failed;
    return added.Changed() == 1 ? StoreResult::Ok : StoreResult::Exists;
}

StoreResult PgStaffStore::Remove(const std::string& name) {
    PgResult removed =
        pool_.Run("staff_remove", "DELETE FROM staff WHERE name = $1", {PgParam::Text(name)});
    if (!removed.Ok())
        return StoreResult::Failed;
    return removed.Changed() == 0 ? StoreResult::NotFound : StoreResult::Ok;
}

StoreResult PgStaffStore::List(std::vector<StaffRecord>& staff) {
    staff.clear();
    PgResult list = pool_.Run(
        "staff_list", "SELECT name, password_hash, created_at FROM staff ORDER BY name", {});
    if (!list.Ok())
        return StoreResult::Failed;
    for (int row = 0; row < list.Rows(); ++row)
        staff.push_back({list.Text(row, 0), list.Text(row, 1), list.Integer(row, 2)});
    return StoreResult::Ok;
}

} // namespace server
