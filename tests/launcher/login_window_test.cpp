// The Login window: start-up texts, layouts, banner link, timer, Cancel Login, close while
// busy, failed login sequences and the quick start's choice of button.
#include "launcher_fixture.h"

#include <cstring>

namespace launcher_test {
namespace {

class LoginWindowTest : public LauncherTest {
protected:
    platform::HWND Open() {
        UseFakeEngine();
        platform::HWND window = OpenLoginWindow();
        EXPECT_NE(window, nullptr);
        return window;
    }

    bool Shown(int id) const {
        return platform::IsWindowVisible(platform::GetDlgItem(g_state.loginWindow, id));
    }
    bool Enabled(int id) const {
        return platform::IsWindowEnabled(platform::GetDlgItem(g_state.loginWindow, id));
    }
    void ExpectIdleLayout() const {
        EXPECT_TRUE(Shown(IDC_QUIT));
        EXPECT_TRUE(Shown(IDC_DRIVE_ONLINE));
        EXPECT_TRUE(Shown(IDC_DRIVE_OFFLINE));
        EXPECT_TRUE(Enabled(IDC_LOGIN_USERNAME));
        EXPECT_TRUE(Enabled(IDC_LOGIN_PASSWORD));
        EXPECT_FALSE(Shown(IDC_CANCEL_LOGIN));
        EXPECT_FALSE(LoginBusy());
    }

    // A point given where it lies with the banner at (18, 16), as the classic font metrics
    // place it, in the client pixels of the banner as placed now.
    std::pair<int, int> OnBanner(int x, int y) const {
        platform::Rect banner{};
        EXPECT_TRUE(platform::GetControlRect(g_state.loginWindow, IDC_LOGIN_BANNER, &banner));
        return {x - 18 + banner.left, y - 16 + banner.top};
    }
    void MoveOnBanner(int x, int y) {
        auto [cx, cy] = OnBanner(x, y);
        Move(cx, cy);
    }
    void ClickOnBanner(int x, int y) {
        auto [cx, cy] = OnBanner(x, y);
        Click(cx, cy);
    }

    void Move(int x, int y) {
        platform::SendMessage(g_state.loginWindow, platform::WM_MOUSEMOVE, 0,
                              platform::MAKELPARAM(x, y));
    }
    void Click(int x, int y) {
        platform::SendMessage(g_state.loginWindow, platform::WM_LBUTTONDOWN, 0,
                              platform::MAKELPARAM(x, y));
    }

    // A user folder with a colors file holding the password.
    void MakeUser(const std::string& name, const std::string& password) {
        std::string bytes(1, char(password.size()));
        for (char c : password)
            bytes += char(static_cast<unsigned char>(c) ^ 0xE7);
        home.WriteFile("users/" + name + "/colors", bytes);
    }
};

TEST_F(LoginWindowTest, Open_ShowsStoredNameWelcomeIconAndTimer) {
    WriteGlobalSettings({{"user-name", "alice"}});
    platform::HWND window = Open();

    EXPECT_EQ(g_state.loginWindow, window);
    EXPECT_EQ(platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, 200), "alice");
    EXPECT_STREQ(g_state.userName, "alice");
    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
    EXPECT_TRUE(platform::IsWindowVisible(window));
    EXPECT_NE(platform::GetBigIcon(window), nullptr);
    EXPECT_NE(g_state.clockTimer, 0u);
    EXPECT_NE(g_state.scriptServer, nullptr);
    ExpectIdleLayout();
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(LoginWindowTest, NoGlobalSettings_NameStartsAsGuest) {
    home.WriteFile("globalSettings", "no equals sign here\n");
    Open();

    EXPECT_EQ(g_state.globalSettings, nullptr);
    EXPECT_EQ(platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, 200), "guest");
}

TEST_F(LoginWindowTest, EmptyStoredName_EmptyNameField) {
    WriteGlobalSettings({{"user-name", ""}});
    Open();

    EXPECT_EQ(platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, 200), "");
}

// Cut, it would be the name of another user; whole, the login refuses it.
TEST_F(LoginWindowTest, LongStoredName_ShownUncut) {
    std::string name(200, 'n');
    WriteGlobalSettings({{"user-name", name}});
    Open();

    EXPECT_EQ(platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, 1000), name);
}

TEST_F(LoginWindowTest, BusyAndIdle_SwitchButtonsAndEdits) {
    Open();

    SetLoginBusy(true);
    EXPECT_FALSE(Shown(IDC_QUIT));
    EXPECT_FALSE(Shown(IDC_DRIVE_ONLINE));
    EXPECT_FALSE(Shown(IDC_DRIVE_OFFLINE));
    EXPECT_FALSE(Enabled(IDC_LOGIN_USERNAME));
    EXPECT_FALSE(Enabled(IDC_LOGIN_PASSWORD));
    EXPECT_TRUE(Shown(IDC_CANCEL_LOGIN));
    EXPECT_TRUE(LoginBusy());

    SetLoginBusy(false);
    ExpectIdleLayout();
}

TEST_F(LoginWindowTest, BannerEdgesAndOutside_DoNothing) {
    Open();
    bool opened = false;
    platform::SetOpenUrlHook([&](const std::string&) { return opened = true; });

    for (auto [x, y] :
         {std::pair{105, 320}, {270, 320}, {200, 308}, {200, 335}, {50, 50}, {450, 320}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        MoveOnBanner(x, y);
        ClickOnBanner(x, y);
        EXPECT_EQ(g_state.bannerCaptured, 0);
        EXPECT_EQ(platform::GetCapture(), nullptr);
    }
    // Left of or above the client area.
    const auto [x, y] = OnBanner(200, 320);
    for (auto [cx, cy] : {std::pair{-1, y}, {x, -1}}) {
        Move(cx, cy);
        Click(cx, cy);
        EXPECT_EQ(g_state.bannerCaptured, 0);
    }
    EXPECT_FALSE(opened);
}

TEST_F(LoginWindowTest, BannerInside_HandCursorOnceAndCaptureUntilLeft) {
    Open();
    platform::HCURSOR hand = platform::LoadCursorResource(IDC_LINK_HAND);
    platform::HCURSOR arrow = platform::LoadSystemCursor(platform::IDC_ARROW);

    MoveOnBanner(106, 309);
    EXPECT_EQ(g_state.bannerCaptured, 1);
    EXPECT_EQ(platform::GetCapture(), g_state.loginWindow);
    EXPECT_EQ(platform::GetCursor(), hand);

    platform::SetCursor(arrow);
    MoveOnBanner(269, 334);
    EXPECT_EQ(platform::GetCursor(), arrow) << "the hand cursor is set once, on entry";
    EXPECT_EQ(platform::GetCapture(), g_state.loginWindow);

    MoveOnBanner(270, 334);
    EXPECT_EQ(g_state.bannerCaptured, 0);
    EXPECT_EQ(platform::GetCapture(), nullptr);
}

TEST_F(LoginWindowTest, ClickInsideBanner_OpensMakerPageAndKeepsCapture) {
    Open();
    std::vector<std::string> opened;
    platform::SetOpenUrlHook([&](const std::string& url) {
        opened.push_back(url);
        return true;
    });

    MoveOnBanner(200, 320);
    ClickOnBanner(200, 320);

    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], kMakerUrl);
    EXPECT_EQ(g_state.bannerCaptured, 1);
    EXPECT_EQ(platform::GetCapture(), g_state.loginWindow);
}

TEST_F(LoginWindowTest, CancelLogin_SetsBothWaitVariablesInOrder) {
    Open();
    size_t before = Script()->commands.size();

    platform::SendCommand(g_state.loginWindow, IDC_CANCEL_LOGIN, 0);

    ASSERT_EQ(Script()->commands.size(), before + 2);
    EXPECT_EQ(Script()->commands[before], "set net::wv_connect 9");
    EXPECT_EQ(Script()->commands[before + 1], "set net::ack_login 9");
}

TEST_F(LoginWindowTest, Timer_ServicesScriptServerOnlyOutsideWorld) {
    Open();
    int before = Script()->processEventsCalls;

    platform::SendMessage(g_state.loginWindow, platform::WM_TIMER, g_state.clockTimer, 0);
    EXPECT_EQ(Script()->processEventsCalls, before + 1);

    g_state.inWorld = 1;
    platform::SendMessage(g_state.loginWindow, platform::WM_TIMER, g_state.clockTimer, 0);
    EXPECT_EQ(Script()->processEventsCalls, before + 1);
}

TEST_F(LoginWindowTest, CloseWhileBusy_RefusedUntilLoginEnds) {
    Open();
    SetLoginBusy(true);

    platform::SendMessage(g_state.loginWindow, platform::WM_CLOSE, 0, 0);
    platform::SendCommand(g_state.loginWindow, IDC_QUIT, 0);
    EXPECT_TRUE(platform::IsWindow(g_state.loginWindow));
    EXPECT_NE(g_state.scriptServer, nullptr);
    EXPECT_FALSE(platform::QuitPosted());

    SetLoginBusy(false);
    platform::SendMessage(g_state.loginWindow, platform::WM_CLOSE, 0, 0);
    EXPECT_FALSE(platform::IsWindow(g_state.loginWindow));
    EXPECT_EQ(g_state.scriptServer, nullptr);
    EXPECT_TRUE(platform::QuitPosted());
    EXPECT_EQ(platform::QuitCode(), 0);
}

TEST_F(LoginWindowTest, DriveButtonsWhileBusy_StartNoSecondLogin) {
    Open();
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, "nobody");
    SetLoginBusy(true);

    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_OFFLINE, 0);
    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_ONLINE, 0);

    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(LoginBusy());
}

TEST_F(LoginWindowTest, OtherNotificationCodes_Ignored) {
    Open();
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, "nobody");

    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_OFFLINE, 1);
    platform::SendCommand(g_state.loginWindow, IDC_QUIT, 1);

    EXPECT_EQ(Status(), "Welcome to Pelora Version 2.1");
    EXPECT_TRUE(platform::IsWindow(g_state.loginWindow));
}

TEST_F(LoginWindowTest, FailedDriveOnline_NoReadyAndIdleAgainWithCursorBack) {
    WriteGlobalSettings({{"drive-mode", "offline"}});
    Open();
    platform::HCURSOR before = platform::LoadCursorResource(IDC_LINK_HAND);
    platform::SetCursor(before);

    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_ONLINE, 0);

    EXPECT_EQ(Status(), "Could not connect to server.  (Are you connected to the Internet?)");
    ExpectIdleLayout();
    EXPECT_EQ(platform::GetCursor(), before);
    EXPECT_EQ(g_state.globalSettings->getDriveMode(), "offline");
}

TEST_F(LoginWindowTest, DriveOnline_ClearsPerLoginFlags) {
    Open();
    g_state.createUserSent = 1;
    g_state.renameRetry = 1;

    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_ONLINE, 0);

    EXPECT_EQ(g_state.createUserSent, 0);
    EXPECT_EQ(g_state.renameRetry, 0);
}

TEST_F(LoginWindowTest, WrongPasswordOffline_LeavesMessageNotReady) {
    WriteGlobalSettings({{"drive-mode", "online"}});
    MakeUser("bob", "secret");
    Open();
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, "bob");
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, "wrong");

    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_OFFLINE, 0);

    EXPECT_EQ(Status(), "Password invalid for user \"bob\".  Please try again.");
    ExpectIdleLayout();
    EXPECT_EQ(g_state.globalSettings->getDriveMode(), "online");
    EXPECT_EQ(g_state.globalSettings->getUserName(), "bob");
}

// On a shared machine the next person must not find the last one's password waiting for Enter.
TEST_F(LoginWindowTest, UserSetupEnded_PasswordFieldEmptyNameKept) {
    MakeUser("bob", "secret");
    Open();
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, "bob");
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, "secret");
    fakes::DialogDriver setup(IDD_SETUP, {[](platform::HWND dialog) {
                                  platform::SendCommand(dialog, IDC_SETUP_LOGOUT, 0);
                              }});

    platform::SendCommand(g_state.loginWindow, IDC_DRIVE_OFFLINE, 0);

    EXPECT_EQ(setup.opened(), 1);
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_EQ(platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_PASSWORD, 200), "");
    EXPECT_EQ(platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, 200), "bob");
}

// Without a script server Drive Online stops at its first step with its own box, which
// tells the two buttons apart.
class QuickStartTest : public LoginWindowTest {
protected:
    void QuickStartWithDriveMode(const std::string& mode) {
        classes.Use("ntclserver", [] { return nullptr; });
        classes.UseGfxServers();
        home.MakeDir("users/guest");
        WriteGlobalSettings({{"user-name", "nobody"}, {"drive-mode", mode}});
        PresetGlobalSettings();
        g_state.quickStart = 1;
        window = OpenLoginWindow();
    }
    platform::HWND window = nullptr;
};

TEST_F(QuickStartTest, DriveModeOnline_PressesDriveOnlineThenQuits) {
    QuickStartWithDriveMode("online");

    EXPECT_TRUE(BoxShown("Can't start client, script server is down."));
    EXPECT_FALSE(BoxShown("User \"nobody\" does not exist.  Please try again."));
    EXPECT_EQ(window, nullptr);
    EXPECT_FALSE(platform::IsWindow(g_state.loginWindow));
    EXPECT_TRUE(platform::QuitPosted());
    EXPECT_EQ(platform::QuitCode(), kExitLoginFailed);
}

TEST_F(QuickStartTest, DriveModeOtherCase_PressesDriveOffline) {
    QuickStartWithDriveMode("Online");

    EXPECT_FALSE(BoxShown("Can't start client, script server is down."));
    EXPECT_TRUE(BoxShown("User \"nobody\" does not exist.  Please try again."));
    EXPECT_EQ(window, nullptr);
    EXPECT_TRUE(platform::QuitPosted());
}

} // namespace
} // namespace launcher_test
