// Telling launchers that the list of users online changed. Every login, logout and change of
// world (here, or on another instance on the same database) reaches Changed; the sessions are
// told at most once per interval: the first change after a quiet spell at once, those that
// come during the interval after a telling together at its end. So a user who logs in and out
// without pause costs each watching launcher one small notice per interval, and the last change
// is always told. The notice carries no names: a launcher that shows the list asks for it
// again, so one that missed a notice, or joined late, still ends with the right list.
#pragma once

// The standard headers first: asio's configuration looks at the standard library's (for
// aligned_alloc), and must see the same in every file, or its allocation and release differ.
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

namespace server {

class PresenceNews {
public:
    // `tell` runs on an I/O thread with the session whose change alone it is, or 0 when
    // several sessions' (or another instance's) changes are told together: that session knows
    // of its own change and need not be told.
    using Tell = std::function<void(std::uint64_t cause)>;

    PresenceNews(asio::io_context& io, double intervalSeconds, Tell tell);

    // From any thread: the list changed by `session`'s doing (0: another instance's).
    void Changed(std::uint64_t session);

private:
    void Arm();
    void OnTimer();

    asio::steady_timer timer_;
    std::chrono::steady_clock::duration interval_;
    Tell tell_;
    std::mutex mutex_;
    bool armed_ = false;
    bool toldOnce_ = false;
    std::uint64_t cause_ = 0; // of the changes waiting; kSeveral when more than one session's
    std::chrono::steady_clock::time_point lastTold_{};

    static constexpr std::uint64_t kSeveral = ~std::uint64_t(0);
};

} // namespace server
