// Online users (see presence.h).
#include "presence.h"

#include <algorithm>

namespace server {

Presence::Claim Presence::Enter(std::uint64_t session, const std::string& name, bool shared) {
    std::unique_lock lock(mutex_);
    if (!shared && exclusiveNames_.count(name))
        return Claim::AlreadyLoggedIn;
    if (sessions_.size() >= maxUsers_)
        return Claim::Full;
    if (!shared)
        exclusiveNames_.insert(name);
    sessions_[session] = Held{{name, ""}, shared};
    if (!shared_) {
        lock.unlock();
        Changed(session);
        return Claim::Granted;
    }
    // Held here while the other instances are asked, so a login racing on this one waits out.
    lock.unlock();
    SharedPresence::Taken taken = shared_->Claim(session, name, shared);
    if (taken == SharedPresence::Taken::Yes) {
        Changed(session);
        return Claim::Granted;
    }
    lock.lock();
    sessions_.erase(session);
    if (!shared)
        exclusiveNames_.erase(name);
    return taken == SharedPresence::Taken::Elsewhere ? Claim::AlreadyLoggedIn : Claim::Unavailable;
}

void Presence::Leave(std::uint64_t session) {
    {
        std::lock_guard lock(mutex_);
        auto found = sessions_.find(session);
        if (found == sessions_.end())
            return;
        if (!found->second.shared)
            exclusiveNames_.erase(found->second.entry.name);
        sessions_.erase(found);
    }
    if (shared_)
        shared_->Release(session);
    Changed(session);
}

void Presence::SetWorld(std::uint64_t session, const std::string& world) {
    {
        std::lock_guard lock(mutex_);
        auto found = sessions_.find(session);
        if (found == sessions_.end())
            return;
        if (found->second.entry.world == world)
            return;
        found->second.entry.world = world;
    }
    if (shared_)
        shared_->SetWorld(session, world);
    Changed(session);
}

void Presence::Share(SharedPresence* shared) {
    shared_ = shared;
    // The callback stays with an instance that is let go: its thread may still be ending.
    if (shared)
        shared->othersChanged = [this] { Changed(0); };
}

std::vector<OnlineEntry> Presence::List() const {
    std::vector<OnlineEntry> list;
    {
        std::lock_guard lock(mutex_);
        list.reserve(sessions_.size());
        for (const auto& [session, held] : sessions_)
            list.push_back(held.entry);
    }
    if (shared_) {
        std::vector<OnlineEntry> others = shared_->Others();
        list.insert(list.end(), others.begin(), others.end());
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
