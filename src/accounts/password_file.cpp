// The password files "colors" and "passwd.txt" (see password_file.h).
#include "accounts/password_file.h"

#include "platform/file_system.h"

#include <cctype>
#include <cstdio>
#include <sys/stat.h>

namespace accounts {

namespace {

constexpr unsigned char kScrambleMask = 0xE7;

std::string InFolder(const std::string& folder, const char* name) {
    return folder + platform::kPathSeparator + name;
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

} // namespace

bool EncodeColors(const std::string& password, std::string& bytes) {
    if (password.size() > kMaxPasswordBytes)
        return false;
    bytes.assign(1, char(password.size()));
    for (char c : password)
        bytes += char(static_cast<unsigned char>(c) ^ kScrambleMask);
    return true;
}

bool DecodeColors(const std::string& bytes, std::string& password) {
    if (bytes.empty())
        return false;
    std::size_t length = static_cast<unsigned char>(bytes[0]);
    if (length > kMaxPasswordBytes || bytes.size() < 1 + length)
        return false;
    std::string decoded = bytes.substr(1, length);
    for (char& c : decoded)
        c = char(static_cast<unsigned char>(c) ^ kScrambleMask);
    password = std::move(decoded);
    return true;
}

bool ReadColorsFile(const std::string& folder, std::string& password) {
    std::string bytes;
    return platform::ReadWholeFile(InFolder(folder, kColorsFileName), bytes) &&
           DecodeColors(bytes, password);
}

bool WriteColorsFile(const std::string& folder, const std::string& password) {
    std::string bytes;
    if (!EncodeColors(password, bytes))
        return false;
    // The scrambling hides nothing from a reader: only the user's own account may read the
    // folder and the file. A folder made wider earlier is narrowed on each rewrite.
    if (::chmod(folder.c_str(), kUserFolderMode) != 0)
        return false;
    // Written whole or not at all: a conversion that dies half-way keeps passwd.txt usable.
    return platform::WritePrivateFileAtomically(InFolder(folder, kColorsFileName), bytes);
}

bool ParseLegacyPassword(const std::string& text, std::string& password) {
    static const std::string kLiteral = "<Password>";
    if (text.compare(0, kLiteral.size(), kLiteral) != 0)
        return false;
    std::size_t start = kLiteral.size();
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    std::size_t end = start;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    if (end == start || end - start > kMaxPasswordBytes)
        return false;
    password = text.substr(start, end - start);
    return true;
}

bool MigrateLegacyPassword(const std::string& folder) {
    const std::string path = InFolder(folder, kLegacyFileName);
    std::string text, password;
    // A file without a usable password is kept for whoever can repair it.
    if (!platform::ReadWholeFile(path, text) || !ParseLegacyPassword(text, password))
        return false;
    if (!WriteColorsFile(folder, password))
        return false;
    std::remove(path.c_str());
    return true;
}

} // namespace accounts
