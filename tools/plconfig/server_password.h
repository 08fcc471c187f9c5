// A user's new password given to the configured server as well as to this machine, so that the
// user's next Drive Online logs in with it: a short TLS conversation (hello, ChangePassword,
// its reply) with the server that the launchers here trust. Its certificate is checked as the
// launcher checks it: the one installed in keys/server.pem, else the one remembered in
// keys/known_servers; a server never connected to yet is taken as it is (the launcher
// remembers it on its first connection).
#pragma once

#include "outcome.h"
#include "user_store.h"

#include <string>

namespace plconfig {

enum class ServerChange {
    Changed,
    NoAccount,  // the server has no account of that name: the next Drive Online makes it
    NotChanged, // the server refused (another present password, a throttle, ...)
    NotReached, // no connection, no answer in time, or an older server
    NotTrusted, // the certificate is not the one the launchers trust
};

struct ServerChangeResult {
    ServerChange outcome = ServerChange::NotReached;
    std::string why; // a sentence when not Changed
};

struct ServerEndpoint {
    std::string host, port, keysFolder;
};

// Asks the server to change `name`'s password from `oldPassword` to `newPassword`; waits at
// most `timeoutMs` for each step.
ServerChangeResult ChangePasswordOnServer(const ServerEndpoint& server, const std::string& name,
                                          const std::string& oldPassword,
                                          const std::string& newPassword, int timeoutMs = 10000);

// The tool's Change password: the password file here, then the configured server. Done when
// both changed (or the server has no account yet); ServerNotChanged, with a message that says
// the local change stands and the next Drive Online will fail until the server has it too,
// when the server could not be told.
Result ChangePasswordEverywhere(UserStore& store, const std::string& homeFolder,
                                const std::string& name, const std::string& password);

} // namespace plconfig
