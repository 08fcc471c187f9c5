// How a session receives the events of its world from other sessions' threads: arrivals and
// departures are posted to its strand and merged there; positions are handed over newest-wins.
// All three go out together at most once per relay interval, whenever the connection can take
// them (see session.h). News that the users online changed comes already coalesced
// (presence_news.h) and goes out as it comes, to a client that watches the list.
#include "session.h"

#include <asio/post.hpp>

namespace server {

namespace pb = pelora::wire;

void Session::MemberJoined(std::uint32_t to, const pb::Member& member) {
    auto self = shared_from_this();
    asio::post(stream_.get_executor(), [self, to, member] {
        if (to != self->memberId_ || self->phase_ >= Phase::Closing)
            return;
        self->knownMembers_.insert(member.id());
        self->pendingJoins_[member.id()] = member;
        self->TakePositions(); // any of the newcomer's that came first
    });
}

void Session::MemberLeft(std::uint32_t to, std::uint32_t id, const std::string& name) {
    auto self = shared_from_this();
    asio::post(stream_.get_executor(), [self, to, id, name] {
        if (to != self->memberId_ || self->phase_ >= Phase::Closing)
            return;
        self->knownMembers_.erase(id);
        self->ForgetPositions(id);
        // Came and went within one interval: the client never hears of it.
        if (self->pendingJoins_.erase(id) == 0)
            self->pendingLeaves_[id] = name;
        self->ScheduleRelay();
    });
}

void Session::UsersChanged(std::uint64_t cause) {
    if (cause == id_)
        return;
    auto self = shared_from_this();
    asio::post(stream_.get_executor(), [self] {
        if (!self->watchingUsers_ || self->account_.empty() || self->phase_ != Phase::Ready)
            return;
        self->Send(wire::FrameType::UsersChanged, pb::UsersChanged());
    });
}

void Session::PositionOf(std::uint32_t to, std::uint32_t id, const pb::Position& position) {
    {
        std::lock_guard lock(relayMutex_);
        arrivedPositions_[id] = Arrived{to, position};
        if (takeScheduled_)
            return;
        takeScheduled_ = true;
    }
    auto self = shared_from_this();
    asio::post(stream_.get_executor(), [self] { self->TakePositions(); });
}

// Moves the handed-over positions of known members of the current membership to the ones
// waiting to be sent; those of a member not yet announced stay until its arrival is.
void Session::TakePositions() {
    {
        std::lock_guard lock(relayMutex_);
        takeScheduled_ = false;
        for (auto it = arrivedPositions_.begin(); it != arrivedPositions_.end();) {
            if (it->second.to != memberId_ || memberId_ == 0) {
                it = arrivedPositions_.erase(it);
            } else if (knownMembers_.count(it->first)) {
                pendingPositions_[it->first] = it->second.position;
                it = arrivedPositions_.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (phase_ < Phase::Closing)
        ScheduleRelay();
}

bool Session::RelayWaiting() const {
    return !pendingJoins_.empty() || !pendingLeaves_.empty() || !pendingPositions_.empty();
}

bool Session::RelayDue() const {
    return Clock::now() - lastRelaySent_ >=
           std::chrono::duration_cast<Clock::duration>(
               std::chrono::duration<double>(context_.options.relayInterval));
}

// Appends the waiting arrivals, then departures, then positions, so a member's arrival always
// precedes its positions.
void Session::AppendRelay(std::string& out) {
    lastRelaySent_ = Clock::now();
    for (const auto& [id, member] : pendingJoins_) {
        pb::MemberJoined message;
        *message.mutable_member() = member;
        wire::AppendMessage(out, wire::FrameType::MemberJoined, message);
    }
    for (const auto& [id, name] : pendingLeaves_) {
        pb::MemberLeft message;
        message.set_id(id);
        message.set_name(name);
        wire::AppendMessage(out, wire::FrameType::MemberLeft, message);
    }
    if (!pendingPositions_.empty()) {
        pb::Positions positions;
        for (const auto& [member, position] : pendingPositions_) {
            auto* entry = positions.add_positions();
            entry->set_id(member);
            *entry->mutable_position() = position;
        }
        wire::AppendMessage(out, wire::FrameType::Positions, positions);
    }
    pendingJoins_.clear();
    pendingLeaves_.clear();
    pendingPositions_.clear();
}

// Sends what waits now when it is due, or arms the relay timer for when it will be. A write
// under way sends it when it ends.
void Session::ScheduleRelay() {
    if (!RelayWaiting() || relayTimerArmed_ || phase_ >= Phase::Closing)
        return;
    if (RelayDue()) {
        if (writing_.empty())
            Flush();
        return;
    }
    relayTimerArmed_ = true;
    relayTimer_.expires_at(lastRelaySent_ +
                           std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(context_.options.relayInterval)));
    auto self = shared_from_this();
    relayTimer_.async_wait([self](const asio::error_code& error) {
        self->relayTimerArmed_ = false;
        if (!error && self->phase_ < Phase::Closing)
            self->Flush();
    });
}

// Drops the positions of one member (0: of everyone), waiting or handed over.
void Session::ForgetPositions(std::uint32_t member) {
    std::lock_guard lock(relayMutex_);
    if (member == 0) {
        pendingPositions_.clear();
        arrivedPositions_.clear();
    } else {
        pendingPositions_.erase(member);
        arrivedPositions_.erase(member);
    }
}

// Drops everything waiting for the relay: the world was left or the session ends.
void Session::ForgetRelay() {
    pendingJoins_.clear();
    pendingLeaves_.clear();
    ForgetPositions(0);
}

} // namespace server
