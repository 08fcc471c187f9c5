// The launchers' record of the server's certificate, read and accepted (see server_identity.h).
#include "server_identity.h"

#include "platform/file_system.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace plconfig {

namespace {

constexpr const char* kKnownServers = "known_servers";
constexpr const char* kRefusedServers = "refused_servers";
constexpr const char* kPinned = "server.pem";
constexpr const char* kSealKey = "server.pub";

std::string InFolder(const std::string& folder, const char* name) {
    return folder + "/" + name;
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text;
    if (!platform::ReadWholeFile(path, text))
        return lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The fingerprint on the line for `server`, "" when the line is another's or no entry.
std::string EntryFor(const std::string& line, const std::string& server) {
    std::istringstream words(line);
    std::string name, fingerprint, extra;
    if (!(words >> name >> fingerprint) || name[0] == '#' || (words >> extra) || name != server)
        return "";
    return fingerprint;
}

std::string Lookup(const std::string& path, const std::string& server) {
    for (const std::string& line : Lines(path))
        if (std::string found = EntryFor(line, server); !found.empty())
            return found;
    return "";
}

// The file's lines without the one for `server`, plus `replacement` when given.
bool Rewrite(const std::string& path, const std::string& server, const std::string& replacement,
             const std::string& header) {
    std::vector<std::string> lines = Lines(path);
    std::string text = lines.empty() ? header : "";
    for (const std::string& line : lines)
        if (EntryFor(line, server).empty())
            text += line + "\n";
    if (!replacement.empty())
        text += server + " " + replacement + "\n";
    return platform::WriteFileAtomically(path, text);
}

} // namespace

std::string ServerKeyOf(const std::string& host, const std::string& port) {
    std::string lowered = host;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return lowered + ":" + port;
}

ServerIdentity ReadServerIdentity(const std::string& keysFolder, const std::string& server) {
    ServerIdentity identity;
    identity.server = server;
    identity.remembered = Lookup(InFolder(keysFolder, kKnownServers), server);
    identity.presented = Lookup(InFolder(keysFolder, kRefusedServers), server);
    identity.pinned = platform::FileExists(InFolder(keysFolder, kPinned));
    return identity;
}

std::string DescribeServerIdentity(const ServerIdentity& identity) {
    std::string text;
    if (identity.pinned)
        text = "The launchers here trust only the certificate installed in keys/server.pem. ";
    text += identity.remembered.empty() ? "No certificate is remembered for " + identity.server +
                                              " yet: the first connection remembers it."
                                        : "Remembered certificate of " + identity.server +
                                              " (SHA-256): " + identity.remembered + ".";
    if (!identity.presented.empty()) {
        text += identity.presented == identity.remembered
                    ? " A launcher was refused because the server's sealing key changed while "
                      "its certificate did not."
                    : " A launcher was refused because the server now presents another "
                      "certificate (SHA-256): " +
                          identity.presented + ".";
        text += " Accept it only if the server was replaced or set up again on purpose.";
    }
    return text;
}

Result AcceptPresentedCertificate(const std::string& keysFolder, const std::string& server) {
    const ServerIdentity identity = ReadServerIdentity(keysFolder, server);
    if (identity.pinned)
        return Result::Failure(Outcome::ValueRefused,
                               "The launchers here trust only the certificate installed in " +
                                   InFolder(keysFolder, kPinned) +
                                   ": install the server's new certificate there "
                                   "(pelora-server --print-certificate).");
    if (identity.presented.empty())
        return Result::Failure(Outcome::ValueRefused,
                               "No launcher here was refused by " + server +
                                   ", so there is no new certificate to accept.");
    if (!Rewrite(InFolder(keysFolder, kKnownServers), server, identity.presented,
                 "# Certificates of the servers this launcher has connected to, first seen.\n"
                 "# A server whose certificate changes is refused until its line is "
                 "removed.\n"))
        return Result::Failure(Outcome::IoFailure, "Could not write " +
                                                       InFolder(keysFolder, kKnownServers) + ": " +
                                                       std::strerror(errno) + ".");
    const std::string sealKey = InFolder(keysFolder, kSealKey);
    if (::unlink(sealKey.c_str()) != 0 && errno != ENOENT)
        return Result::Failure(Outcome::IoFailure, "Could not remove the old sealing key " +
                                                       sealKey + ": " + std::strerror(errno) + ".");
    Rewrite(InFolder(keysFolder, kRefusedServers), server, "", "");
    return Result::Success("The certificate " + identity.presented + " of " + server +
                           " is accepted; the next Drive Online connects and learns the "
                           "server's sealing key.");
}

} // namespace plconfig
