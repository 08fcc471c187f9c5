// A session's request budget: a burst at once, then a steady rate, the refused ones uncounted.
#include "server/request_budget.h"

#include <gtest/gtest.h>

using server::RequestBudget;
using namespace std::chrono_literals;

TEST(RequestBudget, ABurstIsTakenThenTheRateAndRefusalsCostNothing) {
    RequestBudget budget(3, 2); // 3 at once, then 2 a second
    auto now = RequestBudget::Clock::now();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(budget.Take(now), 0) << i;
    EXPECT_DOUBLE_EQ(budget.Take(now), 0.5);
    for (int i = 0; i < 100; ++i)
        EXPECT_GT(budget.Take(now), 0);
    EXPECT_EQ(budget.Take(now + 500ms), 0);
    EXPECT_GT(budget.Take(now + 500ms), 0);
    // A long pause refills the burst, no more.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(budget.Take(now + 60s), 0) << i;
    EXPECT_GT(budget.Take(now + 60s), 0);
}
