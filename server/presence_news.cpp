// Coalesced news of the users online (see presence_news.h).
#include "presence_news.h"

#include <algorithm>

namespace server {

PresenceNews::PresenceNews(asio::io_context& io, double intervalSeconds, Tell tell)
    : timer_(io), interval_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(intervalSeconds))),
      tell_(std::move(tell)) {}

void PresenceNews::Changed(std::uint64_t session) {
    std::lock_guard lock(mutex_);
    if (armed_) {
        if (cause_ != session)
            cause_ = kSeveral;
        return;
    }
    cause_ = session;
    Arm();
}

// Called with mutex_ held.
void PresenceNews::Arm() {
    armed_ = true;
    auto now = std::chrono::steady_clock::now();
    auto due = toldOnce_ ? std::max(now, lastTold_ + interval_) : now;
    timer_.expires_at(due);
    timer_.async_wait([this](const asio::error_code& error) {
        if (!error)
            OnTimer();
    });
}

void PresenceNews::OnTimer() {
    std::uint64_t cause;
    {
        std::lock_guard lock(mutex_);
        armed_ = false;
        toldOnce_ = true;
        lastTold_ = std::chrono::steady_clock::now();
        cause = cause_ == kSeveral ? 0 : cause_;
        cause_ = 0;
    }
    // Changes from now on arm the next telling, one interval after this one.
    if (tell_)
        tell_(cause);
}

} // namespace server
