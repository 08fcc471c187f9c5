// The Online Users list of the User Setup window kept up to date by the server's news: the
// window hands the network object its callback, the news asks for the list again and changes
// only what changed (the list is never emptied meanwhile), news or an Update arriving while an
// asking waits are served after it without a line listed twice, and news with no online window
// open or during a drive asks for nothing.
#include "setup_fixture.h"

#include <utility>

namespace {

class SetupOnlineList : public SetupTest {
protected:
    void SetUp() override {
        SetupTest::SetUp();
        classes.Use("fakenetwork", [] { return new fakes::FakeNetwork; });
        network = dynamic_cast<fakes::FakeNetwork*>(
            g_state.kernelServer->New("fakenetwork", "/sys/network"));
        ASSERT_NE(network, nullptr);
        // The server's side: each asking hands over the lines of `online`, unordered, then
        // runs `during` (what happens while the asking waits) before it is answered.
        Script().handler = [this](const std::string& command, std::string& result) {
            if (command != "net::infoUsers")
                return false;
            ++askings;
            if (answerFails) {
                result = "1 timed out";
                return true;
            }
            for (auto it = online.rbegin(); it != online.rend(); ++it)
                network->userInfoCallback(it->c_str());
            if (auto step = std::exchange(during, nullptr))
                step();
            result = "0 " + std::to_string(online.size()) + " users online";
            return true;
        };
    }

    std::vector<std::string> Listed(platform::HWND window) const {
        std::vector<std::string> lines;
        for (int i = 0; i < platform::ListBoxGetCount(window, IDC_SETUP_ONLINE_USERS); ++i)
            lines.push_back(platform::ListBoxGetText(window, IDC_SETUP_ONLINE_USERS, i));
        return lines;
    }

    fakes::FakeNetwork* network = nullptr;
    std::vector<std::string> online{"ann (not driving)", "bob (Park)"};
    std::function<void()> during;
    bool answerFails = false;
    int askings = 0;
};

TEST_F(SetupOnlineList, News_AsksAgainAndChangesOnlyWhatChanged_TheListNeverEmptied) {
    std::vector<std::string> before, whileAsking, after;
    RunSetup(true, [&](platform::HWND window) {
        ASSERT_EQ(network->usersChangedCallback, &UpdateOnlineUsers);
        before = Listed(window);
        online = {"ann (not driving)", "cid (not driving)"};
        during = [&] { whileAsking = Listed(window); };
        network->usersChangedCallback();
        after = Listed(window);
    });
    EXPECT_EQ(before, (std::vector<std::string>{"ann (not driving)", "bob (Park)"}));
    EXPECT_EQ(whileAsking, before);
    EXPECT_EQ(after, (std::vector<std::string>{"ann (not driving)", "cid (not driving)"}));
    EXPECT_EQ(askings, 2); // the opening's and the news'
}

TEST_F(SetupOnlineList, NewsAndUpdateWhileAnAskingWaits_AskOnceMoreAfterIt_NoLineTwice) {
    std::vector<std::string> after;
    int askingsOfTheNews = 0;
    RunSetup(true, [&](platform::HWND window) {
        const int opening = askings;
        online = {"ann (not driving)", "bob (not driving)", "dee (Park)"};
        during = [&] {
            // While the news' asking waits: more news, and the user presses Update.
            online.push_back("eve (not driving)");
            network->usersChangedCallback();
            platform::SendCommand(window, IDC_SETUP_UPDATE, platform::BN_CLICKED);
        };
        network->usersChangedCallback();
        askingsOfTheNews = askings - opening;
        after = Listed(window);

        // An Update while it waits on its own answer is served after it too.
        online = {"ann (not driving)"};
        during = [&] { platform::SendCommand(window, IDC_SETUP_UPDATE, platform::BN_CLICKED); };
        platform::SendCommand(window, IDC_SETUP_UPDATE, platform::BN_CLICKED);
        EXPECT_EQ(Listed(window), std::vector<std::string>{"ann (not driving)"});
    });
    EXPECT_EQ(askingsOfTheNews, 2);
    EXPECT_EQ(after, (std::vector<std::string>{"ann (not driving)", "bob (not driving)",
                                               "dee (Park)", "eve (not driving)"}));
}

TEST_F(SetupOnlineList, NewsWhoseAskingGetsNoAnswer_LeavesTheListAsItWas) {
    std::vector<std::string> after;
    RunSetup(true, [&](platform::HWND window) {
        answerFails = true;
        network->usersChangedCallback();
        after = Listed(window);
    });
    EXPECT_EQ(after, (std::vector<std::string>{"ann (not driving)", "bob (Park)"}));
    EXPECT_EQ(askings, 2);
}

TEST_F(SetupOnlineList, NewsOfflineDuringADriveOrWithNoWindow_AsksForNothing) {
    std::vector<std::string> offline;
    RunSetup(false, [&](platform::HWND window) {
        UpdateOnlineUsers();
        offline = Listed(window);
    });
    EXPECT_EQ(offline, std::vector<std::string>{"( Not logged in. )"});
    EXPECT_EQ(askings, 0);

    RunSetup(true, [&](platform::HWND) {
        g_state.inWorld = 1;
        UpdateOnlineUsers();
        g_state.inWorld = 0;
    });
    EXPECT_EQ(askings, 1); // the opening's only

    UpdateOnlineUsers(); // the window is gone
    EXPECT_EQ(askings, 1);
    EXPECT_EQ(g_state.setupWindow, nullptr);
}

} // namespace
