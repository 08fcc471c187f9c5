// The server's identity on disk: the self-signed certificate a launcher pins and the sealing
// keys its drive data is sealed to, with the opening of sealed files for staff.
#include "server/seal_keys.h"
#include "server/tls_identity.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sodium.h>
#include <sstream>
#include <sys/stat.h>

using namespace server;
using pelora_test::ReadAll;
using pelora_test::TempFolder;
namespace fs = std::filesystem;

namespace {

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

unsigned Mode(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

// Verifies the certificate against itself as the only trusted one, as a pinning client does,
// and checks that it names `host`.
bool VerifiesFor(const std::string& pemPath, const std::string& host, bool isAddress) {
    std::string pem = ReadAll(pemPath);
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!cert)
        return false;
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, cert);
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    X509_STORE_CTX_init(context, store, cert, nullptr);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
    if (isAddress)
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    else
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    bool ok = X509_verify_cert(context) == 1;
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    X509_free(cert);
    return ok;
}

} // namespace

TEST(Certificate, MadeOnceVerifiesForLocalhostTheLoopbackAndTheHost) {
    TempFolder folder;
    std::string cert = folder / "server.pem", key = folder / "server.key", error;
    bool created = false;
    ASSERT_TRUE(EnsureCertificate(cert, key, created, error)) << error;
    EXPECT_TRUE(created);
    EXPECT_TRUE(VerifiesFor(cert, "localhost", false));
    EXPECT_TRUE(VerifiesFor(cert, "127.0.0.1", true));
    EXPECT_TRUE(VerifiesFor(cert, "::1", true));
    EXPECT_TRUE(VerifiesFor(cert, HostName(), false));
    EXPECT_FALSE(VerifiesFor(cert, "example.com", false));
    EXPECT_EQ(Mode(key), 0600u);
    std::string summary;
    ASSERT_TRUE(CheckCertificatePair(cert, key, summary, error)) << error;
    EXPECT_NE(summary.find("Pelora server"), std::string::npos) << summary;

    // A second start keeps the pair.
    std::string before = ReadAll(cert);
    ASSERT_TRUE(EnsureCertificate(cert, key, created, error)) << error;
    EXPECT_FALSE(created);
    EXPECT_EQ(ReadAll(cert), before);
}

TEST(Certificate, ALoneOrMismatchedFileIsAnErrorNotReplaced) {
    TempFolder folder;
    std::string cert = folder / "server.pem", key = folder / "server.key", error;
    bool created = false;
    ASSERT_TRUE(EnsureCertificate(cert, key, created, error)) << error;
    fs::remove(key);
    EXPECT_FALSE(EnsureCertificate(cert, key, created, error));
    EXPECT_NE(error.find("server.key"), std::string::npos) << error;

    std::string otherCert = folder / "other.pem", otherKey = folder / "other.key";
    ASSERT_TRUE(MakeSelfSignedCertificate(otherCert, otherKey, {"x"}, error)) << error;
    std::string summary;
    EXPECT_FALSE(CheckCertificatePair(cert, otherKey, summary, error));
    WriteAll(folder / "junk.pem", "not a certificate");
    EXPECT_FALSE(CheckCertificatePair(folder / "junk.pem", otherKey, summary, error));
}

TEST(SealKeys, MadeOnFirstUseThenTheSameAndInTheLaunchersForm) {
    TempFolder folder;
    SealKeys first, second;
    bool created = false;
    std::string error;
    ASSERT_TRUE(LoadOrMakeSealKeys(folder / "keys", first, created, error)) << error;
    EXPECT_TRUE(created);
    ASSERT_TRUE(LoadOrMakeSealKeys(folder / "keys", second, created, error)) << error;
    EXPECT_FALSE(created);
    EXPECT_EQ(first.publicKey, second.publicKey);
    EXPECT_EQ(first.secretKey, second.secretKey);
    std::string pub = ReadAll(folder / "keys/seal.pub");
    EXPECT_EQ(pub, PublicKeyHex(first) + "\n");
    EXPECT_EQ(pub.size(), 65u);
    EXPECT_EQ(pub.find_first_not_of("0123456789abcdef\n"), std::string::npos);
    EXPECT_EQ(Mode(folder / "keys/seal.key"), 0600u);
}

TEST(SealKeys, AMissingSecretOrAForeignPublicKeyIsAnError) {
    TempFolder folder;
    SealKeys keys;
    bool created = false;
    std::string error;
    ASSERT_TRUE(LoadOrMakeSealKeys(folder / "keys", keys, created, error)) << error;
    std::string secret = ReadAll(folder / "keys/seal.key");
    WriteAll(folder / "keys/seal.pub", std::string(64, 'a') + "\n");
    EXPECT_FALSE(LoadOrMakeSealKeys(folder / "keys", keys, created, error));
    fs::remove(folder / "keys/seal.key");
    EXPECT_FALSE(LoadOrMakeSealKeys(folder / "keys", keys, created, error));
    EXPECT_NE(error.find("seal.key"), std::string::npos) << error;
    // A lost public key is made again from the secret.
    WriteAll(folder / "keys/seal.key", secret);
    fs::remove(folder / "keys/seal.pub");
    ASSERT_TRUE(LoadOrMakeSealKeys(folder / "keys", keys, created, error)) << error;
    EXPECT_EQ(ReadAll(folder / "keys/seal.pub"), PublicKeyHex(keys) + "\n");
}

TEST(OpenData, SealedFilesAreOpenedPlainOnesCopiedForeignOnesReported) {
    TempFolder folder;
    SealKeys keys;
    bool created = false;
    std::string error;
    ASSERT_TRUE(LoadOrMakeSealKeys(folder / "keys", keys, created, error)) << error;
    fs::create_directories(folder / "users/alice");
    fs::create_directories(folder / "users/bob");
    std::string plain = "time 12:00:03 speed 1.5\n";
    std::string sealed(plain.size() + crypto_box_SEALBYTES, '\0');
    crypto_box_seal(reinterpret_cast<unsigned char*>(sealed.data()),
                    reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                    keys.publicKey.data());
    WriteAll(folder / "users/alice/data-20240131-101500.txt.sealed", sealed);
    WriteAll(folder / "users/alice/data-old.txt", "unsealed drive data");
    WriteAll(folder / "users/alice/.incoming-abc", "half");
    unsigned char otherPublic[32], otherSecret[32];
    crypto_box_keypair(otherPublic, otherSecret);
    std::string foreign(plain.size() + crypto_box_SEALBYTES, '\0');
    crypto_box_seal(reinterpret_cast<unsigned char*>(foreign.data()),
                    reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                    otherPublic);
    WriteAll(folder / "users/bob/data-x.txt.sealed", foreign);

    OpenDataReport report = OpenDataFiles(folder / "users", keys, folder / "open");
    EXPECT_EQ(report.opened, 1u);
    EXPECT_EQ(report.copied, 1u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("bob/data-x.txt.sealed"), std::string::npos);
    EXPECT_EQ(ReadAll(folder / "open/alice/data-20240131-101500.txt"), plain);
    EXPECT_EQ(ReadAll(folder / "open/alice/data-old.txt"), "unsealed drive data");
    EXPECT_FALSE(fs::exists(folder / "open/alice/.incoming-abc"));
    EXPECT_FALSE(fs::exists(folder / "open/bob/data-x.txt"));
    // The received files stay as they were.
    EXPECT_EQ(ReadAll(folder / "users/alice/data-20240131-101500.txt.sealed"), sealed);
}
