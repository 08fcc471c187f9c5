// What every session shares: the settings, the log, the stores and registries, the worker
// pool for slow work, and the table of live sessions (for the connection limit and for telling
// everyone at shutdown). Owned by the Server; sessions hold a reference.
#pragma once

#include "data_files.h"
#include "login_throttle.h"
#include "options.h"
#include "password_hasher.h"
#include "presence.h"
#include "server_log.h"
#include "storage.h"
#include "world_registry.h"

#include <asio/thread_pool.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace server {

class Session;

class SessionTable {
public:
    void Add(std::uint64_t id, const std::weak_ptr<Session>& session);
    void Remove(std::uint64_t id);
    std::size_t Count() const;
    void ForEach(const std::function<void(const std::shared_ptr<Session>&)>& action) const;

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, std::weak_ptr<Session>> sessions_;
};

struct ServerContext {
    const ServerOptions& options;
    Log& log;
    AccountStore& accounts;
    DataFiles& files;
    const PasswordHasher& hasher;
    LoginThrottle& throttle;
    RateLimit& creations;
    Presence& presence;
    WorldRegistry& worlds;
    asio::thread_pool& workers;
    SessionTable& sessions;
};

} // namespace server
