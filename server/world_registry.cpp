// Shared worlds and the relay between their members (see world_registry.h).
#include "world_registry.h"

namespace server {

namespace pb = pelora::wire;

WorldRegistry::Joined WorldRegistry::Join(const std::string& world, const MemberLook& look,
                                          std::weak_ptr<WorldListener> listener) {
    pb::Member member;
    member.set_name(look.name);
    member.set_vehicle(look.vehicle);
    member.set_colour(look.colour);
    member.set_gender(look.gender);
    return Add(world, std::move(member), std::move(listener), false);
}

std::uint32_t WorldRegistry::JoinRemote(const std::string& world, const pb::Member& member) {
    return Add(world, member, {}, true).id;
}

WorldRegistry::Joined WorldRegistry::Add(const std::string& world, pb::Member member,
                                         std::weak_ptr<WorldListener> listener, bool remote) {
    std::lock_guard lock(mutex_);
    Joined joined;
    World& place = worlds_[world];
    if (place.members.size() >= maxMembers_) {
        if (place.members.empty())
            worlds_.erase(world);
        joined.full = true;
        return joined;
    }
    // Ids stay unique among current members even after the counter wraps.
    do {
        joined.id = nextId_++;
    } while (joined.id == 0 || worldOf_.count(joined.id));

    MemberEntry entry;
    entry.member = std::move(member);
    entry.member.set_id(joined.id);
    entry.listener = std::move(listener);
    entry.remote = remote;
    for (auto& [otherId, other] : place.members) {
        joined.others.push_back(other.member);
        if (auto peer = other.listener.lock())
            peer->MemberJoined(otherId, entry.member);
    }
    if (share_ && !remote)
        share_->Joined(world, entry.member);
    place.members.emplace(joined.id, std::move(entry));
    worldOf_.emplace(joined.id, world);
    return joined;
}

void WorldRegistry::Leave(std::uint32_t id) {
    std::lock_guard lock(mutex_);
    auto where = worldOf_.find(id);
    if (where == worldOf_.end())
        return;
    auto world = worlds_.find(where->second);
    worldOf_.erase(where);
    if (world == worlds_.end())
        return;
    auto member = world->second.members.find(id);
    if (member == world->second.members.end())
        return;
    std::string name = member->second.member.name();
    if (share_ && !member->second.remote)
        share_->Left(id);
    world->second.members.erase(member);
    for (auto& [otherId, other] : world->second.members)
        if (auto peer = other.listener.lock())
            peer->MemberLeft(otherId, id, name);
    if (world->second.members.empty())
        worlds_.erase(world);
}

void WorldRegistry::Relay(std::uint32_t id, const pb::Position& position) {
    std::lock_guard lock(mutex_);
    auto where = worldOf_.find(id);
    if (where == worldOf_.end())
        return;
    auto world = worlds_.find(where->second);
    if (world == worlds_.end())
        return;
    auto sender = world->second.members.find(id);
    if (sender == world->second.members.end())
        return;
    *sender->second.member.mutable_position() = position;
    if (share_ && !sender->second.remote)
        share_->Moved(id, position);
    for (auto& [otherId, other] : world->second.members) {
        if (otherId == id)
            continue;
        if (auto peer = other.listener.lock())
            peer->PositionOf(otherId, id, position);
    }
}

std::size_t WorldRegistry::WorldCount() const {
    std::lock_guard lock(mutex_);
    return worlds_.size();
}

std::size_t WorldRegistry::MemberCount(const std::string& world) const {
    std::lock_guard lock(mutex_);
    auto found = worlds_.find(world);
    return found == worlds_.end() ? 0 : found->second.members.size();
}

} // namespace server
