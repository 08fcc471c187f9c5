// The staff view's logins: a session per login, named by a random token kept in a cookie,
// with its own CSRF token for the forms; a session unused for the idle time is over. Held in
// memory: a restart of the server asks staff to log in again.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace server::staff {

// 32 random bytes as 64 hex digits.
std::string RandomToken();
// Compares in time that does not depend on where the texts differ.
bool SameToken(const std::string& a, const std::string& b);

class StaffSessions {
public:
    using Clock = std::chrono::steady_clock;
    struct Session {
        std::string name;
        std::string csrf;
        Clock::time_point lastUse;
    };

    explicit StaffSessions(double idleSeconds, std::size_t maxSessions = 10000)
        : idle_(idleSeconds), maxSessions_(maxSessions) {}

    // Opens a session for the staff member; gives its token.
    std::string Open(const std::string& name, Clock::time_point now);
    // The session of the token, its idle time restarted; false (and the session gone) when
    // it is unknown or has been idle too long.
    bool Use(const std::string& token, Clock::time_point now, Session& session);
    void Close(const std::string& token);
    // Ends every session of a staff member (whose account was removed, say).
    void CloseAllOf(const std::string& name);
    std::size_t Count() const;

private:
    double idle_;
    std::size_t maxSessions_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Session> sessions_;
};

} // namespace server::staff
