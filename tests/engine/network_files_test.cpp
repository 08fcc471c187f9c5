// Data files to a real pelora-server: a file counts as sent only once the server confirmed it,
// and then moves into sent/; a connection lost mid-file leaves the file where it was; and the
// data server's SendData gets an online drive's sealed file to the server, which keeps it
// once. The launcher's own upload is tested in tests/config/data_upload_server_test.cpp.
#include "network_server_fixture.h"

#include "data_server.h"
#include "drive.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The server-file helpers live in the fixture, shared with the other upload tests.
using NetworkFiles = NetworkServerFixture;

TEST_F(NetworkFiles, SendFile_CountsOnlyOnceTheServerConfirmedAndMovesTheFileToSent) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    home.WriteFile("users/ann/data-1.txt", "drive one\n");
    EXPECT_EQ(Run("net::sendfile data-1.txt ann"), "0 stored as data-1.txt");
    EXPECT_EQ(ServerFile("ann", "data-1.txt"), "drive one\n");
    EXPECT_FALSE(fs::exists(home / "users/ann/data-1.txt"));
    EXPECT_EQ(home.ReadFile("users/ann/sent/data-1.txt"), "drive one\n");

    // The very same file offered again (restored by hand, say) costs one question.
    home.WriteFile("users/ann/data-1.txt", "drive one\n");
    EXPECT_EQ(Run("net::sendfile data-1.txt ann"), "0 already stored");
    EXPECT_EQ(ServerFiles("ann"), (std::vector<std::string>{"data-1.txt"}));
    EXPECT_EQ(home.ReadFile("users/ann/sent/data-1.txt.2"), "drive one\n");

    // What the server refuses stays where it is.
    home.WriteFile("users/ann/data-big", std::string(300, 'x'));
    server.Stop();
    ASSERT_NO_FATAL_FAILURE(StartServer({"--max-file-size", "200"}));
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    std::string refused = Run("net::sendfile data-big ann");
    EXPECT_EQ(refused.substr(0, 1), "1") << refused;
    EXPECT_TRUE(fs::exists(home / "users/ann/data-big"));
}

TEST_F(NetworkFiles, ConnectionLostMidFile_LeavesTheFileWhereItWas) {
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    std::string bytes(15 * 1024 * 1024, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 4096);
    home.WriteFile("users/ann/data-big.txt", bytes);
    // The server dies as soon as the first data of the file is on its way.
    Run("proc killServer {args} {\n"
        "  if {$::net::file_progress > 0} {\n"
        "    trace remove variable ::net::file_progress write killServer\n"
        "    exec kill -KILL " +
        std::to_string(server.Pid()) +
        "\n"
        "  }\n"
        "}\n"
        "trace add variable ::net::file_progress write killServer");
    std::string result = Run("net::sendfile data-big.txt ann");
    EXPECT_NE(result.substr(0, 1), "0") << result;
    EXPECT_EQ(home.ReadFile("users/ann/data-big.txt"), bytes);
    EXPECT_FALSE(fs::exists(home / "users/ann/sent"));
    EXPECT_TRUE(ServerFiles("ann").empty());
    EXPECT_EQ(State(), "lost");
}

TEST_F(NetworkFiles, SendDataAfterAnOnlineDrive_TheSealedFileReachesTheServerOnce) {
    ASSERT_EQ(sodium_init() >= 0, true);
    home.WriteFile("keys/server.pub", ServerPrints("--print-public-key --config /dev/null "
                                                   "--data-dir '" +
                                                   ServerData() + "'"));
    home.WriteFile("worlds/Yard/meshes/layout.txt", "name The Yard\nsize 20 10\nstart 2 5 0\n");
    ASSERT_NO_FATAL_FAILURE(LogIn("ann"));
    SetDriveDisplayForTesting(0);

    auto* data = Get<plDataServer>("/sys/servers/data");
    if (!data)
        data = dynamic_cast<plDataServer*>(kernel->New("pldata", "/sys/servers/data"));
    ASSERT_NE(data, nullptr);
    data->SetUserName("ann");
    data->RefreshUser();
    data->SetDriveWorld("Yard");
    data->BeginDrive();
    kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes").c_str());
    Run("new nworld /usr/share/scene/world; /usr/share/scene/world.load meshes:layout.txt");
    Run("new nobserver /observer; /observer.setautodrive 2; /observer.start");
    data->EndDrive();
    data->SaveDriveData();
    data->EncryptData();
    data->SetOnline(true);
    data->SendData();
    SetDriveDisplayForTesting(-1);

    std::string sealed = fs::path(data->LastDataFile()).filename().string() + ".sealed";
    EXPECT_EQ(ServerFiles("ann"), (std::vector<std::string>{sealed}));
    EXPECT_TRUE(fs::exists(home / ("users/ann/sent/" + sealed)));
    EXPECT_TRUE(LocalDataFiles("ann").empty());
    // The upload after the leave finds nothing more to send.
    EXPECT_EQ(Run("net::sendfile " + sealed + " ann").substr(0, 1), "1");
    EXPECT_EQ(ServerFiles("ann").size(), 1u);
}

} // namespace
