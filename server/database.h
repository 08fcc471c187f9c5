// A thin owner of one SQLite connection and its statements: the handle closes on every way out,
// a statement finalizes with its owner, a transaction rolls back unless committed. Opened in
// WAL mode with full syncing, so a committed account survives a crash of the server or of the
// machine. One connection is shared by the server's worker threads; callers hold Lock() for
// every use, statements included.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace server {

class Database {
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool Open(const std::string& path, std::string& error);
    void Close();
    bool IsOpen() const { return db_ != nullptr; }

    // Runs statements without results (schema, pragmas); false with the error text.
    bool Execute(const std::string& sql, std::string& error);

    std::unique_lock<std::mutex> Lock() { return std::unique_lock(mutex_); }
    sqlite3* Handle() { return db_; }
    std::string LastError() const;
    // Rows changed by the last statement.
    int Changes();

    // The schema version kept in PRAGMA user_version.
    int SchemaVersion();

private:
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

class Statement {
public:
    Statement(Database& database, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return statement_ != nullptr; }
    Statement& Bind(int index, std::string_view text);
    Statement& BindBlob(int index, std::string_view bytes);
    Statement& Bind(int index, std::int64_t value);

    // Steps once: Row when a row is there, Done at the end, Failed on an error (the
    // constraint kind is told apart so callers can answer "exists").
    enum class Step { Row, Done, Constraint, Failed };
    Step Next();

    std::string Text(int column) const;
    std::string Blob(int column) const;
    std::int64_t Integer(int column) const;

private:
    Database& database_;
    sqlite3_stmt* statement_ = nullptr;
};

class Transaction {
public:
    explicit Transaction(Database& database);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Began() const { return began_; }
    bool Commit();

private:
    Database& database_;
    bool began_ = false;
    bool done_ = false;
};

} // namespace server
