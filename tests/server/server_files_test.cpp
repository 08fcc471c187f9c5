// Against the real server: data files sent the way the launcher sends them, stored once,
// refused with a reason, never kept in part, kept across a restart, and opened for staff with
// the server's key after being sealed as the launcher seals them.
#include "server/tls_identity.h"
#include "server_fixture.h"

#include <filesystem>
#include <fstream>
#include <sodium.h>
#include <sstream>
#include <thread>

using namespace pelora_test;
using wire::FrameType;
namespace fs = std::filesystem;

namespace {

pb::FileReply Offer(WireClient& client, const std::string& name, const std::string& bytes,
                    const std::string& hash = "") {
    pb::FileOffer offer;
    offer.set_name(name);
    offer.set_size(bytes.size());
    offer.set_sha256(hash.empty() ? Sha256(bytes) : hash);
    pb::FileReply reply;
    EXPECT_TRUE(client.Send(FrameType::FileOffer, offer));
    EXPECT_TRUE(client.Expect(FrameType::FileReply, reply));
    return reply;
}

bool SendChunks(WireClient& client, const std::string& bytes, std::size_t from = 0,
                std::size_t to = std::string::npos, std::size_t chunk = wire::kMaxChunkBytes) {
    to = std::min(to, bytes.size());
    for (std::size_t at = from; at < to; at += chunk) {
        pb::FileChunk message;
        message.set_offset(at);
        message.set_data(bytes.substr(at, std::min(chunk, to - at)));
        if (!client.Send(FrameType::FileChunk, message))
            return false;
    }
    return true;
}

// The whole exchange of one file; gives the last reply.
pb::FileReply SendFile(WireClient& client, const std::string& name, const std::string& bytes,
                       const std::string& hash = "") {
    pb::FileReply reply = Offer(client, name, bytes, hash);
    if (reply.result() != pb::FileReply::SEND)
        return reply;
    EXPECT_TRUE(SendChunks(client, bytes));
    EXPECT_TRUE(client.Expect(FrameType::FileReply, reply));
    return reply;
}

} // namespace

TEST_F(ServerTest, AFileIsStoredVerifiedAndASecondSendingIsAcknowledgedOnly) {
    StartServer();
    auto alice = LoggedIn("alice");
    std::string bytes = Bytes(200000, 'a'); // several chunks
    pb::FileReply first = SendFile(*alice, "data-20240131-101500.txt.sealed", bytes);
    ASSERT_EQ(first.result(), pb::FileReply::STORED) << first.message();
    EXPECT_EQ(first.stored_as(), "data-20240131-101500.txt.sealed");
    std::string folder = DataDir() + "/users/alice";
    EXPECT_EQ(ReadAll(folder + "/data-20240131-101500.txt.sealed"), bytes);

    pb::FileReply again = Offer(*alice, "data-20240131-101500.txt.sealed", bytes);
    EXPECT_EQ(again.result(), pb::FileReply::ALREADY_STORED);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"data-20240131-101500.txt.sealed"});

    // Other bytes under that name are kept beside it; an empty file is stored at once.
    pb::FileReply other = SendFile(*alice, "data-20240131-101500.txt.sealed", Bytes(10, 'z'));
    ASSERT_EQ(other.result(), pb::FileReply::STORED);
    EXPECT_NE(other.stored_as(), "data-20240131-101500.txt.sealed");
    EXPECT_EQ(Offer(*alice, "data-empty", "").result(), pb::FileReply::STORED);
    EXPECT_EQ(Names(folder).size(), 3u);
    EXPECT_NE(Log().find("file \"data-20240131-101500.txt.sealed\" (200000 bytes) from \"alice\""),
              std::string::npos);
}

TEST_F(ServerTest, BadNamesAndOversizedFilesAreRefusedWithAReason) {
    StartServer({"--max-file-size", "1000", "--max-user-bytes", "1500"});
    auto alice = LoggedIn("alice");
    for (const char* name : {"../data1", "data/x", ".data", "notes.txt", "userSettings"}) {
        pb::FileReply reply = Offer(*alice, name, "abc");
        EXPECT_EQ(reply.result(), pb::FileReply::REFUSED) << name;
        EXPECT_FALSE(reply.message().empty()) << name;
    }
    pb::FileReply big = Offer(*alice, "data-big", Bytes(1001, 'b'));
    EXPECT_EQ(big.result(), pb::FileReply::REFUSED);
    EXPECT_NE(big.message().find("larger"), std::string::npos) << big.message();
    ASSERT_EQ(SendFile(*alice, "data-1", Bytes(1000, 'c')).result(), pb::FileReply::STORED);
    pb::FileReply full = Offer(*alice, "data-2", Bytes(600, 'd'));
    EXPECT_EQ(full.result(), pb::FileReply::REFUSED);
    EXPECT_NE(full.message().find("space"), std::string::npos) << full.message();
    EXPECT_EQ(Names(DataDir() + "/users/alice"), std::vector<std::string>{"data-1"});
    EXPECT_FALSE(fs::exists(DataDir() + "/users/data1"));

    // The guest keeps nothing; a file before a login is out of order.
    auto guest = Greeted();
    ASSERT_EQ(guest->Login("guest", "tulip").result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(Offer(*guest, "data-g", "x").result(), pb::FileReply::REFUSED);
    auto stranger = Greeted();
    pb::FileOffer offer;
    offer.set_name("data-s");
    offer.set_sha256(Sha256(""));
    ASSERT_TRUE(stranger->Send(FrameType::FileOffer, offer));
    pb::ErrorReply error;
    ASSERT_TRUE(stranger->Expect(FrameType::ErrorReply, error));
    EXPECT_EQ(error.code(), pb::ErrorReply::NOT_LOGGED_IN);
}

TEST_F(ServerTest, ADamagedCancelledOrOutOfOrderTransferKeepsNothing) {
    StartServer();
    auto alice = LoggedIn("alice");
    std::string bytes = Bytes(150000, 'e');
    pb::FileReply damaged = SendFile(*alice, "data-d", bytes, Sha256("other"));
    EXPECT_EQ(damaged.result(), pb::FileReply::REFUSED);
    EXPECT_NE(damaged.message().find("damaged"), std::string::npos) << damaged.message();

    ASSERT_EQ(Offer(*alice, "data-c", bytes).result(), pb::FileReply::SEND);
    ASSERT_TRUE(SendChunks(*alice, bytes, 0, 70000));
    ASSERT_TRUE(alice->Send(FrameType::FileCancel, pb::FileCancel()));
    pb::FileReply cancelled;
    ASSERT_TRUE(alice->Expect(FrameType::FileReply, cancelled));
    EXPECT_EQ(cancelled.result(), pb::FileReply::CANCELLED);

    // A chunk that skips ahead ends the transfer; the rest of it is dropped without a word.
    ASSERT_EQ(Offer(*alice, "data-o", bytes).result(), pb::FileReply::SEND);
    ASSERT_TRUE(SendChunks(*alice, bytes, 65536, std::string::npos));
    pb::FileReply skipped;
    ASSERT_TRUE(alice->Expect(FrameType::FileReply, skipped));
    EXPECT_EQ(skipped.result(), pb::FileReply::REFUSED);
    pb::Ping ping;
    ping.set_token(9);
    ASSERT_TRUE(alice->Send(FrameType::Ping, ping));
    pb::Pong pong;
    ASSERT_TRUE(alice->Expect(FrameType::Pong, pong));
    EXPECT_TRUE(alice->PassedOver().empty()) << "no error for the dropped chunks";
    EXPECT_TRUE(Names(DataDir() + "/users/alice").empty());
}

TEST_F(ServerTest, AClientVanishingMidFileLeavesNothingBehind) {
    StartServer();
    auto alice = LoggedIn("alice");
    std::string bytes = Bytes(300000, 'f');
    ASSERT_EQ(Offer(*alice, "data-v", bytes).result(), pb::FileReply::SEND);
    ASSERT_TRUE(SendChunks(*alice, bytes, 0, 150000));
    // Wait for the part to reach the disk, then pull the plug.
    std::string folder = DataDir() + "/users/alice";
    for (int i = 0; i < 500 && Names(folder).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Names(folder).size(), 1u);
    alice->Abort();
    for (int i = 0; i < 500 && !Names(folder).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Names(folder).empty());
    // The same file sent again in full is stored.
    auto again = LoggedIn("alice");
    EXPECT_EQ(SendFile(*again, "data-v", bytes).result(), pb::FileReply::STORED);
}

TEST_F(ServerTest, ARestartKeepsTheFilesAndForgetsUnfinishedOnes) {
    StartServer();
    std::string bytes = Bytes(5000, 'g');
    {
        auto alice = LoggedIn("alice");
        ASSERT_EQ(SendFile(*alice, "data-kept", bytes).result(), pb::FileReply::STORED);
        ASSERT_EQ(Offer(*alice, "data-half", bytes).result(), pb::FileReply::SEND);
        ASSERT_TRUE(SendChunks(*alice, bytes, 0, 1000));
        pb::Ping ping; // the chunk is on disk once its Pong is back
        ASSERT_TRUE(alice->Send(FrameType::Ping, ping));
        pb::Pong pong;
        ASSERT_TRUE(alice->Expect(FrameType::Pong, pong));
        // The server is killed mid-transfer, as in a power cut.
        ::kill(server_.Pid(), SIGKILL);
        server_.Stop();
    }
    ASSERT_EQ(Names(DataDir() + "/users/alice").size(), 2u); // the file and the part
    StartServer();
    EXPECT_EQ(Names(DataDir() + "/users/alice"), std::vector<std::string>{"data-kept"});
    auto alice = LoggedIn("alice");
    EXPECT_EQ(Offer(*alice, "data-kept", bytes).result(), pb::FileReply::ALREADY_STORED);
}

TEST_F(ServerTest, AFileStoredButNeverRecordedIsSettledAtStartAndCounts) {
    StartServer({"--max-user-files", "2"});
    {
        auto alice = LoggedIn("alice");
        ASSERT_EQ(SendFile(*alice, "data-1", Bytes(100, 'a')).result(), pb::FileReply::STORED);
    }
    ASSERT_EQ(server_.Stop(), 0);
    // What a crash between moving a file into place and recording it leaves.
    std::ofstream(DataDir() + "/users/alice/data-2", std::ios::binary) << Bytes(100, 'b');
    StartServer({"--max-user-files", "2"});
    EXPECT_NE(Log().find("file \"data-2\" of \"alice\" found stored without a record: recorded"),
              std::string::npos)
        << Log();
    // It counts against alice's files: a third is refused.
    auto alice = LoggedIn("alice");
    pb::FileReply third = Offer(*alice, "data-3", Bytes(100, 'c'));
    EXPECT_EQ(third.result(), pb::FileReply::REFUSED);
    EXPECT_NE(third.message().find("at most 2 files"), std::string::npos) << third.message();
}

TEST_F(ServerTest, SealedDataOpensWithTheServersKey) {
    StartServer();
    std::string output;
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--print-public-key"},
                         output),
              0);
    ASSERT_EQ(output.size(), 65u) << output;
    // Seal as the launcher does: crypto_box_seal to the 32 key bytes written as hex.
    unsigned char key[crypto_box_PUBLICKEYBYTES];
    ASSERT_EQ(sodium_hex2bin(key, sizeof key, output.data(), 64, nullptr, nullptr, nullptr), 0);
    std::string plain = "world Park\nlevel 3\ntime 00:12:31\n";
    std::string sealed(plain.size() + crypto_box_SEALBYTES, '\0');
    ASSERT_EQ(crypto_box_seal(reinterpret_cast<unsigned char*>(sealed.data()),
                              reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                              key),
              0);
    auto alice = LoggedIn("alice");
    ASSERT_EQ(SendFile(*alice, "data-20240131-101500.txt.sealed", sealed).result(),
              pb::FileReply::STORED);
    ASSERT_EQ(SendFile(*alice, "data-unsealed.txt", "plain drive data").result(),
              pb::FileReply::STORED);

    std::string target = folder_ / "for-staff";
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--open-data", target},
                         output),
              0)
        << output;
    EXPECT_NE(output.find("Opened 1 sealed files and copied 1 other files"), std::string::npos)
        << output;
    EXPECT_NE(output.find("1 files arrived unsealed:\n  alice/data-unsealed.txt\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(ReadAll(target + "/alice/data-20240131-101500.txt"), plain);
    EXPECT_EQ(ReadAll(target + "/alice/data-unsealed.txt"), "plain drive data");

    // The certificate printed is the one the server presents.
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--print-certificate"},
                         output),
              0);
    EXPECT_EQ(output.rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
    std::ofstream(folder_ / "pinned.pem") << output;
    WireClient pinned(server_.Port());
    EXPECT_TRUE(pinned.Connect(folder_ / "pinned.pem"));
}

TEST_F(ServerTest, ASitesOwnCertificateIsUsedWhenConfigured) {
    std::string error;
    std::string cert = folder_ / "site.pem", key = folder_ / "site.key";
    ASSERT_TRUE(
        server::MakeSelfSignedCertificate(cert, key, {"pelora.example", "localhost"}, error))
        << error;
    StartServer({"--cert", cert, "--key", key});
    WireClient pinned(server_.Port());
    EXPECT_TRUE(pinned.Connect(cert));
    EXPECT_FALSE(fs::exists(DataDir() + "/tls"));
    // A launcher pinning another certificate refuses this server.
    std::string other = folder_ / "other.pem", otherKey = folder_ / "other.key";
    ASSERT_TRUE(server::MakeSelfSignedCertificate(other, otherKey, {"localhost"}, error));
    WireClient wrong(server_.Port());
    EXPECT_FALSE(wrong.Connect(other));
}
