// Durable replacement of a file, written once for every program of the project: the bytes go
// to a temporary file beside the target, which is flushed to disk, renamed over the target,
// and the folder is flushed, so that a crash or a power cut leaves the old file or the new
// one, never a torn one. Plain POSIX and the standard library: the launcher's platform layer,
// plconfig and pelora-server all link it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace durable {

// The steps of a durable write, in order.
enum class Step { CreateTemporary, Write, Flush, Rename, FlushFolder };

struct WriteOptions {
    // The temporary's path for the target (opened with O_EXCL, asked again up to 16 times
    // while the name is taken). When empty: "<target>.new-<pid>-<count>-<hex>".
    std::function<std::string(const std::string& target)> temporaryName;
    // Permission bits of the new file. When unset, an existing target keeps its bits and a
    // new one gets 0666 less the umask.
    std::optional<mode_t> mode;
    // Told of each step just before it is made, with the path it touches (the temporary, the
    // target, the folder), so that a test can kill the process or fail at any one of them.
    std::function<void(Step step, const std::string& path)> announce;
    // An existing target is never replaced: the write fails at the Rename step with EEXIST.
    bool keepExisting = false;
};

struct WriteOutcome {
    bool ok = false;
    Step failedStep = Step::CreateTemporary; // where it failed, when it did
    int error = 0;                           // the errno of that failure
    // Whether the target holds the new bytes: true also when only the folder's flush failed.
    bool replaced = false;
};

// Writes `bytes` over `path` durably. On a failure before the rename the temporary is removed
// and the target is untouched.
WriteOutcome WriteFile(const std::string& path, const std::string& bytes,
                       const WriteOptions& options = {});

// Flushes a folder's entries, so that a rename or a new entry in it survives a crash. A file
// system that cannot flush a folder (EINVAL) counts as done.
bool SyncFolder(const std::string& folder);

// The folder part of a path: "." for a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& path);

} // namespace durable
