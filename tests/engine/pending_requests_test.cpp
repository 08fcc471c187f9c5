// The network object's outstanding requests: replies matched by the id they echo, replies
// without one (from an older server) by kind and order, abandoned requests kept until their
// late answer.
#include "pending_requests.h"

#include <gtest/gtest.h>

namespace {

enum class Kind { Login, Users };

TEST(PendingRequests, IdsAreFreshAndNeverZero) {
    PendingRequests<Kind> pending;
    const std::uint32_t first = pending.NextId();
    EXPECT_NE(first, 0u);
    EXPECT_NE(pending.NextId(), first);
}

TEST(PendingRequests, ReplyIsMatchedByItsIdNotByItsKindsOrder) {
    PendingRequests<Kind> pending;
    pending.Add(Kind::Users, 5);
    pending.Add(Kind::Users, 6);
    pending.Of(Kind::Users).front().abandoned = true; // 5 timed out

    bool abandoned = true;
    ASSERT_TRUE(pending.Take(Kind::Users, 6, abandoned));
    EXPECT_FALSE(abandoned); // 6's answer, though 5 is older
    ASSERT_EQ(pending.Of(Kind::Users).size(), 1u);
    EXPECT_EQ(pending.Of(Kind::Users).front().id, 5u);
}

TEST(PendingRequests, ReplyToNoRequestOfItsKindIsNotTaken) {
    PendingRequests<Kind> pending;
    pending.Add(Kind::Users, 5);
    bool abandoned = false;
    EXPECT_FALSE(pending.Take(Kind::Users, 99, abandoned));
    EXPECT_FALSE(pending.Take(Kind::Login, 5, abandoned));
    EXPECT_EQ(pending.Of(Kind::Users).size(), 1u);
    EXPECT_EQ(pending.Find(Kind::Users, 99), nullptr);
}

// An older server echoes no id and answers in order.
TEST(PendingRequests, ReplyWithoutIdGoesToTheOldestOfItsKind) {
    PendingRequests<Kind> pending;
    pending.Add(Kind::Login, 1);
    pending.Add(Kind::Login, 2);
    pending.AbandonAll(Kind::Login);
    pending.Add(Kind::Login, 3);
    bool abandoned = false;
    ASSERT_TRUE(pending.Take(Kind::Login, 0, abandoned));
    EXPECT_TRUE(abandoned);
    ASSERT_TRUE(pending.Take(Kind::Login, 0, abandoned));
    EXPECT_TRUE(abandoned);
    ASSERT_TRUE(pending.Take(Kind::Login, 0, abandoned));
    EXPECT_FALSE(abandoned);
    EXPECT_FALSE(pending.Take(Kind::Login, 0, abandoned));
}

TEST(PendingRequests, TakeAllLeavesNone) {
    PendingRequests<Kind> pending;
    pending.Add(Kind::Login, 1);
    pending.Add(Kind::Users, 2);
    auto all = pending.TakeAll();
    EXPECT_EQ(all[Kind::Login].size(), 1u);
    EXPECT_EQ(all[Kind::Users].size(), 1u);
    EXPECT_EQ(pending.Find(Kind::Login, 0), nullptr);
    EXPECT_EQ(pending.Find(Kind::Users, 2), nullptr);
}

} // namespace
