// The PostgreSQL stores, for several server instances on one database: the same tables and
// schema versions as the SQLite stores (sqlite_storage.h), kept in pelora_schema, plus the
// tables through which running instances see each other (instances, presence; cluster.h).
// Every call leases a pooled connection and runs one prepared statement.
#pragma once

#include "pg_connection.h"
#include "storage.h"

#include <string>

namespace server {

// Creates the tables or brings them up to date, one instance at a time (an advisory lock), and
// refuses a database whose schema is newer than this server knows.
bool OpenPostgresSchema(PgPool& pool, std::string& error);

class PgAccountStore : public AccountStore {
public:
    explicit PgAccountStore(PgPool& pool) : pool_(pool) {}
    StoreResult Find(const std::string& name, AccountRecord& account) override;
    StoreResult Add(const AccountRecord& account) override;
    StoreResult UpdateHash(const std::string& name, const std::string& passwordHash) override;
    StoreResult Count(std::uint64_t& accounts) override;

private:
    PgPool& pool_;
};

class PgFileRecordStore : public FileRecordStore {
public:
    explicit PgFileRecordStore(PgPool& pool) : pool_(pool) {}
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
    PgPool& pool_;
};

} // namespace server
