// What every session shares: the settings, the log, the stores and registries, the worker
// pool for slow work, and the table of live sessions (for the connection limit and for telling
// everyone at shutdown). Owned by the Server; sessions hold a reference.
#pragma once

#include "accounts.h"
#include "data_files.h"
#include "options.h"
#include "presence.h"
#include "server_log.h"
#include "world_registry.h"

#include <asio/thread_pool.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace server {

class Session;

class SessionTable {
public:
    void Add(std::uint64_t id, const std::weak_ptr<Session>& session, const std::string& address);
    void Remove(std::uint64_t id);
    std::size_t Count() const;
    // Live connections from the address.
    std::size_t CountFrom(const std::string& address) const;
    // Connections closed since the start.
    std::uint64_t Closed() const { return closed_; }
    void ForEach(const std::function<void(const std::shared_ptr<Session>&)>& action) const;

private:
    struct Entry {
        std::weak_ptr<Session> session;
        std::string address;
    };
    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, Entry> sessions_;
    std::unordered_map<std::string, std::size_t> perAddress_;
    std::atomic<std::uint64_t> closed_{0};
};

struct ServerContext {
    const ServerOptions& options;
    Log& log;
    Accounts& accounts;
    DataFiles& files;
    Presence& presence;
    WorldRegistry& worlds;
    asio::thread_pool& workers; // password hashes
    asio::thread_pool& disk;    // data files
    SessionTable& sessions;
    std::string sealPublicKey; // the 32 bytes launchers seal data files to; set at start
};

} // namespace server
