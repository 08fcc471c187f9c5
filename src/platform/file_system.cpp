// Files, folders and processes on POSIX: folder searches over readdir, the current directory,
// durable file replacement (temporary file, fsync, rename, fsync of the folder) and child
// processes started with posix_spawnp and waited for.
#include "platform/file_system.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    // Hands the descriptor over; this object no longer closes it.
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
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

constexpr char kTemporaryPrefix[] = ".pelora-tmp-";

FileChangeHook g_changeHook = nullptr;

void Announce(FileChange change, const std::string& path) {
    if (g_changeHook)
        g_changeHook(change, path);
}

void SetError(FileError* error, FileError::Kind kind, std::string text) {
    if (error) {
        error->kind = kind;
        error->text = std::move(text);
    }
}

const char* NotAFileText(mode_t mode) {
    if (S_ISDIR(mode))
        return "is a folder, not a file";
    if (S_ISFIFO(mode))
        return "is a FIFO (named pipe), not a file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "is a device, not a file";
    if (S_ISSOCK(mode))
        return "is a socket, not a file";
    return "is not a regular file";
}

// False (with the reason) when something other than a regular file stands at `path`.
bool RefuseNonRegular(const struct stat& info, FileError* error) {
    if (S_ISREG(info.st_mode))
        return true;
    SetError(error, FileError::Kind::NotRegularFile, NotAFileText(info.st_mode));
    errno = S_ISDIR(info.st_mode) ? EISDIR : ENOTSUP;
    return false;
}

// Opens `path` only when it is a regular file. Looked at before the open, so that a device
// is never opened, and after it, with the open made non-blocking so that a FIFO swapped in
// between cannot hold the caller either.
int OpenRegularFile(const std::string& path, int flags, FileError* error) {
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!RefuseNonRegular(info, error))
            return -1;
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        return -1;
    }
    int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        return -1;
    }
    FileDescriptor file(fd);
    if (::fstat(fd, &info) != 0) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        return -1;
    }
    if (!RefuseNonRegular(info, error))
        return -1;
    int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        return -1;
    }
    return file.Release();
}

UniqueFile OpenAsStream(const std::string& path, int flags, const char* mode, FileError* error) {
    int fd = OpenRegularFile(path, flags, error);
    if (fd < 0)
        return nullptr;
    std::FILE* stream = ::fdopen(fd, mode);
    if (!stream) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        ::close(fd);
    }
    return UniqueFile(stream);
}

// A name in the folder of `path` that no other writer (this process or another) picks at the
// same time, and that no data or settings pattern matches.
std::string TemporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    char name[96];
    std::snprintf(name, sizeof name, "%s%ld-%u-%08x", kTemporaryPrefix,
                  static_cast<long>(::getpid()), counter.fetch_add(1),
                  static_cast<unsigned>(random()));
    std::string folder = ParentFolder(path);
    return path.find(kPathSeparator) == std::string::npos ? std::string(name)
                                                          : folder + kPathSeparator + name;
}

// Reads a run of decimal digits at `pos`; false when there is none.
bool ReadDigits(const std::string& text, size_t& pos, long& value) {
    size_t start = pos;
    value = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) &&
           pos - start < 18) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start;
}

// The process id of the writer whose temporary this is; 0 when the name is no temporary.
long TemporaryWriter(const std::string& name) {
    long pid = 0;
    long number = 0;
    const size_t prefixLength = sizeof kTemporaryPrefix - 1;
    if (name.compare(0, prefixLength, kTemporaryPrefix) == 0) {
        size_t pos = prefixLength;
        if (ReadDigits(name, pos, pid) && pos < name.size() && name[pos] == '-')
            return pid;
        return 0;
    }
    // Earlier versions: "<file>.tmp-<pid>-<count>-<8 hex digits>".
    size_t at = name.rfind(".tmp-");
    if (at == std::string::npos || at == 0)
        return 0;
    size_t pos = at + 5;
    if (!ReadDigits(name, pos, pid) || pos >= name.size() || name[pos++] != '-')
        return 0;
    if (!ReadDigits(name, pos, number) || pos >= name.size() || name[pos++] != '-')
        return 0;
    if (name.size() - pos != 8)
        return 0;
    for (; pos < name.size(); ++pos) {
        if (!std::isxdigit(static_cast<unsigned char>(name[pos])))
            return 0;
    }
    return pid;
}

// Temporaries of writers that were killed before their rename, whatever file they were
// writing. Temporaries of live processes (a writer at work) are left alone.
void RemoveStaleTemporaries(const std::string& folder) {
    std::vector<std::string> stale;
    {
        std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
        if (!dir) {
            return;
        }
        while (dirent* found = ::readdir(dir.get())) {
            std::string name = found->d_name;
            long pid = TemporaryWriter(name);
            if (pid <= 0 || pid == static_cast<long>(::getpid())) {
                continue;
            }
            if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                stale.push_back(folder + kPathSeparator + name);
            }
        }
    }
    for (const std::string& name : stale) {
        RemoveFile(name);
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

UniqueFile OpenFileForReading(const std::string& path, FileError* error) {
    return OpenAsStream(path, O_RDONLY, "rb", error);
}

int OpenRegularFileDescriptor(const std::string& path, FileError* error) {
    // One look at the path, not two: the open itself cannot wait (non-blocking, no
    // controlling terminal), and what it opened is refused at once unless a regular file.
    // O_NONBLOCK changes nothing for reading a regular file, so it stays.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        return -1;
    }
    FileDescriptor file(fd);
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        SetError(error, FileError::Kind::CannotOpen, std::strerror(errno));
        return -1;
    }
    if (!RefuseNonRegular(info, error))
        return -1;
    return file.Release();
}

UniqueFile OpenFileForAppending(const std::string& path, FileError* error) {
    return OpenAsStream(path, O_WRONLY | O_APPEND | O_CREAT, "ab", error);
}

bool IsTemporaryName(const std::string& name) {
    return TemporaryWriter(name) > 0;
}

bool RemoveFile(const std::string& path) {
    Announce(FileChange::Remove, path);
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    Announce(FileChange::Rename, to);
    return ::rename(from.c_str(), to.c_str()) == 0;
}

void SetFileChangeHook(FileChangeHook hook) {
    g_changeHook = hook;
}

namespace {

// `privateMode`: the file is made and left 0600 whatever it had; otherwise a new file gets the
// usual permissions and an existing one keeps its own.
bool WriteAtomically(const std::string& path, const std::string& bytes, FileError* error,
                     bool privateMode) {
    auto failed = [error](FileError::Kind kind) {
        SetError(error, kind, std::strerror(errno));
        return false;
    };
    if (path.empty()) {
        errno = EINVAL;
        return failed(FileError::Kind::CannotOpen);
    }
    // Only a regular file is replaced: a folder, FIFO or device in its place stays as it is.
    struct stat existing;
    bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !RefuseNonRegular(existing, error)) {
        return false;
    }
    std::string temporary;
    FileDescriptor file;
    for (int attempt = 0; attempt < 16 && !file.IsOpen(); ++attempt) {
        temporary = TemporaryNameFor(path);
        Announce(FileChange::CreateTemporary, temporary);
        file.Reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          privateMode ? 0600 : 0666));
        if (!file.IsOpen() && errno != EEXIST) {
            return failed(FileError::Kind::CannotOpen);
        }
    }
    if (!file.IsOpen()) {
        return failed(FileError::Kind::CannotOpen);
    }
    auto fail = [&temporary, &failed]() {
        int saved = errno;
        ::unlink(temporary.c_str());
        errno = saved;
        return failed(FileError::Kind::WriteFailed);
    };
    // An existing file keeps its permissions across the replacement, unless it is private.
    if (privateMode) {
        ::fchmod(file.Get(), 0600);
    } else if (exists) {
        ::fchmod(file.Get(), existing.st_mode & 07777);
    }
    Announce(FileChange::Write, temporary);
    if (!WriteAll(file.Get(), bytes)) {
        return fail();
    }
    Announce(FileChange::Flush, temporary);
    if (::fsync(file.Get()) != 0 || !file.Close()) {
        return fail();
    }
    Announce(FileChange::Rename, path);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return fail();
    }
    // The rename itself is durable only once the folder is flushed.
    std::string folder = ParentFolder(path);
    Announce(FileChange::Flush, folder);
    FileDescriptor folderFile(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folderFile.IsOpen()) {
        return failed(FileError::Kind::WriteFailed);
    }
    if (::fsync(folderFile.Get()) != 0 && errno != EINVAL) {
        return failed(FileError::Kind::WriteFailed);
    }
    RemoveStaleTemporaries(folder);
    return true;
}

} // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes, FileError* error) {
    return WriteAtomically(path, bytes, error, false);
}

bool WritePrivateFileAtomically(const std::string& path, const std::string& bytes,
                                FileError* error) {
    return WriteAtomically(path, bytes, error, true);
}

bool ReadWholeFile(const std::string& path, std::string& bytes, FileError* error) {
    FileDescriptor file(OpenRegularFile(path, O_RDONLY, error));
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
            SetError(error, FileError::Kind::ReadFailed, std::strerror(errno));
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
