// The staff view in a real browser: the server holds a trainee's uploaded drives, and headless
// Chromium (staff_browser.py, through chromedriver and Selenium) logs in, follows a drive,
// replays it, downloads the CSV and logs out. Skipped, with the reason, where no browser runs.
#include "staff_fixture.h"

using namespace pelora_test;

TEST_F(StaffTest, ARealBrowserLogsInFollowsADriveDownloadsTheCsvAndLogsOut) {
    StartStaff();
    auto alice = LoggedIn("alice");
    DriveFile first, second;
    second.start = "2026-12-02T09:00:00Z";
    second.seconds = 30;
    Upload(*alice, "data-1.txt", first.Text());
    Upload(*alice, "data-2.txt.sealed", Sealed(second.Text()));
    // The newest drive is listed first: its path is the one the browser finds.
    std::size_t samples = second.Record().samples.size();

    if (std::string(PELORA_PYTHON).empty())
        GTEST_SKIP() << "no python3 to run Selenium with";
    std::string output;
    int code =
        RunWithInput({PELORA_PYTHON, PELORA_SOURCE_DIR "/tests/server/staff/staff_browser.py",
                      "https://localhost:" + std::to_string(staffPort_), "nurse", kStaffPassword,
                      "alice", std::to_string(samples), "2"},
                     "", output);
    if (code == 77)
        GTEST_SKIP() << output;
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("OK: logged in"), std::string::npos) << output;
}
