// Durable writes, reads and folders (see disk.h).
#include "disk.h"

#include "durable/durable_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

namespace {

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now, reporting the error a late write may only show at close.
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Closes a folder listing on every way out.
class FolderHandle {
public:
    explicit FolderHandle(const std::string& path) : dir_(::opendir(path.c_str())) {}
    ~FolderHandle() {
        if (dir_)
            ::closedir(dir_);
    }
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;
    DIR* Get() const { return dir_; }

private:
    DIR* dir_;
};

} // namespace

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    FolderHandle dir(folder);
    if (!dir.Get())
        return names;
    while (dirent* entry = ::readdir(dir.Get())) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    return names;
}

std::string ErrnoText(int error) {
    return std::strerror(error);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

bool PathExists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

bool SyncFolder(const std::string& path) {
    return durable::SyncFolder(path);
}

// The steps are the project's one durable writer's; a failed flush of the folder after the
// rename still counts as written, as the file is in place.
bool WriteFileDurably(const std::string& path, const std::string& bytes, mode_t mode,
                      std::string& error, Existing existing) {
    durable::WriteOptions options;
    options.mode = mode;
    options.keepExisting = existing == Existing::Keep;
    const durable::WriteOutcome outcome = durable::WriteFile(path, bytes, options);
    if (outcome.replaced)
        return true;
    if (outcome.failedStep == durable::Step::CreateTemporary)
        error = "cannot create a file beside " + path + ": " + ErrnoText(outcome.error);
    else
        error = "cannot write " + path + ": " + ErrnoText(outcome.error);
    errno = outcome.error;
    return false;
}

bool CheckPrivateFolder(const std::string& path, std::string& error) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        error = "cannot look at the folder " + path + ": " + ErrnoText(errno);
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = "the folder " + path + " belongs to another user; the server keeps its data " +
                "only in a folder of its own (chown it to the server's user)";
        return false;
    }
    if (info.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        error = "the folder " + path + " may be written by others (mode " + mode +
                "); make it private with: chmod go-w " + path;
        return false;
    }
    return true;
}

bool ReadFile(const std::string& path, std::string& bytes, std::string& error) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        error = "cannot open " + path + ": " + ErrnoText(errno);
        return false;
    }
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            error = "cannot read " + path + ": " + ErrnoText(errno);
            return false;
        }
        if (got == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
}

bool MakeFolders(const std::string& path, mode_t mode, std::string& error) {
    if (path.empty()) {
        error = "no folder given";
        return false;
    }
    std::string sofar;
    std::size_t at = 0;
    while (at != std::string::npos) {
        std::size_t slash = path.find('/', at + 1);
        sofar = path.substr(0, slash);
        at = slash;
        if (sofar.empty() || sofar == "/")
            continue;
        if (::mkdir(sofar.c_str(), mode) != 0 && errno != EEXIST) {
            error = "cannot make the folder " + sofar + ": " + ErrnoText(errno);
            return false;
        }
    }
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

} // namespace server
