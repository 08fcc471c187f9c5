// Durable replacement of a file (see durable_file.h).
#include "durable/durable_file.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace durable {

namespace {

// Closes a descriptor on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Reset(int fd) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
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

bool WriteAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

// "<target>.new-<pid>-<count>-<hex>": unique among this process's writers by the count, and
// unlikely to be taken by another's.
std::string DefaultTemporary(const std::string& target) {
    static std::atomic<unsigned> count{0};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".new-%ld-%u-%08lx", static_cast<long>(::getpid()),
                  count.fetch_add(1), static_cast<unsigned long>(std::random_device{}()));
    return target + suffix;
}

} // namespace

std::string FolderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool SyncFolder(const std::string& folder) {
    Descriptor file(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (file.Get() < 0)
        return false;
    return ::fsync(file.Get()) == 0 || errno == EINVAL;
}

WriteOutcome WriteFile(const std::string& path, const std::string& bytes,
                       const WriteOptions& options) {
    WriteOutcome outcome;
    auto announce = [&options](Step step, const std::string& at) {
        if (options.announce)
            options.announce(step, at);
    };
    auto fail = [&outcome](Step step) {
        outcome.failedStep = step;
        outcome.error = errno;
        return outcome;
    };
    if (path.empty()) {
        errno = EINVAL;
        return fail(Step::CreateTemporary);
    }
    struct stat existing;
    const bool exists = ::stat(path.c_str(), &existing) == 0;

    std::string temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 16 && file.Get() < 0; ++attempt) {
        temporary = options.temporaryName ? options.temporaryName(path) : DefaultTemporary(path);
        announce(Step::CreateTemporary, temporary);
        // 0666 less the umask, as any new file; asked-for bits are set below, but a private
        // file is never readable by others, not even for a moment before the fchmod.
        const mode_t createMode = options.mode ? (*options.mode & 0666) : 0666;
        file.Reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode));
        if (file.Get() < 0 && errno != EEXIST)
            return fail(Step::CreateTemporary);
    }
    if (file.Get() < 0)
        return fail(Step::CreateTemporary);

    auto failAndRemove = [&](Step step) {
        outcome.failedStep = step;
        outcome.error = errno;
        ::unlink(temporary.c_str());
        return outcome;
    };
    if (options.mode) {
        if (::fchmod(file.Get(), *options.mode) != 0)
            return failAndRemove(Step::CreateTemporary);
    } else if (exists) {
        ::fchmod(file.Get(), existing.st_mode & 07777);
    }
    announce(Step::Write, temporary);
    if (!WriteAll(file.Get(), bytes))
        return failAndRemove(Step::Write);
    announce(Step::Flush, temporary);
    if (::fsync(file.Get()) != 0)
        return failAndRemove(Step::Flush);
    if (!file.Close())
        return failAndRemove(Step::Flush);
    announce(Step::Rename, path);
    if (options.keepExisting) {
        // link() never replaces a name (EEXIST when it is taken); the temporary then goes.
        if (::link(temporary.c_str(), path.c_str()) != 0)
            return failAndRemove(Step::Rename);
        ::unlink(temporary.c_str());
    } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return failAndRemove(Step::Rename);
    }
    outcome.replaced = true;
    // The rename itself is durable only once the folder is flushed.
    const std::string folder = FolderOf(path);
    announce(Step::FlushFolder, folder);
    if (!SyncFolder(folder))
        return fail(Step::FlushFolder);
    outcome.ok = true;
    return outcome;
}

} // namespace durable
