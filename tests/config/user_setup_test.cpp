// The User Setup window: opening steps, voice, level and time, the Online Users list, the
// offline narrowing, closing, and the user's settings across openings.
#include "settings/global_settings.h"

#include "platform/file_system.h"
#include "setup_fixture.h"
#include <QApplication>
#include <QTest>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The visible top-level window with that caption, as the user sees it.
QWidget* ShownWindow(const QString& caption) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == caption)
            return widget;
    }
    return nullptr;
}

class UserSetupTest : public SetupTest {
protected:
    void AddDataServer(int level, int seconds) {
        classes.UseDataServer();
        ASSERT_NE(g_state.kernelServer->New("pldata", "/sys/servers/data"), nullptr);
        fakes::FakeDataServer::last->level = level;
        fakes::FakeDataServer::last->seconds = seconds;
    }
    fakes::FakeNetwork* AddNetwork() {
        classes.Use("fakenetwork", [] { return new fakes::FakeNetwork; });
        return dynamic_cast<fakes::FakeNetwork*>(
            g_state.kernelServer->New("fakenetwork", "/sys/network"));
    }
    void AddContent() {
        AddWorld("Park", "2");
        AddWorld("Atrium", "1");
        AddVehicle("Power");
        AddVehicle("Manual");
    }
};

TEST_F(UserSetupTest, UserTime_FormattedAsHoursMinutesSeconds) {
    EXPECT_EQ(FormatUserTime(3600 + 2 * 60 + 5), "01:02:05");
    EXPECT_EQ(FormatUserTime(45), "00:00:45");
    EXPECT_EQ(FormatUserTime(100 * 3600), "100:00:00");
    EXPECT_EQ(FormatUserTime(0), "00:00:00");
}

TEST_F(UserSetupTest, StoredGender_ChecksVoiceAndStoresMaleOrFemale) {
    struct Case {
        const char* stored;
        bool male;
    };
    for (Case c : {Case{"", true}, Case{"male", true}, Case{"female", false}, Case{"Female", false},
                   Case{"x", false}, Case{"MALE", false}}) {
        WriteUserSettings(std::string("gender=") + c.stored + "\n");
        int male = -1, female = -1;
        RunSetup(false, [&](platform::HWND window) {
            male = platform::IsDlgButtonChecked(window, IDC_SETUP_MALE);
            female = platform::IsDlgButtonChecked(window, IDC_SETUP_FEMALE);
        });
        EXPECT_EQ(male, c.male ? platform::BST_CHECKED : platform::BST_UNCHECKED) << c.stored;
        EXPECT_EQ(female, c.male ? platform::BST_UNCHECKED : platform::BST_CHECKED) << c.stored;
        EXPECT_EQ(StoredValue("gender"), c.male ? "male" : "female") << c.stored;
        EXPECT_STREQ(g_state.gender, c.male ? "male" : "female") << c.stored;
    }
}

TEST_F(UserSetupTest, VoiceClicks_StoreChosenVoiceAndUncheckOther) {
    RunSetup(false, [&](platform::HWND window) {
        platform::CheckDlgButton(window, IDC_SETUP_FEMALE, platform::BST_CHECKED);
        platform::SendCommand(window, IDC_SETUP_FEMALE, platform::BN_CLICKED);
        EXPECT_EQ(platform::IsDlgButtonChecked(window, IDC_SETUP_MALE), platform::BST_UNCHECKED);
        EXPECT_EQ(StoredValue("gender"), "female");
        EXPECT_STREQ(g_state.gender, "female");

        // The already checked button stores its value again.
        WriteUserSettings("gender=changed\n");
        platform::SendCommand(window, IDC_SETUP_FEMALE, platform::BN_CLICKED);
        EXPECT_EQ(StoredValue("gender"), "female");

        platform::CheckDlgButton(window, IDC_SETUP_MALE, platform::BST_CHECKED);
        platform::SendCommand(window, IDC_SETUP_MALE, platform::BN_CLICKED);
        EXPECT_EQ(platform::IsDlgButtonChecked(window, IDC_SETUP_FEMALE), platform::BST_UNCHECKED);
        EXPECT_EQ(StoredValue("gender"), "male");
    });
}

TEST_F(UserSetupTest, FirstLoginWithoutSettingsFile_DefaultsChosenAndStored) {
    AddContent();
    std::string vehicle, color, world;
    int male = -1;
    RunSetup(false, [&](platform::HWND window) {
        vehicle = Selected(window, IDC_SETUP_VEHICLE);
        color = Selected(window, IDC_SETUP_COLOR);
        world = Selected(window, IDC_SETUP_WORLD);
        male = platform::IsDlgButtonChecked(window, IDC_SETUP_MALE);
        EXPECT_EQ(platform::ComboBoxGetCurSel(window, IDC_SETUP_VEHICLE), 0);
    });
    EXPECT_EQ(log.Count("User settings file did not exist or couldn't open: "), 1);
    EXPECT_EQ(male, platform::BST_CHECKED);
    EXPECT_EQ(color, "Red");
    EXPECT_EQ(world, "Atrium");
    EXPECT_EQ(StoredValue("vehicle-type"), vehicle);
    EXPECT_NE(vehicle, "<none>");
    EXPECT_EQ(StoredValue("vehicle-color"), "Red");
    EXPECT_EQ(StoredValue("world"), "Atrium");
    EXPECT_EQ(StoredValue("gender"), "male");
    EXPECT_EQ(StoredValue("speed-scale"), "1.000000");
    EXPECT_EQ(StoredValue("axis-offset"), "-0.750000");
}

TEST_F(UserSetupTest, Opening_SendsAdjustmentsThenListsThenDataServerSteps) {
    AddDataServer(3, 45);
    WriteUserSettings("speed-scale=0.800000\naxis-offset=0.250000\n");
    std::string level, time, name;
    RunSetup(true, [&](platform::HWND window) {
        level = platform::GetDlgItemText(window, IDC_SETUP_LEVEL, 127);
        time = platform::GetDlgItemText(window, IDC_SETUP_TIME, 127);
        name = platform::GetDlgItemText(window, IDC_SETUP_NAME, 127);
        EXPECT_NE(platform::GetBigIcon(window), nullptr);
    });
    EXPECT_EQ(level, "3");
    EXPECT_EQ(time, "00:00:45");
    EXPECT_EQ(name, "alice");
    int speed = fakes::IndexOf("command skill::set_speed 0.800000");
    int center = fakes::IndexOf("command set_avatar_center 0.250000");
    int users = fakes::IndexOf("command net::infoUsers");
    int site = fakes::IndexOf("data SetSiteInfo ||"); // no global settings: empty texts
    int user = fakes::IndexOf("data SetUserName alice");
    int refresh = fakes::IndexOf("data RefreshUser");
    int getLevel = fakes::IndexOf("data GetLevel");
    ASSERT_GE(speed, 0);
    EXPECT_LT(speed, center);
    EXPECT_LT(center, users);
    EXPECT_LT(users, site);
    EXPECT_LT(site, user);
    EXPECT_LT(user, refresh);
    EXPECT_LT(refresh, getLevel);
    EXPECT_EQ(g_state.inWorld, 0);
}

TEST_F(UserSetupTest, GlobalSettings_SiteTextsPassedToDataServer) {
    AddDataServer(1, 0);
    g_state.globalSettings = new GlobalSettings("globalSettings");
    g_state.globalSettings->setState("Ohio");
    g_state.globalSettings->setOrganization("Clinic");
    g_state.globalSettings->setVantorDataId("D7");
    RunSetup(true, [](platform::HWND) {});
    EXPECT_GE(fakes::IndexOf("data SetSiteInfo Ohio|Clinic|D7"), 0);
    delete g_state.globalSettings;
    g_state.globalSettings = nullptr;
}

TEST_F(UserSetupTest, NoDataServer_LevelAndTimeStayEmpty) {
    std::string level = "?", time = "?";
    RunSetup(true, [&](platform::HWND window) {
        level = platform::GetDlgItemText(window, IDC_SETUP_LEVEL, 127);
        time = platform::GetDlgItemText(window, IDC_SETUP_TIME, 127);
    });
    EXPECT_EQ(level, "");
    EXPECT_EQ(time, "");
    EXPECT_EQ(g_state.dataServer, nullptr);
}

TEST_F(UserSetupTest, Offline_WindowNarrowedAroundCentreAndListSaysNotLoggedIn) {
    platform::Rect online{}, offline{};
    RunSetup(true, [&](platform::HWND window) { platform::GetWindowRect(window, &online); });
    std::vector<std::string> lines;
    bool updateEnabled = true;
    RunSetup(false, [&](platform::HWND window) {
        platform::GetWindowRect(window, &offline);
        lines = ListItems(window, IDC_SETUP_ONLINE_USERS);
        updateEnabled = platform::IsWindowEnabled(platform::GetDlgItem(window, IDC_SETUP_UPDATE));
    });
    const int offset = platform::DialogUnitsToPixelsX(68); // 102 at the classic base units
    EXPECT_EQ((online.right - online.left) - (offline.right - offline.left), 2 * offset);
    EXPECT_EQ(offline.left, online.left + offset);
    // The cut falls between the World group (ends at 225) and Online Users (starts at 235).
    EXPECT_GE(offline.right - offline.left, platform::DialogUnitsToPixelsX(225));
    EXPECT_LE(offline.right - offline.left, platform::DialogUnitsToPixelsX(235));
    EXPECT_EQ(offline.top, online.top);
    EXPECT_EQ(offline.bottom - offline.top, online.bottom - online.top);
    EXPECT_EQ(lines, std::vector<std::string>{"( Not logged in. )"});
    EXPECT_FALSE(updateEnabled);
    EXPECT_EQ(Script().CountCommands("net::infoUsers"), 1); // the online opening only
}

TEST_F(UserSetupTest, OnlineUpdate_EmptiesListAsksOnceAndListsCallbackLinesSorted) {
    fakes::FakeNetwork* network = AddNetwork();
    ASSERT_NE(network, nullptr);
    std::vector<std::string> lines;
    RunSetup(true, [&](platform::HWND window) {
        ASSERT_EQ(network->userInfoCallback, &AddOnlineUser);
        EXPECT_EQ(Script().CountCommands("net::infoUsers"), 1);
        network->userInfoCallback("stale");
        int before = Script().CountCommands("net::infoUsers");
        platform::SendCommand(window, IDC_SETUP_UPDATE, platform::BN_CLICKED);
        EXPECT_EQ(Script().CountCommands("net::infoUsers"), before + 1);
        EXPECT_EQ(platform::ListBoxGetCount(window, IDC_SETUP_ONLINE_USERS), 0);
        for (const char* line : {"zed", "Amy", "bob"})
            network->userInfoCallback(line);
        lines = ListItems(window, IDC_SETUP_ONLINE_USERS);
        EXPECT_TRUE(platform::IsWindowEnabled(platform::GetDlgItem(window, IDC_SETUP_UPDATE)));
    });
    EXPECT_EQ(lines, (std::vector<std::string>{"Amy", "bob", "zed"}));
    // With the window closed the callback has nothing to add to.
    network->userInfoCallback("late");
    EXPECT_EQ(g_state.setupWindow, nullptr);
}

TEST_F(UserSetupTest, OnlineWithoutScriptServer_ListStaysEmpty) {
    g_state.scriptServer->Release();
    g_state.scriptServer = nullptr;
    int count = -1;
    RunSetup(true, [&](platform::HWND window) {
        count = platform::ListBoxGetCount(window, IDC_SETUP_ONLINE_USERS);
    });
    EXPECT_EQ(count, 0);
}

TEST_F(UserSetupTest, EscapeAndOtherCodes_DoNothing) {
    bool stillOpen = false;
    RunSetup(false, [&](platform::HWND window) {
        platform::SendCommand(window, platform::IDCANCEL, platform::BN_CLICKED);
        platform::SendCommand(window, IDC_SETUP_LOGOUT, 1);
        stillOpen = g_state.setupWindow == window && platform::IsWindowVisible(window);
    });
    EXPECT_TRUE(stillOpen);
}

TEST_F(UserSetupTest, EscapeKey_LeavesWindowOpen) {
    bool stillOpen = false;
    RunSetup(false, [&](platform::HWND window) {
        QWidget* shown = ShownWindow("Vantor Pelora - User Setup");
        ASSERT_NE(shown, nullptr);
        QTest::keyClick(shown, Qt::Key_Escape);
        stillOpen = g_state.setupWindow == window && platform::IsWindowVisible(window);
    });
    EXPECT_TRUE(stillOpen);
}

TEST_F(UserSetupTest, AdjustButton_RunsDialogWhoseOkSendsAdjustments) {
    WriteUserSettings("speed-scale=0.800000\naxis-offset=-0.750000\n");
    QWidget* adjustWidget = nullptr;
    RunSetup(false, [&](platform::HWND window) {
        QTimer::singleShot(0, [&] {
            adjustWidget = ShownWindow("Adjust Wheelchair Characteristics");
            if (adjustWidget)
                QTest::keyClick(adjustWidget, Qt::Key_Return);
        });
        platform::SendCommand(window, IDC_SETUP_ADJUST, platform::BN_CLICKED);
    });
    ASSERT_NE(adjustWidget, nullptr);
    // Once at the opening, once for OK.
    EXPECT_EQ(Script().CountCommands("skill::set_speed 0.800000"), 2);
    EXPECT_EQ(Script().CountCommands("set_avatar_center -0.750000"), 2);
}

TEST_F(UserSetupTest, QuickStart_DrivesOnceAndLogsOutInsideOpening) {
    AddContent();
    home.WriteFile("worlds/Atrium/go.tcl", "# world\n");
    g_state.quickStart = 1;
    bool leftOpen = false;
    QTimer::singleShot(0, [&] {
        if (g_state.setupWindow) {
            leftOpen = true;
            platform::EndDialog(g_state.setupWindow, 0);
        }
    });
    ShowUserSetup(false);
    QApplication::processEvents();
    EXPECT_FALSE(leftOpen);
    EXPECT_EQ(log.Count("**** startWorld()"), 1);
    EXPECT_EQ(g_state.setupWindow, nullptr);
    EXPECT_EQ(g_state.userSettings, nullptr);
}

TEST_F(UserSetupTest, LoginWindow_MinimisedWhileOpenRestoredAfter) {
    g_state.loginWindow = platform::CreateDialogParam(
        nullptr, IDD_PROGRESS, nullptr,
        [](platform::HWND, unsigned, platform::WPARAM, platform::LPARAM) { return false; }, 0);
    ASSERT_NE(g_state.loginWindow, nullptr);
    bool minimised = false;
    RunSetup(false, [&](platform::HWND) { minimised = platform::IsIconic(g_state.loginWindow); });
    EXPECT_TRUE(minimised);
    EXPECT_FALSE(platform::IsIconic(g_state.loginWindow));
}

TEST_F(UserSetupTest, CloseBox_EndsWindowAndReleasesSettings) {
    bool closedInside = false;
    QTimer::singleShot(0, [&] {
        platform::SendMessage(g_state.setupWindow, platform::WM_CLOSE, 0, 0);
        closedInside = g_state.setupWindow == nullptr && g_state.userSettings == nullptr;
    });
    ShowUserSetup(false);
    EXPECT_TRUE(closedInside);
    EXPECT_EQ(g_state.setupWindow, nullptr);
}

TEST_F(UserSetupTest, LogoutAndLogin_ChoicesSurvive) {
    AddContent();
    AddVehicle("Sport");
    RunSetup(false, [&](platform::HWND window) {
        Choose(window, IDC_SETUP_WORLD, 1); // Park
        Choose(window, IDC_SETUP_COLOR, 3); // Green
        int sport = -1;
        auto vehicles = ComboItems(window, IDC_SETUP_VEHICLE);
        for (size_t i = 0; i < vehicles.size(); ++i) {
            if (vehicles[i] == "Sport")
                sport = int(i);
        }
        Choose(window, IDC_SETUP_VEHICLE, sport);
        platform::CheckDlgButton(window, IDC_SETUP_FEMALE, platform::BST_CHECKED);
        platform::SendCommand(window, IDC_SETUP_FEMALE, platform::BN_CLICKED);
    });
    EXPECT_EQ(g_state.userSettings, nullptr);
    std::string world, color, vehicle, label;
    int female = -1;
    RunSetup(false, [&](platform::HWND window) {
        world = Selected(window, IDC_SETUP_WORLD);
        color = Selected(window, IDC_SETUP_COLOR);
        vehicle = Selected(window, IDC_SETUP_VEHICLE);
        female = platform::IsDlgButtonChecked(window, IDC_SETUP_FEMALE);
        label = platform::GetDlgItemText(window, IDC_SETUP_DIFFICULTY, 127);
    });
    EXPECT_EQ(world, "Park");
    EXPECT_EQ(label, "Easy");
    EXPECT_EQ(color, "Green");
    EXPECT_EQ(vehicle, "Sport");
    EXPECT_EQ(female, platform::BST_CHECKED);
    EXPECT_STREQ(g_state.worldName, "Park");
    EXPECT_STREQ(g_state.vehicleType, "Sport");
    EXPECT_STREQ(g_state.vehicleColor, "Green");
}

TEST_F(UserSetupTest, OneBadLineInSettings_EveryOtherChoiceKeptAndTheFileAside) {
    AddContent();
    AddVehicle("Sport");
    const std::string damaged = "gender=female\n"
                                "vehicle-type=Sport\n"
                                "vehicle-color=Blue\n"
                                "this line has no equals sign\n"
                                "world=Park\n"
                                "speed-scale=0.700000\n"
                                "axis-offset=-0.250000\n";
    WriteUserSettings(damaged);
    std::string world, color, vehicle;
    int female = -1;
    RunSetup(false, [&](platform::HWND window) {
        world = Selected(window, IDC_SETUP_WORLD);
        color = Selected(window, IDC_SETUP_COLOR);
        vehicle = Selected(window, IDC_SETUP_VEHICLE);
        female = platform::IsDlgButtonChecked(window, IDC_SETUP_FEMALE);
        Choose(window, IDC_SETUP_COLOR, 2); // a first click: Yellow
    });
    EXPECT_EQ(world, "Park");
    EXPECT_EQ(color, "Blue");
    EXPECT_EQ(vehicle, "Sport");
    EXPECT_EQ(female, platform::BST_CHECKED);
    EXPECT_EQ(Script().CountCommands("skill::set_speed 0.700000"), 1);
    EXPECT_EQ(Script().CountCommands("set_avatar_center -0.250000"), 1);

    // The click stored its choice beside everything else that was read.
    EXPECT_EQ(StoredValue("vehicle-color"), "Yellow");
    EXPECT_EQ(StoredValue("vehicle-type"), "Sport");
    EXPECT_EQ(StoredValue("gender"), "female");
    EXPECT_EQ(StoredValue("world"), "Park");
    EXPECT_EQ(StoredValue("speed-scale"), "0.700000");
    EXPECT_EQ(StoredValue("axis-offset"), "-0.250000");

    int aside = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home / "users/alice")) {
        std::string name = entry.path().filename().string();
        if (name.rfind("userSettings.corrupt-", 0) == 0) {
            ++aside;
            EXPECT_EQ(home.ReadFile("users/alice/" + name), damaged);
        }
    }
    EXPECT_EQ(aside, 1);
    EXPECT_TRUE(log.Contains("users/alice/userSettings, line 4: no '=' after the key"));
    EXPECT_EQ(log.Count("Caught exception while loading user settings: "), 0);
}

TEST_F(UserSetupTest, FifoInPlaceOfSettings_OpensAtOnceAndTheFifoStays) {
    AddContent();
    ASSERT_EQ(mkfifo((home / "users/alice/userSettings").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program
    int male = -1;
    RunSetup(false, [&](platform::HWND window) {
        male = platform::IsDlgButtonChecked(window, IDC_SETUP_MALE);
        Choose(window, IDC_SETUP_COLOR, 2);
    });
    alarm(0);
    EXPECT_EQ(male, platform::BST_CHECKED);
    EXPECT_EQ(log.Count("Caught exception while loading user settings: "), 1);
    EXPECT_TRUE(log.Contains("is a FIFO (named pipe), not a file"));
    EXPECT_EQ(platform::GetFileKind((home / "users/alice/userSettings").string()),
              platform::FileKind::Other);
    EXPECT_EQ(Script().CountCommands("skill::set_speed 1.000000"), 1);
}

TEST_F(UserSetupTest, GuestInCapitals_KeepsChoicesAcrossTwoOpenings) {
    AddContent();
    home.MakeDir("users/guest");
    CopyName(g_state.userName, "GUEST");
    RunSetup(false, [&](platform::HWND window) {
        Choose(window, IDC_SETUP_WORLD, 1); // Park
        Choose(window, IDC_SETUP_COLOR, 4); // Blue
    });
    EXPECT_FALSE(std::filesystem::exists(home / "users/GUEST"));
    std::string world, color;
    CopyName(g_state.userName, "Guest");
    RunSetup(false, [&](platform::HWND window) {
        world = Selected(window, IDC_SETUP_WORLD);
        color = Selected(window, IDC_SETUP_COLOR);
    });
    EXPECT_EQ(world, "Park");
    EXPECT_EQ(color, "Blue");
    EXPECT_EQ(log.Count("Could not write settings file"), 0);
}

} // namespace
