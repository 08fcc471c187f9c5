// What one session may ask of one kind (joins and leaves, user lists, file offers) over time:
// a bucket of `burst` requests that refills at `perSecond`. A launcher asks a few times a
// minute and never notices it; a client asking without pause is refused its excess, so what
// one peer costs the server, the other members and the log stays bounded.
#pragma once

#include <algorithm>
#include <chrono>

namespace server {

class RequestBudget {
public:
    using Clock = std::chrono::steady_clock;

    RequestBudget(double burst, double perSecond)
        : burst_(burst), perSecond_(perSecond), left_(burst) {}

    // 0 when the request is within the budget (and is taken from it); otherwise the seconds
    // until it would be, and nothing is taken.
    double Take(Clock::time_point now) {
        if (started_) {
            double elapsed = std::chrono::duration<double>(now - last_).count();
            left_ = std::min(burst_, left_ + std::max(0.0, elapsed) * perSecond_);
        }
        started_ = true;
        last_ = now;
        if (left_ >= 1) {
            left_ -= 1;
            return 0;
        }
        return (1 - left_) / perSecond_;
    }

private:
    double burst_;
    double perSecond_;
    double left_;
    Clock::time_point last_{};
    bool started_ = false;
};

} // namespace server
