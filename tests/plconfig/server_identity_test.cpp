// The server's identity for the site's IT: the remembered certificate and the one a launcher
// was refused, shown and accepted from the command line, and the files the acceptance
// rewrites (the remembered fingerprint, the refusal, the sealing key learnt anew).
#include "command_line.h"
#include "fakes.h"
#include "server_identity.h"

#include "settings/global_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace plconfig;

const std::string kOld = "AA:AA:AA";
const std::string kNew = "BB:BB:BB";

class ServerIdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        GlobalSettings settings((home / "globalSettings").string());
        settings.setServerName("Pelora.Example");
        settings.setServerPort("4000");
        home.WriteFile("keys/known_servers",
                       "# kept\nother:1 CC:CC\npelora.example:4000 " + kOld + "\n");
        home.WriteFile("keys/refused_servers", "pelora.example:4000 " + kNew + "\n");
        home.WriteFile("keys/server.pub", std::string(64, 'a') + "\n");
    }
    std::string Keys() const { return (home / "keys").string(); }

    int Run(Action action, std::string& out, std::string& err) {
        std::ostringstream o, e;
        CommandStreams streams{STDIN_FILENO, STDERR_FILENO, o, e};
        int code = RunCommand(Options{action, "", ""}, home.path().string(), streams);
        out = o.str();
        err = e.str();
        return code;
    }

    fakes::TempHome home;
};

TEST_F(ServerIdentityTest, ShowsTheRememberedAndTheRefusedCertificate) {
    ServerIdentity identity = ReadServerIdentity(Keys(), ServerKeyOf("Pelora.Example", "4000"));
    EXPECT_EQ(identity.server, "pelora.example:4000");
    EXPECT_EQ(identity.remembered, kOld);
    EXPECT_EQ(identity.presented, kNew);
    EXPECT_FALSE(identity.pinned);

    std::string out, err;
    EXPECT_EQ(Run(Action::ShowServer, out, err), plconfig::kExitOk) << err;
    EXPECT_NE(out.find(kOld), std::string::npos) << out;
    EXPECT_NE(out.find("another certificate (SHA-256): " + kNew), std::string::npos) << out;
}

TEST_F(ServerIdentityTest, AcceptServer_TrustsTheNewCertificateAndLearnsTheKeyAnew) {
    std::string out, err;
    EXPECT_EQ(Run(Action::AcceptServer, out, err), plconfig::kExitOk) << err;

    EXPECT_NE(out.find("is accepted"), std::string::npos) << out;
    const std::string known = home.ReadFile("keys/known_servers");
    EXPECT_NE(known.find("pelora.example:4000 " + kNew + "\n"), std::string::npos) << known;
    EXPECT_EQ(known.find(kOld), std::string::npos) << known;
    EXPECT_NE(known.find("# kept\nother:1 CC:CC\n"), std::string::npos) << known;
    EXPECT_EQ(home.ReadFile("keys/refused_servers").find("pelora.example"), std::string::npos);
    EXPECT_FALSE(fs::exists(home / "keys" / "server.pub"));

    // Nothing is left to accept.
    EXPECT_EQ(Run(Action::AcceptServer, out, err), kExitUsage);
    EXPECT_NE(err.find("no new certificate to accept"), std::string::npos) << err;
}

TEST_F(ServerIdentityTest, PinnedCertificate_IsNotOverriddenAndSaysWhatToInstall) {
    home.WriteFile("keys/server.pem", "pinned");
    Result result = AcceptPresentedCertificate(Keys(), "pelora.example:4000");
    EXPECT_EQ(result.outcome, Outcome::ValueRefused);
    EXPECT_NE(result.message.find("pelora-server --print-certificate"), std::string::npos);
    EXPECT_NE(home.ReadFile("keys/known_servers").find(kOld), std::string::npos);
    EXPECT_TRUE(fs::exists(home / "keys" / "server.pub"));
}

TEST(ServerIdentityOptions, ShowAndAcceptAreOptionsOfTheirOwn) {
    EXPECT_EQ(ParseArguments({"--show-server"}).action, Action::ShowServer);
    EXPECT_EQ(ParseArguments({"--accept-server"}).action, Action::AcceptServer);
    EXPECT_EQ(ParseArguments({"--accept-server=x"}).action, Action::Invalid);
    EXPECT_NE(HelpText().find("--accept-server"), std::string::npos);
}

} // namespace
