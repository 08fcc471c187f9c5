// Receiving the users' data files (see data_files.h).
#include "data_files.h"

#include "disk.h"
#include "server_log.h"

#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <sodium.h>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

namespace {

constexpr const char* kTemporaryPrefix = ".incoming-";

using Kind = DataFiles::Outcome::Kind;
using Refusal = DataFiles::Refusal;

DataFiles::Outcome Refuse(Refusal refusal) {
    DataFiles::Outcome outcome;
    outcome.kind = Kind::Refused;
    outcome.refusal = refusal;
    return outcome;
}

DataFiles::Outcome DiskProblem(int error) {
    DataFiles::Outcome outcome =
        Refuse(error == ENOSPC || error == EDQUOT || error == EFBIG ? Refusal::DiskFull
                                                                    : Refusal::DiskFailed);
    outcome.systemError = error;
    return outcome;
}

DataFiles::Outcome Done(Kind kind, std::string storedAs = "") {
    DataFiles::Outcome outcome;
    outcome.kind = kind;
    outcome.storedAs = std::move(storedAs);
    return outcome;
}

bool HashOfFile(const std::string& path, std::string& sha256) {
    std::string bytes, error;
    if (!ReadFile(path, bytes, error))
        return false;
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    sha256.assign(reinterpret_cast<char*>(digest), sizeof digest);
    return true;
}

} // namespace

struct IncomingFile::Hashing {
    crypto_hash_sha256_state state;
};

IncomingFile::~IncomingFile() {
    Discard();
}

void IncomingFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!kept_ && !temporaryPath_.empty()) {
        ::unlink(temporaryPath_.c_str());
        temporaryPath_.clear();
    }
}

std::string HexOf(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        hex += digits[b >> 4];
        hex += digits[b & 0x0F];
    }
    return hex;
}

std::string ConflictName(const std::string& name, const std::string& sha256, int attempt) {
    std::string tag = "-" + HexOf(sha256).substr(0, 8);
    if (attempt > 1)
        tag += "-" + std::to_string(attempt);
    auto dot = name.find('.');
    if (dot == std::string::npos)
        return name + tag;
    return name.substr(0, dot) + tag + name.substr(dot);
}

DataFiles::DataFiles(std::string usersFolder, FileRecordStore& records, FileLimits limits)
    : usersFolder_(std::move(usersFolder)), records_(records), limits_(limits) {}

std::string DataFiles::UserFolder(const std::string& user) const {
    return JoinPath(usersFolder_, user);
}

std::size_t DataFiles::RemoveLeftovers() {
    std::size_t removed = 0;
    for (const std::string& user : ListFolder(usersFolder_)) {
        std::string folder = UserFolder(user);
        for (const std::string& name : ListFolder(folder))
            if (name.rfind(kTemporaryPrefix, 0) == 0 &&
                ::unlink(JoinPath(folder, name).c_str()) == 0)
                ++removed;
    }
    return removed;
}

DataFiles::Outcome DataFiles::Offer(const std::string& user, const std::string& name,
                                    std::uint64_t size, const std::string& sha256,
                                    std::unique_ptr<IncomingFile>& incoming) {
    incoming.reset();
    // The guest account is shared: what it sent would be no one's.
    if (names::IsGuestName(user))
        return Refuse(Refusal::GuestKeepsNoFiles);
    auto problem = wire::CheckDataFileName(name);
    if (problem != wire::FileNameProblem::None) {
        Outcome outcome = Refuse(Refusal::BadName);
        outcome.nameProblem = problem;
        return outcome;
    }
    if (size > limits_.maxFileBytes)
        return Refuse(Refusal::TooLarge);

    FileRecord record;
    switch (records_.FindSame(user, name, size, sha256, record)) {
    case StoreResult::Ok:
        return Done(Kind::AlreadyStored, record.storedName);
    case StoreResult::NotFound:
        break;
    default:
        return Refuse(Refusal::RecordsUnavailable);
    }

    // A file in place without a record is what a crash between the rename and the record
    // leaves: when it is this very file, it is adopted instead of stored twice.
    std::string folder = UserFolder(user);
    std::string existing = JoinPath(folder, name);
    struct stat info;
    bool taken = false;
    if (::stat(existing.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::uint64_t>(info.st_size) == size &&
        records_.StoredNameTaken(user, name, taken) == StoreResult::Ok && !taken) {
        std::string onDisk;
        if (HashOfFile(existing, onDisk) && onDisk == sha256) {
            record = FileRecord{user, name, name, size, sha256, std::time(nullptr)};
            if (records_.Add(record) == StoreResult::Ok)
                return Done(Kind::AlreadyStored, name);
        }
    }

    // Checked again, with the record, when the file is stored (see Finish).
    std::uint64_t usedBytes = 0, usedFiles = 0;
    if (records_.Usage(user, usedBytes, usedFiles) != StoreResult::Ok)
        return Refuse(Refusal::RecordsUnavailable);
    if (usedFiles >= limits_.maxUserFiles)
        return Refuse(Refusal::TooManyFiles);
    if (usedBytes + size > limits_.maxUserBytes)
        return Refuse(Refusal::NoSpace);

    if (!MakeUserFolder(folder))
        return DiskProblem(errno);
    std::unique_ptr<IncomingFile> file(new IncomingFile);
    file->user_ = user;
    file->offeredName_ = name;
    file->folder_ = folder;
    file->size_ = size;
    file->sha256_ = sha256;
    file->temporaryPath_ = JoinPath(folder, std::string(kTemporaryPrefix) + "XXXXXX");
    file->fd_ = ::mkostemp(file->temporaryPath_.data(), O_CLOEXEC);
    if (file->fd_ < 0) {
        int saved = errno;
        file->temporaryPath_.clear();
        return DiskProblem(saved);
    }
    ::fchmod(file->fd_, 0600);
    file->hashing_ = std::make_unique<IncomingFile::Hashing>();
    crypto_hash_sha256_init(&file->hashing_->state);
    if (size == 0)
        return Finish(*file);
    incoming = std::move(file);
    return Done(Kind::Send);
}

DataFiles::Outcome DataFiles::Write(IncomingFile& file, std::uint64_t offset,
                                    std::string_view data) {
    Outcome outcome = WriteChunk(file, offset, data);
    if (outcome.kind == Outcome::Kind::Refused)
        file.Discard();
    return outcome;
}

DataFiles::Outcome DataFiles::WriteChunk(IncomingFile& file, std::uint64_t offset,
                                         std::string_view data) {
    if (offset != file.received_) {
        Outcome outcome = Refuse(Refusal::OutOfOrder);
        outcome.offset = offset;
        outcome.expected = file.received_;
        return outcome;
    }
    if (data.size() > file.size_ - file.received_)
        return Refuse(Refusal::TooManyBytes);
    const char* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(file.fd_, at, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return DiskProblem(errno);
        }
        at += written;
        left -= static_cast<std::size_t>(written);
    }
    crypto_hash_sha256_update(&file.hashing_->state,
                              reinterpret_cast<const unsigned char*>(data.data()), data.size());
    file.received_ += data.size();
    if (file.received_ < file.size_)
        return Done(Kind::Send);
    return Finish(file);
}

DataFiles::Outcome DataFiles::PickStoredName(IncomingFile& file, std::string& storedName) {
    // link() never replaces an existing name, so two files can never end up under one name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        storedName = attempt == 0 ? file.offeredName_
                                  : ConflictName(file.offeredName_, file.sha256_, attempt);
        bool taken = false;
        if (records_.StoredNameTaken(file.user_, storedName, taken) != StoreResult::Ok)
            return Refuse(Refusal::RecordsUnavailable);
        if (taken)
            continue;
        if (::link(file.temporaryPath_.c_str(), JoinPath(file.folder_, storedName).c_str()) == 0)
            return Done(Kind::Stored, storedName);
        if (errno != EEXIST)
            return DiskProblem(errno);
    }
    return Refuse(Refusal::NoFreeName);
}

DataFiles::Outcome DataFiles::Finish(IncomingFile& file) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&file.hashing_->state, digest);
    if (std::string(reinterpret_cast<char*>(digest), sizeof digest) != file.sha256_)
        return Refuse(Refusal::Damaged);
    if (::fsync(file.fd_) != 0 || ::close(file.fd_) != 0) {
        file.fd_ = -1;
        return DiskProblem(errno);
    }
    file.fd_ = -1;

    std::string storedName;
    Outcome picked = PickStoredName(file, storedName);
    if (picked.kind == Kind::Refused)
        return picked;
    std::string storedPath = JoinPath(file.folder_, storedName);
    ::unlink(file.temporaryPath_.c_str());
    file.temporaryPath_.clear();
    SyncFolder(file.folder_);

    // The limits are checked again with the record, in one transaction: another session of
    // the same user may have stored a file since the offer.
    FileRecord record{file.user_, file.offeredName_, storedName,
                      file.size_, file.sha256_,      std::time(nullptr)};
    StoreResult added =
        records_.AddWithinLimits(record, limits_.maxUserBytes, limits_.maxUserFiles);
    if (added != StoreResult::Ok) {
        ::unlink(storedPath.c_str());
        if (added == StoreResult::OverLimit)
            return Refuse(Refusal::NoSpace);
        return Refuse(Refusal::RecordsUnavailable);
    }
    file.kept_ = true;
    return picked;
}

// Makes the user's folder; a new one is made durable in the users' folder too, so a stored
// file is never lost with the folder that holds it.
bool DataFiles::MakeUserFolder(const std::string& folder) {
    if (PathExists(folder))
        return true;
    std::string error;
    if (!MakeFolders(folder, 0700, error))
        return false;
    SyncFolder(usersFolder_);
    return true;
}

std::vector<std::string> DataFiles::SettleUnrecorded(const std::string& asideFolder) {
    std::vector<std::string> lines;
    for (const std::string& user : ListFolder(usersFolder_)) {
        std::string folder = UserFolder(user);
        for (const std::string& name : ListFolder(folder)) {
            std::string path = JoinPath(folder, name);
            struct stat info;
            bool taken = true;
            if (name.front() == '.' || ::lstat(path.c_str(), &info) != 0 ||
                !S_ISREG(info.st_mode) ||
                records_.StoredNameTaken(user, name, taken) != StoreResult::Ok || taken)
                continue;
            std::string sha256;
            auto size = static_cast<std::uint64_t>(info.st_size);
            FileRecord record{user, name, name, size, "", static_cast<std::int64_t>(info.st_mtime)};
            StoreResult added = StoreResult::Failed;
            if (size <= limits_.maxFileBytes && HashOfFile(path, record.sha256))
                added =
                    records_.AddWithinLimits(record, limits_.maxUserBytes, limits_.maxUserFiles);
            std::string what = "file " + LogQuoted(name) + " of " + LogQuoted(user) +
                               " found stored without a record";
            if (added == StoreResult::Ok) {
                lines.push_back(what + ": recorded (" + std::to_string(size) + " bytes)");
                continue;
            }
            std::string aside = JoinPath(asideFolder, user);
            std::string error;
            if (MakeFolders(aside, 0700, error) &&
                ::rename(path.c_str(), JoinPath(aside, name).c_str()) == 0) {
                SyncFolder(aside);
                SyncFolder(folder);
                lines.push_back(what + ": " +
                                (added == StoreResult::OverLimit || size > limits_.maxFileBytes
                                     ? "over the user's limits"
                                     : "not recordable") +
                                ", set aside in " + aside);
            } else {
                lines.push_back(what + ": could not be recorded or set aside");
            }
        }
    }
    return lines;
}

} // namespace server
