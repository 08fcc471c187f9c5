// SQLite ownership (see database.h).
#include "database.h"

#include "storage.h"

#include <sqlite3.h>

namespace server {

Database::~Database() {
    Close();
}

bool Database::Open(const std::string& path, std::string& error) {
    Close();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error = "cannot open the database " + path + ": " +
                (db_ ? sqlite3_errmsg(db_) : "out of memory");
        Close();
        return false;
    }
    // A writer waits for a checkpoint rather than failing at once.
    sqlite3_busy_timeout(db_, 5000);
    if (!Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; PRAGMA foreign_keys=ON;",
                 error)) {
        error = "cannot set up the database " + path + ": " + error;
        Close();
        return false;
    }
    return true;
}

void Database::Close() {
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool Database::Execute(const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : "unknown database error";
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::string Database::LastError() const {
    return db_ ? sqlite3_errmsg(db_) : "not open";
}

int Database::Changes() {
    return db_ ? sqlite3_changes(db_) : 0;
}

int Database::SchemaVersion() {
    Statement version(*this, "PRAGMA user_version");
    return version.Next() == Statement::Step::Row ? static_cast<int>(version.Integer(0)) : -1;
}

Statement::Statement(Database& database, const char* sql) : database_(database) {
    if (database.Handle())
        sqlite3_prepare_v2(database.Handle(), sql, -1, &statement_, nullptr);
}

Statement::~Statement() {
    sqlite3_finalize(statement_);
}

Statement& Statement::Bind(int index, std::string_view text) {
    if (statement_)
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    if (statement_)
        sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::Bind(int index, std::int64_t value) {
    if (statement_)
        sqlite3_bind_int64(statement_, index, value);
    return *this;
}

Statement::Step Statement::Next() {
    if (!statement_) {
        NoteStoreFailure("SQLite: " + database_.LastError());
        return Step::Failed;
    }
    int result = sqlite3_step(statement_);
    if (result == SQLITE_ROW)
        return Step::Row;
    if (result == SQLITE_DONE)
        return Step::Done;
    if ((result & 0xFF) == SQLITE_CONSTRAINT)
        return Step::Constraint;
    NoteStoreFailure("SQLite: " + database_.LastError());
    return Step::Failed;
}

std::string Statement::Text(int column) const {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return text ? std::string(text,
                              static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                : std::string();
}

std::string Statement::Blob(int column) const {
    auto bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    return bytes ? std::string(bytes,
                               static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                 : std::string();
}

std::int64_t Statement::Integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

Transaction::Transaction(Database& database) : database_(database) {
    std::string error;
    began_ = database_.Execute("BEGIN IMMEDIATE", error);
}

Transaction::~Transaction() {
    if (began_ && !done_) {
        std::string error;
        database_.Execute("ROLLBACK", error);
    }
}

bool Transaction::Commit() {
    std::string error;
    if (!began_ || done_)
        return false;
    done_ = database_.Execute("COMMIT", error);
    return done_;
}

} // namespace server
