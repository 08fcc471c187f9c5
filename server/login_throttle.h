// Throttling of logins, per user name and per client address. An attempt is counted when it
// starts (Begin reserves it), so a burst of logins sent at once is held to the same limit as
// logins sent one by one: at most the allowed number are ever being checked or failed within
// the window. After that many failures further logins wait a delay that doubles with each
// failure up to a cap; when the delay has passed the right password works again, so nobody is
// locked out for good. A success clears the name's failures and takes them off the address too:
// trainees share machines (and a site's machines often share one address), and one trainee's
// typos that ended in a login should not count against the next one. Memory is bounded.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace server {

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    struct Settings {
        unsigned nameFailures = 5;
        unsigned addressFailures = 20;
        double baseDelay = 2;  // seconds
        double maxDelay = 300; // seconds
        double window = 900;   // seconds a failure is remembered
        std::size_t maxEntries = 100000;
    };

    explicit LoginThrottle(const Settings& settings) : settings_(settings) {}

    // Seconds until a login for this name from this address is heard; 0 when it is now.
    double Delay(const std::string& name, const std::string& address, Clock::time_point now);

    // Starts an attempt: 0 when it may be checked, and it is then counted as under way until
    // one of Failed, Succeeded or Abandoned ends it; otherwise the seconds to wait, and
    // nothing is counted.
    double Begin(const std::string& name, const std::string& address, Clock::time_point now);
    // The attempt failed (a wrong password, or a name with no account).
    void Failed(const std::string& name, const std::string& address, Clock::time_point now);
    void Succeeded(const std::string& name, const std::string& address);
    // The attempt ended without a verdict (the accounts could not be read).
    void Abandoned(const std::string& name, const std::string& address);

    std::size_t EntryCount() const;

private:
    struct Entry {
        unsigned failures = 0;
        unsigned checking = 0; // attempts begun and not yet ended
        Clock::time_point last;
    };
    using Table = std::unordered_map<std::string, Entry>;

    double DelayOf(Table& table, const std::string& key, unsigned limit, Clock::time_point now);
    Entry& EntryOf(Table& table, const std::string& key, Clock::time_point now);
    void Release(Table& table, const std::string& key);
    void Prune(Table& table, Clock::time_point now);

    Settings settings_;
    mutable std::mutex mutex_;
    Table names_;
    Table addresses_;
};

// A count of events per key (account creations per client address) over a sliding window:
// at most `limit` in any `window`. Each creation costs a slow hash and a stored account, so
// one address cannot make the server spend its workers on made-up accounts. Memory is bounded.
class RateLimit {
public:
    using Clock = std::chrono::steady_clock;

    RateLimit(unsigned limit, double window, std::size_t maxKeys = 100000)
        : limit_(limit), window_(window), maxKeys_(maxKeys) {}

    // Counts the event and gives 0 when it is allowed; otherwise counts nothing and gives the
    // seconds until it would be.
    double Take(const std::string& key, Clock::time_point now);

private:
    unsigned limit_;
    double window_;
    std::size_t maxKeys_;
    std::mutex mutex_;
    std::unordered_map<std::string, std::vector<Clock::time_point>> events_;
};

} // namespace server
