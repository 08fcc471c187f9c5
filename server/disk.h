// The server's file handling: durable writes (temporary file, flush, rename, flush of the
// folder), whole-file reads and folder creation. Plain POSIX, for the data folder only.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace server {

// Writes the bytes to a new temporary file beside `path` with the given permission bits,
// flushes it, renames it over `path` and flushes the folder, so a crash leaves the old file or
// the new one. With Keep an existing `path` is never replaced: the write fails with EEXIST in
// `errno` instead. On failure nothing is left behind and `error` says why.
enum class Existing { Replace, Keep };
bool WriteFileDurably(const std::string& path, const std::string& bytes, mode_t mode,
                      std::string& error, Existing existing = Existing::Replace);

// Refuses a folder that someone else may write into (its group or others, or another owner):
// false with a sentence that says how to fix it.
bool CheckPrivateFolder(const std::string& path, std::string& error);

bool ReadFile(const std::string& path, std::string& bytes, std::string& error);

// Makes the folder and its missing parents with the given permission bits.
bool MakeFolders(const std::string& path, mode_t mode, std::string& error);

bool PathExists(const std::string& path);

// Flushes a folder, so a rename or a new entry in it survives a crash.
bool SyncFolder(const std::string& path);

// The names in a folder, without "." and ".."; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& folder);

// "<folder>/<name>" without doubling the slash.
std::string JoinPath(const std::string& folder, const std::string& name);

// The text of errno for messages: "No space left on device".
std::string ErrnoText(int error);

} // namespace server
