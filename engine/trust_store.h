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

    // The server's sealing key, learnt over the trusted connection and kept as server.pub
    // (64 hex digits and a line break; a site may also install it, raw or as hex). Every data
    // file is sealed for it.
    std::string SealKeyPath() const;
    struct SealKeyDecision {
        bool accepted = false;
        bool store = false; // the key is new here (or replaces one of another server)
        std::string reason; // when refused, or a note on what was kept before
    };
    // Judges the 32-byte key the server at `serverKey` gave. A key other than the one kept is
    // refused while the certificate is the one already trusted (someone holding the
    // certificate's key would otherwise have data sealed for a key of their own); with a
    // certificate trusted for the first time just now, the new server's key replaces it.
    SealKeyDecision JudgeSealKey(const std::string& serverKey, const std::string& key,
                                 bool certificateFirstSeen) const;
    bool StoreSealKey(const std::string& key, std::string& error) const;

    // The servers a launcher refused (certificate or sealing key changed), one
    // "host:port fingerprint" line each, for the site's IT to see and accept with plconfig.
    std::string RefusedServersPath() const;
    void RememberRefused(const std::string& serverKey, const std::string& fingerprint) const;

private:
    std::string keysFolder_;
};

} // namespace trust
