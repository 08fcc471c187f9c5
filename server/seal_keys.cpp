// Sealed-box keys and the opening of sealed data files (see seal_keys.h).
#include "seal_keys.h"

#include "disk.h"

#include <sodium.h>

#include <cerrno>
#include <sys/stat.h>

namespace server {

namespace {

constexpr const char* kSealedSuffix = ".sealed";

bool ParseHexKey(const std::string& text, std::array<unsigned char, 32>& key) {
    std::string hex = text;
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r'))
        hex.pop_back();
    std::size_t length = 0;
    return hex.size() == 64 &&
           sodium_hex2bin(key.data(), key.size(), hex.data(), hex.size(), nullptr, &length,
                          nullptr) == 0 &&
           length == key.size();
}

std::string Hex(const std::array<unsigned char, 32>& key) {
    char hex[65];
    sodium_bin2hex(hex, sizeof hex, key.data(), key.size());
    return hex;
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

std::string PublicKeyHex(const SealKeys& keys) {
    return Hex(keys.publicKey);
}

bool LoadOrMakeSealKeys(const std::string& folder, SealKeys& keys, bool& created,
                        std::string& error) {
    created = false;
    if (sodium_init() < 0) {
        error = "libsodium did not start";
        return false;
    }
    std::string publicPath = JoinPath(folder, "seal.pub");
    std::string secretPath = JoinPath(folder, "seal.key");
    bool havePublic = PathExists(publicPath);
    bool haveSecret = PathExists(secretPath);
    if (!havePublic && !haveSecret) {
        if (!MakeFolders(folder, 0700, error))
            return false;
        crypto_box_keypair(keys.publicKey.data(), keys.secretKey.data());
        // The secret first: a public key without its secret would seal data nobody can open.
        if (!WriteFileDurably(secretPath, Hex(keys.secretKey) + "\n", 0600, error) ||
            !WriteFileDurably(publicPath, Hex(keys.publicKey) + "\n", 0644, error))
            return false;
        created = true;
        return true;
    }
    if (!haveSecret) {
        error = "found " + publicPath + " but not its secret " + secretPath +
                "; data sealed to that key cannot be opened without it";
        return false;
    }
    std::string text;
    if (!ReadFile(secretPath, text, error))
        return false;
    if (!ParseHexKey(text, keys.secretKey)) {
        error = secretPath + " does not hold a key (64 hex digits)";
        return false;
    }
    crypto_scalarmult_base(keys.publicKey.data(), keys.secretKey.data());
    if (!havePublic)
        return WriteFileDurably(publicPath, Hex(keys.publicKey) + "\n", 0644, error);
    std::array<unsigned char, 32> stored{};
    if (!ReadFile(publicPath, text, error))
        return false;
    if (!ParseHexKey(text, stored) || stored != keys.publicKey) {
        error = publicPath + " is not the public key of " + secretPath;
        return false;
    }
    return true;
}

namespace {

enum class Written { New, Same, Failed };

// "data-1.txt" -> "data-1-2.txt": the number before the first dot.
std::string NumberedName(const std::string& name, int number) {
    auto dot = name.find('.', 1);
    std::string tag = "-" + std::to_string(number);
    return dot == std::string::npos ? name + tag : name.substr(0, dot) + tag + name.substr(dot);
}

// Writes `bytes` into `folder` as `name`, or as the first numbered name that is free, never
// over another file; a file of the same content under one of those names is taken as written.
Written WriteNew(const std::string& folder, const std::string& name, const std::string& bytes,
                 std::string& written, std::string& error) {
    for (int number = 1; number <= 1000; ++number) {
        written = number == 1 ? name : NumberedName(name, number);
        std::string path = JoinPath(folder, written);
        if (PathExists(path)) {
            std::string there, ignored;
            if (IsRegularFile(path) && ReadFile(path, there, ignored) && there == bytes)
                return Written::Same;
            continue;
        }
        if (WriteFileDurably(path, bytes, 0600, error, Existing::Keep))
            return Written::New;
        if (errno != EEXIST)
            return Written::Failed;
    }
    error = "no free name for " + JoinPath(folder, name);
    return Written::Failed;
}

} // namespace

OpenDataReport OpenDataFiles(const std::string& usersFolder, const SealKeys& keys,
                             const std::string& target) {
    OpenDataReport report;
    for (const std::string& user : ListFolder(usersFolder)) {
        std::string from = JoinPath(usersFolder, user);
        std::string to = JoinPath(target, user);
        for (const std::string& name : ListFolder(from)) {
            std::string path = JoinPath(from, name);
            if (name.front() == '.' || !IsRegularFile(path))
                continue; // transfers in progress and anything that is not a file
            std::string bytes, error;
            if (!ReadFile(path, bytes, error)) {
                report.problems.push_back(error);
                continue;
            }
            std::string outName = name;
            std::string plain;
            bool sealed = EndsWith(name, kSealedSuffix);
            if (sealed) {
                outName = name.substr(0, name.size() - std::string(kSealedSuffix).size());
                if (bytes.size() < crypto_box_SEALBYTES ||
                    (plain.resize(bytes.size() - crypto_box_SEALBYTES),
                     crypto_box_seal_open(reinterpret_cast<unsigned char*>(plain.data()),
                                          reinterpret_cast<const unsigned char*>(bytes.data()),
                                          bytes.size(), keys.publicKey.data(),
                                          keys.secretKey.data()) != 0)) {
                    report.problems.push_back(user + "/" + name +
                                              ": cannot be opened (sealed to another key, or "
                                              "damaged)");
                    continue;
                }
            } else {
                plain = std::move(bytes);
                report.unsealed.push_back(user + "/" + name);
            }
            if (!MakeFolders(to, 0700, error)) {
                report.problems.push_back(error);
                continue;
            }
            std::string written;
            switch (WriteNew(to, outName, plain, written, error)) {
            case Written::Failed:
                report.problems.push_back(error);
                continue;
            case Written::Same:
                ++report.unchanged;
                continue;
            case Written::New:
                break;
            }
            if (written != outName)
                report.renamed.push_back(user + "/" + name + " was written as " + user + "/" +
                                         written + ", because " + user + "/" + outName +
                                         " holds another file");
            ++(sealed ? report.opened : report.copied);
        }
    }
    return report;
}

} // namespace server
