// Which server certificates are trusted: the installed one and no other; else the first one
// seen per server, remembered, and a changed one refused with both fingerprints named.
#include "trust_store.h"

#include "fakes.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

QSslCertificate LoadCertificate(const char* name) {
    QFile file(QString(PELORA_TEST_DATA) + "/network/" + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return QSslCertificate(file.readAll(), QSsl::Pem);
}

// As `openssl x509 -fingerprint -sha256` prints them.
const char* const kFingerprintA = "4F:64:20:DF:8F:80:53:2C:5F:54:6C:08:64:0D:88:35:ED:46:73:3C:"
                                  "FE:7F:90:A4:1B:94:EA:7A:C7:EF:54:3C";
const char* const kFingerprintB = "60:8B:38:BB:37:A4:13:27:CC:AE:B7:66:FA:38:EF:DD:48:32:84:6C:"
                                  "B2:2B:96:B3:5B:2B:9B:B7:5C:E2:99:6B";

class TrustStoreTest : public ::testing::Test {
protected:
    fakes::TempHome home;
    trust::TrustStore store{(home / "keys").string()};
    QSslCertificate a = LoadCertificate("cert_a.pem");
    QSslCertificate b = LoadCertificate("cert_b.pem");
};

TEST_F(TrustStoreTest, Fingerprint_IsTheSha256OfTheCertificateAsOpensslPrintsIt) {
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(trust::Fingerprint(a), kFingerprintA);
    EXPECT_EQ(trust::Fingerprint(b), kFingerprintB);
}

TEST_F(TrustStoreTest, ServerKey_LowersTheHostAndBracketsIpv6) {
    EXPECT_EQ(trust::ServerKey("Sim.Example.ORG", 3152), "sim.example.org:3152");
    EXPECT_EQ(trust::ServerKey("::1", 40000), "[::1]:40000");
}

TEST_F(TrustStoreTest, NothingKnown_TrustsOnFirstUseAndRemembersPerServer) {
    trust::Decision first = store.Judge("sim:3152", a);
    EXPECT_TRUE(first.trusted);
    EXPECT_TRUE(first.firstUse);
    std::string error;
    ASSERT_TRUE(store.Remember("sim:3152", first.fingerprint, error)) << error;
    EXPECT_EQ(store.Known("sim:3152"), kFingerprintA);

    trust::Decision again = store.Judge("sim:3152", a);
    EXPECT_TRUE(again.trusted);
    EXPECT_FALSE(again.firstUse);
    // Another port is another server, first seen now.
    EXPECT_TRUE(store.Judge("sim:3153", b).firstUse);
}

TEST_F(TrustStoreTest, ChangedCertificate_IsRefusedNamingBothFingerprintsAndTheRemedy) {
    std::string error;
    ASSERT_TRUE(store.Remember("sim:3152", kFingerprintA, error));
    trust::Decision changed = store.Judge("sim:3152", b);
    EXPECT_FALSE(changed.trusted);
    EXPECT_NE(changed.reason.find(kFingerprintA), std::string::npos) << changed.reason;
    EXPECT_NE(changed.reason.find(kFingerprintB), std::string::npos) << changed.reason;
    EXPECT_NE(changed.reason.find(store.KnownServersPath()), std::string::npos);
    EXPECT_NE(changed.reason.find("remove the line"), std::string::npos);
    // Refusing does not overwrite what is known.
    EXPECT_EQ(store.Known("sim:3152"), kFingerprintA);
}

TEST_F(TrustStoreTest, Remember_KeepsOtherServersAndCommentsAndReplacesTheSameServer) {
    home.WriteFile("keys/known_servers", "# my note\nother:1 AA:BB\nsim:3152 CC:DD\n");
    std::string error;
    ASSERT_TRUE(store.Remember("sim:3152", kFingerprintB, error)) << error;
    std::string text = home.ReadFile("keys/known_servers");
    EXPECT_NE(text.find("# my note\n"), std::string::npos);
    EXPECT_NE(text.find("other:1 AA:BB\n"), std::string::npos);
    EXPECT_EQ(text.find("CC:DD"), std::string::npos);
    EXPECT_EQ(store.Known("sim:3152"), kFingerprintB);
}

TEST_F(TrustStoreTest, InstalledCertificate_IsTheOnlyOneTrustedAndNothingIsRemembered) {
    QFile pem(QString(PELORA_TEST_DATA) + "/network/cert_a.pem");
    ASSERT_TRUE(pem.open(QIODevice::ReadOnly));
    home.WriteFile("keys/server.pem", pem.readAll().toStdString());

    trust::Decision pinned = store.Judge("sim:3152", a);
    EXPECT_TRUE(pinned.trusted);
    EXPECT_FALSE(pinned.firstUse);

    trust::Decision other = store.Judge("sim:3152", b);
    EXPECT_FALSE(other.trusted);
    EXPECT_FALSE(other.firstUse);
    EXPECT_NE(other.reason.find(kFingerprintB), std::string::npos) << other.reason;
    EXPECT_NE(other.reason.find(kFingerprintA), std::string::npos) << other.reason;
    EXPECT_NE(other.reason.find("--print-certificate"), std::string::npos);
}

TEST_F(TrustStoreTest, UnreadableInstalledCertificate_TrustsNothingRatherThanFallingBack) {
    home.WriteFile("keys/server.pem", "not a certificate\n");
    trust::Decision decision = store.Judge("sim:3152", a);
    EXPECT_FALSE(decision.trusted);
    EXPECT_FALSE(decision.firstUse);
    EXPECT_NE(decision.reason.find("server.pem"), std::string::npos);
}

} // namespace
