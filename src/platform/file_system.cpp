// Files, folders and processes on POSIX: folder searches over readdir, the current directory,
// durable file replacement (temporary file, fsync, rename, fsync of the folder) and child
// processes started with posix_spawnp and waited for.
#include "platform/file_system.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

// Owns a file descriptor; closes it on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    int Get() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    // Gives false when close reports an error (a late write error shows up here).
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        int result = ::close(fd_);
        fd_ = -1;
        return result == 0 || errno == EINTR;
    }

private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Iterative wildcard match with one backtrack point per '*', linear in practice.
bool WildcardMatch(const std::string& name, const std::string& pattern) {
    size_t n = 0;
    size_t p = 0;
    size_t starP = std::string::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool WriteAll(int fd, const std::string& bytes) {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

std::string ParentFolder(const std::string& path) {
    std::string::size_type slash = path.find_last_of(kPathSeparator);
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string WithoutTrailingSeparators(std::string path) {
    while (path.size() > 1 && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

// A name beside `path` that no other writer (this process or another) picks at the same time.
std::string TemporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u-%08x", static_cast<long>(::getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(random()));
    return path + suffix;
}

// Temporaries of writers that were killed before their rename: "<name>.tmp-<pid>-..." whose
// process is gone. Temporaries of live processes (a writer at work) are left alone.
void RemoveStaleTemporaries(const std::string& path) {
    std::string folder = ParentFolder(path);
    std::string::size_type slash = path.find_last_of(kPathSeparator);
    std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
    std::vector<std::string> stale;
    {
        std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
        if (!dir) {
            return;
        }
        while (dirent* found = ::readdir(dir.get())) {
            std::string name = found->d_name;
            if (name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            char* end = nullptr;
            long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
            if (pid <= 0 || *end != '-' || pid == static_cast<long>(::getpid())) {
                continue;
            }
            if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                stale.push_back(folder + kPathSeparator + name);
            }
        }
    }
    for (const std::string& name : stale) {
        ::unlink(name.c_str());
    }
}

} // namespace

FileKind GetFileKind(const std::string& path) {
    struct stat info;
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return FileKind::None;
    }
    if (S_ISREG(info.st_mode)) {
        return FileKind::File;
    }
    if (S_ISDIR(info.st_mode)) {
        return FileKind::Directory;
    }
    return FileKind::Other;
}

bool FileExists(const std::string& path) {
    return GetFileKind(path) != FileKind::None;
}

bool IsDirectory(const std::string& path) {
    return GetFileKind(path) == FileKind::Directory;
}

bool SetCurrentDirectory(const std::string& path) {
    return !path.empty() && ::chdir(path.c_str()) == 0;
}

std::string GetCurrentDirectory() {
    std::error_code error;
    std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? std::string() : cwd.string();
}

struct FolderSearch::Impl {
    std::string folder;
    std::string pattern;
    std::unique_ptr<DIR, DirCloser> dir;
};

FolderSearch::FolderSearch(const std::string& folder, const std::string& pattern)
    : impl_(std::make_unique<Impl>()) {
    impl_->folder = folder.empty() ? "." : folder;
    impl_->pattern = pattern.empty() ? "*" : pattern;
    impl_->dir.reset(::opendir(impl_->folder.c_str()));
}

FolderSearch::~FolderSearch() = default;

bool FolderSearch::IsOpen() const {
    return impl_->dir != nullptr;
}

bool FolderSearch::Next(FolderEntry& entry) {
    if (!impl_->dir) {
        return false;
    }
    while (dirent* found = ::readdir(impl_->dir.get())) {
        std::string name = found->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (!MatchesPattern(name, impl_->pattern)) {
            continue;
        }
        bool isDirectory = found->d_type == DT_DIR;
        if (found->d_type == DT_UNKNOWN || found->d_type == DT_LNK) {
            isDirectory = IsDirectory(impl_->folder + kPathSeparator + name);
        }
        entry.name = std::move(name);
        entry.isDirectory = isDirectory;
        return true;
    }
    impl_->dir.reset();
    return false;
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
    if (WildcardMatch(name, pattern)) {
        return true;
    }
    // "data*.*" also finds "DATA2": a trailing ".*" stands for "with any extension or none".
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos) {
        return WildcardMatch(name, pattern.substr(0, pattern.size() - 2));
    }
    return false;
}

std::string StoredName(const std::string& path) {
    std::string trimmed = WithoutTrailingSeparators(path);
    if (trimmed.empty() || trimmed == "/") {
        return "";
    }
    std::string::size_type slash = trimmed.find_last_of(kPathSeparator);
    std::string last = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (last.empty() || last == "." || last == "..") {
        return "";
    }
    FolderSearch search(ParentFolder(trimmed));
    FolderEntry entry;
    std::string caseless;
    while (search.Next(entry)) {
        // On a case-sensitive disk "Bob" and "bob" can both exist: the exact spelling wins.
        if (entry.name == last) {
            return entry.name;
        }
        if (caseless.empty() && EqualIgnoringCase(entry.name, last)) {
            caseless = entry.name;
        }
    }
    return caseless;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    if (path.empty()) {
        errno = EINVAL;
        return false;
    }
    std::string temporary;
    FileDescriptor file;
    for (int attempt = 0; attempt < 16 && !file.IsOpen(); ++attempt) {
        temporary = TemporaryNameFor(path);
        file.Reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!file.IsOpen() && errno != EEXIST) {
            return false;
        }
    }
    if (!file.IsOpen()) {
        return false;
    }
    auto fail = [&temporary]() {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return false;
    };
    // An existing file keeps its permissions across the replacement.
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(file.Get(), existing.st_mode & 07777);
    }
    if (!WriteAll(file.Get(), bytes) || ::fsync(file.Get()) != 0 || !file.Close()) {
        return fail();
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail();
    }
    // The rename itself is durable only once the folder is flushed.
    FileDescriptor folder(::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.IsOpen()) {
        return false;
    }
    if (::fsync(folder.Get()) != 0 && errno != EINVAL) {
        return false;
    }
    RemoveStaleTemporaries(path);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        return false;
    }
    std::string result;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break;
        }
        result.append(buffer, static_cast<size_t>(got));
    }
    bytes = std::move(result);
    return true;
}

// `arguments` are the program's arguments after its own name; the program is looked for on
// PATH unless it contains a '/'. A child killed by a signal gives 128 + the signal number.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& arguments) {
    if (program.empty()) {
        return -1;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

std::string ExecutableDirectory() {
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return "";
    }
    return exe.parent_path().string();
}

} // namespace platform
