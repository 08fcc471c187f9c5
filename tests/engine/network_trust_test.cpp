// The server's certificate against a real pelora-server: the installed certificate pinned
// (and another server's refused), the first one seen remembered, and a changed one refused
// with a log line naming both fingerprints and what to do.
#include "network_server_fixture.h"

#include "trust_store.h"

#include <QSslCertificate>

namespace {

std::string FingerprintOfPem(const std::string& pem) {
    auto certificates = QSslCertificate::fromData(QByteArray::fromStdString(pem), QSsl::Pem);
    return certificates.isEmpty() ? std::string() : trust::Fingerprint(certificates.front());
}

class NetworkTrust : public NetworkServerFixture {
protected:
    std::string ServerPem() const {
        return ServerPrints("--print-certificate --config /dev/null --data-dir '" + ServerData() +
                            "'");
    }
    std::string Key() const { return "127.0.0.1:" + std::to_string(server.Port()); }
};

TEST_F(NetworkTrust, FirstSeenCertificate_IsTrustedAndRemembered) {
    std::string fingerprint = FingerprintOfPem(ServerPem());
    ASSERT_FALSE(fingerprint.empty());
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_NE(home.ReadFile("keys/known_servers").find(Key() + " " + fingerprint + "\n"),
              std::string::npos);
    EXPECT_EQ(LogLines("first connection to server " + Key()).size(), 1u);

    // Seen again: trusted without a word.
    Run("/sys/network.disconnect");
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_EQ(LogLines("first connection").size(), 1u);
}

TEST_F(NetworkTrust, ChangedCertificate_IsRefusedNamingBothFingerprintsAndTheRemedy) {
    const std::string old = "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:"
                            "AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99";
    home.WriteFile("keys/known_servers", Key() + " " + old + "\n");
    std::string result = Run("net::connect");
    // 2: not connected because the server is not the one known (the launcher says so).
    EXPECT_EQ(result.substr(0, 1), "2") << result;
    EXPECT_EQ(State(), "not connected");
    auto lines = LogLines("could not connect to server " + Key() + ": certificate not trusted");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(old), std::string::npos);
    EXPECT_NE(lines[0].find(FingerprintOfPem(ServerPem())), std::string::npos);
    EXPECT_NE(lines[0].find("remove the line"), std::string::npos);
    // What is known stays as it was.
    EXPECT_EQ(home.ReadFile("keys/known_servers"), Key() + " " + old + "\n");
}

TEST_F(NetworkTrust, InstalledCertificate_IsTrustedAndNothingIsRemembered) {
    home.WriteFile("keys/server.pem", ServerPem());
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_FALSE(std::filesystem::exists(home / "keys/known_servers"));
}

TEST_F(NetworkTrust, InstalledCertificateOfAnotherServer_RefusesTheConnection) {
    // Another server's data folder makes another certificate.
    std::string otherPem = ServerPrints("--print-certificate --config /dev/null --data-dir '" +
                                        (home / "other-server").string() + "'");
    ASSERT_NE(FingerprintOfPem(otherPem), "");
    ASSERT_NE(FingerprintOfPem(otherPem), FingerprintOfPem(ServerPem()));
    home.WriteFile("keys/server.pem", otherPem);
    EXPECT_EQ(Run("net::connect").substr(0, 1), "2");
    EXPECT_EQ(State(), "not connected");
    auto lines = LogLines("could not connect to server " + Key() + ": certificate not trusted");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(FingerprintOfPem(ServerPem())), std::string::npos);
    EXPECT_NE(lines[0].find(FingerprintOfPem(otherPem)), std::string::npos);
    // The first-seen rule does not step in when a certificate is installed.
    EXPECT_FALSE(std::filesystem::exists(home / "keys/known_servers"));
}

} // namespace
