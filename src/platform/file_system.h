// Files, folders and processes as the launcher uses them: file attributes, folder searches
// that are closed on every way out, the current directory, durable file replacement, files
// opened only when they are regular files, and a child process that is waited for.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace platform {

constexpr char kPathSeparator = '/';

enum class FileKind { None, File, Directory, Other };
FileKind GetFileKind(const std::string& path);
bool FileExists(const std::string& path); // a file or folder of that name
bool IsDirectory(const std::string& path);

bool SetCurrentDirectory(const std::string& path);
std::string GetCurrentDirectory();

struct FolderEntry {
    std::string name;
    bool isDirectory;
};

// A folder search: entries in the order the file system gives them, without "." and "..".
// The pattern (optional) is matched as the classic platform matches "data*.*": '*' any run,
// '?' one character, letter case ignored, and a trailing ".*" also matching names without a
// dot. The search is closed when the object goes.
class FolderSearch {
public:
    FolderSearch(const std::string& folder, const std::string& pattern = "*");
    ~FolderSearch();
    FolderSearch(const FolderSearch&) = delete;
    FolderSearch& operator=(const FolderSearch&) = delete;
    bool IsOpen() const;
    // Gives false when there are no more entries.
    bool Next(FolderEntry& entry);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

bool MatchesPattern(const std::string& name, const std::string& pattern);

// The name of a folder entry as stored on disk: looks the path's last part up in its parent
// folder ignoring letter case and gives the stored spelling ("" when not found).
std::string StoredName(const std::string& path);

// Why a file could not be opened, read or written, for the log and for a person.
struct FileError {
    enum class Kind {
        None,
        CannotOpen,     // missing, no permission, ...: the system's reason in `text`
        NotRegularFile, // a folder, FIFO, device or socket stands where a file is expected
        ReadFailed,
        WriteFailed,
    };
    Kind kind = Kind::None;
    std::string text;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file (symbolic links followed) for binary reading. Anything else in its
// place is refused at once: a FIFO is never waited on, a folder or device never read.
UniqueFile OpenFileForReading(const std::string& path, FileError* error = nullptr);
// The descriptor of a regular file opened for reading, refused as OpenFileForReading refuses;
// -1 when refused. For reading many small files, where a stdio stream and a second look at
// the path cost more than the read itself: a device in the file's place is opened (without
// waiting, never as a terminal) before it is refused. The caller closes it.
int OpenRegularFileDescriptor(const std::string& path, FileError* error = nullptr);
// Opens a regular file for appending, making it when it is missing; refuses as above.
UniqueFile OpenFileForAppending(const std::string& path, FileError* error = nullptr);

// The whole of a regular file (refused as OpenFileForReading refuses).
bool ReadWholeFile(const std::string& path, std::string& bytes, FileError* error = nullptr);

// Writes the bytes to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so that a crash leaves the old file or the new one, never a torn one. Refuses to
// replace anything but a regular file. Afterwards removes the temporaries that writers killed
// before their rename left in that folder, whatever file they were writing.
bool WriteFileAtomically(const std::string& path, const std::string& bytes,
                         FileError* error = nullptr);
// The same for a file only its owner may read (mode 0600, also when it was wider before).
bool WritePrivateFileAtomically(const std::string& path, const std::string& bytes,
                                FileError* error = nullptr);

// Temporaries are named ".pelora-tmp-<pid>-..." so that no pattern for data or settings
// files, no catalogue and no user list ever takes one for real content. Also true for the
// "<file>.tmp-<pid>-<n>-<hex>" names that earlier versions used.
bool IsTemporaryName(const std::string& name);

// Removes a file / renames one, as the atomic writer's steps do (announced to the hook below).
bool RemoveFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);

// Every change the writers above make to the disk is announced to the hook just before it is
// made, so that a test can kill the process or fail at any one of them.
enum class FileChange { CreateTemporary, Write, Flush, Rename, Remove };
using FileChangeHook = void (*)(FileChange change, const std::string& path);
void SetFileChangeHook(FileChangeHook hook);

// Runs a program and waits for it to end; gives its exit code, or -1 when it did not start.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& arguments);

// The folder of the running executable.
std::string ExecutableDirectory();

} // namespace platform
