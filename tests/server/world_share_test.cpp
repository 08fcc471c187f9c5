// The world registry's and the presence's ends toward other instances: what this instance's
// members do is handed over, what remote members do is not handed back, remote members are
// seen like local ones, and a name held elsewhere cannot be taken here.
#include "server/presence.h"
#include "server/world_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

using namespace server;
namespace pb = pelora::wire;

namespace {

struct RecordingShare : WorldShare {
    void Joined(const std::string& world, const pb::Member& member) override {
        events.push_back("joined " + member.name() + " " + world);
    }
    void Left(std::uint32_t id) override { events.push_back("left " + std::to_string(id)); }
    void Moved(std::uint32_t id, const pb::Position& position) override {
        events.push_back("moved " + std::to_string(id) + " " + std::to_string(position.x()));
    }
    std::vector<std::string> events;
};

struct RecordingListener : WorldListener {
    void MemberJoined(std::uint32_t, const pb::Member& member) override {
        events.push_back("joined " + member.name());
    }
    void MemberLeft(std::uint32_t, std::uint32_t, const std::string& name) override {
        events.push_back("left " + name);
    }
    void PositionOf(std::uint32_t, std::uint32_t, const pb::Position& position) override {
        events.push_back("position " + std::to_string(position.x()));
    }
    std::vector<std::string> events;
};

struct FakeElsewhere : SharedPresence {
    Taken Claim(std::uint64_t session, const std::string& name, bool shared) override {
        if (failing)
            return Taken::Failed;
        if (!shared && held.count(name))
            return Taken::Elsewhere;
        claims.push_back(session);
        return Taken::Yes;
    }
    void Release(std::uint64_t session) override { released.push_back(session); }
    void SetWorld(std::uint64_t, const std::string& world) override { worlds.push_back(world); }
    std::vector<OnlineEntry> Others() const override { return {{"zoe", "Park"}}; }
    std::set<std::string> held;
    bool failing = false;
    std::vector<std::uint64_t> claims, released;
    std::vector<std::string> worlds;
};

} // namespace

TEST(WorldShare, LocalMembersAreHandedOverAndRemoteOnesAreNot) {
    WorldRegistry worlds(10);
    RecordingShare share;
    worlds.Share(&share);
    auto listener = std::make_shared<RecordingListener>();
    auto local = worlds.Join("Park", MemberLook{"alice", "Wheelchair", "Red", "female"}, listener);
    ASSERT_FALSE(local.full);

    pb::Member remote;
    remote.set_id(999); // the other instance's id: replaced by this registry's
    remote.set_name("bob");
    remote.mutable_position()->set_x(4);
    std::uint32_t bob = worlds.JoinRemote("Park", remote);
    ASSERT_NE(bob, 0u);
    EXPECT_NE(bob, local.id);
    EXPECT_EQ(worlds.MemberCount("Park"), 2u);

    pb::Position position;
    position.set_x(7);
    worlds.Relay(bob, position);      // a remote move reaches alice, not the share
    worlds.Relay(local.id, position); // a local move goes to the share
    worlds.Leave(bob);
    worlds.Leave(local.id);

    EXPECT_EQ(share.events,
              (std::vector<std::string>{"joined alice Park",
                                        "moved " + std::to_string(local.id) + " 7.000000",
                                        "left " + std::to_string(local.id)}));
    EXPECT_EQ(listener->events,
              (std::vector<std::string>{"joined bob", "position 7.000000", "left bob"}));
    EXPECT_EQ(worlds.WorldCount(), 0u);
}

TEST(WorldShare, ANewcomerSeesRemoteMembersWithTheirPositions) {
    WorldRegistry worlds(2);
    pb::Member remote;
    remote.set_name("bob");
    remote.mutable_position()->set_x(4);
    ASSERT_NE(worlds.JoinRemote("Park", remote), 0u);
    auto joined = worlds.Join("Park", MemberLook{"alice", "W", "Red", "female"},
                              std::make_shared<RecordingListener>());
    ASSERT_EQ(joined.others.size(), 1u);
    EXPECT_EQ(joined.others[0].name(), "bob");
    EXPECT_EQ(joined.others[0].position().x(), 4);
    // Remote members count toward a world's size.
    EXPECT_EQ(worlds.JoinRemote("Park", remote), 0u);
}

TEST(SharedPresence, ANameHeldElsewhereIsRefusedAndTheListHoldsTheOthers) {
    Presence presence(10);
    FakeElsewhere elsewhere;
    elsewhere.held = {"alice"};
    presence.Share(&elsewhere);
    EXPECT_EQ(presence.Enter(1, "alice", false), Presence::Claim::AlreadyLoggedIn);
    EXPECT_EQ(presence.Count(), 0u); // nothing kept of the refused login
    EXPECT_EQ(presence.Enter(2, "bob", false), Presence::Claim::Granted);
    EXPECT_EQ(presence.Enter(3, "bob", false), Presence::Claim::AlreadyLoggedIn);
    presence.SetWorld(2, "City");
    auto list = presence.List();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "bob");
    EXPECT_EQ(list[0].world, "City");
    EXPECT_EQ(list[1].name, "zoe");
    presence.Leave(2);
    EXPECT_EQ(elsewhere.claims, (std::vector<std::uint64_t>{2}));
    EXPECT_EQ(elsewhere.released, (std::vector<std::uint64_t>{2}));
    EXPECT_EQ(elsewhere.worlds, (std::vector<std::string>{"City"}));
    // A database that cannot answer refuses the login as such, not as a full server.
    elsewhere.failing = true;
    EXPECT_EQ(presence.Enter(4, "carol", false), Presence::Claim::Unavailable);
    EXPECT_EQ(presence.Count(), 0u);
}
