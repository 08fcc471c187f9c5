// Online users (see presence.h).
#include "presence.h"

#include <algorithm>

namespace server {

Presence::Claim Presence::Enter(std::uint64_t session, const std::string& name, bool shared) {
    std::lock_guard lock(mutex_);
    if (!shared && exclusiveNames_.count(name))
        return Claim::AlreadyLoggedIn;
    if (sessions_.size() >= maxUsers_)
        return Claim::Full;
    if (!shared)
        exclusiveNames_.insert(name);
    sessions_[session] = Held{{name, ""}, shared};
    return Claim::Granted;
}

void Presence::Leave(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(session);
    if (found == sessions_.end())
        return;
    if (!found->second.shared)
        exclusiveNames_.erase(found->second.entry.name);
    sessions_.erase(found);
}

void Presence::SetWorld(std::uint64_t session, const std::string& world) {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(session);
    if (found != sessions_.end())
        found->second.entry.world = world;
}

std::vector<OnlineEntry> Presence::List() const {
    std::vector<OnlineEntry> list;
    {
        std::lock_guard lock(mutex_);
        list.reserve(sessions_.size());
        for (const auto& [session, held] : sessions_)
            list.push_back(held.entry);
    }
    std::sort(list.begin(), list.end(), [](const OnlineEntry& a, const OnlineEntry& b) {
        return a.name != b.name ? a.name < b.name : a.world < b.world;
    });
    return list;
}

std::size_t Presence::Count() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

} // namespace server
