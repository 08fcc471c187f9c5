// argon2id through libsodium (see password_hasher.h).
#include "password_hasher.h"

#include <sodium.h>

#include <cstring>

namespace server {

PasswordHasher::PasswordHasher(std::uint64_t passes, std::uint64_t memoryKiB)
    : passes_(passes), memoryBytes_(static_cast<std::size_t>(memoryKiB * 1024)) {
    if (passes_ < crypto_pwhash_OPSLIMIT_MIN)
        passes_ = crypto_pwhash_OPSLIMIT_MIN;
    if (memoryBytes_ < crypto_pwhash_MEMLIMIT_MIN)
        memoryBytes_ = crypto_pwhash_MEMLIMIT_MIN;
}

bool PasswordHasher::Hash(std::string_view password, std::string& hash) const {
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), passes_, memoryBytes_,
                              crypto_pwhash_ALG_ARGON2ID13) != 0)
        return false;
    hash.assign(out, strnlen(out, sizeof out));
    return true;
}

PasswordHasher::Check PasswordHasher::Verify(const std::string& hash,
                                             std::string_view password) const {
    // crypto_pwhash_str_verify reads a NUL-terminated string of at most STRBYTES.
    if (hash.size() >= crypto_pwhash_STRBYTES)
        return Check::Mismatch;
    char stored[crypto_pwhash_STRBYTES] = {};
    std::memcpy(stored, hash.data(), hash.size());
    return crypto_pwhash_str_verify(stored, password.data(), password.size()) == 0
               ? Check::Match
               : Check::Mismatch;
}

bool PasswordHasher::NeedsRehash(const std::string& hash) const {
    if (hash.size() >= crypto_pwhash_STRBYTES)
        return true;
    char stored[crypto_pwhash_STRBYTES] = {};
    std::memcpy(stored, hash.data(), hash.size());
    return crypto_pwhash_str_needs_rehash(stored, passes_, memoryBytes_) != 0;
}

} // namespace server
