// The machine's server: the "server-name" and "server-port" global settings that every
// launcher using this home connects to for Drive Online. No window of the launcher edits
// them; the configuration tool does.
#pragma once

#include "outcome.h"

#include <string>

namespace plconfig {

struct ServerAddress {
    std::string host;
    std::string port; // decimal, 1 to 65535, without leading zeros
};

// "" when `host` can be a server's host name: a DNS name (letters, digits, '-', '_' and dots
// between non-empty labels) or an IPv4 address. The launcher passes it to a script command as
// it is, so nothing else is let through.
std::string DescribeHostProblem(const std::string& host);
// Checks a port text and gives it back without leading zeros; false with the reason.
bool NormalisePort(const std::string& text, std::string& port, std::string& problem);
// "HOST:PORT", or "HOST" alone (the port stays as it is: `address.port` left empty).
bool ParseServerAddress(const std::string& text, ServerAddress& address, std::string& problem);

// The server named in the global settings file (the defaults when the file does not exist
// yet); false with the reason when the file exists but cannot be read.
bool LoadServerAddress(const std::string& settingsFile, ServerAddress& address,
                       std::string& problem);
// Stores the host and (when not empty) the port. A file that does not exist yet is made with
// the defaults plus the change, as the launcher would have made it; a file that cannot be
// read is left alone.
Result SaveServerAddress(const std::string& settingsFile, const ServerAddress& address);

} // namespace plconfig
