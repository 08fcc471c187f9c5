// The stores against both databases they run on: a real SQLite file in a temporary folder, and
// a real PostgreSQL 15 in a throwaway cluster. Each case runs once per database; the same
// calls must give the same answers on both.
#include "postgres_cluster.h"
#include "server/pg_connection.h"
#include "server/storage_backend.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace server;
using pelora_test::PostgresCluster;
using pelora_test::TempFolder;

namespace {

enum class StorageKind { SQLite, PostgreSQL };

AccountRecord StoredAccount(const std::string& name, const std::string& hash) {
    AccountRecord account;
    account.name = name;
    account.passwordHash = hash;
    account.createdAt = 1700000000;
    return account;
}

FileRecord StoredFile(const std::string& user, const std::string& name, const std::string& stored,
                      std::uint64_t size, char hashByte) {
    return FileRecord{user, name, stored, size, std::string(32, hashByte), 1700000000};
}

class Storage : public ::testing::TestWithParam<StorageKind> {
protected:
    void SetUp() override {
        if (GetParam() == StorageKind::PostgreSQL) {
            PELORA_START_POSTGRES_OR_SKIP(cluster_);
            std::string error;
            ASSERT_TRUE(cluster_.CreateDatabase("pelora", error)) << error;
            url_ = cluster_.Url("pelora");
        }
    }

    std::unique_ptr<StorageBackend> Make(std::size_t connections = 4) {
        return MakeStorage(url_, folder_ / "server.db", connections);
    }

    // Opens the stores (again); fails the test when they do not open.
    StorageBackend& Open(std::size_t connections = 4) {
        storage_.reset();
        storage_ = Make(connections);
        std::string error;
        EXPECT_TRUE(storage_->Open(error)) << error;
        return *storage_;
    }

    // Writes a schema version behind the server's back, as a newer server would.
    void WriteSchemaVersion(int version) {
        storage_.reset();
        if (GetParam() == StorageKind::SQLite) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open((folder_ / "server.db").c_str(), &db), SQLITE_OK);
            std::string sql = "PRAGMA user_version = " + std::to_string(version);
            EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        } else {
            PGconn* connection = PQconnectdb(url_.c_str());
            std::string sql = "INSERT INTO pelora_schema VALUES (" + std::to_string(version) + ")";
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

std::string StorageKindName(const ::testing::TestParamInfo<StorageKind>& info) {
    return info.param == StorageKind::SQLite ? "SQLite" : "PostgreSQL";
}

} // namespace

TEST_P(Storage, AccountsAddFindAndTheNameIsTheKeyByteForByte) {
    AccountStore& accounts = Open().Accounts();
    EXPECT_EQ(accounts.Add(StoredAccount("alice", "$argon2id$one")), StoreResult::Ok);
    EXPECT_EQ(accounts.Add(StoredAccount("alice", "$argon2id$two")), StoreResult::Exists);
    EXPECT_EQ(accounts.Add(StoredAccount("Alice", "$argon2id$three")), StoreResult::Ok);
    AccountRecord found;
    ASSERT_EQ(accounts.Find("alice", found), StoreResult::Ok);
    EXPECT_EQ(found.name, "alice");
    EXPECT_EQ(found.passwordHash, "$argon2id$one");
    EXPECT_EQ(found.createdAt, 1700000000);
    EXPECT_EQ(accounts.Find("ALICE", found), StoreResult::NotFound);
    std::uint64_t count = 0;
    ASSERT_EQ(accounts.Count(count), StoreResult::Ok);
    EXPECT_EQ(count, 2u);
}

TEST_P(Storage, AccountChangesSurviveReopening) {
    {
        AccountStore& accounts = Open().Accounts();
        ASSERT_EQ(accounts.Add(StoredAccount("jos\xC3\xA9", "$argon2id$old")), StoreResult::Ok);
        EXPECT_EQ(accounts.UpdateHash("jos\xC3\xA9", "$argon2id$new"), StoreResult::Ok);
        EXPECT_EQ(accounts.UpdateHash("nobody", "$x"), StoreResult::NotFound);
    }
    AccountStore& accounts = Open().Accounts();
    AccountRecord found;
    ASSERT_EQ(accounts.Find("jos\xC3\xA9", found), StoreResult::Ok);
    EXPECT_EQ(found.passwordHash, "$argon2id$new");
    EXPECT_EQ(found.createdAt, 1700000000);
}

TEST_P(Storage, ANewerSchemaIsRefusedSayingSo) {
    Open().Accounts().Add(StoredAccount("alice", "$argon2id$one"));
    WriteSchemaVersion(kStorageSchemaVersion + 6);
    auto storage = Make();
    std::string error;
    EXPECT_FALSE(storage->Open(error));
    EXPECT_NE(error.find("newer server"), std::string::npos) << error;
    EXPECT_NE(error.find(std::to_string(kStorageSchemaVersion + 6)), std::string::npos) << error;
}

TEST_P(Storage, ReopeningKeepsTheDataAndTheSchemaVersion) {
    Open().Files().Add(StoredFile("alice", "a", "a", 1, 'a'));
    // A second server on the same database, then the first again.
    auto second = Make();
    std::string error;
    ASSERT_TRUE(second->Open(error)) << error;
    std::uint64_t bytes = 0, files = 0;
    ASSERT_EQ(second->Files().Usage("alice", bytes, files), StoreResult::Ok);
    EXPECT_EQ(files, 1u);
    second.reset();
    ASSERT_EQ(Open().Files().Usage("alice", bytes, files), StoreResult::Ok);
    EXPECT_EQ(files, 1u);
}

TEST_P(Storage, FileRecordsSameFileIsFoundByNameSizeAndHashOnly) {
    FileRecordStore& files = Open().Files();
    ASSERT_EQ(files.Add(StoredFile("alice", "data1.txt", "data1.txt", 10, 'a')), StoreResult::Ok);
    FileRecord found;
    EXPECT_EQ(files.FindSame("alice", "data1.txt", 10, std::string(32, 'a'), found),
              StoreResult::Ok);
    EXPECT_EQ(found.storedName, "data1.txt");
    EXPECT_EQ(found.receivedAt, 1700000000);
    EXPECT_EQ(files.FindSame("alice", "data1.txt", 11, std::string(32, 'a'), found),
              StoreResult::NotFound);
    EXPECT_EQ(files.FindSame("alice", "data1.txt", 10, std::string(32, 'b'), found),
              StoreResult::NotFound);
    EXPECT_EQ(files.FindSame("bob", "data1.txt", 10, std::string(32, 'a'), found),
              StoreResult::NotFound);
    // One stored name per user folder.
    EXPECT_EQ(files.Add(StoredFile("alice", "x", "data1.txt", 1, 'c')), StoreResult::Exists);
    EXPECT_EQ(files.Add(StoredFile("bob", "data1.txt", "data1.txt", 1, 'c')), StoreResult::Ok);
}

TEST_P(Storage, FileRecordHashesAreBytesZeroesIncluded) {
    FileRecordStore& files = Open().Files();
    std::string hash(32, '\0');
    hash[5] = '\xff';
    std::string other = hash;
    other[31] = '\x01';
    ASSERT_EQ(files.Add(FileRecord{"alice", "f", "f", 3, hash, 5}), StoreResult::Ok);
    FileRecord found;
    EXPECT_EQ(files.FindSame("alice", "f", 3, hash, found), StoreResult::Ok);
    EXPECT_EQ(found.sha256, hash);
    EXPECT_EQ(files.FindSame("alice", "f", 3, other, found), StoreResult::NotFound);
    EXPECT_EQ(files.FindSame("alice", "f", 3, std::string(32, '\0'), found), StoreResult::NotFound);
}

TEST_P(Storage, FileRecordUsageAndTakenNamesArePerUser) {
    FileRecordStore& files = Open().Files();
    std::uint64_t bytes = 99, count = 99;
    ASSERT_EQ(files.Usage("alice", bytes, count), StoreResult::Ok);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(count, 0u);
    files.Add(StoredFile("alice", "data1", "data1", 100, 'a'));
    files.Add(StoredFile("alice", "data1", "data1-61616161", 250, 'b'));
    files.Add(StoredFile("bob", "data9", "data9", 5000, 'c'));
    ASSERT_EQ(files.Usage("alice", bytes, count), StoreResult::Ok);
    EXPECT_EQ(bytes, 350u);
    EXPECT_EQ(count, 2u);
    bool taken = false;
    ASSERT_EQ(files.StoredNameTaken("alice", "data1-61616161", taken), StoreResult::Ok);
    EXPECT_TRUE(taken);
    ASSERT_EQ(files.StoredNameTaken("bob", "data1", taken), StoreResult::Ok);
    EXPECT_FALSE(taken);
}

TEST_P(Storage, FileRecordsAddedWithinLimitsNeverPassThem) {
    FileRecordStore& files = Open(3).Files();
    EXPECT_EQ(files.AddWithinLimits(StoredFile("alice", "a", "a", 60, 'a'), 100, 3),
              StoreResult::Ok);
    // 60 + 50 bytes would pass 100.
    EXPECT_EQ(files.AddWithinLimits(StoredFile("alice", "b", "b", 50, 'b'), 100, 3),
              StoreResult::OverLimit);
    EXPECT_EQ(files.AddWithinLimits(StoredFile("alice", "b", "b", 40, 'b'), 100, 3),
              StoreResult::Ok);
    // A third file would pass two files.
    EXPECT_EQ(files.AddWithinLimits(StoredFile("alice", "c", "c", 0, 'c'), 100, 2),
              StoreResult::OverLimit);
    // Another user's limits are their own; a taken name is still "exists".
    EXPECT_EQ(files.AddWithinLimits(StoredFile("bob", "a", "a", 100, 'a'), 100, 1),
              StoreResult::Ok);
    EXPECT_EQ(files.AddWithinLimits(StoredFile("alice", "x", "a", 0, 'x'), 100, 3),
              StoreResult::Exists);

    // Many at once for one user: exactly as many as fit.
    std::atomic<int> added{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                std::string name = "f" + std::to_string(t) + "-" + std::to_string(i);
                if (files.AddWithinLimits(StoredFile("carol", name, name, 10, 'c'), 1000, 15) ==
                    StoreResult::Ok)
                    ++added;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(added, 15);
    std::uint64_t bytes = 0, count = 0;
    ASSERT_EQ(files.Usage("carol", bytes, count), StoreResult::Ok);
    EXPECT_EQ(count, 15u);
    EXPECT_EQ(bytes, 150u);
}

TEST_P(Storage, ManyThreadsAtOnceOnFewConnections) {
    AccountStore& accounts = Open(2).Accounts();
    constexpr int kThreads = 6, kEach = 40;
    std::atomic<int> added{0}, exists{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                // Every second name is wanted by two threads: exactly one of them gets it.
                std::string name = "user" + std::to_string(i % 2 ? i : t * 1000 + i);
                StoreResult result = accounts.Add(StoredAccount(name, "$h"));
                if (result == StoreResult::Ok)
                    ++added;
                else if (result == StoreResult::Exists)
                    ++exists;
            }
        });
    for (auto& thread : threads)
        thread.join();
    int unique = kThreads * (kEach / 2) + kEach / 2;
    EXPECT_EQ(added, unique);
    EXPECT_EQ(exists, kThreads * kEach - unique);
    std::uint64_t count = 0;
    ASSERT_EQ(accounts.Count(count), StoreResult::Ok);
    EXPECT_EQ(count, static_cast<std::uint64_t>(unique));
}

INSTANTIATE_TEST_SUITE_P(BothDatabases, Storage,
                         ::testing::Values(StorageKind::SQLite, StorageKind::PostgreSQL),
                         StorageKindName);

// PostgreSQL only: what SQLite has no counterpart for.

TEST(PostgresStorage, SeveralInstancesSettingUpTheSchemaAtOnceAllSucceed) {
    PostgresCluster cluster;
    PELORA_START_POSTGRES_OR_SKIP(cluster);
    std::string error;
    ASSERT_TRUE(cluster.CreateDatabase("pelora", error)) << error;
    constexpr int kInstances = 4;
    std::vector<std::unique_ptr<StorageBackend>> instances;
    std::vector<std::string> errors(kInstances);
    std::vector<int> opened(kInstances, 0);
    for (int i = 0; i < kInstances; ++i)
        instances.push_back(MakeStorage(cluster.Url("pelora"), "", 1));
    std::vector<std::thread> threads;
    for (int i = 0; i < kInstances; ++i)
        threads.emplace_back([&, i] { opened[i] = instances[i]->Open(errors[i]) ? 1 : 0; });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < kInstances; ++i)
        EXPECT_EQ(opened[i], 1) << errors[i];
    // One version row a step: each step ran once.
    PGconn* connection = PQconnectdb(cluster.Url("pelora").c_str());
    PGresult* result = PQexec(connection, "SELECT count(*), max(version) FROM pelora_schema");
    ASSERT_EQ(PQresultStatus(result), PGRES_TUPLES_OK);
    EXPECT_EQ(std::atoi(PQgetvalue(result, 0, 0)), kStorageSchemaVersion);
    EXPECT_EQ(std::atoi(PQgetvalue(result, 0, 1)), kStorageSchemaVersion);
    PQclear(result);
    PQfinish(connection);
}

TEST(PostgresStorage, AnUnreachableDatabaseIsAClearErrorWithoutThePassword) {
    TempFolder folder;
    // A socket folder where no server listens.
    auto storage = MakeStorage(
        "postgresql://pelora:hush@/pelora?host=" + folder.Path() + "&connect_timeout=5", "", 1);
    std::string error;
    EXPECT_FALSE(storage->Open(error));
    EXPECT_NE(error.find("cannot connect"), std::string::npos) << error;
    EXPECT_EQ(error.find("hush"), std::string::npos) << error;
    EXPECT_EQ(storage->Describe().find("hush"), std::string::npos) << storage->Describe();
}

TEST(PostgresStorage, ComesBackAfterTheDatabaseRestarts) {
    PostgresCluster cluster;
    PELORA_START_POSTGRES_OR_SKIP(cluster);
    std::string error;
    ASSERT_TRUE(cluster.CreateDatabase("pelora", error)) << error;
    auto storage = MakeStorage(cluster.Url("pelora"), "", 1);
    ASSERT_TRUE(storage->Open(error)) << error;
    ASSERT_EQ(storage->Accounts().Add(StoredAccount("alice", "$h")), StoreResult::Ok);
    // Every connection of the server is ended from the database's side.
    PGconn* admin = PQconnectdb(cluster.Url("pelora").c_str());
    PGresult* ended = PQexec(admin, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                    "WHERE pid <> pg_backend_pid() AND datname = 'pelora'");
    ASSERT_EQ(PQresultStatus(ended), PGRES_TUPLES_OK) << PQerrorMessage(admin);
    PQclear(ended);
    PQfinish(admin);
    AccountRecord found;
    // The call on the broken connection fails; the next one connects again.
    StoreResult first = storage->Accounts().Find("alice", found);
    EXPECT_TRUE(first == StoreResult::Ok || first == StoreResult::Failed);
    EXPECT_EQ(storage->Accounts().Find("alice", found), StoreResult::Ok);
    EXPECT_EQ(found.passwordHash, "$h");
}

TEST(PgPool, ACallThatFindsNoFreeConnectionInTimeFailsSayingSo) {
    // No database is needed: the one connection is leased and never used.
    PgPool pool("postgresql:///nowhere", 1, std::chrono::milliseconds(100));
    PgPool::Lease held = pool.Acquire();
    ASSERT_TRUE(held);
    TakeStoreFailure();
    auto started = std::chrono::steady_clock::now();
    PgResult result = pool.Run("nothing", "SELECT 1", {});
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_EQ(result.status(), PgResult::Status::Failed);
    EXPECT_NE(result.Error().find("no connection to the database came free within 100 ms"),
              std::string::npos)
        << result.Error();
    EXPECT_NE(TakeStoreFailure().find("came free"), std::string::npos);
    EXPECT_FALSE(pool.Acquire()) << "still held";
}
