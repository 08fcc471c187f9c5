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

class DataUploadServer : public NetworkServerFixture {
protected:
    std::string ServerFile(const std::string& user, const std::string& name) const {
        std::ifstream in(fs::path(ServerData()) / "users" / user / name, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // The names of the files the server keeps for the user (its own hidden ones left out).
    std::vector<std::string> ServerFiles(const std::string& user) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry :
             fs::directory_iterator(fs::path(ServerData()) / "users" / user, ec))
            if (entry.path().filename().string()[0] != '.')
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> LocalDataFiles(const std::string& user) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(home / ("users/" + user)))
            if (entry.is_regular_file() && entry.path().filename().string().rfind("data", 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }
};

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
