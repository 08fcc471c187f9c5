// Salted slow password hashes (libsodium's argon2id). Only the hash string is stored: it holds
// the algorithm, its parameters and the salt, so hashes made with older parameters still
// verify, and NeedsRehash says when a login should store a fresh one. Slow by design: call it
// from a worker thread, never from a connection's I/O.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace server {

class PasswordHasher {
public:
    // `memoryKiB` at least 8; libsodium refuses less.
    PasswordHasher(std::uint64_t passes, std::uint64_t memoryKiB);

    // False only when the memory for the hash could not be had.
    bool Hash(std::string_view password, std::string& hash) const;

    enum class Check { Match, Mismatch };
    Check Verify(const std::string& hash, std::string_view password) const;

    bool NeedsRehash(const std::string& hash) const;

private:
    unsigned long long passes_;
    std::size_t memoryBytes_;
};

} // namespace server
