// The SQLite stores: one database file in the data folder (pelora-server.db), one table per
// store, the schema versioned with PRAGMA user_version.
#pragma once

#include "database.h"
#include "storage.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace server {

// Opens (or creates) the database and brings its schema up to date.
bool OpenServerDatabase(Database& database, const std::string& path, std::string& error);

// A write's last step as a store's outcome: Ok when done, Exists on a key already taken.
StoreResult OutcomeOf(Statement::Step step);

class SqliteAccountStore : public AccountStore {
public:
    explicit SqliteAccountStore(Database& database) : database_(database) {}
    StoreResult Find(const std::string& name, AccountRecord& account) override;
    StoreResult Add(const AccountRecord& account) override;
    StoreResult UpdateHash(const std::string& name, const std::string& passwordHash) override;
    StoreResult Count(std::uint64_t& accounts) override;

private:
    Database& database_;
};

class SqliteFileRecordStore : public FileRecordStore {
public:
    // `reader`, a second connection to the same file, serves the look-ups, so they need not
    // wait while a commit flushes; by default the one connection serves all.
    explicit SqliteFileRecordStore(Database& database) : database_(database), reader_(database) {}
    SqliteFileRecordStore(Database& database, Database& reader)
        : database_(database), reader_(reader) {}
    StoreResult FindSame(const std::string& user, const std::string& offeredName,
                         std::uint64_t size, const std::string& sha256,
                         FileRecord& record) override;
    StoreResult StoredNameTaken(const std::string& user, const std::string& storedName,
                                bool& taken) override;
    StoreResult Add(const FileRecord& record) override;
    StoreResult AddWithinLimits(const FileRecord& record, std::uint64_t maxBytes,
                                std::uint64_t maxFiles) override;
    StoreResult Usage(const std::string& user, std::uint64_t& bytes, std::uint64_t& files) override;

private:
    struct PendingAdd {
        const FileRecord* record;
        std::uint64_t maxBytes;
        std::uint64_t maxFiles;
        StoreResult result = StoreResult::Failed;
        bool done = false;
    };
    void CommitBatch(const std::vector<PendingAdd*>& batch);
    StoreResult Insert(const FileRecord& record);

    Database& database_;
    Database& reader_;
    // Group commit: records added at about the same time share one transaction, and so one
    // flush of the database. The first caller to find no commit under way commits for all.
    std::mutex batchMutex_;
    std::condition_variable batchDone_;
    std::vector<PendingAdd*> waiting_;
    bool committing_ = false;
};

} // namespace server
