// A small pool of PostgreSQL connections (libpq) for the stores. A caller leases one
// connection for the length of its work, so a connection is never used by two threads at
// once; when all are leased the caller waits, for a bounded time (then the call fails as a
// database that cannot answer does). Every statement is prepared once per connection
// on first use and run with bound parameters only: values never become part of SQL text. A
// connection that broke is dropped and made again on the next lease, so a database restart
// costs the calls made while it is down, not the server.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace server {

// One bound parameter: text and bytes go as raw bytes (binary format, any content), numbers as
// their decimal text.
struct PgParam {
    static PgParam Text(std::string_view text) { return {std::string(text), true}; }
    static PgParam Bytes(std::string_view bytes) { return {std::string(bytes), true}; }
    static PgParam Integer(std::int64_t value) { return {std::to_string(value), false}; }
    static PgParam Boolean(bool value) { return {value ? "true" : "false", false}; }
    static PgParam Real(double value) { return {std::to_string(value), false}; }
    std::string value;
    bool binary = false;
};

// The outcome of one statement, with its rows (text format).
class PgResult {
public:
    enum class Status { Ok, Constraint, Failed };
    PgResult() = default;
    PgResult(pg_result* result, Status status, std::string error);
    PgResult(PgResult&&) noexcept = default;
    PgResult& operator=(PgResult&&) noexcept = default;

    Status status() const { return status_; }
    bool Ok() const { return status_ == Status::Ok; }
    const std::string& Error() const { return error_; }
    int Rows() const;
    std::string Text(int row, int column) const;
    std::int64_t Integer(int row, int column) const;
    bool IsNull(int row, int column) const;
    // A bytea column's bytes.
    std::string Bytes(int row, int column) const;
    // Rows the statement changed (UPDATE, DELETE, INSERT).
    std::uint64_t Changed() const;

private:
    struct Free {
        void operator()(pg_result* result) const;
    };
    std::unique_ptr<pg_result, Free> result_;
    Status status_ = Status::Failed;
    std::string error_;
};

class PgConnection {
public:
    explicit PgConnection(std::string conninfo) : conninfo_(std::move(conninfo)) {}
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Connects when not connected (or no longer); false with the reason.
    bool Ensure(std::string& error);
    void Close();
    pg_conn* Handle() { return connection_; }

    // Runs the statement `name` (prepared from `sql` on this connection's first use of it).
    PgResult Run(const char* name, const char* sql, const std::vector<PgParam>& params);
    // Runs SQL without parameters (schema, transactions, LISTEN); may hold several statements.
    PgResult Execute(const std::string& sql);

private:
    PgResult Finish(pg_result* result);

    std::string conninfo_;
    pg_conn* connection_ = nullptr;
    std::set<std::string> prepared_;
};

class PgPool {
public:
    // `wait`: how long a caller waits for a free connection before its call fails.
    PgPool(std::string conninfo, std::size_t size,
           std::chrono::milliseconds wait = std::chrono::seconds(5));
    ~PgPool();
    PgPool(const PgPool&) = delete;
    PgPool& operator=(const PgPool&) = delete;

    const std::string& ConnInfo() const { return conninfo_; }

    class Lease {
    public:
        Lease(PgPool& pool, PgConnection* connection) : pool_(&pool), connection_(connection) {}
        ~Lease();
        Lease(Lease&& other) noexcept : pool_(other.pool_), connection_(other.connection_) {
            other.connection_ = nullptr;
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        // False when no connection came free within the pool's wait.
        explicit operator bool() const { return connection_ != nullptr; }
        PgConnection* operator->() { return connection_; }
        PgConnection& operator*() { return *connection_; }

    private:
        PgPool* pool_;
        PgConnection* connection_;
    };
    // Waits for a free connection, at most the pool's wait (an empty lease then); it is
    // connected on first use (Ensure or Run).
    Lease Acquire();
    // The failure of a call that found no free connection.
    PgResult Exhausted() const;

    // Leases a connection and runs one prepared statement on it.
    PgResult Run(const char* name, const char* sql, const std::vector<PgParam>& params);

    // Closes every connection not leased (at shutdown).
    void CloseAll();

private:
    void Release(PgConnection* connection);

    std::string conninfo_;
    std::chrono::milliseconds wait_;
    std::vector<std::unique_ptr<PgConnection>> connections_;
    std::vector<PgConnection*> free_;
    std::mutex mutex_;
    std::condition_variable available_;
};

// The URL without its password, for logs and messages.
std::string RedactedUrl(const std::string& url);

} // namespace server
