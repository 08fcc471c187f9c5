// One data file on its way to the server: the file opened, measured and hashed for the offer,
// read chunk by chunk as the socket takes it (so a 16 MiB file never sits in memory whole),
// and, once the server has confirmed it, moved into the user's sent/ folder, out of the
// "data*" pattern that the upload picks files by. Until the confirmation the file stays where
// it is, so a transfer that breaks off loses nothing and is simply offered again next time.
#pragma once

#include "protocol/messages.pb.h"

#include <QFile>

#include <cstdint>
#include <memory>
#include <string>

class FileUpload {
public:
    // Opens `userFolder`/`name` (the folder ends with a separator). False with a sentence when
    // the file cannot or may not be sent: not a plain data-file name, missing, unreadable, or
    // larger than `maxBytes` (0: no limit known).
    bool Open(const std::string& userFolder, const std::string& name, std::uint64_t maxBytes,
              std::string& error);

    const pelora::wire::FileOffer& Offer() const { return offer_; }
    const std::string& Name() const { return name_; }
    std::uint64_t Size() const { return offer_.size(); }
    std::uint64_t Offset() const { return offset_; }
    bool AllRead() const { return offset_ >= offer_.size(); }

    // The next piece of at most `maxBytes`; false with a sentence when the file cannot be read
    // (or has become shorter since it was hashed).
    bool NextChunk(std::size_t maxBytes, pelora::wire::FileChunk& chunk, std::string& error);

    // Moves the file into sent/ beside it; `movedTo` gets the new path. A file of that name
    // already there is kept: the new one gets a number after its name.
    bool MoveToSent(std::string& movedTo, std::string& error);

private:
    std::string folder_, name_;
    std::unique_ptr<QFile> file_;
    pelora::wire::FileOffer offer_;
    std::uint64_t offset_ = 0;
};
