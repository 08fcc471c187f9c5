// The staff view's sessions (see staff_sessions.h).
#include "staff_sessions.h"

#include <sodium.h>

namespace server::staff {

std::string RandomToken() {
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char hex[2 * sizeof bytes + 1];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    return hex;
}

bool SameToken(const std::string& a, const std::string& b) {
    return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string StaffSessions::Open(const std::string& name, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    // Sessions past their idle time go first; at the limit the longest unused one goes.
    std::erase_if(sessions_, [&](const auto& entry) {
        return std::chrono::duration<double>(now - entry.second.lastUse).count() > idle_;
    });
    while (sessions_.size() >= maxSessions_) {
        auto oldest = sessions_.begin();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        sessions_.erase(oldest);
    }
    std::string token = RandomToken();
    sessions_[token] = Session{name, RandomToken(), now};
    return token;
}

bool StaffSessions::Use(const std::string& token, Clock::time_point now, Session& session) {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(token);
    if (found == sessions_.end())
        return false;
    if (std::chrono::duration<double>(now - found->second.lastUse).count() > idle_) {
        sessions_.erase(found);
        return false;
    }
    found->second.lastUse = now;
    session = found->second;
    return true;
}

void StaffSessions::Close(const std::string& token) {
    std::lock_guard lock(mutex_);
    sessions_.erase(token);
}

void StaffSessions::CloseAllOf(const std::string& name) {
    std::lock_guard lock(mutex_);
    std::erase_if(sessions_, [&](const auto& entry) { return entry.second.name == name; });
}

std::size_t StaffSessions::Count() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

} // namespace server::staff
