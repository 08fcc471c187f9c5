// The staff view's drive and staff stores against both databases they run on: a real SQLite
// file in a temporary folder, and a real PostgreSQL 15 in a throwaway cluster. Each case runs
// once per database; the same calls must give the same answers on both, two stores on one
// database adding the same drive at once keep it once, and a database of the schema before
// the staff view's tables gains them keeping what it holds.
#include "postgres_cluster.h"
#include "server/staff/drive_store.h"
#include "server/storage_backend.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace server;
using pelora_test::PostgresCluster;
using pelora_test::TempFolder;

namespace {

enum class StorageKind { SQLite, PostgreSQL };

std::string StorageKindName(const ::testing::TestParamInfo<StorageKind>& info) {
    return info.param == StorageKind::SQLite ? "SQLite" : "PostgreSQL";
}

DriveRow Drive(const std::string& user, std::int64_t start, std::int64_t seconds,
               std::int64_t collisions, const std::string& file) {
    DriveRow row;
    row.user = user;
    row.storedName = file;
    row.world = "Park";
    row.start = start;
    row.end = start + seconds;
    row.duration = seconds;
    row.distance = 12.345;
    row.collisions = collisions;
    row.others = {"bob", "carol"};
    row.record = "record=1\nsamples=0\nhits=0\nreached=0\n";
    return row;
}

class DriveStores : public ::testing::TestWithParam<StorageKind> {
protected:
    void SetUp() override {
        if (GetParam() == StorageKind::PostgreSQL) {
            PELORA_START_POSTGRES_OR_SKIP(cluster_);
            std::string error;
            ASSERT_TRUE(cluster_.CreateDatabase("pelora", error)) << error;
            url_ = cluster_.Url("pelora");
        }
        storage_ = Opened();
        ASSERT_TRUE(storage_);
    }

    // Stores on the test's database, as one more server instance opens them.
    std::unique_ptr<StorageBackend> Opened() {
        auto storage = MakeStorage(url_, folder_ / "server.db", 4);
        std::string error;
        EXPECT_TRUE(storage->Open(error)) << error;
        return storage;
    }

    DriveStore& drives() { return storage_->Drives(); }

    // Runs SQL on the database behind the stores' back (what an older server left).
    void Sql(const std::string& sql) {
        if (GetParam() == StorageKind::SQLite) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open((folder_ / "server.db").c_str(), &db), SQLITE_OK);
            char* message = nullptr;
            EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
                << (message ? message : "");
            sqlite3_free(message);
            sqlite3_close(db);
        } else {
            PGconn* connection = PQconnectdb(url_.c_str());
            PGresult* result = PQexec(connection, sql.c_str());
            EXPECT_EQ(PQresultStatus(result), PGRES_COMMAND_OK) << PQerrorMessage(connection);
            PQclear(result);
            PQfinish(connection);
        }
    }

    TempFolder folder_;
    PostgresCluster cluster_;
    std::string url_; // empty: SQLite
    std::unique_ptr<StorageBackend> storage_;
};

} // namespace

TEST_P(DriveStores, ADriveIsKeptOnceAndReadBackWhole) {
    ASSERT_EQ(drives().Add(Drive("alice", 1000, 60, 2, "data-1.txt")), StoreResult::Ok);
    EXPECT_EQ(drives().Add(Drive("alice", 1000, 60, 2, "data-1.txt")), StoreResult::Exists);
    bool known = false;
    ASSERT_EQ(drives().Known("alice", "data-1.txt", known), StoreResult::Ok);
    EXPECT_TRUE(known);
    ASSERT_EQ(drives().Known("alice", "data-2.txt", known), StoreResult::Ok);
    EXPECT_FALSE(known);
    ASSERT_EQ(drives().Known("Alice", "data-1.txt", known), StoreResult::Ok);
    EXPECT_FALSE(known) << "names compare byte for byte";
    std::vector<DriveRow> list;
    ASSERT_EQ(drives().ForUser("alice", list), StoreResult::Ok);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].record.empty()) << "lists leave the record out";
    EXPECT_DOUBLE_EQ(list[0].distance, 12.35); // whole centimetres
    EXPECT_EQ(list[0].others, (std::vector<std::string>{"bob", "carol"}));
    EXPECT_EQ(list[0].world, "Park");
    EXPECT_EQ(list[0].end, 1060);
    EXPECT_EQ(list[0].landmarksTotal, -1);
    EXPECT_TRUE(list[0].readable);
    EXPECT_FALSE(list[0].sealed);
    DriveRow found;
    ASSERT_EQ(drives().Find(list[0].id, found), StoreResult::Ok);
    EXPECT_EQ(found.record, "record=1\nsamples=0\nhits=0\nreached=0\n");
    EXPECT_EQ(found.user, "alice");
    EXPECT_EQ(found.storedName, "data-1.txt");
    EXPECT_EQ(drives().Find(list[0].id + 1, found), StoreResult::NotFound);
}

TEST_P(DriveStores, WhatADataFileSaysIsKeptByteForByte) {
    // A data file's fields can hold any bytes but the line break: bytes that are no UTF-8, a
    // NUL, markup. Kept as they came, on both databases.
    DriveRow odd = Drive("jos\xC3\xA9", 50, 30, 1, "data-\xC3\xA9.txt.sealed");
    odd.world = std::string("W\xFF\xFEorld\0x<b>", 12);
    odd.others = {"\xC3\xA9mile", std::string("n\0ll", 4), ""};
    odd.record = std::string("record=1\n\0\xFF\n", 13);
    odd.sealed = true;
    odd.landmarksReached = 2;
    odd.landmarksTotal = 3;
    odd.samples = 7;
    odd.recordedAt = 1700000123;
    DriveRow broken = Drive("jos\xC3\xA9", 0, 0, 0, "junk");
    broken.readable = false;
    broken.problem = "not a drive's data file (line \xFF)";
    ASSERT_EQ(drives().Add(odd), StoreResult::Ok);
    ASSERT_EQ(drives().Add(broken), StoreResult::Ok);
    std::vector<DriveRow> list;
    ASSERT_EQ(drives().ForUser("jos\xC3\xA9", list), StoreResult::Ok);
    ASSERT_EQ(list.size(), 1u) << "an unreadable file is no drive";
    DriveRow found;
    ASSERT_EQ(drives().Find(list[0].id, found), StoreResult::Ok);
    EXPECT_EQ(found.world, odd.world);
    EXPECT_EQ(found.others, odd.others);
    EXPECT_EQ(found.record, odd.record);
    EXPECT_EQ(found.storedName, odd.storedName);
    EXPECT_TRUE(found.sealed);
    EXPECT_EQ(found.landmarksReached, 2);
    EXPECT_EQ(found.landmarksTotal, 3);
    EXPECT_EQ(found.samples, 7);
    EXPECT_EQ(found.recordedAt, 1700000123);
    std::vector<DriveRow> unreadable;
    ASSERT_EQ(drives().Unreadable(unreadable), StoreResult::Ok);
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].problem, broken.problem);
    EXPECT_FALSE(unreadable[0].readable);
}

TEST_P(DriveStores, TraineesHaveTheirTotalsAndTheTrendOfTheirLastDrives) {
    AccountRecord account{"zoe", "hash", 1};
    ASSERT_EQ(storage_->Accounts().Add(account), StoreResult::Ok); // an account without drives
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(drives().Add(Drive("alice", 1000 + i * 100, 60, i, "d" + std::to_string(i))),
                  StoreResult::Ok);
    DriveRow broken = Drive("bob", 0, 0, 0, "junk");
    broken.readable = false;
    broken.problem = "not a drive's data file";
    ASSERT_EQ(drives().Add(broken), StoreResult::Ok);
    std::vector<TraineeRow> trainees;
    ASSERT_EQ(drives().Trainees(trainees), StoreResult::Ok);
    ASSERT_EQ(trainees.size(), 3u);
    EXPECT_EQ(trainees[0].name, "alice");
    EXPECT_EQ(trainees[0].drives, 12);
    EXPECT_EQ(trainees[0].seconds, 720);
    EXPECT_EQ(trainees[0].lastStart, 2100);
    // The last ten, oldest first: collisions 2 to 11 in one minute each.
    ASSERT_EQ(trainees[0].trend.size(), std::size_t(kTrendDrives));
    EXPECT_DOUBLE_EQ(trainees[0].trend.front(), 2.0);
    EXPECT_DOUBLE_EQ(trainees[0].trend.back(), 11.0);
    EXPECT_EQ(trainees[1].name, "bob");
    EXPECT_EQ(trainees[1].drives, 0) << "an unreadable file is no drive";
    EXPECT_EQ(trainees[2].name, "zoe");
    EXPECT_TRUE(trainees[2].trend.empty());
    EXPECT_EQ(trainees[2].lastStart, 0);
}

TEST_P(DriveStores, TraineesAreInTheOrderOfTheirNamesBytes) {
    for (const char* name : {"zed", "Zoe", "\xC3\xA9mile", "alice", "Alice"})
        ASSERT_EQ(drives().Add(Drive(name, 10, 30, 1, "d")), StoreResult::Ok);
    std::vector<TraineeRow> trainees;
    ASSERT_EQ(drives().Trainees(trainees), StoreResult::Ok);
    std::vector<std::string> names;
    for (const TraineeRow& trainee : trainees) {
        names.push_back(trainee.name);
        EXPECT_EQ(trainee.trend, (std::vector<double>{2.0})) << trainee.name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alice", "Zoe", "alice", "zed", "\xC3\xA9mile"}));
}

TEST_P(DriveStores, ARangeTakesTheDrivesThatStartedInIt) {
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(
            drives().Add(Drive(i % 2 ? "bob" : "alice", 100 * i, 10, 0, "d" + std::to_string(i))),
            StoreResult::Ok);
    std::vector<DriveRow> list;
    ASSERT_EQ(drives().InRange(100, 300, list), StoreResult::Ok);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].start, 100);
    EXPECT_EQ(list[0].user, "bob");
    EXPECT_EQ(list[1].start, 200);
    ASSERT_EQ(drives().InRange(500, 600, list), StoreResult::Ok);
    EXPECT_TRUE(list.empty());
}

TEST_P(DriveStores, StaffAccountsAreAddedFoundListedAndRemoved) {
    StaffStore& staff = storage_->Staff();
    ASSERT_EQ(staff.Add({"nurse", "h1", 5}), StoreResult::Ok);
    EXPECT_EQ(staff.Add({"nurse", "h2", 6}), StoreResult::Exists);
    ASSERT_EQ(staff.Add({"doctor", "h3", 7}), StoreResult::Ok);
    StaffRecord record;
    ASSERT_EQ(staff.Find("nurse", record), StoreResult::Ok);
    EXPECT_EQ(record.passwordHash, "h1");
    EXPECT_EQ(record.createdAt, 5);
    EXPECT_EQ(staff.Find("Nurse", record), StoreResult::NotFound);
    std::vector<StaffRecord> list;
    ASSERT_EQ(staff.List(list), StoreResult::Ok);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "doctor");
    EXPECT_EQ(list[1].name, "nurse");
    EXPECT_EQ(staff.Remove("nurse"), StoreResult::Ok);
    EXPECT_EQ(staff.Remove("nurse"), StoreResult::NotFound);
    EXPECT_EQ(staff.Find("nurse", record), StoreResult::NotFound);
}

TEST_P(DriveStores, TwoInstancesRecordingTheSameFilesAtOnceKeepEachOnce) {
    // As two servers on one database and one shared folder read the same files at start-up.
    auto other = Opened();
    ASSERT_TRUE(other);
    constexpr int kFiles = 60;
    std::atomic<int> added{0}, exists{0}, failed{0};
    auto record = [&](DriveStore& store) {
        for (int i = 0; i < kFiles; ++i) {
            switch (store.Add(Drive("alice", i, 10, 0, "data-" + std::to_string(i) + ".txt"))) {
            case StoreResult::Ok:
                ++added;
                break;
            case StoreResult::Exists:
                ++exists;
                break;
            default:
                ++failed;
            }
        }
    };
    std::thread first([&] { record(drives()); });
    std::thread second([&] { record(other->Drives()); });
    first.join();
    second.join();
    EXPECT_EQ(added, kFiles);
    EXPECT_EQ(exists, kFiles);
    EXPECT_EQ(failed, 0);
    std::vector<DriveRow> list;
    ASSERT_EQ(other->Drives().ForUser("alice", list), StoreResult::Ok);
    EXPECT_EQ(list.size(), std::size_t(kFiles));
    // And a staff account made at once by both is made once.
    std::atomic<int> made{0};
    std::thread a([&] { made += storage_->Staff().Add({"nurse", "h1", 1}) == StoreResult::Ok; });
    std::thread b([&] { made += other->Staff().Add({"nurse", "h2", 2}) == StoreResult::Ok; });
    a.join();
    b.join();
    EXPECT_EQ(made, 1);
}

TEST_P(DriveStores, ADatabaseOfTheSchemaBeforeTheStaffTablesGainsThemKeepingItsData) {
    ASSERT_EQ(storage_->Accounts().Add({"alice", "$h", 1}), StoreResult::Ok);
    storage_.reset();
    // What a server of schema version 1 left: on SQLite, staff tables that were then made
    // outside the versions may be there (kept, with their rows); on PostgreSQL there were none.
    if (GetParam() == StorageKind::SQLite) {
        Sql("INSERT INTO staff VALUES ('nurse', 'h', 1); PRAGMA user_version = 1;");
    } else {
        Sql("DROP TABLE drives; DROP TABLE staff; DELETE FROM pelora_schema WHERE version = 2;");
    }
    storage_ = Opened();
    StaffRecord nurse;
    EXPECT_EQ(storage_->Staff().Find("nurse", nurse),
              GetParam() == StorageKind::SQLite ? StoreResult::Ok : StoreResult::NotFound);
    ASSERT_EQ(drives().Add(Drive("alice", 1, 1, 0, "d")), StoreResult::Ok);
    AccountRecord alice;
    EXPECT_EQ(storage_->Accounts().Find("alice", alice), StoreResult::Ok);
    // Brought to this server's version, so opening again takes no step.
    storage_ = Opened();
    std::vector<DriveRow> list;
    ASSERT_EQ(drives().ForUser("alice", list), StoreResult::Ok);
    EXPECT_EQ(list.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothDatabases, DriveStores,
                         ::testing::Values(StorageKind::SQLite, StorageKind::PostgreSQL),
                         StorageKindName);
