// Who is online and who is in which world: claims, the guest, the users list, joins, leaves
// and the position relay between members.
#include "server/presence.h"
#include "server/world_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using server::MemberLook;
using server::Presence;
using server::WorldRegistry;
namespace pb = pelora::wire;

TEST(Presence, ANameIsHeldOnceButTheGuestByMany) {
    Presence presence(10);
    EXPECT_EQ(presence.Enter(1, "alice", false), Presence::Claim::Granted);
    EXPECT_EQ(presence.Enter(2, "alice", false), Presence::Claim::AlreadyLoggedIn);
    EXPECT_EQ(presence.Enter(3, "guest", true), Presence::Claim::Granted);
    EXPECT_EQ(presence.Enter(4, "guest", true), Presence::Claim::Granted);
    presence.Leave(1);
    EXPECT_EQ(presence.Enter(2, "alice", false), Presence::Claim::Granted);
    EXPECT_EQ(presence.Count(), 3u);
}

TEST(Presence, FullRefusesNewcomersAndLeavingMakesRoom) {
    Presence presence(2);
    EXPECT_EQ(presence.Enter(1, "a", false), Presence::Claim::Granted);
    EXPECT_EQ(presence.Enter(2, "b", false), Presence::Claim::Granted);
    EXPECT_EQ(presence.Enter(3, "c", false), Presence::Claim::Full);
    EXPECT_EQ(presence.Enter(3, "a", false), Presence::Claim::AlreadyLoggedIn);
    presence.Leave(2);
    EXPECT_EQ(presence.Enter(3, "c", false), Presence::Claim::Granted);
}

TEST(Presence, ListIsSortedAndShowsTheWorlds) {
    Presence presence(10);
    presence.Enter(1, "carol", false);
    presence.Enter(2, "alice", false);
    presence.Enter(3, "bob", false);
    presence.SetWorld(2, "Park");
    presence.SetWorld(3, "City");
    presence.SetWorld(3, "");
    auto list = presence.List();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "alice");
    EXPECT_EQ(list[0].world, "Park");
    EXPECT_EQ(list[1].name, "bob");
    EXPECT_EQ(list[1].world, "");
    EXPECT_EQ(list[2].name, "carol");
}

namespace {

// Records what the registry hands a member.
class Recorder : public server::WorldListener {
public:
    struct Event {
        char kind; // 'j'oined, 'l'eft, 'p'osition
        std::uint32_t to;
        std::uint32_t id;
        float x = 0;
    };
    void MemberJoined(std::uint32_t to, const pb::Member& member) override {
        events.push_back({'j', to, member.id()});
    }
    void MemberLeft(std::uint32_t to, std::uint32_t id, const std::string&) override {
        events.push_back({'l', to, id});
    }
    void PositionOf(std::uint32_t to, std::uint32_t id, const pb::Position& position) override {
        events.push_back({'p', to, id, position.x()});
    }
    std::vector<Event> events;
};

pb::Position At(float x) {
    pb::Position position;
    position.set_x(x);
    position.set_y(2 * x);
    position.set_heading(0.5f);
    position.set_time(x);
    return position;
}

} // namespace

TEST(WorldRegistry, JoinTellsTheOthersAndGivesTheNewcomerTheirNewestPositions) {
    WorldRegistry worlds(10);
    auto alice = std::make_shared<Recorder>();
    auto bob = std::make_shared<Recorder>();
    auto a = worlds.Join("Park", {"alice", "Chair", "Red", "female"}, alice);
    EXPECT_TRUE(a.others.empty());
    worlds.Relay(a.id, At(7));
    auto b = worlds.Join("Park", {"bob", "Scooter", "Blue", "male"}, bob);
    ASSERT_NE(a.id, b.id);
    ASSERT_EQ(b.others.size(), 1u);
    EXPECT_EQ(b.others[0].name(), "alice");
    EXPECT_EQ(b.others[0].vehicle(), "Chair");
    ASSERT_TRUE(b.others[0].has_position());
    EXPECT_EQ(b.others[0].position().x(), 7);
    ASSERT_EQ(alice->events.size(), 1u);
    EXPECT_EQ(alice->events[0].kind, 'j');
    EXPECT_EQ(alice->events[0].to, a.id);
    EXPECT_EQ(alice->events[0].id, b.id);
}

TEST(WorldRegistry, PositionsGoToTheOtherMembersOfTheSameWorldOnly) {
    WorldRegistry worlds(10);
    auto alice = std::make_shared<Recorder>();
    auto bob = std::make_shared<Recorder>();
    auto carol = std::make_shared<Recorder>();
    auto a = worlds.Join("Park", {"alice", "c", "c", "g"}, alice);
    auto b = worlds.Join("Park", {"bob", "c", "c", "g"}, bob);
    worlds.Join("City", {"carol", "c", "c", "g"}, carol);
    alice->events.clear();
    worlds.Relay(a.id, At(1));
    worlds.Relay(b.id, At(2));
    ASSERT_EQ(bob->events.size(), 1u);
    EXPECT_EQ(bob->events[0].kind, 'p');
    EXPECT_EQ(bob->events[0].id, a.id);
    EXPECT_EQ(bob->events[0].x, 1);
    ASSERT_EQ(alice->events.size(), 1u);
    EXPECT_EQ(alice->events[0].id, b.id);
    EXPECT_TRUE(carol->events.empty());
}

TEST(WorldRegistry, LeaveTellsTheOthersAndAnEmptyWorldGoes) {
    WorldRegistry worlds(10);
    auto alice = std::make_shared<Recorder>();
    auto bob = std::make_shared<Recorder>();
    auto a = worlds.Join("Park", {"alice", "c", "c", "g"}, alice);
    auto b = worlds.Join("Park", {"bob", "c", "c", "g"}, bob);
    alice->events.clear();
    worlds.Leave(b.id);
    ASSERT_EQ(alice->events.size(), 1u);
    EXPECT_EQ(alice->events[0].kind, 'l');
    EXPECT_EQ(alice->events[0].id, b.id);
    worlds.Relay(b.id, At(3)); // a late position of a member that left goes nowhere
    EXPECT_EQ(alice->events.size(), 1u);
    worlds.Leave(b.id); // twice is harmless
    worlds.Leave(a.id);
    EXPECT_EQ(worlds.WorldCount(), 0u);
}

TEST(WorldRegistry, AFullWorldRefusesAndAGoneListenerIsSkipped) {
    WorldRegistry worlds(2);
    auto alice = std::make_shared<Recorder>();
    auto a = worlds.Join("Park", {"alice", "c", "c", "g"}, alice);
    {
        auto bob = std::make_shared<Recorder>();
        worlds.Join("Park", {"bob", "c", "c", "g"}, bob);
    } // bob's connection object is gone without a leave
    EXPECT_TRUE(worlds.Join("Park", {"carol", "c", "c", "g"}, std::make_shared<Recorder>()).full);
    worlds.Relay(a.id, At(1)); // must not touch the gone listener
    EXPECT_EQ(worlds.MemberCount("Park"), 2u);
    EXPECT_FALSE(worlds.Join("City", {"carol", "c", "c", "g"}, alice).full);
}
