// The choice of database behind the stores (see storage_backend.h).
#include "storage_backend.h"

#include "database.h"
#include "pg_connection.h"
#include "pg_storage.h"
#include "sqlite_storage.h"
#include "staff/pg_drive_store.h"
#include "staff/sqlite_drive_store.h"

namespace server {

namespace {

class SqliteBackend : public StorageBackend {
public:
    explicit SqliteBackend(std::string path) : path_(std::move(path)) {}
    bool Open(std::string& error) override {
        return OpenServerDatabase(database_, path_, error) && reader_.Open(path_, error);
    }
    void Close() override {
        reader_.Close();
        database_.Close();
    }
    AccountStore& Accounts() override { return accounts_; }
    FileRecordStore& Files() override { return files_; }
    std::string Describe() const override { return "SQLite file " + path_; }
    DriveStore& Drives() override { return drives_; }
    StaffStore& Staff() override { return staff_; }

private:
    std::string path_;
    Database database_;
    Database reader_; // look-ups of file records, beside the writes
    SqliteAccountStore accounts_{database_};
    SqliteFileRecordStore files_{database_, reader_};
    SqliteDriveStore drives_{database_};
    SqliteStaffStore staff_{database_};
};

class PostgresBackend : public StorageBackend {
public:
    PostgresBackend(const std::string& url, std::size_t connections)
        : url_(url), pool_(url, connections) {}
    bool Open(std::string& error) override {
        if (OpenPostgresSchema(pool_, error))
            return true;
        error = "PostgreSQL database " + RedactedUrl(url_) + ": " + error;
        return false;
    }
    void Close() override { pool_.CloseAll(); }
    AccountStore& Accounts() override { return accounts_; }
    FileRecordStore& Files() override { return files_; }
    std::string Describe() const override { return "PostgreSQL " + RedactedUrl(url_); }
    DriveStore& Drives() override { return drives_; }
    StaffStore& Staff() override { return staff_; }
    PgPool* Postgres() override { return &pool_; }

private:
    std::string url_;
    PgPool pool_;
    PgAccountStore accounts_{pool_};
    PgFileRecordStore files_{pool_};
    PgDriveStore drives_{pool_};
    PgStaffStore staff_{pool_};
};

} // namespace

bool IsPostgresUrl(const std::string& text) {
    return text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0;
}

std::unique_ptr<StorageBackend> MakeStorage(const std::string& databaseUrl,
                                            const std::string& sqlitePath,
                                            std::size_t connections) {
    if (databaseUrl.empty())
        return std::make_unique<SqliteBackend>(sqlitePath);
    return std::make_unique<PostgresBackend>(databaseUrl, connections);
}

} // namespace server
