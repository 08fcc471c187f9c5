// The shared worlds: who is in which world with which look, each member's newest position,
// and the relay of joins, leaves and positions to the other members. The registry only hands
// events to each member's listener, which must return at once (a session posts them to its
// own strand); how fast a member's connection drains is the session's business, so a slow
// receiver never holds up a sender. Safe from any thread.
#pragma once

#include "protocol/messages.pb.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace server {

// A member's end of the relay. Called with the registry's lock held: must not call back into
// the registry. `to` is the receiving member's id, so a receiver can tell events meant for a
// membership it has since left from those of its current one.
class WorldListener {
public:
    virtual ~WorldListener() = default;
    virtual void MemberJoined(std::uint32_t to, const pelora::wire::Member& member) = 0;
    virtual void MemberLeft(std::uint32_t to, std::uint32_t id, const std::string& name) = 0;
    virtual void PositionOf(std::uint32_t to, std::uint32_t id,
                            const pelora::wire::Position& position) = 0;
};

// Where the comings, goings and positions of this instance's members go when several instances
// share one database (cluster.h). Called with the registry's lock held: must return at once.
class WorldShare {
public:
    virtual ~WorldShare() = default;
    virtual void Joined(const std::string& world, const pelora::wire::Member& member) = 0;
    virtual void Left(std::uint32_t id) = 0;
    virtual void Moved(std::uint32_t id, const pelora::wire::Position& position) = 0;
};

struct MemberLook {
    std::string name;
    std::string vehicle;
    std::string colour;
    std::string gender;
};

class WorldRegistry {
public:
    explicit WorldRegistry(std::size_t maxMembersPerWorld) : maxMembers_(maxMembersPerWorld) {}

    struct Joined {
        bool full = false;
        std::uint32_t id = 0;
        std::vector<pelora::wire::Member> others; // with their newest positions
    };
    // Adds a member and tells the others; the listener is held weakly.
    Joined Join(const std::string& world, const MemberLook& look,
                std::weak_ptr<WorldListener> listener);
    // Removes the member and tells the others; nothing when the id is not a member.
    void Leave(std::uint32_t id);
    // Keeps the member's newest position and hands it to every other member of its world.
    void Relay(std::uint32_t id, const pelora::wire::Position& position);

    // A member served by another instance: it has no listener here, and what it does is not
    // handed to the share. Its id (given back, 0 when the world is full) is this registry's;
    // Leave and Relay take it like any other.
    std::uint32_t JoinRemote(const std::string& world, const pelora::wire::Member& member);
    // From then on this instance's members are handed to `share`. Set before serving.
    void Share(WorldShare* share) { share_ = share; }

    std::size_t WorldCount() const;
    std::size_t MemberCount(const std::string& world) const;

private:
    struct MemberEntry {
        pelora::wire::Member member;
        std::weak_ptr<WorldListener> listener;
        bool remote = false;
    };
    Joined Add(const std::string& world, pelora::wire::Member member,
               std::weak_ptr<WorldListener> listener, bool remote);
    struct World {
        std::map<std::uint32_t, MemberEntry> members;
    };

    std::size_t maxMembers_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, World> worlds_;
    std::unordered_map<std::uint32_t, std::string> worldOf_;
    std::uint32_t nextId_ = 1;
    WorldShare* share_ = nullptr;
};

} // namespace server
