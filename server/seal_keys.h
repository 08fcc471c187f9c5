// The key pair launchers seal drive data to (libsodium sealed boxes, X25519). Made on first
// start and kept in the data folder: keys/seal.pub (64 hex digits and a line break, the form
// a launcher reads from home:keys/server.pub) and keys/seal.key (the secret, readable by the
// owner only). OpenDataFiles turns the sealed files received into plain ones for staff.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace server {

struct SealKeys {
    std::array<unsigned char, 32> publicKey{};
    std::array<unsigned char, 32> secretKey{};
};

// Loads the pair from `folder`, making it first when neither file exists. A lone file, a
// damaged file or a public key that is not the secret key's is an error.
bool LoadOrMakeSealKeys(const std::string& folder, SealKeys& keys, bool& created,
                        std::string& error);

std::string PublicKeyHex(const SealKeys& keys);

struct OpenDataReport {
    std::size_t opened = 0;            // sealed files decrypted
    std::size_t copied = 0;            // files that were not sealed, copied as they are
    std::size_t unchanged = 0;         // already in the target with the same content
    std::vector<std::string> renamed;  // one sentence per file written under another name
    std::vector<std::string> problems; // one sentence per file that could not be opened
    std::vector<std::string> unsealed; // "user/name" of each data file that came unsealed
};

// For every user folder under `usersFolder`, writes each received file into
// <target>/<user>/: a "<name>.sealed" file decrypted as "<name>", any other file copied. No
// file is ever overwritten: when the name is taken (by "X" beside "X.sealed", or by an earlier
// run) by other content, the file gets the first free name of "X-2", "X-3"... (the number
// before the first dot) and the report says so; the same content already there is left as
// it is. The received files are left as they are.
OpenDataReport OpenDataFiles(const std::string& usersFolder, const SealKeys& keys,
                             const std::string& target);

} // namespace server
