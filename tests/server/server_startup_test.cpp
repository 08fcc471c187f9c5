// Against the real program: what it refuses or warns of at start-up (a data folder others may
// write into, hashing below the safe floor) and what --open-data does with two files that
// would take one name.
#include "server_fixture.h"

#include <sodium.h>

#include <filesystem>
#include <sys/stat.h>

using namespace pelora_test;
namespace fs = std::filesystem;

namespace {

// Runs the server program through the shell with its error output joined to the output.
int RunServer(const std::string& arguments, std::string& output) {
    return RunProgram({"/bin/sh", "-c",
                       std::string("exec '") + PELORA_SERVER_PROGRAM + "' --config /dev/null " +
                           arguments + " 2>&1"},
                      output);
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST_F(ServerTest, ADataFolderOthersMayWriteIsRefusedWithTheFix) {
    fs::create_directories(DataDir());
    ASSERT_EQ(::chmod(DataDir().c_str(), 0777), 0);
    std::string output;
    EXPECT_EQ(RunServer("--port 0 --bind 127.0.0.1 --data-dir '" + DataDir() + "'", output), 1);
    EXPECT_NE(output.find("may be written by others"), std::string::npos) << output;
    EXPECT_NE(output.find("chmod go-w " + DataDir()), std::string::npos) << output;
    EXPECT_FALSE(fs::exists(DataDir() + "/pelora-server.db"));

    // Fixed as told, it starts; the folders it makes are its own only.
    ASSERT_EQ(::chmod(DataDir().c_str(), 0755), 0);
    StartServer();
    auto alice = LoggedIn("alice");
    pb::FileOffer offer;
    offer.set_name("data-1.txt");
    offer.set_size(0);
    offer.set_sha256(Sha256(""));
    ASSERT_TRUE(alice->Send(wire::FrameType::FileOffer, offer));
    pb::FileReply reply;
    ASSERT_TRUE(alice->Expect(wire::FrameType::FileReply, reply));
    ASSERT_EQ(reply.result(), pb::FileReply::STORED);
    EXPECT_EQ(ModeOf(DataDir() + "/users"), 0700u);
    EXPECT_EQ(ModeOf(DataDir() + "/users/alice"), 0700u);
}

TEST_F(ServerTest, HashingBelowTheSafeFloorIsAnnouncedOnStandardErrorAndInTheLog) {
    std::string output;
    // A bind that fails ends the run after the announcement.
    EXPECT_EQ(RunServer("--port 0 --bind not-an-address --data-dir '" + DataDir() +
                            "' --argon2-ops 1 --argon2-memory 8",
                        output),
              1);
    EXPECT_NE(output.find("WARN"), std::string::npos) << output;
    EXPECT_NE(output.find("t=1, m=8 KiB"), std::string::npos) << output;
    EXPECT_NE(output.find("argon2-ops = 2 and argon2-memory = 19456"), std::string::npos) << output;
    EXPECT_NE(Log().find("WARN  password hashing is set below the safe floor"), std::string::npos)
        << Log();
    // Today's defaults are not announced.
    EXPECT_EQ(RunServer("--port 0 --bind not-an-address --data-dir '" + DataDir() + "'", output),
              1);
    EXPECT_EQ(output.find("WARN"), std::string::npos) << output;
}

TEST_F(ServerTest, OpenDataNeverOverwritesAndSaysWhatItDid) {
    std::string output;
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--print-public-key"},
                         output),
              0);
    unsigned char key[crypto_box_PUBLICKEYBYTES];
    ASSERT_EQ(sodium_hex2bin(key, sizeof key, output.data(), 64, nullptr, nullptr, nullptr), 0);
    std::string plain = "sealed drive data\n";
    std::string sealed(plain.size() + crypto_box_SEALBYTES, '\0');
    ASSERT_EQ(crypto_box_seal(reinterpret_cast<unsigned char*>(sealed.data()),
                              reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                              key),
              0);
    // A user's X.sealed and X: both would be opened as X.
    fs::create_directories(DataDir() + "/users/alice");
    std::ofstream(DataDir() + "/users/alice/data-1.txt.sealed", std::ios::binary) << sealed;
    std::ofstream(DataDir() + "/users/alice/data-1.txt", std::ios::binary) << "plain drive data";

    std::string target = folder_ / "for-staff";
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--open-data", target},
                         output),
              0)
        << output;
    std::vector<std::string> names = Names(target + "/alice");
    ASSERT_EQ(names, (std::vector<std::string>{"data-1-2.txt", "data-1.txt"})) << output;
    std::string one = ReadAll(target + "/alice/data-1.txt");
    std::string two = ReadAll(target + "/alice/data-1-2.txt");
    EXPECT_TRUE((one == plain && two == "plain drive data") ||
                (two == plain && one == "plain drive data"));
    EXPECT_NE(output.find("was written as alice/data-1-2.txt, because alice/data-1.txt holds "
                          "another file"),
              std::string::npos)
        << output;

    // Again into the same folder: nothing is written twice, nothing replaced.
    ASSERT_EQ(RunProgram({PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--data-dir", DataDir(),
                          "--open-data", target},
                         output),
              0)
        << output;
    EXPECT_EQ(Names(target + "/alice"), names);
    EXPECT_NE(output.find("2 files were there already"), std::string::npos) << output;
}
