// SQLite tables for accounts and file records (see sqlite_storage.h).
#include "sqlite_storage.h"

namespace server {

namespace {

// Every schema change is one step here, applied in order in one transaction; the PostgreSQL
// stores take the same steps under the same numbers (pg_storage.cpp). The steps say IF NOT
// EXISTS because a database of an older server may hold the staff view's tables from before
// they were a step of their own.
struct Migration {
    int version;
    const char* sql;
};

// Names compare byte for byte (BINARY): "Alice" and "alice" are two accounts, as they are two
// user folders on the launcher's side. The staff view's drives keep their distances in whole
// centimetres, the others as one name a line, the record as the text of the data file's
// trajectory section.
const Migration kMigrations[] = {
    {1, R"sql(
CREATE TABLE IF NOT EXISTS accounts (
    name          TEXT PRIMARY KEY NOT NULL,
    password_hash TEXT NOT NULL,
    created_at    INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS files (
    user         TEXT NOT NULL,
    offered_name TEXT NOT NULL,
    stored_name  TEXT NOT NULL,
    size         INTEGER NOT NULL,
    sha256       BLOB NOT NULL,
    received_at  INTEGER NOT NULL,
    PRIMARY KEY (user, stored_name)
);
CREATE INDEX IF NOT EXISTS files_by_offer ON files (user, offered_name);
)sql"},
    {2, R"sql(
CREATE TABLE IF NOT EXISTS drives (
    id                INTEGER PRIMARY KEY,
    user              TEXT NOT NULL,
    stored_name       TEXT NOT NULL,
    readable          INTEGER NOT NULL,
    problem           TEXT NOT NULL,
    sealed            INTEGER NOT NULL,
    world             TEXT NOT NULL,
    start             INTEGER NOT NULL,
    end_time          INTEGER NOT NULL,
    duration          INTEGER NOT NULL,
    distance_cm       INTEGER NOT NULL,
    collisions        INTEGER NOT NULL,
    landmarks_reached INTEGER NOT NULL,
    landmarks_total   INTEGER NOT NULL,
    others            TEXT NOT NULL,
    samples           INTEGER NOT NULL,
    record            BLOB NOT NULL,
    recorded_at       INTEGER NOT NULL,
    UNIQUE (user, stored_name)
);
CREATE INDEX IF NOT EXISTS drives_by_user ON drives (user, start);
CREATE INDEX IF NOT EXISTS drives_by_start ON drives (start);
CREATE TABLE IF NOT EXISTS staff (
    name          TEXT PRIMARY KEY NOT NULL,
    password_hash TEXT NOT NULL,
    created_at    INTEGER NOT NULL
);
)sql"},
};

} // namespace

StoreResult OutcomeOf(Statement::Step step) {
    switch (step) {
    case Statement::Step::Done:
        return StoreResult::Ok;
    case Statement::Step::Constraint:
        return StoreResult::Exists;
    default:
        return StoreResult::Failed;
    }
}

bool OpenServerDatabase(Database& database, const std::string& path, std::string& error) {
    if (!database.Open(path, error))
        return false;
    auto lock = database.Lock();
    auto fail = [&](const std::string& why) {
        std::string ignored;
        database.Execute("ROLLBACK", ignored);
        error = why;
        database.Close();
        return false;
    };
    // A writer's lock from the start: another process opening the same file (a second server,
    // --add-staff) waits, then finds the steps taken.
    if (!database.Execute("BEGIN IMMEDIATE", error))
        return fail("cannot set up the tables of " + path + ": " + error);
    int version = database.SchemaVersion();
    if (version > kStorageSchemaVersion)
        return fail("the database " + path + " was written by a newer server (schema " +
                    std::to_string(version) + "; this server knows up to " +
                    std::to_string(kStorageSchemaVersion) + ")");
    for (const Migration& migration : kMigrations) {
        if (migration.version <= version)
            continue;
        if (!database.Execute(migration.sql, error) ||
            !database.Execute("PRAGMA user_version = " + std::to_string(migration.version), error))
            return fail("cannot bring the tables of " + path + " to schema version " +
                        std::to_string(migration.version) + ": " + error);
    }
    if (!database.Execute("COMMIT", error))
        return fail("cannot set up the tables of " + path + ": " + error);
    return true;
}

StoreResult SqliteAccountStore::Find(const std::string& name, AccountRecord& account) {
    auto lock = database_.Lock();
    Statement find(database_,
                   "SELECT name, password_hash, created_at FROM accounts WHERE name = ?1");
    find.Bind(1, name);
    switch (find.Next()) {
    case Statement::Step::Row:
        account.name = find.Text(0);
        account.passwordHash = find.Text(1);
        account.createdAt = find.Integer(2);
        return StoreResult::Ok;
    case Statement::Step::Done:
        return StoreResult::NotFound;
    default:
        return StoreResult::Failed;
    }
}

StoreResult SqliteAccountStore::Add(const AccountRecord& account) {
    auto lock = database_.Lock();
    Statement add(database_,
                  "INSERT INTO accounts (name, password_hash, created_at) VALUES (?1, ?2, ?3)");
    add.Bind(1, account.name).Bind(2, account.passwordHash).Bind(3, account.createdAt);
    return OutcomeOf(add.Next());
}

StoreResult SqliteAccountStore::UpdateHash(const std::string& name,
                                           const std::string& passwordHash) {
    auto lock = database_.Lock();
    Statement update(database_, "UPDATE accounts SET password_hash = ?2 WHERE name = ?1");
    update.Bind(1, name).Bind(2, passwordHash);
    StoreResult result = OutcomeOf(update.Next());
    if (result == StoreResult::Ok && database_.Changes() == 0)
        return StoreResult::NotFound;
    return result;
}

StoreResult SqliteAccountStore::Count(std::uint64_t& accounts) {
    auto lock = database_.Lock();
    Statement count(database_, "SELECT COUNT(*) FROM accounts");
    if (count.Next() != Statement::Step::Row)
        return StoreResult::Failed;
    accounts = static_cast<std::uint64_t>(count.Integer(0));
    return StoreResult::Ok;
}

StoreResult SqliteFileRecordStore::FindSame(const std::string& user, const std::string& offeredName,
                                            std::uint64_t size, const std::string& sha256,
                                            FileRecord& record) {
    auto lock = reader_.Lock();
    Statement find(reader_, "SELECT stored_name, received_at FROM files WHERE user = ?1 AND "
                            "offered_name = ?2 AND size = ?3 AND sha256 = ?4 LIMIT 1");
    find.Bind(1, user)
        .Bind(2, offeredName)
        .Bind(3, static_cast<std::int64_t>(size))
        .BindBlob(4, sha256);
    switch (find.Next()) {
    case Statement::Step::Row:
        record.user = user;
        record.offeredName = offeredName;
        record.storedName = find.Text(0);
        record.size = size;
        record.sha256 = sha256;
        record.receivedAt = find.Integer(1);
        return StoreResult::Ok;
    case Statement::Step::Done:
        return StoreResult::NotFound;
    default:
        return StoreResult::Failed;
    }
}

StoreResult SqliteFileRecordStore::StoredNameTaken(const std::string& user,
                                                   const std::string& storedName, bool& taken) {
    auto lock = reader_.Lock();
    Statement find(reader_, "SELECT 1 FROM files WHERE user = ?1 AND stored_name = ?2");
    find.Bind(1, user).Bind(2, storedName);
    Statement::Step step = find.Next();
    if (step == Statement::Step::Failed || step == Statement::Step::Constraint)
        return StoreResult::Failed;
    taken = step == Statement::Step::Row;
    return StoreResult::Ok;
}

StoreResult SqliteFileRecordStore::Add(const FileRecord& record) {
    auto lock = database_.Lock();
    return Insert(record);
}

StoreResult SqliteFileRecordStore::AddWithinLimits(const FileRecord& record, std::uint64_t maxBytes,
                                                   std::uint64_t maxFiles) {
    PendingAdd mine{&record, maxBytes, maxFiles};
    std::unique_lock lock(batchMutex_);
    waiting_.push_back(&mine);
    while (!mine.done) {
        if (committing_) {
            batchDone_.wait(lock);
            continue;
        }
        committing_ = true;
        std::vector<PendingAdd*> batch;
        batch.swap(waiting_);
        lock.unlock();
        CommitBatch(batch);
        lock.lock();
        for (PendingAdd* add : batch)
            add->done = true;
        committing_ = false;
        batchDone_.notify_all();
    }
    return mine.result;
}

// One transaction for the batch: each record is checked against its user's files, those
// added before it in the batch counted, and inserted or refused on its own.
void SqliteFileRecordStore::CommitBatch(const std::vector<PendingAdd*>& batch) {
    auto lock = database_.Lock();
    Transaction transaction(database_);
    if (!transaction.Began())
        return; // each stays Failed
    for (PendingAdd* add : batch) {
        const FileRecord& record = *add->record;
        bool fits = false;
        {
            Statement usage(database_,
                            "SELECT COALESCE(SUM(size), 0), COUNT(*) FROM files WHERE user = ?1");
            usage.Bind(1, record.user);
            if (usage.Next() != Statement::Step::Row) {
                add->result = StoreResult::Failed;
                continue;
            }
            auto bytes = static_cast<std::uint64_t>(usage.Integer(0));
            auto files = static_cast<std::uint64_t>(usage.Integer(1));
            fits = files + 1 <= add->maxFiles && bytes + record.size <= add->maxBytes;
        }
        add->result = fits ? Insert(record) : StoreResult::OverLimit;
    }
    if (!transaction.Commit())
        for (PendingAdd* add : batch)
            if (add->result == StoreResult::Ok)
                add->result = StoreResult::Failed;
}

// With the lock held.
StoreResult SqliteFileRecordStore::Insert(const FileRecord& record) {
    Statement add(database_, "INSERT INTO files (user, offered_name, stored_name, size, sha256, "
                             "received_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    add.Bind(1, record.user)
        .Bind(2, record.offeredName)
        .Bind(3, record.storedName)
        .Bind(4, static_cast<std::int64_t>(record.size))
        .BindBlob(5, record.sha256)
        .Bind(6, record.receivedAt);
    return OutcomeOf(add.Next());
}

StoreResult SqliteFileRecordStore::Usage(const std::string& user, std::uint64_t& bytes,
                                         std::uint64_t& files) {
    auto lock = reader_.Lock();
    Statement usage(reader_, "SELECT COALESCE(SUM(size), 0), COUNT(*) FROM files WHERE user = ?1");
    usage.Bind(1, user);
    if (usage.Next() != Statement::Step::Row)
        return StoreResult::Failed;
    bytes = static_cast<std::uint64_t>(usage.Integer(0));
    files = static_cast<std::uint64_t>(usage.Integer(1));
    return StoreResult::Ok;
}

} // namespace server
