// Throttling of failed logins: when it starts, how its delay grows and ends, and what a success
// takes back.
#include "server/login_throttle.h"

#include <gtest/gtest.h>

using server::LoginThrottle;
using namespace std::chrono_literals;

namespace {

LoginThrottle::Settings Small() {
    LoginThrottle::Settings settings;
    settings.nameFailures = 3;
    settings.addressFailures = 5;
    settings.baseDelay = 2;
    settings.maxDelay = 10;
    settings.window = 60;
    return settings;
}

} // namespace

TEST(LoginThrottle, FailuresBelowTheLimitCostNothing) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    throttle.Failed("alice", "10.0.0.1", now);
    throttle.Failed("alice", "10.0.0.1", now);
    EXPECT_EQ(throttle.Delay("alice", "10.0.0.1", now), 0);
}

TEST(LoginThrottle, DelayStartsAtTheLimitDoublesAndIsCapped) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < 3; ++i)
        throttle.Failed("alice", "10.0.0.1", now);
    EXPECT_DOUBLE_EQ(throttle.Delay("alice", "10.0.0.1", now), 2);
    throttle.Failed("alice", "10.0.0.1", now);
    EXPECT_DOUBLE_EQ(throttle.Delay("alice", "10.0.0.1", now), 4);
    for (int i = 0; i < 20; ++i)
        throttle.Failed("alice", "10.0.0.1", now);
    EXPECT_DOUBLE_EQ(throttle.Delay("alice", "10.0.0.1", now), 10);
    // Another machine is held up for the same name: the name is what is guessed at.
    EXPECT_DOUBLE_EQ(throttle.Delay("alice", "10.0.0.2", now), 10);
}

TEST(LoginThrottle, DelayRunsOutSoTheRightPasswordWorksAgain) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < 4; ++i)
        throttle.Failed("alice", "10.0.0.1", now);
    EXPECT_DOUBLE_EQ(throttle.Delay("alice", "10.0.0.1", now + 1s), 3);
    EXPECT_EQ(throttle.Delay("alice", "10.0.0.1", now + 4s), 0);
    // Remembered failures go after the window: the next failure starts from one.
    throttle.Failed("alice", "10.0.0.1", now + 61s);
    EXPECT_EQ(throttle.Delay("alice", "10.0.0.1", now + 61s), 0);
}

TEST(LoginThrottle, AnAddressIsThrottledAcrossNames) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    for (const char* name : {"a", "b", "c", "d", "e"})
        throttle.Failed(name, "10.0.0.9", now);
    EXPECT_GT(throttle.Delay("somebody-new", "10.0.0.9", now), 0);
    EXPECT_EQ(throttle.Delay("somebody-new", "10.0.0.10", now), 0);
}

TEST(LoginThrottle, SuccessClearsTheNameAndTakesItsTyposOffTheAddress) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    // Two trainees on one machine: bob mistypes twice, then gets in.
    throttle.Failed("carol", "10.0.0.1", now);
    throttle.Failed("carol", "10.0.0.1", now);
    throttle.Failed("bob", "10.0.0.1", now);
    throttle.Failed("bob", "10.0.0.1", now);
    throttle.Succeeded("bob", "10.0.0.1");
    // The address holds carol's two failures only: three more reach five, not one more.
    throttle.Failed("dave", "10.0.0.1", now);
    throttle.Failed("erin", "10.0.0.1", now);
    EXPECT_EQ(throttle.Delay("frank", "10.0.0.1", now), 0);
    throttle.Failed("gina", "10.0.0.1", now);
    EXPECT_GT(throttle.Delay("frank", "10.0.0.1", now), 0);
    // bob's own count is gone.
    throttle.Failed("bob", "10.0.0.2", now);
    throttle.Failed("bob", "10.0.0.2", now);
    EXPECT_EQ(throttle.Delay("bob", "10.0.0.2", now), 0);
}

TEST(LoginThrottle, AttemptsBegunAtOnceAreHeldToTheLimit) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    int admitted = 0;
    double wait = 0;
    for (int i = 0; i < 40; ++i) {
        double delay = throttle.Begin("alice", "10.0.0.1", now);
        if (delay == 0)
            ++admitted;
        else
            wait = delay;
    }
    EXPECT_EQ(admitted, 3); // the name's limit, though none has failed yet
    EXPECT_DOUBLE_EQ(wait, 2);
    for (int i = 0; i < 3; ++i)
        throttle.Failed("alice", "10.0.0.1", now);
    // The owner waits the first back-off, not a delay grown by the refused attempts.
    EXPECT_DOUBLE_EQ(throttle.Delay("alice", "10.0.0.1", now), 2);
    EXPECT_EQ(throttle.Begin("alice", "10.0.0.1", now + 2s), 0);
}

TEST(LoginThrottle, PastTheDelayOneAttemptAtATimeIsHeard) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < 3; ++i)
        throttle.Failed("alice", "10.0.0.1", now);
    EXPECT_EQ(throttle.Begin("alice", "10.0.0.1", now + 2s), 0);
    EXPECT_GT(throttle.Begin("alice", "10.0.0.1", now + 2s), 0);
    throttle.Succeeded("alice", "10.0.0.1");
    EXPECT_EQ(throttle.Delay("alice", "10.0.0.1", now + 2s), 0);
    EXPECT_EQ(throttle.EntryCount(), 0u);
}

TEST(LoginThrottle, AnAbandonedAttemptGivesItsPlaceBack) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(throttle.Begin("alice", "10.0.0.1", now), 0);
    EXPECT_GT(throttle.Begin("alice", "10.0.0.1", now), 0);
    throttle.Abandoned("alice", "10.0.0.1");
    EXPECT_EQ(throttle.Begin("alice", "10.0.0.1", now), 0);
    for (int i = 0; i < 3; ++i)
        throttle.Abandoned("alice", "10.0.0.1");
    EXPECT_EQ(throttle.EntryCount(), 0u);
}

TEST(LoginThrottle, AnAddressIsHeldToItsLimitAcrossNamesWhileTheyAreChecked) {
    LoginThrottle throttle(Small());
    auto now = LoginThrottle::Clock::now();
    int admitted = 0;
    for (int i = 0; i < 100; ++i)
        admitted += throttle.Begin("name" + std::to_string(i), "10.0.0.9", now) == 0;
    EXPECT_EQ(admitted, 5);
    EXPECT_EQ(throttle.Begin("name0", "10.0.0.10", now), 0);
}

TEST(LoginThrottle, AFloodOfNamesDoesNotGrowItsMemoryPastTheBound) {
    LoginThrottle::Settings settings = Small();
    settings.maxEntries = 1000;
    LoginThrottle throttle(settings);
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < 20000; ++i)
        throttle.Failed("name" + std::to_string(i), "10.0." + std::to_string(i % 250) + ".1",
                        now + std::chrono::milliseconds(i));
    EXPECT_LE(throttle.EntryCount(), 2 * settings.maxEntries);
}

TEST(RateLimit, AtMostTheLimitInAnyWindowPerKey) {
    server::RateLimit limit(3, 60);
    auto now = server::RateLimit::Clock::now();
    EXPECT_EQ(limit.Take("10.0.0.1", now), 0);
    EXPECT_EQ(limit.Take("10.0.0.1", now + 10s), 0);
    EXPECT_EQ(limit.Take("10.0.0.1", now + 20s), 0);
    EXPECT_DOUBLE_EQ(limit.Take("10.0.0.1", now + 30s), 30); // the first leaves the window at 60
    EXPECT_EQ(limit.Take("10.0.0.2", now + 30s), 0);
    EXPECT_EQ(limit.Take("10.0.0.1", now + 60s), 0);
    EXPECT_GT(limit.Take("10.0.0.1", now + 61s), 0); // refusals were not counted
}
