// Who is logged in and where they are: the answer to the users request. A name is held by one
// session at a time; the shared guest account may be held by many. Safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace server {

struct OnlineEntry {
    std::string name;
    std::string world; // empty when in no world
};

// The users other server instances hold, when several share one database (cluster.h).
class SharedPresence {
public:
    virtual ~SharedPresence() = default;
    enum class Taken { Yes, Elsewhere, Failed };
    // Takes the name for the session across every instance in one step.
    virtual Taken Claim(std::uint64_t session, const std::string& name, bool shared) = 0;
    virtual void Release(std::uint64_t session) = 0;
    virtual void SetWorld(std::uint64_t session, const std::string& world) = 0;
    // The entries of the other instances.
    virtual std::vector<OnlineEntry> Others() const = 0;

    // Called, when set, once the entries of the other instances may have changed (from the
    // thread that learnt it; returns at once). Presence::Share sets it before serving.
    std::function<void()> othersChanged;
};

class Presence {
public:
    explicit Presence(std::size_t maxUsers) : maxUsers_(maxUsers) {}

    // Unavailable: the other instances could not be asked (the shared database cannot answer).
    enum class Claim { Granted, AlreadyLoggedIn, Full, Unavailable };
    // Checks and takes the name in one step, so two logins racing for one account cannot both
    // succeed. `shared` names (the guest) may be held by several sessions.
    Claim Enter(std::uint64_t session, const std::string& name, bool shared);
    void Leave(std::uint64_t session);
    void SetWorld(std::uint64_t session, const std::string& world);

    // Every session's entry, sorted by name, then world.
    std::vector<OnlineEntry> List() const;
    std::size_t Count() const;

    // From then on names are taken across instances too, and the list holds theirs. Set before
    // serving.
    void Share(SharedPresence* shared);

    // Called after each change of the list: a login, a logout, a change of world; `session` is
    // the session whose change it was, 0 for another instance's. From the thread of the change,
    // with no lock held; must return at once. Set before serving.
    void OnChange(std::function<void(std::uint64_t session)> changed) {
        changed_ = std::move(changed);
    }

private:
    struct Held {
        OnlineEntry entry;
        bool shared = false;
    };
    std::size_t maxUsers_;
    mutable std::mutex mutex_;
    std::unordered_map<std::uint64_t, Held> sessions_;
    std::unordered_set<std::string> exclusiveNames_;
    SharedPresence* shared_ = nullptr;
    std::function<void(std::uint64_t)> changed_;

    void Changed(std::uint64_t session) const {
        if (changed_)
            changed_(session);
    }
};

} // namespace server
