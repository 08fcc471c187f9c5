// The staff view's front door, against the real server over HTTPS: no page without a login,
// wrong passwords refused and throttled, the session cookie's flags, idle expiry and logout,
// forms without their CSRF token refused, paths that climb refused, the staff accounts from
// the command line, and the launchers' certificate on the staff port too.
#include "staff_fixture.h"

using namespace pelora_test;

namespace {

const char* const kPages[] = {"/",
                              "/trainee?name=alice",
                              "/drive?id=1",
                              "/online",
                              "/files",
                              "/export",
                              "/export/trainee.csv?name=alice",
                              "/export/drives.csv?from=2026-01-01&to=2026-12-31"};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(StaffTest, NoPageAndNoExportWithoutALogin) {
    StartStaff();
    auto alice = LoggedIn("alice");
    Upload(*alice, "data-1.txt", DriveFile{}.Text());
    auto browser = Browser();
    for (const char* page : kPages) {
        Reply reply = browser->Get(page);
        EXPECT_EQ(reply.status, 303) << page;
        EXPECT_EQ(reply.Header("Location"), "/login") << page;
        EXPECT_FALSE(Contains(reply.body, "alice")) << page;
        EXPECT_FALSE(Contains(reply.body, "Hallway")) << page;
    }
    // A made-up session cookie is no login either.
    browser->Cookies()["pelora_staff"] = std::string(64, 'a');
    EXPECT_EQ(browser->Get("/").status, 303);
    // The same pages after a login.
    auto nurse = LoggedInBrowser();
    for (const char* page : kPages)
        EXPECT_EQ(nurse->Get(page).status, 200) << page;
}

TEST_F(StaffTest, TheSessionCookieIsSecureHttpOnlyAndStrict) {
    StartStaff();
    auto browser = Browser();
    Reply login = browser->Login("nurse", kStaffPassword);
    ASSERT_EQ(login.status, 303);
    std::vector<std::string> cookies = login.SetCookies();
    ASSERT_EQ(cookies.size(), 1u);
    EXPECT_EQ(cookies[0].rfind("pelora_staff=", 0), 0u) << cookies[0];
    for (const char* flag : {"; Secure", "; HttpOnly", "; SameSite=Strict", "; Path=/"})
        EXPECT_TRUE(Contains(cookies[0], flag)) << cookies[0];
    Reply page = browser->Get("/");
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(Contains(page.Header("Content-Security-Policy"), "default-src 'none'"));
    EXPECT_TRUE(Contains(page.body, "<span>nurse</span>"));
}

TEST_F(StaffTest, AWrongPasswordIsRefusedAndRepeatedFailuresAreThrottled) {
    StartStaff({"--throttle-name-failures", "3", "--throttle-delay", "1"});
    auto browser = Browser();
    Reply wrong = browser->Login("nurse", "not the password");
    EXPECT_EQ(wrong.status, 401);
    EXPECT_TRUE(Contains(wrong.body, "The name or the password is wrong."));
    EXPECT_TRUE(browser->Cookies().find("pelora_staff") == browser->Cookies().end());
    EXPECT_EQ(browser->Login("nobody", kStaffPassword).status, 401);
    EXPECT_EQ(browser->Login("nurse", "guess 2").status, 401);
    EXPECT_EQ(browser->Login("nurse", "guess 3").status, 401);
    // Throttled now: even the right password waits.
    Reply throttled = browser->Login("nurse", kStaffPassword);
    EXPECT_EQ(throttled.status, 429);
    EXPECT_FALSE(throttled.Header("Retry-After").empty());
    EXPECT_TRUE(Contains(throttled.body, "Too many failed logins"));
    EXPECT_EQ(browser->Get("/").status, 303);
    // Once the delay has passed, the right password works again.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (status != 303 && std::chrono::steady_clock::now() < deadline)
        status = browser->Login("nurse", kStaffPassword).status;
    EXPECT_EQ(status, 303);
    EXPECT_EQ(browser->Get("/").status, 200);
    EXPECT_TRUE(Contains(Log(), "staff view: failed login as \"nurse\""));
}

TEST_F(StaffTest, FormsWithoutTheirCsrfTokenAreRefused) {
    StartStaff();
    // The login form without its token, or with another page's.
    auto browser = Browser();
    browser->CsrfOf("/login");
    EXPECT_EQ(browser->Post("/login", {{"name", "nurse"}, {"password", kStaffPassword}}).status,
              403);
    EXPECT_EQ(browser
                  ->Post("/login", {{"csrf", std::string(64, '0')},
                                    {"name", "nurse"},
                                    {"password", kStaffPassword}})
                  .status,
              403);
    EXPECT_EQ(browser->Get("/").status, 303);

    auto nurse = LoggedInBrowser();
    std::string csrf = nurse->CsrfOf("/");
    ASSERT_EQ(csrf.size(), 64u);
    // Logging out without the token, or with a wrong one, leaves the session.
    EXPECT_EQ(nurse->Post("/logout", {}).status, 403);
    EXPECT_EQ(nurse->Post("/logout", {{"csrf", std::string(64, 'f')}}).status, 403);
    EXPECT_EQ(nurse->Get("/").status, 200);
    // With it, the session ends and its cookie is worth nothing.
    std::string cookie = nurse->Cookies()["pelora_staff"];
    Reply out = nurse->Post("/logout", {{"csrf", csrf}});
    EXPECT_EQ(out.status, 303);
    EXPECT_EQ(out.Header("Location"), "/login");
    ASSERT_EQ(out.SetCookies().size(), 1u);
    EXPECT_TRUE(Contains(out.SetCookies()[0], "Max-Age=0"));
    EXPECT_EQ(nurse->Get("/").status, 303);
    nurse->Cookies()["pelora_staff"] = cookie;
    EXPECT_EQ(nurse->Get("/").status, 303);
}

TEST_F(StaffTest, ALoginUnusedForTheIdleTimeEnds) {
    StartStaff({"--staff-idle-timeout", "1"});
    auto nurse = LoggedInBrowser();
    EXPECT_EQ(nurse->Get("/").status, 200);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Each look restarts the idle time, so look only once it may have passed.
    auto since = std::chrono::steady_clock::now();
    int status = 200;
    while (status == 200 && std::chrono::steady_clock::now() < deadline) {
        if (std::chrono::steady_clock::now() - since > std::chrono::milliseconds(1100))
            status = nurse->Get("/online").status;
        else
            std::this_thread::yield();
    }
    EXPECT_EQ(status, 303);
    EXPECT_EQ(nurse->Get("/").status, 303);
}

TEST_F(StaffTest, PathsThatClimbOutAreRefused) {
    StartStaff();
    std::string secret = ReadAll(DataDir() + "/keys/seal.key");
    ASSERT_FALSE(secret.empty());
    auto nurse = LoggedInBrowser();
    for (const char* path :
         {"/../keys/seal.key", "/%2e%2e/keys/seal.key", "/style.css/..%2f..%2fkeys%2fseal.key",
          "/..%5c..%5ckeys%5cseal.key", "//etc/passwd", "/trainee/../../pelora-server.db"}) {
        Reply reply = nurse->Get(path);
        EXPECT_TRUE(reply.status == 400 || reply.status == 404) << path << " " << reply.status;
        EXPECT_FALSE(Contains(reply.body, secret.substr(0, 64))) << path;
        EXPECT_FALSE(Contains(reply.body, "SQLite")) << path;
    }
    // A trainee named like a path is only a name that has no drives.
    Reply odd = nurse->Get("/trainee?name=..%2F..%2Fkeys%2Fseal.key");
    EXPECT_EQ(odd.status, 200);
    EXPECT_TRUE(Contains(odd.body, "0 drives")) << odd.body;
    EXPECT_FALSE(Contains(odd.body, secret.substr(0, 64)));
    Reply none = nurse->Get("/export/trainee.csv?name=nobody");
    EXPECT_EQ(none.status, 200);
    EXPECT_EQ(std::count(none.body.begin(), none.body.end(), '\n'), 1) << none.body;
}

TEST_F(StaffTest, StaffAccountsAreMadeListedAndRemovedFromTheCommandLine) {
    std::string output;
    AddStaff("nurse", kStaffPassword);
    EXPECT_EQ(RunWithInput(Program({"--add-staff", "nurse"}), "another password\n", output), 1);
    EXPECT_TRUE(Contains(output, "there is a staff account nurse already")) << output;
    EXPECT_EQ(RunWithInput(Program({"--add-staff", "brief"}), "short\n", output), 2);
    EXPECT_TRUE(Contains(output, "at least 8 characters")) << output;
    EXPECT_EQ(RunWithInput(Program({"--add-staff", "a/b"}), "long enough\n", output), 2);
    AddStaff("doctor", "another long one");
    ASSERT_EQ(RunProgram(Program({"--list-staff"}), output), 0);
    EXPECT_TRUE(Contains(output, "doctor\tadded ")) << output;
    EXPECT_TRUE(Contains(output, "nurse\tadded ")) << output;
    EXPECT_FALSE(Contains(output, "argon2")) << "the hashes are not shown";

    // Removed while logged in: the login ends with the account.
    staffPort_ = FreeLoopbackPort();
    StartServer({"--staff-port", std::to_string(staffPort_), "--staff-bind", "127.0.0.1"});
    auto doctor = Browser();
    ASSERT_EQ(doctor->Login("doctor", "another long one").status, 303);
    EXPECT_EQ(doctor->Get("/").status, 200);
    ASSERT_EQ(RunWithInput(Program({"--remove-staff", "doctor"}), "", output), 0) << output;
    EXPECT_EQ(doctor->Get("/").status, 303);
    EXPECT_EQ(doctor->Login("doctor", "another long one").status, 401);
    EXPECT_EQ(RunWithInput(Program({"--remove-staff", "doctor"}), "", output), 1);
    EXPECT_TRUE(Contains(output, "no staff account doctor")) << output;
}

TEST_F(StaffTest, TheStaffPortPresentsTheLaunchersCertificateAndZeroTurnsItOff) {
    StartStaff();
    WireClient tls(staffPort_);
    EXPECT_TRUE(tls.Connect(DataDir() + "/tls/server.pem"));
    EXPECT_TRUE(
        Contains(Log(), "staff view listening on https://127.0.0.1:" + std::to_string(staffPort_)));
    ASSERT_EQ(server_.Stop(), 0);
    StartServer(); // the quick test arguments turn it off
    EXPECT_TRUE(Contains(Log(), "staff view off"));
}
