// Files, folders and processes as the launcher uses them: file attributes, folder searches
// that are closed on every way out, the current directory, durable file replacement and a
// child process that is waited for.
#pragma once

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

// Writes the bytes to a temporary file beside `path`, flushes it to disk and renames it over
// `path`, so that a crash leaves the old file or the new one, never a torn one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes);
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Runs a program and waits for it to end; gives its exit code, or -1 when it did not start.
int SpawnAndWait(const std::string& program, const std::vector<std::string>& arguments);

// The folder of the running executable.
std::string ExecutableDirectory();

} // namespace platform
