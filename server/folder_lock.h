// An exclusive lock on a file in a folder, held while an object lives: instances given one data
// folder take it while they make or read the sealing keys and the certificate, so two starting
// at once never make two different pairs. flock(2); on an NFS mount Linux maps it to the
// server's byte-range locks.
#pragma once

#include <string>

namespace server {

class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Waits for the lock on `path` (made when missing); false with a sentence in `error`.
    bool Take(const std::string& path, std::string& error);
    void Release();

private:
    int fd_ = -1;
};

} // namespace server
