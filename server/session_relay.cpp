// How a session receives the events of its world from other sessions' threads: arrivals and
// departures are posted to its strand in order; positions are handed over newest-wins and
// sent at most once per relay interval, whenever the connection can take them (see
// session.h).
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
        pb::MemberJoined message;
        *message.mutable_member() = member;
        self->Send(wire::FrameType::MemberJoined, message);
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
        pb::MemberLeft message;
        message.set_id(id);
        message.set_name(name);
        self->Send(wire::FrameType::MemberLeft, message);
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
        SchedulePositions();
}

bool Session::PositionsDue() const {
    return Clock::now() - lastPositionsSent_ >=
           std::chrono::duration_cast<Clock::duration>(
               std::chrono::duration<double>(context_.options.relayInterval));
}

// Sends the waiting positions now when they are due, or arms the relay timer for when they
// will be. A write under way sends them when it ends.
void Session::SchedulePositions() {
    if (pendingPositions_.empty() || relayTimerArmed_ || phase_ >= Phase::Closing)
        return;
    if (PositionsDue()) {
        if (writing_.empty())
            Flush();
        return;
    }
    relayTimerArmed_ = true;
    relayTimer_.expires_at(lastPositionsSent_ +
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

} // namespace server
