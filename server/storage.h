// What the server keeps between runs, behind two small interfaces so that another database
// can stand behind them later: the accounts, and the records of the data files received. The
// embedded default is SQLite (sqlite_storage.h). Every call is safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace server {

// The version of the tables both databases hold; a server refuses a database whose schema is
// newer, and brings an older one up to this. 1: accounts and file records; 2: the staff view's
// drives and staff accounts.
inline constexpr int kStorageSchemaVersion = 2;

// Typed outcome of a storage call; the caller turns it into a reply and a log line.
enum class StoreResult {
    Ok,
    NotFound,
    Exists,    // a record with that key is there already
    OverLimit, // the record would pass a limit the caller set
    Failed,    // the database could not be read or written
};

// What the last store call on this thread that failed said ("connection to server ... failed:
// Connection refused"), for the log line of whoever turns the failure into a reply. Calls that
// succeed leave it; TakeStoreFailure empties it.
inline std::string& StoreFailureNote() {
    thread_local std::string note;
    return note;
}
inline void NoteStoreFailure(const std::string& what) {
    StoreFailureNote() = what;
}
inline std::string TakeStoreFailure() {
    std::string note;
    note.swap(StoreFailureNote());
    return note;
}

struct AccountRecord {
    std::string name;
    std::string passwordHash;   // an argon2id string: algorithm, parameters, salt and hash
    std::int64_t createdAt = 0; // seconds since 1970
};

class AccountStore {
public:
    virtual ~AccountStore() = default;
    virtual StoreResult Find(const std::string& name, AccountRecord& account) = 0;
    virtual StoreResult Add(const AccountRecord& account) = 0;
    virtual StoreResult UpdateHash(const std::string& name, const std::string& passwordHash) = 0;
    virtual StoreResult Count(std::uint64_t& accounts) = 0;
};

struct FileRecord {
    std::string user;
    std::string offeredName; // the name the client sent
    std::string storedName;  // the name in the user's folder
    std::uint64_t size = 0;
    std::string sha256; // 32 bytes
    std::int64_t receivedAt = 0;
};

class FileRecordStore {
public:
    virtual ~FileRecordStore() = default;
    // A stored file of this user with the same offered name, size and hash.
    virtual StoreResult FindSame(const std::string& user, const std::string& offeredName,
                                 std::uint64_t size, const std::string& sha256,
                                 FileRecord& record) = 0;
    // Whether a record already uses this stored name in the user's folder.
    virtual StoreResult StoredNameTaken(const std::string& user, const std::string& storedName,
                                        bool& taken) = 0;
    virtual StoreResult Add(const FileRecord& record) = 0;
    // Adds the record only when the user's files, this one counted, stay within `maxBytes`
    // and `maxFiles` (OverLimit otherwise): the check and the insert are one transaction.
    virtual StoreResult AddWithinLimits(const FileRecord& record, std::uint64_t maxBytes,
                                        std::uint64_t maxFiles) = 0;
    // Bytes and files kept for the user.
    virtual StoreResult Usage(const std::string& user, std::uint64_t& bytes,
                              std::uint64_t& files) = 0;
};

} // namespace server
