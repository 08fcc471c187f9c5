// Login throttling (see login_throttle.h).
#include "login_throttle.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace server {

namespace {

double Seconds(LoginThrottle::Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

} // namespace

double LoginThrottle::DelayOf(Table& table, const std::string& key, unsigned limit,
                              Clock::time_point now) {
    auto found = table.find(key);
    if (found == table.end())
        return 0;
    Entry& entry = found->second;
    if (entry.failures > 0 && Seconds(now - entry.last) > settings_.window) {
        entry.failures = 0;
        if (entry.checking == 0) {
            table.erase(found);
            return 0;
        }
    }
    if (entry.failures + entry.checking < limit)
        return 0;
    // Attempts under way that would reach the limit if they failed: wait for their verdict.
    if (entry.failures < limit)
        return settings_.baseDelay;
    // The limit-th failure starts the base delay; each one after it doubles it.
    double exponent = std::min<double>(entry.failures - limit, 40);
    double delay = std::min(settings_.baseDelay * std::pow(2.0, exponent), settings_.maxDelay);
    double left = delay - Seconds(now - entry.last);
    if (left > 0)
        return left;
    // Past the delay, one attempt at a time is heard.
    return entry.checking > 0 ? settings_.baseDelay : 0;
}

double LoginThrottle::Delay(const std::string& name, const std::string& address,
                            Clock::time_point now) {
    std::lock_guard lock(mutex_);
    return std::max(DelayOf(names_, name, settings_.nameFailures, now),
                    DelayOf(addresses_, address, settings_.addressFailures, now));
}

LoginThrottle::Entry& LoginThrottle::EntryOf(Table& table, const std::string& key,
                                             Clock::time_point now) {
    if (table.size() >= settings_.maxEntries && !table.count(key))
        Prune(table, now);
    auto [at, added] = table.try_emplace(key);
    if (added)
        at->second.last = now;
    return at->second;
}

double LoginThrottle::Begin(const std::string& name, const std::string& address,
                            Clock::time_point now) {
    std::lock_guard lock(mutex_);
    double wait = std::max(DelayOf(names_, name, settings_.nameFailures, now),
                           DelayOf(addresses_, address, settings_.addressFailures, now));
    if (wait > 0)
        return wait;
    ++EntryOf(names_, name, now).checking;
    ++EntryOf(addresses_, address, now).checking;
    return 0;
}

void LoginThrottle::Failed(const std::string& name, const std::string& address,
                           Clock::time_point now) {
    std::lock_guard lock(mutex_);
    for (auto [table, key] : {std::pair{&names_, &name}, {&addresses_, &address}}) {
        Entry& entry = EntryOf(*table, *key, now);
        if (entry.failures > 0 && Seconds(now - entry.last) > settings_.window)
            entry.failures = 0;
        ++entry.failures;
        entry.last = now;
        if (entry.checking > 0)
            --entry.checking;
    }
}

void LoginThrottle::Release(Table& table, const std::string& key) {
    auto found = table.find(key);
    if (found == table.end())
        return;
    if (found->second.checking > 0)
        --found->second.checking;
    if (found->second.checking == 0 && found->second.failures == 0)
        table.erase(found);
}

void LoginThrottle::Succeeded(const std::string& name, const std::string& address) {
    std::lock_guard lock(mutex_);
    unsigned typos = 0;
    if (auto found = names_.find(name); found != names_.end()) {
        typos = found->second.failures;
        found->second.failures = 0;
    }
    Release(names_, name);
    if (auto from = addresses_.find(address); from != addresses_.end())
        from->second.failures -= std::min(typos, from->second.failures);
    Release(addresses_, address);
}

void LoginThrottle::Abandoned(const std::string& name, const std::string& address) {
    std::lock_guard lock(mutex_);
    Release(names_, name);
    Release(addresses_, address);
}

// Drops the entries past their window; when the table is still full, the older half goes, so
// a flood of made-up names cannot grow it without bound. Attempts under way are kept.
void LoginThrottle::Prune(Table& table, Clock::time_point now) {
    for (auto it = table.begin(); it != table.end();) {
        if (it->second.checking == 0 && Seconds(now - it->second.last) > settings_.window)
            it = table.erase(it);
        else
            ++it;
    }
    if (table.size() < settings_.maxEntries)
        return;
    std::vector<Clock::time_point> times;
    times.reserve(table.size());
    for (const auto& [key, entry] : table)
        times.push_back(entry.last);
    auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
    std::nth_element(times.begin(), middle, times.end());
    Clock::time_point cut = *middle;
    for (auto it = table.begin(); it != table.end();) {
        if (it->second.checking == 0 && it->second.last <= cut)
            it = table.erase(it);
        else
            ++it;
    }
}
std::size_t LoginThrottle::EntryCount() const {
    std::lock_guard lock(mutex_);
    return names_.size() + addresses_.size();
}

double RateLimit::Take(const std::string& key, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    auto window =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(window_));
    if (events_.size() >= maxKeys_ && !events_.count(key)) {
        // Forget the keys with nothing in the window; if none, start afresh.
        for (auto it = events_.begin(); it != events_.end();)
            it = (it->second.empty() || now - it->second.back() >= window) ? events_.erase(it)
                                                                           : std::next(it);
        if (events_.size() >= maxKeys_)
            events_.clear();
    }
    auto& times = events_[key];
    while (!times.empty() && now - times.front() >= window)
        times.erase(times.begin());
    if (times.size() >= limit_)
        return Seconds(times.front() + window - now);
    times.push_back(now);
    return 0;
}

} // namespace server
