// The data folder's setup lock (see folder_lock.h).
#include "folder_lock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace server {

FolderLock::~FolderLock() {
    Release();
}

bool FolderLock::Take(const std::string& path, std::string& error) {
    Release();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        error = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return false;
    }
    int result;
    while ((result = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        error = "cannot lock " + path + ": " + std::strerror(errno);
        Release();
        return false;
    }
    return true;
}

void FolderLock::Release() {
    if (fd_ >= 0) {
        ::close(fd_); // closing lets go of the lock
        fd_ = -1;
    }
}

} // namespace server
