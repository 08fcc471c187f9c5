// The SQLite stores against a real database file in a temporary folder: accounts and file
// records, their keys, and what survives closing and opening again.
#include "server/sqlite_storage.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sqlite3.h>
#include <thread>
#include <vector>

using namespace server;
using pelora_test::TempFolder;

namespace {

AccountRecord Account(const std::string& name, const std::string& hash) {
    AccountRecord account;
    account.name = name;
    account.passwordHash = hash;
    account.createdAt = 1700000000;
    return account;
}

FileRecord File(const std::string& user, const std::string& name, const std::string& stored,
                std::uint64_t size, char hashByte) {
    return FileRecord{user, name, stored, size, std::string(32, hashByte), 1700000000};
}

} // namespace

TEST(SqliteAccounts, AddFindAndTheNameIsTheKeyByteForByte) {
    TempFolder folder;
    Database database;
    std::string error;
    ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
    SqliteAccountStore accounts(database);
    EXPECT_EQ(accounts.Add(Account("alice", "$argon2id$one")), StoreResult::Ok);
    EXPECT_EQ(accounts.Add(Account("alice", "$argon2id$two")), StoreResult::Exists);
    EXPECT_EQ(accounts.Add(Account("Alice", "$argon2id$three")), StoreResult::Ok);
    AccountRecord found;
    ASSERT_EQ(accounts.Find("alice", found), StoreResult::Ok);
    EXPECT_EQ(found.passwordHash, "$argon2id$one");
    EXPECT_EQ(found.createdAt, 1700000000);
    EXPECT_EQ(accounts.Find("ALICE", found), StoreResult::NotFound);
    std::uint64_t count = 0;
    ASSERT_EQ(accounts.Count(count), StoreResult::Ok);
    EXPECT_EQ(count, 2u);
}

TEST(SqliteAccounts, ChangesSurviveReopeningTheFile) {
    TempFolder folder;
    std::string error;
    {
        Database database;
        ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
        SqliteAccountStore accounts(database);
        ASSERT_EQ(accounts.Add(Account("jos\xC3\xA9", "$argon2id$old")), StoreResult::Ok);
        EXPECT_EQ(accounts.UpdateHash("jos\xC3\xA9", "$argon2id$new"), StoreResult::Ok);
        EXPECT_EQ(accounts.UpdateHash("nobody", "$x"), StoreResult::NotFound);
    }
    Database database;
    ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
    SqliteAccountStore accounts(database);
    AccountRecord found;
    ASSERT_EQ(accounts.Find("jos\xC3\xA9", found), StoreResult::Ok);
    EXPECT_EQ(found.passwordHash, "$argon2id$new");
    EXPECT_EQ(found.createdAt, 1700000000);
}

TEST(SqliteDatabase, OpensInWalModeAndRefusesANewerSchema) {
    TempFolder folder;
    std::string error;
    {
        Database database;
        ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
        auto lock = database.Lock();
        Statement mode(database, "PRAGMA journal_mode");
        ASSERT_EQ(mode.Next(), Statement::Step::Row);
        EXPECT_EQ(mode.Text(0), "wal");
        EXPECT_EQ(database.SchemaVersion(), 1);
        ASSERT_TRUE(database.Execute("PRAGMA user_version = 7", error));
    }
    Database database;
    EXPECT_FALSE(OpenServerDatabase(database, folder / "server.db", error));
    EXPECT_NE(error.find("newer server"), std::string::npos) << error;
}

TEST(SqliteDatabase, AFileThatIsNotADatabaseIsAnError) {
    TempFolder folder;
    std::ofstream(folder / "server.db") << "this is not a database, only some text to trip on";
    Database database;
    std::string error;
    EXPECT_FALSE(OpenServerDatabase(database, folder / "server.db", error));
    EXPECT_FALSE(error.empty());
}

TEST(SqliteFileRecords, SameFileIsFoundByNameSizeAndHashOnly) {
    TempFolder folder;
    Database database;
    std::string error;
    ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
    SqliteFileRecordStore files(database);
    ASSERT_EQ(files.Add(File("alice", "data1.txt", "data1.txt", 10, 'a')), StoreResult::Ok);
    FileRecord found;
    EXPECT_EQ(files.FindSame("alice", "data1.txt", 10, std::string(32, 'a'), found),
              StoreResult::Ok);
    EXPECT_EQ(found.storedName, "data1.txt");
    EXPECT_EQ(files.FindSame("alice", "data1.txt", 11, std::string(32, 'a'), found),
              StoreResult::NotFound);
    EXPECT_EQ(files.FindSame("alice", "data1.txt", 10, std::string(32, 'b'), found),
              StoreResult::NotFound);
    EXPECT_EQ(files.FindSame("bob", "data1.txt", 10, std::string(32, 'a'), found),
              StoreResult::NotFound);
    // One stored name per user folder.
    EXPECT_EQ(files.Add(File("alice", "x", "data1.txt", 1, 'c')), StoreResult::Exists);
    EXPECT_EQ(files.Add(File("bob", "data1.txt", "data1.txt", 1, 'c')), StoreResult::Ok);
}

TEST(SqliteFileRecords, UsageAndTakenNamesArePerUser) {
    TempFolder folder;
    Database database;
    std::string error;
    ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
    SqliteFileRecordStore files(database);
    std::uint64_t bytes = 99, count = 99;
    ASSERT_EQ(files.Usage("alice", bytes, count), StoreResult::Ok);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(count, 0u);
    files.Add(File("alice", "data1", "data1", 100, 'a'));
    files.Add(File("alice", "data1", "data1-61616161", 250, 'b'));
    files.Add(File("bob", "data9", "data9", 5000, 'c'));
    ASSERT_EQ(files.Usage("alice", bytes, count), StoreResult::Ok);
    EXPECT_EQ(bytes, 350u);
    EXPECT_EQ(count, 2u);
    bool taken = false;
    ASSERT_EQ(files.StoredNameTaken("alice", "data1-61616161", taken), StoreResult::Ok);
    EXPECT_TRUE(taken);
    ASSERT_EQ(files.StoredNameTaken("bob", "data1", taken), StoreResult::Ok);
    EXPECT_FALSE(taken);
}

TEST(SqliteFileRecords, AddsAtOnceFromManyThreadsKeepTheLimitsExactly) {
    TempFolder folder;
    Database database;
    std::string error;
    ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
    SqliteFileRecordStore records(database);
    // Twenty stores of one user at once, where five files are allowed: the check and the
    // insert agree, whichever transaction each lands in.
    std::vector<std::thread> threads;
    std::atomic<int> ok{0}, over{0}, other{0};
    for (int i = 0; i < 20; ++i)
        threads.emplace_back([&, i] {
            std::string name = "data-" + std::to_string(i);
            switch (records.AddWithinLimits(File("alice", name, name, 10, 'a'), 1000, 5)) {
            case StoreResult::Ok:
                ++ok;
                break;
            case StoreResult::OverLimit:
                ++over;
                break;
            default:
                ++other;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(ok, 5);
    EXPECT_EQ(over, 15);
    EXPECT_EQ(other, 0);
    std::uint64_t bytes = 0, files = 0;
    ASSERT_EQ(records.Usage("alice", bytes, files), StoreResult::Ok);
    EXPECT_EQ(files, 5u);
    EXPECT_EQ(bytes, 50u);
    // Bytes count too, and another user has limits of its own.
    EXPECT_EQ(records.AddWithinLimits(File("bob", "data-big", "data-big", 990, 'b'), 1000, 5),
              StoreResult::Ok);
    EXPECT_EQ(records.AddWithinLimits(File("bob", "data-more", "data-more", 11, 'c'), 1000, 5),
              StoreResult::OverLimit);
    EXPECT_EQ(records.AddWithinLimits(File("bob", "data-big", "data-big", 1, 'd'), 1000, 5),
              StoreResult::Exists);
}
