// A throwaway PostgreSQL 15 cluster for a test: initdb in a fresh temporary folder, the server
// listening only on a Unix socket in that folder (no TCP port at all), run as an unprivileged
// user (the `postgres` system user when the test runs as root, since initdb and postgres refuse
// root), stopped and removed with everything in it at the end. Start() waits for the server's
// "ready to accept connections" line rather than for a time.
//
// Where PostgreSQL cannot be started (no binaries, no unprivileged user, initdb failing), a
// test skips with the reason; with PELORA_REQUIRE_POSTGRES=1 in the environment (CI sets it)
// the skip becomes a failure. Self-contained: POSIX and the standard library only.
#pragma once

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>

namespace pelora_test {

class PostgresCluster {
public:
    PostgresCluster() = default;
    ~PostgresCluster(); // stops the server and removes the folder
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Makes the cluster and starts its server; false with a sentence in `error`.
    bool Start(std::string& error, double timeoutSeconds = 60);
    // Stops the server at once (no checkpoint: the data is thrown away) and removes the folder.
    void Stop();
    bool Running() const { return pid_ > 0; }

    // Makes an empty database owned by the cluster's superuser; false with the reason.
    bool CreateDatabase(const std::string& name, std::string& error);

    // A postgresql:// URL of the database, through the socket in the temporary folder.
    std::string Url(const std::string& database) const;
    // The same as libpq "key=value" connection text.
    std::string ConnectionText(const std::string& database) const;

    // Where the binaries are looked for: $PELORA_PG_BIN, else /usr/lib/postgresql/15/bin.
    static std::string BinFolder();
    // Whether PELORA_REQUIRE_POSTGRES=1 turns a skip into a failure.
    static bool Required();

private:
    std::string folder_; // the temporary folder; the socket lives here
    std::string data_;   // folder_/data
    pid_t pid_ = -1;     // the postmaster
    int output_ = -1;    // the read end of its log
    uid_t uid_ = 0;      // who runs it
    gid_t gid_ = 0;
    bool dropPrivileges_ = false;
    std::thread drainer_; // reads the server's log once it is ready
    std::atomic<bool> ended_{false};
};

} // namespace pelora_test

// Starts a cluster for the calling test, or skips it (fails it when PostgreSQL is required).
// Use inside a TEST or a fixture's SetUp.
#define PELORA_START_POSTGRES_OR_SKIP(cluster)                                                     \
    do {                                                                                           \
        std::string pelora_pg_error_;                                                              \
        if (!(cluster).Start(pelora_pg_error_)) {                                                  \
            if (::pelora_test::PostgresCluster::Required())                                        \
                FAIL() << "PostgreSQL is required (PELORA_REQUIRE_POSTGRES=1) but did not start: " \
                       << pelora_pg_error_;                                                        \
            GTEST_SKIP() << "PostgreSQL could not be started: " << pelora_pg_error_;               \
        }                                                                                          \
    } while (false)
