// Which server certificates the launcher trusts. A site that installs the server's certificate
// as home:keys/server.pem trusts that certificate and no other. Without one, the first
// certificate a server presents is remembered in home:keys/known_servers (one
// "host:port SHA-256-fingerprint" line per server, like an SSH known-hosts file) and a different
// certificate from the same address later is refused, with a reason that names both
// fingerprints and what to do.
#pragma once

#include <QSslCertificate>

#include <string>

namespace trust {

// SHA-256 of the certificate's DER bytes as upper-case hex pairs joined by colons.
std::string Fingerprint(const QSslCertificate& certificate);

// "host:port" with the host in lower case, so that "Server:3152" and "server:3152" are one
// entry.
std::string ServerKey(const std::string& host, quint16 port);

struct Decision {
    bool trusted = false;
    bool firstUse = false;   // trusted because nothing was known yet; remember it
    std::string fingerprint; // of the presented certificate
    std::string reason;      // when refused: one sentence for the engine log
};

class TrustStore {
public:
    // `keysFolder`: the folder that holds server.pem and known_servers (home:keys/).
    explicit TrustStore(std::string keysFolder);

    std::string PinnedPath() const;
    std::string KnownServersPath() const;

    // Judges the certificate that the server at `serverKey` presented.
    Decision Judge(const std::string& serverKey, const QSslCertificate& certificate) const;

    // Records a first-seen certificate (rewrites the file atomically). False with the reason
    // in `error` when it cannot be written.
    bool Remember(const std::string& serverKey, const std::string& fingerprint,
                  std::string& error) const;

    // The fingerprint known for the server, "" when none.
    std::string Known(const std::string& serverKey) const;

private:
    std::string keysFolder_;
};

} // namespace trust
