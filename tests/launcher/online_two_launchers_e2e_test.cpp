// Two launchers on one server: the launcher keeps one state record per process, so the second
// launcher is this test program started again in the role "second-launcher", on a home folder
// of its own. Each logs in with Drive Online and waits in its User Setup window until the
// other's user is in its Online Users list; they meet through files in a shared folder.
#include "child_role.h"
#include "online_fixture.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <cstdio>

namespace launcher_test {
namespace {

constexpr const char* kSyncVariable = "PELORA_E2E_SYNC";
constexpr const char* kUserVariable = "PELORA_E2E_USER";
constexpr const char* kOtherVariable = "PELORA_E2E_OTHER";
constexpr const char* kChildList = "second-launcher.list"; // its Online Users, one a line
constexpr const char* kFirstDone = "first-launcher.done";  // the first may log out now
constexpr int kMeetingMs = 15000;

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

// Written whole under a temporary name and renamed, so that the reader never sees half of it.
void Publish(const fs::path& path, const std::string& text) {
    WriteBytes(fs::path(path.string() + ".part"), text);
    fs::rename(path.string() + ".part", path);
}

// The second launcher: PELORA_HOME is its home (prepared by the test), its user's password is
// "secret". Gives 0 when it saw the other user online and logged in and out cleanly.
int RunSecondLauncher() {
    const char* sync = std::getenv(kSyncVariable);
    const char* user = std::getenv(kUserVariable);
    const char* other = std::getenv(kOtherVariable);
    if (!sync || !user || !other) {
        std::fprintf(stderr, "second launcher: %s, %s and %s must be set\n", kSyncVariable,
                     kUserVariable, kOtherVariable);
        return 2;
    }
    ResetLauncherState();
    fakes::MessageBoxRecorder boxes;
    platform::HWND login =
        platform::CreateDialogParam(nullptr, IDD_LOGIN, nullptr, LoginDialogProc, 0);
    if (!login) {
        std::fprintf(stderr, "second launcher: no Login window\n");
        return 3;
    }
    bool sawOther = false, released = false;
    int opened = PressDriveOnline(login, user, "secret", [&](platform::HWND setup) {
        sawOther = WaitUntilListed(setup, std::string(other) + " (not driving)", kMeetingMs);
        Publish(fs::path(sync) / kChildList, Lines(OnlineUsers(setup)));
        released =
            QTest::qWaitFor([&] { return fs::exists(fs::path(sync) / kFirstDone); }, kMeetingMs);
        PressLogout(setup);
    });
    const std::string status = platform::GetDlgItemText(login, IDC_LOGIN_STATUS, 500);
    for (const auto& box : boxes.boxes)
        std::fprintf(stderr, "second launcher: box \"%s\": %s\n", box.caption.c_str(),
                     box.text.c_str());
    std::fprintf(stderr, "second launcher: shown %d, saw %s: %s, released: %s, status \"%s\"\n",
                 opened, other, sawOther ? "yes" : "no", released ? "yes" : "no", status.c_str());
    platform::DestroyWindow(login);
    return opened == 1 && sawOther && released && status == "Ready." && boxes.boxes.empty() ? 0 : 1;
}

const pelora_test::ChildRoleRegistration kSecondLauncher("second-launcher", RunSecondLauncher);

using TwoLaunchers = OnlineTest;

TEST_F(TwoLaunchers, BothOnline_EachListsTheOtherUser) {
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ScratchFolder otherHome;
    const fs::path secondHome = otherHome.path();
    ASSERT_EQ(PrepareOnlineHome(secondHome, server.Port(), serverData.path().string()), "");
    ASSERT_TRUE(MakeLocalUser(secondHome, "bob", "secret"));
    ScratchFolder sync;

    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(pelora_test::kChildRoleVariable, "second-launcher");
    environment.insert("PELORA_HOME", QString::fromStdString(secondHome.string()));
    environment.insert(kSyncVariable, QString::fromStdString(sync.path().string()));
    environment.insert(kUserVariable, "bob");
    environment.insert(kOtherVariable, "ann");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QString::fromStdString(pelora_test::TestProgramPath()), {});
    ASSERT_TRUE(second.waitForStarted(10000));

    ASSERT_NO_FATAL_FAILURE(OpenLauncher());
    bool sawBob = false, secondListed = false;
    std::vector<std::string> listed;
    int opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        sawBob = WaitUntilListed(setup, "bob (not driving)", kMeetingMs);
        listed = OnlineUsers(setup);
        secondListed = QTest::qWaitFor([&] { return fs::exists(sync / kChildList); }, kMeetingMs);
        Publish(sync / kFirstDone, "");
        PressLogout(setup);
    });
    const bool ended = second.waitForFinished(kMeetingMs);
    if (!ended)
        second.kill();
    const std::string said = second.readAll().toStdString();

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(sawBob);
    EXPECT_EQ(listed, (std::vector<std::string>{"ann (not driving)", "bob (not driving)"}));
    EXPECT_TRUE(secondListed);
    EXPECT_EQ(ReadBytes(sync / kChildList), "ann (not driving)\nbob (not driving)\n");
    ASSERT_TRUE(ended) << said;
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit) << said;
    EXPECT_EQ(second.exitCode(), 0) << said;
    EXPECT_EQ(Status(), "Ready.");
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
} // namespace launcher_test
