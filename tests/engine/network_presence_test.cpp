// The server's news that the users online changed, against a real pelora-server: the network
// object passes it to usersChangedCallback from the event loop (so the callback may ask for the
// list at once, as the User Setup window does), when another launcher logs in and when it logs
// out; without a callback the list is asked for without watching, and nothing is called.
#include "network_server_fixture.h"

namespace {

// What the callback saw: how often it was called, and the list it asked for each time.
nScriptServer* g_script = nullptr;
int g_calls = 0;
std::vector<std::string> g_gathered;
std::vector<std::vector<std::string>> g_lists;

void Gather(const char* line) {
    g_gathered.push_back(line);
}

// As the launcher does: asks for the list again, right from the callback.
void AskAgain() {
    ++g_calls;
    g_gathered.clear();
    std::string result;
    EXPECT_TRUE(g_script->RunCommand("net::infoUsers", result)) << result;
    EXPECT_EQ(result.substr(0, 1), "0") << result;
    g_lists.push_back(g_gathered);
}

class NetworkPresence : public NetworkServerFixture {
protected:
    void SetUp() override {
        NetworkServerFixture::SetUp();
        g_script = script;
        g_calls = 0;
        g_gathered.clear();
        g_lists.clear();
    }
    void TearDown() override {
        g_script = nullptr;
        NetworkServerFixture::TearDown();
    }

    bool LastListIs(const std::vector<std::string>& lines) {
        return !g_lists.empty() && g_lists.back() == lines;
    }
};

TEST_F(NetworkPresence, AnotherLaunchersLoginAndLogout_ReachTheCallback_WhichMayAskAtOnce) {
    net->userInfoCallback = Gather;
    net->usersChangedCallback = AskAgain;
    ASSERT_NO_FATAL_FAILURE(LogIn("bob"));
    EXPECT_EQ(Run("net::infoUsers"), "0 1 users online"); // and watches from now on

    OtherEngine other(server.Port());
    other.LogIn("ann");
    EXPECT_TRUE(WaitFor([&] {
        return LastListIs({"ann (not driving)", "bob (not driving)"});
    })) << g_calls
        << " calls";

    EXPECT_EQ(other.Run("net::logout").substr(0, 1), "0");
    EXPECT_TRUE(WaitFor([&] { return LastListIs({"bob (not driving)"}); })) << g_calls << " calls";
    EXPECT_TRUE(LogLines("ignored a").empty());
    EXPECT_TRUE(LogLines("ERROR").empty());

    // Logged out, the object passes no news on (the server sends none either).
    const int calls = g_calls;
    EXPECT_EQ(Run("net::logout").substr(0, 1), "0");
    other.LogIn("ann");
    OtherEngine third(server.Port());
    third.LogIn("cid");
    // Back online and asking again: the news flows once more, so the earlier silence was not
    // for want of news.
    ASSERT_EQ(Run("net::login bob secret").substr(0, 1), "0");
    EXPECT_EQ(g_calls, calls);
    EXPECT_EQ(Run("net::infoUsers"), "0 3 users online");
    EXPECT_EQ(third.Run("net::logout").substr(0, 1), "0");
    EXPECT_TRUE(WaitFor([&] { return g_calls > calls; }));
}

TEST_F(NetworkPresence, WithoutACallback_TheListIsAskedForAsBefore_AndNothingIsCalled) {
    net->userInfoCallback = Gather;
    ASSERT_NO_FATAL_FAILURE(LogIn("bob"));
    EXPECT_EQ(Run("net::infoUsers"), "0 1 users online");
    OtherEngine other(server.Port());
    other.LogIn("ann");
    EXPECT_EQ(other.Run("net::logout").substr(0, 1), "0");
    // A round trip after the changes: any notice the server sent would have come before it.
    g_gathered.clear();
    EXPECT_EQ(Run("net::infoUsers"), "0 1 users online");
    EXPECT_EQ(g_gathered, std::vector<std::string>{"bob (not driving)"});
    EXPECT_EQ(g_calls, 0);
    EXPECT_TRUE(LogLines("ignored a").empty());
}

} // namespace
