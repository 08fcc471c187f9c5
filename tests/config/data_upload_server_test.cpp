// The launcher's upload after a drive (sendDataFiles) against a real pelora-server and the real
// network object: at most 25 files at a time, the 26th on the next upload, each in sent/ once
// the server holds it.
#include "network_server_fixture.h"

#include "config/world_run.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The server-file helpers live in the fixture, shared with the other upload tests.
using DataUploadServer = NetworkServerFixture;

TEST_F(DataUploadServer, UploadOfAtMost25Files_SendsThe26thOnTheNextDrive) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    for (int i = 1; i <= 26; ++i)
        home.WriteFile("users/ann/data-" + std::to_string(100 + i) + ".txt",
                       "drive " + std::to_string(i) + "\n");
    // The launcher's own upload, as after two drives.
    ResetLauncherState();
    g_state.kernelServer = kernel.get();
    g_state.scriptServer = script;
    std::snprintf(g_state.userName, sizeof g_state.userName, "%s", "ann");
    ASSERT_EQ(chdir(home.path().c_str()), 0);
    sendDataFiles();
    EXPECT_EQ(ServerFiles("ann").size(), 25u);
    EXPECT_EQ(LocalDataFiles("ann").size(), 1u);
    sendDataFiles();
    EXPECT_EQ(ServerFiles("ann").size(), 26u);
    EXPECT_TRUE(LocalDataFiles("ann").empty());
    EXPECT_EQ(ServerFile("ann", "data-126.txt"), "drive 26\n");
    EXPECT_EQ(home.ReadFile("users/ann/sent/data-126.txt"), "drive 26\n");
    // Nothing left: a third upload sends nothing and logs no error.
    sendDataFiles();
    EXPECT_FALSE(log.Contains("Error sending datafiles"));
    g_state.kernelServer = nullptr;
    g_state.scriptServer = nullptr;
    ResetLauncherState();
}

} // namespace
