// The staff view: HTTPS pages served by pelora-server on a port of their own (--staff-port,
// default 3153; 0 turns it off; --staff-bind), with the launchers' certificate. cpp-httplib
// with OpenSSL does the HTTP; this file holds the logins (staff accounts, session cookie,
// CSRF tokens, throttled failures, idle expiry, logout) and the routes to the pages.
#pragma once

#include "drive_store.h"
#include "staff_sessions.h"
#include "world_catalog.h"

#include "server/login_throttle.h"
#include "server/options.h"
#include "server/password_hasher.h"
#include "server/presence.h"
#include "server/server_log.h"

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

namespace server {

struct StaffContext {
    const ServerOptions& options;
    Log& log;
    DriveStore& drives;
    StaffStore& staff;
    const PasswordHasher& hasher;
    Presence& presence;
    const WorldCatalog& worlds;
};

class StaffServer {
public:
    explicit StaffServer(const StaffContext& context);
    ~StaffServer();
    StaffServer(const StaffServer&) = delete;
    StaffServer& operator=(const StaffServer&) = delete;

    // Binds to --staff-bind and --staff-port with the certificate and starts serving on a
    // thread of its own; false with a sentence in `error`.
    bool Start(const std::string& certPath, const std::string& keyPath, std::string& error);
    // "127.0.0.1:3153"
    std::string ListenAddress() const;
    void Stop();

private:
    bool Authorized(const httplib::Request& request, staff::StaffSessions::Session& session,
                    std::string* token = nullptr);
    void Routes();
    void Login(const httplib::Request& request, httplib::Response& response);

    StaffContext context_;
    staff::StaffSessions sessions_;
    LoginThrottle throttle_;
    std::string dummyHash_; // verified against for unknown names, so they take as long
    std::unique_ptr<httplib::SSLServer> http_;
    std::thread thread_;
    int port_ = 0;
};

} // namespace server
