// Receiving the users' data files (see data_files.h).
#include "data_files.h"

#include "disk.h"
#include "protocol/message_checks.h"

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

DataFiles::Outcome Refuse(std::string message, bool serverFault = false) {
    DataFiles::Outcome outcome;
    outcome.kind = Kind::Refused;
    outcome.message = std::move(message);
    outcome.serverFault = serverFault;
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

std::string SizeText(std::uint64_t bytes) {
    if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
        return std::to_string(bytes / (1024 * 1024)) + " MiB";
    if (bytes >= 1024 && bytes % 1024 == 0)
        return std::to_string(bytes / 1024) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string DiskProblem(int error) {
    if (error == ENOSPC || error == EDQUOT || error == EFBIG)
        return "The server's disk is full; the file was not stored. Please try again later.";
    return "The server could not write the file (" + ErrnoText(error) +
           "); it was not stored. Please try again later.";
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
    auto problem = wire::CheckDataFileName(name);
    if (problem != wire::FileNameProblem::None)
        return Refuse(wire::DescribeFileNameProblem(problem));
    if (size > limits_.maxFileBytes)
        return Refuse("The file is larger than the server takes (" +
                      SizeText(limits_.maxFileBytes) + ").");

    FileRecord record;
    switch (records_.FindSame(user, name, size, sha256, record)) {
    case StoreResult::Ok: {
        Outcome outcome;
        outcome.kind = Kind::AlreadyStored;
        outcome.storedAs = record.storedName;
        return outcome;
    }
    case StoreResult::NotFound:
        break;
    default:
        return Refuse("The server could not read its file records; please try again later.", true);
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
            if (records_.Add(record) == StoreResult::Ok) {
                Outcome outcome;
                outcome.kind = Kind::AlreadyStored;
                outcome.storedAs = name;
                return outcome;
            }
        }
    }

    std::uint64_t usedBytes = 0, usedFiles = 0;
    if (records_.Usage(user, usedBytes, usedFiles) != StoreResult::Ok)
        return Refuse("The server could not read its file records; please try again later.", true);
    if (usedFiles >= limits_.maxUserFiles)
        return Refuse("The server keeps at most " + std::to_string(limits_.maxUserFiles) +
                      " files for one user, and this user has them all.");
    if (usedBytes + size > limits_.maxUserBytes)
        return Refuse("The file does not fit in this user's space on the server (" +
                      SizeText(limits_.maxUserBytes) + ").");

    std::string error;
    if (!MakeFolders(folder, 0700, error))
        return Refuse("The server could not make the user's folder; please try again later.", true);
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
        return Refuse(DiskProblem(saved), true);
    }
    ::fchmod(file->fd_, 0640);
    file->hashing_ = std::make_unique<IncomingFile::Hashing>();
    crypto_hash_sha256_init(&file->hashing_->state);
    if (size == 0)
        return Finish(*file);
    incoming = std::move(file);
    Outcome outcome;
    outcome.kind = Kind::Send;
    return outcome;
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
    if (offset != file.received_)
        return Refuse("A piece of the file came out of order (at byte " + std::to_string(offset) +
                      ", expected " + std::to_string(file.received_) + ").");
    if (data.size() > file.size_ - file.received_)
        return Refuse("More bytes came than the file's size (" + std::to_string(file.size_) +
                      ") announced.");
    const char* at = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t written = ::write(file.fd_, at, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Refuse(DiskProblem(errno), true);
        }
        at += written;
        left -= static_cast<std::size_t>(written);
    }
    crypto_hash_sha256_update(&file.hashing_->state,
                              reinterpret_cast<const unsigned char*>(data.data()), data.size());
    file.received_ += data.size();
    if (file.received_ < file.size_) {
        Outcome outcome;
        outcome.kind = Kind::Send;
        return outcome;
    }
    return Finish(file);
}

bool DataFiles::PickStoredName(IncomingFile& file, std::string& storedName, std::string& error) {
    // link() never replaces an existing name, so two files can never end up under one name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        storedName = attempt == 0 ? file.offeredName_
                                  : ConflictName(file.offeredName_, file.sha256_, attempt);
        bool taken = false;
        if (records_.StoredNameTaken(file.user_, storedName, taken) != StoreResult::Ok) {
            error = "The server could not read its file records; please try again later.";
            return false;
        }
        if (taken)
            continue;
        if (::link(file.temporaryPath_.c_str(), JoinPath(file.folder_, storedName).c_str()) == 0)
            return true;
        if (errno != EEXIST) {
            error = DiskProblem(errno);
            return false;
        }
    }
    error = "The server could not find a free name for the file.";
    return false;
}

DataFiles::Outcome DataFiles::Finish(IncomingFile& file) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&file.hashing_->state, digest);
    if (std::string(reinterpret_cast<char*>(digest), sizeof digest) != file.sha256_)
        return Refuse("The file arrived damaged (its SHA-256 differs); please send it again.");
    if (::fsync(file.fd_) != 0 || ::close(file.fd_) != 0) {
        file.fd_ = -1;
        return Refuse(DiskProblem(errno), true);
    }
    file.fd_ = -1;

    std::string storedName, error;
    if (!PickStoredName(file, storedName, error))
        return Refuse(error, true);
    std::string storedPath = JoinPath(file.folder_, storedName);
    ::unlink(file.temporaryPath_.c_str());
    file.temporaryPath_.clear();
    SyncFolder(file.folder_);

    FileRecord record{file.user_, file.offeredName_, storedName,
                      file.size_, file.sha256_,      std::time(nullptr)};
    if (records_.Add(record) != StoreResult::Ok) {
        ::unlink(storedPath.c_str());
        return Refuse("The server could not record the file; please try again later.", true);
    }
    file.kept_ = true;
    Outcome outcome;
    outcome.kind = Kind::Stored;
    outcome.storedAs = storedName;
    return outcome;
}

} // namespace server
