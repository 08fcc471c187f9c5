// The users' data files and their rules: what to do with an offer (already stored, send it,
// or refused and why: the guest keeps none, the name, the size, the user's space and count),
// the bytes of a transfer written to a hidden temporary file beside the user's other files and
// hashed as they come, and the verified file moved into place under a name that never
// overwrites another file. Outcomes are typed; the session says them in words. A transfer that
// does not end in a stored file leaves nothing behind: its temporary goes with it, and any left
// by a crash go at the next start, where files stored but never recorded are settled too.
// Blocking disk work: call it from a worker thread.
#pragma once

#include "storage.h"

#include "protocol/message_checks.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace server {

struct FileLimits {
    std::uint64_t maxFileBytes = 16ull * 1024 * 1024;
    std::uint64_t maxUserBytes = 256ull * 1024 * 1024;
    std::uint64_t maxUserFiles = 10000;
};

class IncomingFile;

class DataFiles {
public:
    DataFiles(std::string usersFolder, FileRecordStore& records, FileLimits limits);

    // Deletes the temporaries a crash left in the users' folders; gives how many.
    std::size_t RemoveLeftovers();

    // Why a file was not taken. Those from DiskFull on are the server's fault, not the file's.
    enum class Refusal {
        None,
        GuestKeepsNoFiles,
        BadName,      // see `nameProblem`
        TooLarge,     // over the largest file taken
        TooManyFiles, // the user keeps as many files as allowed
        NoSpace,      // the file does not fit in the user's space
        OutOfOrder,   // a chunk not at `expected`
        TooManyBytes, // more than the offered size
        Damaged,      // the SHA-256 differs
        DiskFull,
        DiskFailed, // see `systemError`
        RecordsUnavailable,
        NoFreeName,
    };

    struct Outcome {
        enum class Kind { Send, Stored, AlreadyStored, Refused };
        Kind kind = Kind::Refused;
        Refusal refusal = Refusal::None;
        wire::FileNameProblem nameProblem = wire::FileNameProblem::None;
        int systemError = 0;        // errno, for DiskFailed
        std::uint64_t offset = 0;   // for OutOfOrder: the chunk's offset...
        std::uint64_t expected = 0; // ...and the bytes received
        std::string storedAs;       // for Stored and AlreadyStored
        bool ServerFault() const { return refusal >= Refusal::DiskFull; }
    };

    const FileLimits& Limits() const { return limits_; }

    // Files found in the users' folders with no record, which a crash between storing and
    // recording leaves: recorded when they fit the user's limits, else moved to
    // `asideFolder`/<user>/. One sentence per file, for the log.
    std::vector<std::string> SettleUnrecorded(const std::string& asideFolder);

    // Judges an offer. With Send, `incoming` holds the open transfer; an empty file is stored
    // at once (Stored).
    Outcome Offer(const std::string& user, const std::string& name, std::uint64_t size,
                  const std::string& sha256, std::unique_ptr<IncomingFile>& incoming);

    // Takes one chunk. Send means more bytes are awaited; Stored or Refused end the transfer,
    // and with Refused nothing of the file is left on disk by the time this returns.
    Outcome Write(IncomingFile& file, std::uint64_t offset, std::string_view data);

    std::string UserFolder(const std::string& user) const;

private:
    Outcome WriteChunk(IncomingFile& file, std::uint64_t offset, std::string_view data);
    Outcome Finish(IncomingFile& file);
    Outcome PickStoredName(IncomingFile& file, std::string& storedName);
    bool MakeUserFolder(const std::string& folder);

    std::string usersFolder_;
    FileRecordStore& records_;
    FileLimits limits_;
};

// One transfer in progress. Destroying it before it was stored deletes its temporary file.
class IncomingFile {
public:
    ~IncomingFile();
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    const std::string& Name() const { return offeredName_; }
    std::uint64_t Size() const { return size_; }
    std::uint64_t Received() const { return received_; }

    // Deletes what has arrived, at once. A transfer's last reference may be dropped later on
    // a worker thread; a refusal or cancel is answered only after this, so the client never
    // sees a temporary that outlives its answer.
    void Discard();

private:
    friend class DataFiles;
    IncomingFile() = default;

    std::string user_;
    std::string offeredName_;
    std::string folder_;
    std::string temporaryPath_;
    std::string sha256_;
    std::uint64_t size_ = 0;
    std::uint64_t received_ = 0;
    int fd_ = -1;
    bool kept_ = false;
    struct Hashing;
    std::unique_ptr<Hashing> hashing_;
};

// The name a file is kept under when another file already has its name: the first eight hex
// digits of its hash go before the first dot ("data-1.txt.sealed" -> "data-1-1a2b3c4d.txt.sealed"),
// with "-2", "-3"... after them when even that is taken.
std::string ConflictName(const std::string& name, const std::string& sha256, int attempt);

std::string HexOf(std::string_view bytes);

} // namespace server
