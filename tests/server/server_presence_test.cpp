// Against the real server: a launcher that watches the list of users online is told when
// another logs in, changes world and logs out; one that does not watch (an older launcher) is
// never sent the notice; and a storm of logins and logouts reaches a watcher as a bounded
// number of notices, the last one after the last change.
#include "server_fixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

using namespace pelora_test;
using wire::FrameType;

namespace {

using Clock = std::chrono::steady_clock;

// The lines of the list; with `watch`, the connection is told of changes from then on.
std::vector<std::string> AskUsers(WireClient& client, bool watch) {
    pb::UsersRequest request;
    request.set_watch(watch);
    std::vector<std::string> lines;
    EXPECT_TRUE(client.Send(FrameType::UsersRequest, request));
    for (;;) {
        pb::UsersReply page;
        if (!client.Expect(FrameType::UsersReply, page))
            return lines;
        for (const auto& user : page.users())
            lines.push_back(user.line());
        if (page.last())
            return lines;
    }
}

bool Told(WireClient& client, double seconds = 5) {
    wire::Frame frame;
    return client.ReceiveType(FrameType::UsersChanged, frame, seconds);
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::size_t CountOf(const std::deque<wire::Frame>& frames, FrameType type) {
    return std::count_if(frames.begin(), frames.end(),
                         [type](const wire::Frame& frame) { return frame.Type() == type; });
}

class ServerPresenceTest : public ServerTest {};

TEST_F(ServerPresenceTest, Watcher_IsToldWhenAnotherLogsInJoinsAndLogsOut) {
    StartServer();
    auto watcher = LoggedIn("alice");
    EXPECT_EQ(AskUsers(*watcher, true), std::vector<std::string>{"alice (not driving)"});

    auto other = LoggedIn("bob");
    ASSERT_TRUE(Told(*watcher)) << "no notice of bob's login";
    EXPECT_TRUE(Has(AskUsers(*watcher, true), "bob (not driving)"));

    pb::Join join;
    join.set_world("Park");
    join.set_vehicle("Standard");
    join.set_colour("Blue");
    join.set_gender("male");
    pb::JoinReply joined;
    ASSERT_TRUE(other->Send(FrameType::Join, join));
    ASSERT_TRUE(other->Expect(FrameType::JoinReply, joined));
    ASSERT_TRUE(Told(*watcher)) << "no notice of bob's join";
    EXPECT_TRUE(Has(AskUsers(*watcher, true), "bob (Park)"));

    pb::LogoutReply out;
    ASSERT_TRUE(other->Send(FrameType::Logout, pb::Logout()));
    ASSERT_TRUE(other->Expect(FrameType::LogoutReply, out));
    ASSERT_TRUE(Told(*watcher)) << "no notice of bob's logout";
    EXPECT_EQ(AskUsers(*watcher, true), std::vector<std::string>{"alice (not driving)"});

    // A connection that vanishes logs its user out as well.
    auto third = LoggedIn("carol");
    ASSERT_TRUE(Told(*watcher));
    third->Abort();
    ASSERT_TRUE(Told(*watcher)) << "no notice of carol's lost connection";
    EXPECT_EQ(AskUsers(*watcher, true), std::vector<std::string>{"alice (not driving)"});
}

// Without an interval each change is told on its own, so a notice too many shows.
TEST_F(ServerPresenceTest, ClientThatNeverWatched_GetsNoNotice_NorAWatcherOfItsOwnChange) {
    StartServer({"--users-notice-interval", "0"});
    auto watcher = LoggedIn("alice");
    AskUsers(*watcher, true);
    auto older = LoggedIn("bob"); // asks as an older launcher does: no watch
    ASSERT_TRUE(Told(*watcher));
    EXPECT_EQ(AskUsers(*older, false).size(), 2u);

    auto other = LoggedIn("carol");
    ASSERT_TRUE(Told(*watcher));
    other.reset();
    ASSERT_TRUE(Told(*watcher));

    // The notices were handed to every session together; whatever reached bob came before the
    // answer to a ping sent now.
    pb::Ping ping;
    ping.set_token(7);
    pb::Pong pong;
    ASSERT_TRUE(older->Send(FrameType::Ping, ping));
    ASSERT_TRUE(older->Expect(FrameType::Pong, pong));
    EXPECT_EQ(CountOf(older->PassedOver(), FrameType::UsersChanged), 0u);

    // The watcher's own change (a join) is not told to it; bob's logout after it is, once.
    pb::Join join;
    join.set_world("Park");
    join.set_vehicle("Standard");
    join.set_colour("Blue");
    join.set_gender("female");
    pb::JoinReply joined;
    ASSERT_TRUE(watcher->Send(FrameType::Join, join));
    ASSERT_TRUE(watcher->Expect(FrameType::JoinReply, joined));
    older.reset();
    ASSERT_TRUE(Told(*watcher));
    ASSERT_TRUE(watcher->Send(FrameType::Ping, ping));
    ASSERT_TRUE(watcher->Expect(FrameType::Pong, pong));
    EXPECT_EQ(CountOf(watcher->PassedOver(), FrameType::UsersChanged), 0u);

    // A watcher that logs out stops watching: logged in again, it is told nothing until it
    // asks to be.
    pb::LogoutReply out;
    ASSERT_TRUE(watcher->Send(FrameType::Logout, pb::Logout()));
    ASSERT_TRUE(watcher->Expect(FrameType::LogoutReply, out));
    ASSERT_EQ(watcher->Login("alice", "secret").result(), pb::LoginReply::LOGGED_IN);
    LoggedIn("dave").reset();
    ASSERT_TRUE(watcher->Send(FrameType::Ping, ping));
    ASSERT_TRUE(watcher->Expect(FrameType::Pong, pong));
    EXPECT_EQ(CountOf(watcher->PassedOver(), FrameType::UsersChanged), 0u);
    AskUsers(*watcher, true);
    LoggedIn("erin").reset();
    EXPECT_TRUE(Told(*watcher));
}

TEST_F(ServerPresenceTest, LoginLogoutStorm_IsToldAsFewNotices_AndTheWatcherEndsRight) {
    // As often as the users budget lets a launcher ask again (2 a second).
    const double interval = 0.5;
    StartServer({"--users-notice-interval", "0.5"});
    auto watcher = LoggedIn("alice");
    AskUsers(*watcher, true);

    // The guest needs no password check: as fast as a client can log in and out, for four
    // intervals. The storm runs beside the watcher, which asks again at each notice, as a
    // launcher does.
    const auto stormTime =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(4 * interval));
    auto stormer = Greeted();
    std::atomic<bool> stormDone{false};
    int cycles = 0;
    const Clock::time_point start = Clock::now();
    std::thread storm([&] {
        while (Clock::now() - start < stormTime) {
            pb::LogoutReply out;
            if (stormer->Login("guest", "").result() != pb::LoginReply::LOGGED_IN ||
                !stormer->Send(FrameType::Logout, pb::Logout()) ||
                !stormer->Expect(FrameType::LogoutReply, out)) {
                ADD_FAILURE() << "the storm's cycle " << cycles << " failed";
                break;
            }
            ++cycles;
        }
        stormDone = true;
    });

    std::size_t notices = 0;
    std::vector<std::string> lines;
    Clock::time_point last = start;
    while (Told(*watcher, 5 * interval)) {
        ++notices;
        last = Clock::now();
        lines = AskUsers(*watcher, true);
    }
    storm.join();
    ASSERT_TRUE(stormDone);
    ASSERT_GE(notices, 1u);
    const double seconds = std::chrono::duration<double>(last - start).count();
    // One at once, then at most one per interval.
    EXPECT_LE(notices, static_cast<std::size_t>(seconds / interval) + 2)
        << notices << " notices in " << seconds << " s for " << 2 * cycles << " changes";
    // Nor does a storm that goes on silence the news until it ends.
    EXPECT_GE(notices, 3u);
    // The last change was told too: the list asked for at the last notice is the final one.
    EXPECT_EQ(lines, std::vector<std::string>{"alice (not driving)"});
    EXPECT_EQ(CountOf(watcher->PassedOver(), FrameType::ErrorReply), 0u);
}

} // namespace
