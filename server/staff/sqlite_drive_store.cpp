// SQLite tables for the drives and the staff accounts (see sqlite_drive_store.h).
#include "sqlite_drive_store.h"

#include "server/sqlite_storage.h"

#include <algorithm>
#include <cmath>

namespace server {

std::string JoinOthers(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : "\n") + name;
    return text;
}

std::vector<std::string> SplitOthers(const std::string& text) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (!text.empty() && at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        names.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

double CollisionsPerMinute(std::int64_t collisions, std::int64_t seconds) {
    return double(collisions) / (std::max<double>(double(seconds), 1) / 60.0);
}

namespace {

// The columns every list reads, in this order (the record only for one drive).
#define DRIVE_COLUMNS                                                                              \
    "id, user, stored_name, readable, problem, sealed, world, start, end_time, duration, "         \
    "distance_cm, collisions, landmarks_reached, landmarks_total, others, samples, recorded_at"

DriveRow ReadRow(const Statement& s) {
    DriveRow row;
    row.id = s.Integer(0);
    row.user = s.Text(1);
    row.storedName = s.Text(2);
    row.readable = s.Integer(3) != 0;
    row.problem = s.Text(4);
    row.sealed = s.Integer(5) != 0;
    row.world = s.Text(6);
    row.start = s.Integer(7);
    row.end = s.Integer(8);
    row.duration = s.Integer(9);
    row.distance = double(s.Integer(10)) / 100.0;
    row.collisions = s.Integer(11);
    row.landmarksReached = s.Integer(12);
    row.landmarksTotal = s.Integer(13);
    row.others = SplitOthers(s.Text(14));
    row.samples = s.Integer(15);
    row.recordedAt = s.Integer(16);
    return row;
}

StoreResult ReadAll(Statement& s, std::vector<DriveRow>& rows) {
    rows.clear();
    for (;;) {
        switch (s.Next()) {
        case Statement::Step::Row:
            rows.push_back(ReadRow(s));
            break;
        case Statement::Step::Done:
            return StoreResult::Ok;
        default:
            rows.clear();
            return StoreResult::Failed;
        }
    }
}

} // namespace

StoreResult SqliteDriveStore::Add(const DriveRow& d) {
    auto lock = database_.Lock();
    Statement add(database_,
                  "INSERT INTO drives (user, stored_name, readable, problem, sealed, world, "
                  "start, end_time, duration, distance_cm, collisions, landmarks_reached, "
                  "landmarks_total, others, samples, record, recorded_at) VALUES (?1, ?2, ?3, "
                  "?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)");
    add.Bind(1, d.user)
        .Bind(2, d.storedName)
        .Bind(3, std::int64_t(d.readable))
        .Bind(4, d.problem)
        .Bind(5, std::int64_t(d.sealed))
        .Bind(6, d.world)
        .Bind(7, d.start)
        .Bind(8, d.end)
        .Bind(9, d.duration)
        .Bind(10, std::int64_t(std::llround(d.distance * 100)))
        .Bind(11, d.collisions)
        .Bind(12, d.landmarksReached)
        .Bind(13, d.landmarksTotal)
        .Bind(14, JoinOthers(d.others))
        .Bind(15, d.samples)
        .BindBlob(16, d.record)
        .Bind(17, d.recordedAt);
    return OutcomeOf(add.Next());
}

StoreResult SqliteDriveStore::Known(const std::string& user, const std::string& storedName,
                                    bool& known) {
    auto lock = database_.Lock();
    Statement find(database_, "SELECT 1 FROM drives WHERE user = ?1 AND stored_name = ?2");
    find.Bind(1, user).Bind(2, storedName);
    switch (find.Next()) {
    case Statement::Step::Row:
        known = true;
        return StoreResult::Ok;
    case Statement::Step::Done:
        known = false;
        return StoreResult::Ok;
    default:
        return StoreResult::Failed;
    }
}

StoreResult SqliteDriveStore::ForUser(const std::string& user, std::vector<DriveRow>& drives) {
    auto lock = database_.Lock();
    Statement list(database_, "SELECT " DRIVE_COLUMNS " FROM drives WHERE user = ?1 AND "
                              "readable = 1 ORDER BY start, id");
    list.Bind(1, user);
    return ReadAll(list, drives);
}

StoreResult SqliteDriveStore::Find(std::int64_t id, DriveRow& drive) {
    auto lock = database_.Lock();
    Statement find(database_, "SELECT " DRIVE_COLUMNS ", record FROM drives WHERE id = ?1");
    find.Bind(1, id);
    switch (find.Next()) {
    case Statement::Step::Row:
        drive = ReadRow(find);
        drive.record = find.Blob(17);
        return StoreResult::Ok;
    case Statement::Step::Done:
        return StoreResult::NotFound;
    default:
        return StoreResult::Failed;
    }
}

StoreResult SqliteDriveStore::InRange(std::int64_t from, std::int64_t to,
                                      std::vector<DriveRow>& drives) {
    auto lock = database_.Lock();
    Statement list(database_, "SELECT " DRIVE_COLUMNS " FROM drives WHERE readable = 1 AND "
                              "start >= ?1 AND start < ?2 ORDER BY start, id");
    list.Bind(1, from).Bind(2, to);
    return ReadAll(list, drives);
}

StoreResult SqliteDriveStore::Unreadable(std::vector<DriveRow>& files) {
    auto lock = database_.Lock();
    Statement list(database_, "SELECT " DRIVE_COLUMNS
                              " FROM drives WHERE readable = 0 ORDER BY user, stored_name");
    return ReadAll(list, files);
}

StoreResult SqliteDriveStore::Trainees(std::vector<TraineeRow>& trainees) {
    trainees.clear();
    auto lock = database_.Lock();
    // Everyone with an account or a drive, with their totals.
    Statement totals(database_, R"sql(
        SELECT names.name, COUNT(d.id), COALESCE(SUM(d.duration), 0), COALESCE(MAX(d.start), 0)
        FROM (SELECT name FROM accounts UNION SELECT user FROM drives) AS names
        LEFT JOIN drives AS d ON d.user = names.name AND d.readable = 1
        GROUP BY names.name ORDER BY names.name)sql");
    for (;;) {
        Statement::Step step = totals.Next();
        if (step == Statement::Step::Done)
            break;
        if (step != Statement::Step::Row)
            return StoreResult::Failed;
        trainees.push_back(
            {totals.Text(0), totals.Integer(1), totals.Integer(2), totals.Integer(3), {}});
    }
    // The last drives of each, newest first, for the trend.
    Statement recent(database_, R"sql(
        SELECT user, duration, collisions FROM (
            SELECT user, duration, collisions, start, id,
                   ROW_NUMBER() OVER (PARTITION BY user ORDER BY start DESC, id DESC) AS n
            FROM drives WHERE readable = 1)
        WHERE n <= ?1 ORDER BY user, start, id)sql");
    recent.Bind(1, std::int64_t(kTrendDrives));
    std::size_t at = 0;
    for (;;) {
        Statement::Step step = recent.Next();
        if (step == Statement::Step::Done)
            break;
        if (step != Statement::Step::Row)
            return StoreResult::Failed;
        std::string user = recent.Text(0);
        while (at < trainees.size() && trainees[at].name < user)
            ++at;
        if (at == trainees.size() || trainees[at].name != user)
            continue;
        trainees[at].trend.push_back(CollisionsPerMinute(recent.Integer(2), recent.Integer(1)));
    }
    return StoreResult::Ok;
}

StoreResult SqliteStaffStore::Find(const std::string& name, StaffRecord& staff) {
    auto lock = database_.Lock();
    Statement find(database_, "SELECT name, password_hash, created_at FROM staff WHERE name = ?1");
    find.Bind(1, name);
    switch (find.Next()) {
    case Statement::Step::Row:
        staff = {find.Text(0), find.Text(1), find.Integer(2)};
        return StoreResult::Ok;
    case Statement::Step::Done:
        return StoreResult::NotFound;
    default:
        return StoreResult::Failed;
    }
}

StoreResult SqliteStaffStore::Add(const StaffRecord& staff) {
    auto lock = database_.Lock();
    Statement add(database_,
                  "INSERT INTO staff (name, password_hash, created_at) VALUES (?1, ?2, ?3)");
    add.Bind(1, staff.name).Bind(2, staff.passwordHash).Bind(3, staff.createdAt);
    return OutcomeOf(add.Next());
}

StoreResult SqliteStaffStore::Remove(const std::string& name) {
    auto lock = database_.Lock();
    Statement remove(database_, "DELETE FROM staff WHERE name = ?1");
    remove.Bind(1, name);
    StoreResult result = OutcomeOf(remove.Next());
    if (result == StoreResult::Ok && database_.Changes() == 0)
        return StoreResult::NotFound;
    return result;
}

StoreResult SqliteStaffStore::List(std::vector<StaffRecord>& staff) {
    staff.clear();
    auto lock = database_.Lock();
    Statement list(database_, "SELECT name, password_hash, created_at FROM staff ORDER BY name");
    for (;;) {
        switch (list.Next()) {
        case Statement::Step::Row:
            staff.push_back({list.Text(0), list.Text(1), list.Integer(2)});
            break;
        case Statement::Step::Done:
            return StoreResult::Ok;
        default:
            return StoreResult::Failed;
        }
    }
}

} // namespace server
