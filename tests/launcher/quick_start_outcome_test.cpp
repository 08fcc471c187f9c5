// A quick start against the recording fakes: an empty stored name repeats the guest's login,
// and the code the program ends with says how far the quick start got. A normal start still
// ends with 0 whatever its logins did.
#include "launcher_fixture.h"

#include "settings/global_settings.h"

namespace launcher_test {
namespace {

class QuickStartOutcome : public LauncherTest {
protected:
    // A home with one world and one vehicle that the fakes can "drive".
    void MakeDrivableHome() {
        fakes::Events().clear();
        UseFakeEngine();
        home.WriteFile("worlds/park/go.tcl", "# world\n");
        home.MakeDir("worlds/park/meshes");
        home.WriteFile("avatars/chair/avatar.tcl", "# avatar\n");
    }

    // Runs the quick start inside the Login window's creation, as WinMain does.
    void QuickStart(const std::map<std::string, std::string>& settings) {
        WriteGlobalSettings(settings);
        g_state.quickStart = 1;
        window = OpenLoginWindow();
    }

    // Drives started since the test began, counted in the fakes' record (the script
    // server itself is released when the quick start quits).
    static int Drives() {
        int drives = 0;
        for (const auto& event : fakes::Events())
            drives += event == "command /observer.start";
        return drives;
    }

    platform::HWND window = nullptr;
};

TEST_F(QuickStartOutcome, EmptyStoredName_LogsInAsGuestDrivesAndEndsWithZero) {
    MakeDrivableHome();
    QuickStart({{"user-name", ""}, {"drive-mode", "offline"}});

    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;
    EXPECT_STREQ(g_state.userName, "guest");
    EXPECT_EQ(Drives(), 1);
    EXPECT_EQ(window, nullptr);
    EXPECT_TRUE(platform::QuitPosted());
    EXPECT_EQ(platform::QuitCode(), kExitOk);
}

// The guest's login stores the empty name that the next quick start reads back.
TEST_F(QuickStartOutcome, NoStoredNameThenGuestStored_SecondQuickStartDrivesAgain) {
    MakeDrivableHome();
    QuickStart({{"drive-mode", "offline"}});
    ASSERT_EQ(platform::QuitCode(), kExitOk);
    ASSERT_EQ(Drives(), 1);
    ASSERT_EQ(GlobalSettings((home / "globalSettings").string()).getUserName(), "");

    ReleaseEngine();
    platform::ResetForTesting();
    ResetLauncherState();
    g_state.quickStart = 1;
    window = OpenLoginWindow();

    EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes.front().text;
    EXPECT_EQ(Drives(), 2);
    EXPECT_EQ(platform::QuitCode(), kExitOk);
}

TEST_F(QuickStartOutcome, UnknownStoredUser_EndsWithLoginFailed) {
    MakeDrivableHome();
    QuickStart({{"user-name", "nobody"}, {"drive-mode", "offline"}});

    EXPECT_TRUE(BoxShown("User \"nobody\" does not exist.  Please try again."));
    EXPECT_EQ(Drives(), 0);
    EXPECT_EQ(platform::QuitCode(), kExitLoginFailed);
}

TEST_F(QuickStartOutcome, MissingPasswordFile_EndsWithLoginFailed) {
    MakeDrivableHome();
    home.MakeDir("users/alice");
    QuickStart({{"user-name", "alice"}, {"drive-mode", "offline"}});

    EXPECT_TRUE(BoxShown("ERROR:  Password file corrupted or missing for user \"alice\"."));
    EXPECT_EQ(platform::QuitCode(), kExitLoginFailed);
}

TEST_F(QuickStartOutcome, LoggedInButWorldHasNoGoScript_EndsWithDriveFailed) {
    MakeDrivableHome();
    classes.Use("ntclserver", [] {
        auto* script = new fakes::FakeScriptServer;
        script->answers["file exists go.tcl"] = "0";
        return script;
    });
    QuickStart({{"user-name", "GUEST"}, {"drive-mode", "offline"}});

    EXPECT_TRUE(BoxShown("Error loading world \"park\": Can't find \"go.tcl\""));
    EXPECT_EQ(Drives(), 0);
    EXPECT_EQ(platform::QuitCode(), kExitDriveFailed);
}

TEST_F(QuickStartOutcome, NormalStartAfterFailedLogin_QuitStillEndsWithZero) {
    UseFakeEngine();
    WriteGlobalSettings({{"user-name", "nobody"}});
    window = OpenLoginWindow();
    ASSERT_NE(window, nullptr);
    platform::SendCommand(window, IDC_DRIVE_OFFLINE, platform::BN_CLICKED);
    ASSERT_TRUE(BoxShown("User \"nobody\" does not exist.  Please try again."));

    platform::SendCommand(window, IDC_QUIT, platform::BN_CLICKED);
    EXPECT_TRUE(platform::QuitPosted());
    EXPECT_EQ(platform::QuitCode(), kExitOk);
}

} // namespace
} // namespace launcher_test
