// Receiving data files on disk: verified files moved into place, duplicates and name clashes,
// refusals, and nothing left behind by a transfer that does not end in a stored file (a bad
// hash, a vanished client, a full disk, a crash).
#include "server/data_files.h"
#include "server/sqlite_storage.h"
#include "temp_folder.h"
#include "wire_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

using namespace server;
using pelora_test::Bytes;
using pelora_test::Names;
using pelora_test::ReadAll;
using pelora_test::Sha256;
using pelora_test::TempFolder;
using Kind = DataFiles::Outcome::Kind;
namespace fs = std::filesystem;

namespace {

class DataFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(OpenServerDatabase(database_, folder_ / "server.db", error)) << error;
        fs::create_directories(Users());
    }
    std::string Users() const { return folder_ / "users"; }
    std::string UserFolder() const { return Users() + "/alice"; }

    // Offers and sends the bytes in chunks of `chunk`; gives the last outcome.
    DataFiles::Outcome Send(DataFiles& files, const std::string& name, const std::string& bytes,
                            std::size_t chunk = 1000, const std::string& hash = "") {
        std::unique_ptr<IncomingFile> incoming;
        auto outcome =
            files.Offer("alice", name, bytes.size(), hash.empty() ? Sha256(bytes) : hash, incoming);
        for (std::size_t at = 0; outcome.kind == Kind::Send && at < bytes.size(); at += chunk)
            outcome = files.Write(*incoming, at, std::string_view(bytes).substr(at, chunk));
        return outcome;
    }

    TempFolder folder_;
    Database database_;
    SqliteFileRecordStore records_{database_};
    FileLimits limits_{10000, 25000, 4};
};

} // namespace

TEST_F(DataFilesTest, VerifiedFileIsStoredWholeAndNoTemporaryStays) {
    DataFiles files(Users(), records_, limits_);
    std::string bytes = Bytes(2500, 'a');
    auto outcome = Send(files, "data-20240131-101500.txt.sealed", bytes);
    ASSERT_EQ(outcome.kind, Kind::Stored) << static_cast<int>(outcome.refusal);
    EXPECT_EQ(outcome.storedAs, "data-20240131-101500.txt.sealed");
    EXPECT_EQ(ReadAll(UserFolder() + "/data-20240131-101500.txt.sealed"), bytes);
    EXPECT_EQ(Names(UserFolder()), std::vector<std::string>{"data-20240131-101500.txt.sealed"});
}

TEST_F(DataFilesTest, SameFileTwiceIsStoredOnceAndAcknowledged) {
    DataFiles files(Users(), records_, limits_);
    std::string bytes = Bytes(1200, 'b');
    ASSERT_EQ(Send(files, "data1.txt", bytes).kind, Kind::Stored);
    std::unique_ptr<IncomingFile> incoming;
    auto again = files.Offer("alice", "data1.txt", bytes.size(), Sha256(bytes), incoming);
    EXPECT_EQ(again.kind, Kind::AlreadyStored);
    EXPECT_EQ(again.storedAs, "data1.txt");
    EXPECT_FALSE(incoming);
    EXPECT_EQ(Names(UserFolder()), std::vector<std::string>{"data1.txt"});
}

TEST_F(DataFilesTest, OtherContentUnderATakenNameIsKeptBesideIt) {
    DataFiles files(Users(), records_, limits_);
    std::string first = Bytes(100, 'c');
    std::string second = Bytes(100, 'd');
    ASSERT_EQ(Send(files, "data-1.txt.sealed", first).kind, Kind::Stored);
    auto outcome = Send(files, "data-1.txt.sealed", second);
    ASSERT_EQ(outcome.kind, Kind::Stored);
    std::string expected = ConflictName("data-1.txt.sealed", Sha256(second), 1);
    EXPECT_EQ(outcome.storedAs, expected);
    EXPECT_EQ(expected, "data-1-" + HexOf(Sha256(second)).substr(0, 8) + ".txt.sealed");
    EXPECT_EQ(ReadAll(UserFolder() + "/data-1.txt.sealed"), first);
    EXPECT_EQ(ReadAll(UserFolder() + "/" + expected), second);
    // The clashing file sent again is recognised too.
    std::unique_ptr<IncomingFile> incoming;
    EXPECT_EQ(files.Offer("alice", "data-1.txt.sealed", 100, Sha256(second), incoming).kind,
              Kind::AlreadyStored);
    EXPECT_EQ(ConflictName("DATA2", Sha256(second), 3),
              "DATA2-" + HexOf(Sha256(second)).substr(0, 8) + "-3");
}

TEST_F(DataFilesTest, NamesWithPathsHiddenOrNotDataAreRefusedAndNothingIsWritten) {
    DataFiles files(Users(), records_, limits_);
    for (const char* name : {"../data1", "data/../../x", ".data", "notes.txt", "", "data\\x"}) {
        auto outcome = Send(files, name, "abc");
        EXPECT_EQ(outcome.kind, Kind::Refused) << name;
        EXPECT_EQ(outcome.refusal, DataFiles::Refusal::BadName) << name;
        EXPECT_NE(outcome.nameProblem, wire::FileNameProblem::None) << name;
        EXPECT_FALSE(outcome.ServerFault());
    }
    // Nothing anywhere in the folder but the database.
    for (const auto& entry : fs::recursive_directory_iterator(folder_.Path())) {
        std::string name = entry.path().filename().string();
        EXPECT_NE(name, "data1");
        EXPECT_NE(name, "x");
    }
    EXPECT_TRUE(Names(Users()).empty());
}

TEST_F(DataFilesTest, SizeSpaceAndCountLimitsAreKept) {
    DataFiles files(Users(), records_, limits_);
    auto tooBig = Send(files, "data-big", Bytes(10001, 'e'));
    EXPECT_EQ(tooBig.kind, Kind::Refused);
    EXPECT_EQ(tooBig.refusal, DataFiles::Refusal::TooLarge);
    ASSERT_EQ(Send(files, "data-a", Bytes(10000, 'f')).kind, Kind::Stored);
    ASSERT_EQ(Send(files, "data-b", Bytes(10000, 'g')).kind, Kind::Stored);
    auto noRoom = Send(files, "data-c", Bytes(5001, 'h'));
    EXPECT_EQ(noRoom.kind, Kind::Refused);
    EXPECT_EQ(noRoom.refusal, DataFiles::Refusal::NoSpace);
    ASSERT_EQ(Send(files, "data-d", Bytes(10, 'i')).kind, Kind::Stored);
    ASSERT_EQ(Send(files, "data-e", Bytes(10, 'j')).kind, Kind::Stored);
    auto tooMany = Send(files, "data-f", Bytes(10, 'k'));
    EXPECT_EQ(tooMany.kind, Kind::Refused);
    EXPECT_EQ(tooMany.refusal, DataFiles::Refusal::TooManyFiles);
}

TEST_F(DataFilesTest, DamagedFileIsRefusedAndNothingKept) {
    DataFiles files(Users(), records_, limits_);
    std::string bytes = Bytes(3000, 'l');
    auto outcome = Send(files, "data-x", bytes, 1000, Sha256("something else"));
    EXPECT_EQ(outcome.kind, Kind::Refused);
    EXPECT_EQ(outcome.refusal, DataFiles::Refusal::Damaged);
    EXPECT_TRUE(Names(UserFolder()).empty());
}

TEST_F(DataFilesTest, ChunksOutOfOrderOrPastTheSizeEndTheTransfer) {
    DataFiles files(Users(), records_, limits_);
    std::string bytes = Bytes(2000, 'm');
    std::unique_ptr<IncomingFile> incoming;
    ASSERT_EQ(files.Offer("alice", "data-y", bytes.size(), Sha256(bytes), incoming).kind,
              Kind::Send);
    EXPECT_EQ(files.Write(*incoming, 1000, bytes.substr(1000)).kind, Kind::Refused);
    incoming.reset();
    ASSERT_EQ(files.Offer("alice", "data-y", bytes.size(), Sha256(bytes), incoming).kind,
              Kind::Send);
    EXPECT_EQ(files.Write(*incoming, 0, bytes + "extra").kind, Kind::Refused);
    incoming.reset();
    EXPECT_TRUE(Names(UserFolder()).empty());
}

TEST_F(DataFilesTest, AnUnfinishedTransferLeavesNothingBehind) {
    DataFiles files(Users(), records_, limits_);
    std::string bytes = Bytes(5000, 'n');
    std::unique_ptr<IncomingFile> incoming;
    ASSERT_EQ(files.Offer("alice", "data-z", bytes.size(), Sha256(bytes), incoming).kind,
              Kind::Send);
    ASSERT_EQ(files.Write(*incoming, 0, bytes.substr(0, 2000)).kind, Kind::Send);
    EXPECT_EQ(Names(UserFolder()).size(), 1u); // the hidden temporary
    incoming.reset();                          // the client vanished
    EXPECT_TRUE(Names(UserFolder()).empty());
}

TEST_F(DataFilesTest, LeftoversOfACrashAreRemovedAtStart) {
    fs::create_directories(UserFolder());
    std::ofstream(UserFolder() + "/.incoming-abc123") << "half a file";
    std::ofstream(UserFolder() + "/data-kept.txt") << "a stored file";
    fs::create_directories(Users() + "/bob");
    std::ofstream(Users() + "/bob/.incoming-zzz") << "x";
    DataFiles files(Users(), records_, limits_);
    EXPECT_EQ(files.RemoveLeftovers(), 2u);
    EXPECT_EQ(Names(UserFolder()), std::vector<std::string>{"data-kept.txt"});
    EXPECT_TRUE(Names(Users() + "/bob").empty());
}

TEST_F(DataFilesTest, AFileInPlaceWithoutARecordIsAdoptedNotStoredTwice) {
    // What a crash between the rename and the record leaves.
    fs::create_directories(UserFolder());
    std::string bytes = Bytes(700, 'o');
    std::ofstream(UserFolder() + "/data-orphan", std::ios::binary) << bytes;
    DataFiles files(Users(), records_, limits_);
    std::unique_ptr<IncomingFile> incoming;
    auto outcome = files.Offer("alice", "data-orphan", bytes.size(), Sha256(bytes), incoming);
    EXPECT_EQ(outcome.kind, Kind::AlreadyStored);
    std::uint64_t used = 0, count = 0;
    records_.Usage("alice", used, count);
    EXPECT_EQ(used, 700u);
    // Another file under that name is kept beside it, never over it.
    auto other = Send(files, "data-orphan", Bytes(700, 'p'));
    ASSERT_EQ(other.kind, Kind::Stored);
    EXPECT_NE(other.storedAs, "data-orphan");
    EXPECT_EQ(ReadAll(UserFolder() + "/data-orphan"), bytes);
}

TEST_F(DataFilesTest, EmptyFileIsStoredAtOnce) {
    DataFiles files(Users(), records_, limits_);
    std::unique_ptr<IncomingFile> incoming;
    auto outcome = files.Offer("alice", "data-empty", 0, Sha256(""), incoming);
    EXPECT_EQ(outcome.kind, Kind::Stored);
    EXPECT_FALSE(incoming);
    EXPECT_EQ(Names(UserFolder()), std::vector<std::string>{"data-empty"});
}

TEST_F(DataFilesTest, AFullDiskRefusesTheFileAndKeepsNoPart) {
    DataFiles files(Users(), records_, limits_);
    // A file-size limit makes writes past 4 KiB fail as a full disk would.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
    auto outcome = Send(files, "data-full", Bytes(9000, 'q'), 3000);
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(outcome.kind, Kind::Refused);
    EXPECT_TRUE(outcome.ServerFault());
    EXPECT_EQ(outcome.refusal, DataFiles::Refusal::DiskFull);
    EXPECT_TRUE(Names(UserFolder()).empty());
    // Once there is room again, the same file goes through.
    EXPECT_EQ(Send(files, "data-full", Bytes(9000, 'q'), 3000).kind, Kind::Stored);
}

TEST_F(DataFilesTest, TheGuestKeepsNoFiles) {
    DataFiles files(Users(), records_, limits_);
    std::unique_ptr<IncomingFile> incoming;
    auto outcome = files.Offer("guest", "data-1", 3, Sha256("abc"), incoming);
    EXPECT_EQ(outcome.refusal, DataFiles::Refusal::GuestKeepsNoFiles);
    EXPECT_FALSE(incoming);
    EXPECT_TRUE(Names(Users()).empty());
}

TEST_F(DataFilesTest, FilesStoredButNeverRecordedAreRecordedOrSetAside) {
    DataFiles files(Users(), records_, limits_);
    ASSERT_EQ(Send(files, "data-a", Bytes(10000, 'a')).kind, Kind::Stored);
    // What a crash between the rename and the record leaves: two files with no record, one
    // that fits alice's space (25,000 bytes) and one that no longer does.
    std::ofstream(UserFolder() + "/data-b", std::ios::binary) << Bytes(9000, 'b');
    std::ofstream(UserFolder() + "/data-c", std::ios::binary) << Bytes(9000, 'c');
    std::vector<std::string> lines = files.SettleUnrecorded(folder_ / "aside");
    ASSERT_EQ(lines.size(), 2u);
    std::size_t recorded = 0, aside = 0;
    for (const std::string& line : lines) {
        recorded += line.find("recorded (9000 bytes)") != std::string::npos;
        aside += line.find("over the user's limits, set aside") != std::string::npos;
    }
    EXPECT_EQ(recorded, 1u);
    EXPECT_EQ(aside, 1u);
    EXPECT_EQ(Names(UserFolder()).size(), 2u);
    EXPECT_EQ(Names(folder_ / "aside/alice").size(), 1u);
    // The recorded one counts: 10,000 + 9,000 leave no room for 7,000 more.
    EXPECT_EQ(Send(files, "data-d", Bytes(7000, 'd')).refusal, DataFiles::Refusal::NoSpace);
    // Settled once, nothing is left to settle.
    EXPECT_TRUE(files.SettleUnrecorded(folder_ / "aside").empty());
}
