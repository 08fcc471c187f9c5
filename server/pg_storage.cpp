// PostgreSQL tables and their versions; the stores of accounts and file records (see
// pg_storage.h).
#include "pg_storage.h"

namespace server {

namespace {

// Every schema change is one step here, applied in order inside one transaction; the SQLite
// stores take the same steps under the same numbers.
struct Migration {
    int version;
    const char* sql;
};

// Names compare byte for byte (COLLATE "C"): "Alice" and "alice" are two accounts, as on SQLite.
// The instances and presence tables hold only what running instances share now (cluster.h).
const Migration kMigrations[] = {
    {1, R"sql(
CREATE TABLE accounts (
    name          text COLLATE "C" PRIMARY KEY,
    password_hash text NOT NULL,
    created_at    bigint NOT NULL
);
CREATE TABLE files (
    user_name    text COLLATE "C" NOT NULL,
    offered_name text COLLATE "C" NOT NULL,
    stored_name  text COLLATE "C" NOT NULL,
    size         bigint NOT NULL,
    sha256       bytea NOT NULL,
    received_at  bigint NOT NULL,
    PRIMARY KEY (user_name, stored_name)
);
CREATE INDEX files_by_offer ON files (user_name, offered_name);
CREATE TABLE instances (
    id         bigserial PRIMARY KEY,
    address    text NOT NULL,
    started_at timestamptz NOT NULL DEFAULT now(),
    seen_at    timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE presence (
    instance_id bigint NOT NULL REFERENCES instances (id) ON DELETE CASCADE,
    session_id  bigint NOT NULL,
    name        text COLLATE "C" NOT NULL,
    world       text NOT NULL DEFAULT '',
    shared      boolean NOT NULL,
    PRIMARY KEY (instance_id, session_id)
);
CREATE UNIQUE INDEX presence_one_login ON presence (name) WHERE NOT shared;
)sql"},
    // The staff view's: what a data file says (world, others, the problem of an unreadable
    // one, the record) is kept as bytes, as SQLite keeps it, so no file's content is refused for
    // its encoding. The unique key makes a drive recorded by two instances at once one row.
    {2, R"sql(
CREATE TABLE drives (
    id                bigserial PRIMARY KEY,
    user_name         text COLLATE "C" NOT NULL,
    stored_name       text COLLATE "C" NOT NULL,
    readable          boolean NOT NULL,
    problem           bytea NOT NULL,
    sealed            boolean NOT NULL,
    world             bytea NOT NULL,
    start_time        bigint NOT NULL,
    end_time          bigint NOT NULL,
    duration          bigint NOT NULL,
    distance_cm       bigint NOT NULL,
    collisions        bigint NOT NULL,
    landmarks_reached bigint NOT NULL,
    landmarks_total   bigint NOT NULL,
    others            bytea NOT NULL,
    samples           bigint NOT NULL,
    record            bytea NOT NULL,
    recorded_at       bigint NOT NULL,
    UNIQUE (user_name, stored_name)
);
CREATE INDEX drives_by_user ON drives (user_name, start_time);
CREATE INDEX drives_by_start ON drives (start_time);
CREATE TABLE staff (
    name          text COLLATE "C" PRIMARY KEY,
    password_hash text NOT NULL,
    created_at    bigint NOT NULL
);
)sql"},
};

// Taken by the instance setting up the schema, so two starting at once do not race.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(31520001)";

StoreResult Finish(const PgResult& result) {
    switch (result.status()) {
    case PgResult::Status::Ok:
        return StoreResult::Ok;
    case PgResult::Status::Constraint:
        return StoreResult::Exists;
    default:
        return StoreResult::Failed;
    }
}

} // namespace

bool OpenPostgresSchema(PgPool& pool, std::string& error) {
    auto lease = pool.Acquire();
    if (!lease) {
        error = pool.Exhausted().Error();
        return false;
    }
    if (!lease->Ensure(error)) {
        error = "cannot connect to the database: " + error;
        return false;
    }
    PgResult begun = lease->Execute("BEGIN");
    if (!begun.Ok()) {
        error = "cannot use the database: " + begun.Error();
        return false;
    }
    auto fail = [&](const std::string& why) {
        lease->Execute("ROLLBACK");
        error = why;
        return false;
    };
    PgResult locked = lease->Execute(kSchemaLock);
    PgResult made = locked.Ok() ? lease->Execute("CREATE TABLE IF NOT EXISTS pelora_schema "
                                                 "(version integer NOT NULL)")
                                : std::move(locked);
    if (!made.Ok())
        return fail("cannot set up the schema table: " + made.Error());
    PgResult current = lease->Execute("SELECT max(version) FROM pelora_schema");
    if (!current.Ok() || current.Rows() != 1)
        return fail("cannot read the schema version: " + current.Error());
    int version = current.IsNull(0, 0) ? 0 : static_cast<int>(current.Integer(0, 0));
    if (version > kStorageSchemaVersion)
        return fail("the database was written by a newer server (schema " +
                    std::to_string(version) + "; this server knows up to " +
                    std::to_string(kStorageSchemaVersion) + ")");
    for (const Migration& migration : kMigrations) {
        if (migration.version <= version)
            continue;
        PgResult step = lease->Execute(migration.sql);
        if (!step.Ok())
            return fail("cannot bring the schema to version " + std::to_string(migration.version) +
                        ": " + step.Error());
        PgResult noted =
            lease->Run("schema_note", "INSERT INTO pelora_schema (version) VALUES ($1)",
                       {PgParam::Integer(migration.version)});
        if (!noted.Ok())
            return fail("cannot note the schema version: " + noted.Error());
    }
    PgResult committed = lease->Execute("COMMIT");
    if (!committed.Ok()) {
        error = "cannot set up the schema: " + committed.Error();
        return false;
    }
    return true;
}

StoreResult PgAccountStore::Find(const std::string& name, AccountRecord& account) {
    PgResult found = pool_.Run(
        "account_find", "SELECT name, password_hash, created_at FROM accounts WHERE name = $1",
        {PgParam::Text(name)});
    if (!found.Ok())
        return StoreResult::Failed;
    if (found.Rows() == 0)
        return StoreResult::NotFound;
    account.name = found.Text(0, 0);
    account.passwordHash = found.Text(0, 1);
    account.createdAt = found.Integer(0, 2);
    return StoreResult::Ok;
}

StoreResult PgAccountStore::Add(const AccountRecord& account) {
    return Finish(pool_.Run(
        "account_add", "INSERT INTO accounts (name, password_hash, created_at) VALUES ($1, $2, $3)",
        {PgParam::Text(account.name), PgParam::Text(account.passwordHash),
         PgParam::Integer(account.createdAt)}));
}

StoreResult PgAccountStore::UpdateHash(const std::string& name, const std::string& passwordHash) {
    PgResult updated =
        pool_.Run("account_rehash", "UPDATE accounts SET password_hash = $2 WHERE name = $1",
                  {PgParam::Text(name), PgParam::Text(passwordHash)});
    StoreResult result = Finish(updated);
    if (result == StoreResult::Ok && updated.Changed() == 0)
        return StoreResult::NotFound;
    return result;
}

StoreResult PgAccountStore::Count(std::uint64_t& accounts) {
    PgResult count = pool_.Run("account_count", "SELECT count(*) FROM accounts", {});
    if (!count.Ok() || count.Rows() != 1)
        return StoreResult::Failed;
    accounts = static_cast<std::uint64_t>(count.Integer(0, 0));
    return StoreResult::Ok;
}

StoreResult PgFileRecordStore::FindSame(const std::string& user, const std::string& offeredName,
                                        std::uint64_t size, const std::string& sha256,
                                        FileRecord& record) {
    PgResult found =
        pool_.Run("file_same",
                  "SELECT stored_name, received_at FROM files WHERE user_name = $1 "
                  "AND offered_name = $2 AND size = $3 AND sha256 = $4 LIMIT 1",
                  {PgParam::Text(user), PgParam::Text(offeredName),
                   PgParam::Integer(static_cast<std::int64_t>(size)), PgParam::Bytes(sha256)});
    if (!found.Ok())
        return StoreResult::Failed;
    if (found.Rows() == 0)
        return StoreResult::NotFound;
    record.user = user;
    record.offeredName = offeredName;
    record.storedName = found.Text(0, 0);
    record.size = size;
    record.sha256 = sha256;
    record.receivedAt = found.Integer(0, 1);
    return StoreResult::Ok;
}

StoreResult PgFileRecordStore::StoredNameTaken(const std::string& user,
                                               const std::string& storedName, bool& taken) {
    PgResult found =
        pool_.Run("file_taken", "SELECT 1 FROM files WHERE user_name = $1 AND stored_name = $2",
                  {PgParam::Text(user), PgParam::Text(storedName)});
    if (!found.Ok())
        return StoreResult::Failed;
    taken = found.Rows() > 0;
    return StoreResult::Ok;
}

StoreResult PgFileRecordStore::Add(const FileRecord& record) {
    return Finish(pool_.Run("file_add",
                            "INSERT INTO files (user_name, offered_name, stored_name, size, "
                            "sha256, received_at) VALUES ($1, $2, $3, $4, $5, $6)",
                            {PgParam::Text(record.user), PgParam::Text(record.offeredName),
                             PgParam::Text(record.storedName),
                             PgParam::Integer(static_cast<std::int64_t>(record.size)),
                             PgParam::Bytes(record.sha256), PgParam::Integer(record.receivedAt)}));
}

StoreResult PgFileRecordStore::AddWithinLimits(const FileRecord& record, std::uint64_t maxBytes,
                                               std::uint64_t maxFiles) {
    auto lease = pool_.Acquire();
    if (!lease) {
        pool_.Exhausted();
        return StoreResult::Failed;
    }
    if (!lease->Execute("BEGIN").Ok())
        return StoreResult::Failed;
    auto fail = [&](StoreResult result) {
        lease->Execute("ROLLBACK");
        return result;
    };
    // One user's additions one at a time, whichever instance makes them.
    if (!lease
             ->Run("file_user_lock", "SELECT pg_advisory_xact_lock(31520002, hashtext($1))",
                   {PgParam::Text(record.user)})
             .Ok())
        return fail(StoreResult::Failed);
    PgResult usage = lease->Run(
        "file_usage", "SELECT COALESCE(SUM(size), 0), count(*) FROM files WHERE user_name = $1",
        {PgParam::Text(record.user)});
    if (!usage.Ok() || usage.Rows() != 1)
        return fail(StoreResult::Failed);
    auto bytes = static_cast<std::uint64_t>(usage.Integer(0, 0));
    auto files = static_cast<std::uint64_t>(usage.Integer(0, 1));
    if (files + 1 > maxFiles || bytes + record.size > maxBytes)
        return fail(StoreResult::OverLimit);
    StoreResult added = Finish(lease->Run(
        "file_add",
        "INSERT INTO files (user_name, offered_name, stored_name, size, sha256, received_at) "
        "VALUES ($1, $2, $3, $4, $5, $6)",
        {PgParam::Text(record.user), PgParam::Text(record.offeredName),
         PgParam::Text(record.storedName), PgParam::Integer(static_cast<std::int64_t>(record.size)),
         PgParam::Bytes(record.sha256), PgParam::Integer(record.receivedAt)}));
    if (added != StoreResult::Ok)
        return fail(added);
    return lease->Execute("COMMIT").Ok() ? StoreResult::Ok : StoreResult::Failed;
}

StoreResult PgFileRecordStore::Usage(const std::string& user, std::uint64_t& bytes,
                                     std::uint64_t& files) {
    PgResult usage = pool_.Run(
        "file_usage", "SELECT COALESCE(SUM(size), 0), count(*) FROM files WHERE user_name = $1",
        {PgParam::Text(user)});
    if (!usage.Ok() || usage.Rows() != 1)
        return StoreResult::Failed;
    bytes = static_cast<std::uint64_t>(usage.Integer(0, 0));
    files = static_cast<std::uint64_t>(usage.Integer(0, 1));
    return StoreResult::Ok;
}

} // namespace server
