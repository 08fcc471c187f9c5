// pelora-server as an object: prepares the data folder (database, sealing keys, certificate,
// leftovers of a crash), listens, accepts TLS connections into sessions on a few I/O threads
// with a worker pool beside them, and shuts down cleanly on SIGTERM or SIGINT: every session
// is told, the database is closed.
#pragma once

#include "accounts.h"
#include "cluster.h"
#include "data_files.h"
#include "login_throttle.h"
#include "options.h"
#include "password_hasher.h"
#include "presence.h"
#include "presence_news.h"
#include "server_context.h"
#include "server_log.h"
#include "storage_backend.h"
#include "world_registry.h"

#include "staff/drive_ingest.h"
#include "staff/drive_store.h"
#include "staff/staff_server.h"
#include "staff/world_catalog.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <asio/ssl/context.hpp>
#include <asio/steady_timer.hpp>
#include <asio/thread_pool.hpp>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace server {

// The data folder's layout.
struct DataLayout {
    explicit DataLayout(const ServerOptions& options);
    std::string database;  // <data>/pelora-server.db
    std::string log;       // <data>/pelora-server.log unless configured
    std::string keys;      // <data>/keys: seal.pub, seal.key
    std::string cert, key; // <data>/tls/server.pem, server.key unless configured
    std::string users;     // <data>/users/<name>/
};

class Server {
public:
    explicit Server(const ServerOptions& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Everything up to listening; false with a sentence in `error`.
    bool Start(std::string& error);
    // "127.0.0.1:3152", the address actually listened on.
    std::string ListenAddress() const;
    // Serves until a signal or Stop(); gives the exit code.
    int Run();
    // From any thread.
    void Stop();

private:
    void WarnOfWeakHashing();
    bool StartStaffView(const std::string& certificate, std::string& error);
    // Unfinished transfers and unrecorded files of an earlier run.
    void SettleEarlierRun();
    bool StartCluster(std::string& error);
    void StopCluster();
    void Accept();
    void NoteAddressRefusal(const std::string& address);
    void TrimMemory();
    void BeginShutdown(const std::string& why);
    void WaitForSessions();

    ServerOptions options_;
    DataLayout layout_;
    Log log_;
    std::unique_ptr<StorageBackend> storage_;
    // With PostgreSQL: the other instances on the database (server_cluster.cpp).
    std::unique_ptr<Cluster> cluster_;
    PasswordHasher hasher_;
    LoginThrottle throttle_;
    RateLimit creations_;
    Accounts accounts_{storage_->Accounts(), hasher_, throttle_, creations_};
    Presence presence_;
    WorldRegistry worlds_;
    DataFiles files_;
    // The staff view: the drives read from the data files, staff accounts, worlds, HTTPS.
    WorldCatalog worldCatalog_;
    SealKeys sealKeys_;
    std::unique_ptr<DriveIngest> ingest_;
    std::unique_ptr<StaffServer> staffServer_;
    SessionTable sessions_;
    asio::ssl::context tls_{asio::ssl::context::tls_server};
    asio::thread_pool workers_;
    asio::thread_pool disk_;
    // Sessions refer to the context, and the I/O context's end destroys the last of them: the
    // context must outlive it.
    std::unique_ptr<ServerContext> context_;
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_{io_};
    asio::signal_set signals_{io_};
    asio::steady_timer shutdownTimer_{io_};
    asio::steady_timer acceptRetry_{io_};
    asio::steady_timer trimTimer_{io_};
    // Tells the sessions that the users online changed, coalesced (presence_news.h).
    PresenceNews presenceNews_;
    std::uint64_t closedAtLastTrim_ = 0;
    std::chrono::steady_clock::time_point shutdownStart_;
    std::atomic<bool> stopping_{false};
    std::uint64_t nextSessionId_ = 1;
    bool acceptErrorLogged_ = false;
    std::uint64_t addressRefusals_ = 0;
    std::chrono::steady_clock::time_point addressRefusalLogged_{};
};

} // namespace server
