// Shared worlds against a real pelora-server: two launchers in one world each see the other
// as a peer avatar in the object tree, at the position the other sent; the others' list says
// who drives where; a member who leaves disappears; net::leave says 0 only when the server
// confirmed the leave and something else once the connection is lost.
#include "network_server_fixture.h"

namespace {

class NetworkWorld : public NetworkServerFixture {
protected:
    void Join(const std::string& world = "Park") {
        EXPECT_EQ(Run("net::setJoinVars {" + world + "} chair Red female"), "0");
        Run("/sys/network.start");
        ASSERT_EQ(Run("net::infoPositions").substr(0, 1), "0");
    }
    static void Join(OtherEngine& other, const std::string& world = "Park") {
        other.Run("net::setJoinVars {" + world + "} chair Blue male");
        other.Run("/sys/network.start");
        ASSERT_EQ(other.Run("net::infoPositions").substr(0, 1), "0");
    }
    // The peer avatar of `name` in the kernel's tree, or null.
    static plPeerAvatar* Peer(nKernelServer* kernel, const std::string& name) {
        for (plPeerAvatar* peer : PeerAvatars(kernel))
            if (peer->userName == name)
                return peer;
        return nullptr;
    }
    static std::string PositionOf(nKernelServer* kernel, const std::string& name) {
        std::string position;
        if (plPeerAvatar* peer = Peer(kernel, name))
            peer->Call("getposition", {}, position);
        return position;
    }
};

TEST_F(NetworkWorld, TwoClientsInOneWorld_EachSeesTheOthersPositionInTheObjectTree) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    OtherEngine bob(server.Port());
    bob.LogIn("bob");
    ASSERT_NO_FATAL_FAILURE(Join());
    ASSERT_NO_FATAL_FAILURE(Join(bob));

    // Ann learns of bob as he joins, with his vehicle, colour and gender.
    ASSERT_TRUE(WaitFor([&] { return Peer(kernel.get(), "bob") != nullptr; }));
    plPeerAvatar* bobSeen = Peer(kernel.get(), "bob");
    EXPECT_EQ(bobSeen->colour, "Blue");
    EXPECT_EQ(bobSeen->vehicle, "chair");
    EXPECT_EQ(bobSeen->gender, "male");
    // Bob found ann in the join's answer.
    ASSERT_NE(Peer(bob.Kernel(), "ann"), nullptr);
    EXPECT_EQ(Peer(bob.Kernel(), "ann")->colour, "Red");

    Run("/sys/network.setposition 3 4 90");
    bob.Run("/sys/network.setposition 7.5 1.25 180");
    EXPECT_TRUE(WaitFor([&] { return PositionOf(bob.Kernel(), "ann") == "3.000 4.000 90.0"; }))
        << PositionOf(bob.Kernel(), "ann");
    EXPECT_TRUE(WaitFor([&] { return PositionOf(kernel.get(), "bob") == "7.500 1.250 180.0"; }))
        << PositionOf(kernel.get(), "bob");
    // Scripts see the same through the peer objects.
    std::string path = bobSeen->GetFullName();
    EXPECT_EQ(Run(path + ".getusername"), "bob");
    EXPECT_EQ(Run(path + ".getposition"), "7.500 1.250 180.0");
    EXPECT_EQ(Run("net::infoPositions"), "0\nbob 7.50 1.25 180.0");
}

TEST_F(NetworkWorld, OnlineUsers_SayWhoDrivesInWhichWorld) {
    std::vector<std::string> lines;
    static std::vector<std::string>* sink = nullptr;
    sink = &lines;
    net->userInfoCallback = [](const char* line) { sink->push_back(line); };
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    OtherEngine bob(server.Port());
    bob.LogIn("bob");
    ASSERT_NO_FATAL_FAILURE(Join("Town Square"));
    EXPECT_EQ(Run("net::infoUsers").substr(0, 1), "0");
    EXPECT_EQ(lines, (std::vector<std::string>{"ann (Town Square)", "bob (not driving)"}));
}

TEST_F(NetworkWorld, MemberWhoLeaves_Disappears_AndLeaveIsConfirmedWithZero) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    OtherEngine bob(server.Port());
    bob.LogIn("bob");
    ASSERT_NO_FATAL_FAILURE(Join());
    ASSERT_NO_FATAL_FAILURE(Join(bob));
    ASSERT_TRUE(WaitFor([&] { return Peer(kernel.get(), "bob") != nullptr; }));

    EXPECT_EQ(bob.Run("net::leave").substr(0, 1), "0");
    EXPECT_TRUE(PeerAvatars(bob.Kernel()).empty()); // his own view of the world is gone too
    EXPECT_TRUE(WaitFor([&] { return Peer(kernel.get(), "bob") == nullptr; }));
    EXPECT_EQ(bob.Run("return $net::state"), "online"); // still logged in

    // A member whose connection ends disappears too.
    ASSERT_NO_FATAL_FAILURE(Join(bob));
    ASSERT_TRUE(WaitFor([&] { return Peer(kernel.get(), "bob") != nullptr; }));
    bob.Run("/sys/network.stop");
    EXPECT_TRUE(WaitFor([&] { return Peer(kernel.get(), "bob") == nullptr; }));
    EXPECT_EQ(bob.Run("return $net::state"), "not connected");
}

TEST_F(NetworkWorld, LeaveAfterTheConnectionWasLost_IsNotZero) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    ASSERT_NO_FATAL_FAILURE(Join());
    SignalServer(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return State() == "lost"; }));
    std::string result = Run("net::leave");
    EXPECT_FALSE(result.empty());
    EXPECT_NE(result.substr(0, 1), "0") << result;
    // The launcher then stops the network object; the next connect starts afresh.
    Run("/sys/network.stop");
    EXPECT_EQ(State(), "not connected");
}

TEST_F(NetworkWorld, LeaveWhileTheServerIsHeld_TimesOutAsNotZero) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    ASSERT_NO_FATAL_FAILURE(Join());
    Run("set net::reply_timeout 500");
    ASSERT_NO_FATAL_FAILURE(HoldServer());
    std::string result = Run("net::leave");
    ReleaseServer();
    EXPECT_EQ(result, "1 timed out");
}

} // namespace
