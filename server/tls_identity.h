// The server's TLS identity: a certificate and its private key in PEM files. Unless a site
// configures its own, the server makes a self-signed one on first start (an EC P-256 key and
// an X.509 certificate valid for twenty years, naming the host, "localhost", 127.0.0.1 and ::1
// as subject alternative names) and keeps it in the data folder. Launchers pin it: a site
// copies the PEM to each launcher's home:keys/server.pem.
#pragma once

#include <string>
#include <vector>

namespace server {

// Makes a key and a self-signed certificate for the given DNS names (127.0.0.1 and ::1 are
// always added) and writes them durably, the key readable by the owner only.
bool MakeSelfSignedCertificate(const std::string& certPath, const std::string& keyPath,
                               const std::vector<std::string>& dnsNames, std::string& error);

// Makes the pair when neither file exists; `created` says whether it did. A pair with only one
// of its files present is an error, never silently replaced.
bool EnsureCertificate(const std::string& certPath, const std::string& keyPath, bool& created,
                       std::string& error);

// Checks that the files hold a certificate and the private key that goes with it; gives the
// certificate's subject and expiry in `summary`.
bool CheckCertificatePair(const std::string& certPath, const std::string& keyPath,
                          std::string& summary, std::string& error);

// This machine's host name ("localhost" when it has none).
std::string HostName();

} // namespace server
