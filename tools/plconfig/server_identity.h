// The server's identity as the launchers on this home know it, for the site's IT: the
// certificate fingerprint remembered for the server (keys/known_servers, written by the
// launcher on its first connection), the one a launcher was last refused (keys/refused_servers,
// written by the launcher when a server's certificate or sealing key changed), and the
// acceptance of the new one. Both files hold "host:port SHA-256-fingerprint" lines.
#pragma once

#include "outcome.h"

#include <string>

namespace plconfig {

struct ServerIdentity {
    std::string server;     // "host:port", as the launcher names it
    std::string remembered; // the fingerprint launchers trust, "" when none yet
    std::string presented;  // the one a launcher was refused, "" when none
    bool pinned = false;    // the site installed keys/server.pem: only that certificate counts
};

// "host:port" with the host in lower case, as the launcher keys its files.
std::string ServerKeyOf(const std::string& host, const std::string& port);

ServerIdentity ReadServerIdentity(const std::string& keysFolder, const std::string& server);

// Trusts the certificate a launcher was refused by `server` from now on: it replaces the
// remembered one, the refusal is forgotten, and the stored sealing key (keys/server.pub) is
// dropped, so that the next connection learns the server's key anew over the accepted
// certificate. Refused when nothing was refused, or when the site pinned a certificate.
Result AcceptPresentedCertificate(const std::string& keysFolder, const std::string& server);

// A sentence or two for the Server page and the command line.
std::string DescribeServerIdentity(const ServerIdentity& identity);

} // namespace plconfig
