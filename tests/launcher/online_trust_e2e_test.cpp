// Drive Online end to end, the server's identity: a launcher with no sealing key installed
// learns the server's over the trusted connection and its drive data reaches the server
// sealed; a sealing key that changes while the certificate does not is refused, and so is a
// changed certificate, each told in the status line and a box that say what happened and
// what to do, and noted for plconfig.
#include "online_fixture.h"

namespace launcher_test {
namespace {

constexpr const char* kIdentityStatus =
    "The server's identity has changed.  Drive Online is stopped until it is checked.";

class OnlineTrust : public OnlineTest {
protected:
    std::string ServerKeyHex() {
        int code = -1;
        std::string key =
            ServerPrints({"--data-dir", serverData.path().string(), "--print-public-key"}, &code);
        EXPECT_EQ(code, 0) << key;
        return key;
    }
    std::string ServerName() const { return "127.0.0.1:" + std::to_string(serverPort); }

    // Drive Online is refused before any window, with the identity's status and box.
    void ExpectIdentityRefused() {
        EXPECT_EQ(DriveOnline("ann", "secret"), 0);
        EXPECT_EQ(Status(), kIdentityStatus);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        const std::string& text = boxes.boxes[0].text;
        EXPECT_NE(text.find("the server " + ServerName() + " did not prove"), std::string::npos)
            << text;
        EXPECT_NE(text.find("plconfig --accept-server"), std::string::npos) << text;
        EXPECT_NE(text.find("posing as the server"), std::string::npos) << text;
        EXPECT_EQ(text.find("Are you connected to the Internet?"), std::string::npos) << text;
        EXPECT_NE(ReadBytes(home / "keys" / "refused_servers").find(ServerName() + " "),
                  std::string::npos);
    }
};

TEST_F(OnlineTrust, NoInstalledKey_LearntFromTheServerAndTheDriveDataArrivesSealed) {
    fs::remove(home / "keys" / "server.pub");
    fs::remove(home / "keys" / "server.pem");
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    int opened = DriveOnline("ann", "secret", [&](platform::HWND setup) {
        Drive(setup);
        PressLogout(setup);
    });

    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(ReadBytes(home / "keys" / "server.pub"), ServerKeyHex());
    const auto onServer = ServerFiles("ann");
    ASSERT_EQ(onServer.size(), 1u);
    EXPECT_NE(onServer.begin()->first.find(".sealed"), std::string::npos)
        << onServer.begin()->first;
    EXPECT_TRUE(HomeFiles("users/ann").empty());
    EXPECT_NE(ReadBytes(home / "n_runlog.txt").find("learnt the sealing key of server"),
              std::string::npos);
}

TEST_F(OnlineTrust, SealingKeyChangedWithTheSameCertificate_RefusedAndLogged) {
    WriteBytes(home / "keys" / "server.pub", std::string(64, 'a') + "\n");
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    ASSERT_NO_FATAL_FAILURE(ExpectIdentityRefused());
    EXPECT_EQ(ReadBytes(home / "keys" / "server.pub"), std::string(64, 'a') + "\n");
    EXPECT_NE(ReadBytes(home / "n_runlog.txt").find("sealing key not trusted"), std::string::npos);
    EXPECT_NE(RunScript("return $net::state"), "connected");
}

TEST_F(OnlineTrust, ChangedCertificate_ToldInWordsAndNotedForPlconfig) {
    fs::remove(home / "keys" / "server.pem");
    WriteBytes(home / "keys" / "known_servers", ServerName() + " " + std::string(95, 'A') + "\n");
    ASSERT_NO_FATAL_FAILURE(MakeUser("ann", "secret"));
    ASSERT_NO_FATAL_FAILURE(OpenLauncher());

    ASSERT_NO_FATAL_FAILURE(ExpectIdentityRefused());
    EXPECT_NE(ReadBytes(home / "n_runlog.txt").find("certificate not trusted"), std::string::npos);
}

} // namespace
} // namespace launcher_test
