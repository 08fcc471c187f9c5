// What only the SQLite database has: its journal mode, a file that is not a database, and
// records committed in groups. The stores themselves are tested on both databases in
// storage_test.cpp.
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

FileRecord File(const std::string& user, const std::string& name, const std::string& stored,
                std::uint64_t size, char hashByte) {
    return FileRecord{user, name, stored, size, std::string(32, hashByte), 1700000000};
}

} // namespace

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
        EXPECT_EQ(database.SchemaVersion(), kStorageSchemaVersion);
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
