// A user's password file in the user's folder: "colors" (one length byte, then the password
// with every byte XORed with 0xE7) and the older plain "passwd.txt" ("<Password>\t<password>\n")
// that it replaces. The one implementation of both formats, for the launcher and the
// configuration tool.
#pragma once

#include <cstddef>
#include <string>

namespace accounts {

// The launcher's reader keeps a password in a 128-byte buffer with its terminator.
constexpr std::size_t kMaxPasswordBytes = 127;

constexpr const char* kColorsFileName = "colors";
constexpr const char* kLegacyFileName = "passwd.txt";

// A user's folder and its password file are its owner's alone.
constexpr unsigned kUserFolderMode = 0700;
constexpr unsigned kPasswordFileMode = 0600;

// The bytes of a "colors" file for the password; false for a password longer than
// kMaxPasswordBytes, which the reader could not take back.
bool EncodeColors(const std::string& password, std::string& bytes);
// The password in a "colors" file's bytes: false when the length byte is above
// kMaxPasswordBytes or promises more bytes than follow. Bytes after the password are ignored.
bool DecodeColors(const std::string& bytes, std::string& password);

// "colors" in `folder`: read (false when missing, unreadable or malformed) and written
// atomically (false when the password is too long or the file cannot be written). Writing
// makes the folder kUserFolderMode and the file kPasswordFileMode, also when they were wider.
bool ReadColorsFile(const std::string& folder, std::string& password);
bool WriteColorsFile(const std::string& folder, const std::string& password);

// The password of a "passwd.txt" text: the literal "<Password>", white space, then one run of
// non-blank characters. False when there is none, or when it is longer than
// kMaxPasswordBytes (cutting it would lock its owner out).
bool ParseLegacyPassword(const std::string& text, std::string& password);

// Converts "passwd.txt" in `folder` into "colors" and deletes it. False, with the file left
// in place, when it is missing, holds no usable password or "colors" cannot be written.
bool MigrateLegacyPassword(const std::string& folder);

} // namespace accounts
