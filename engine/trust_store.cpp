// Server certificate trust: the installed certificate, else trust on first use.
#include "trust_store.h"

#include "engine/kernel.h"
#include "platform/file_system.h"
#include "platform/window_system.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <vector>

namespace trust {

namespace {

const char* const kPinnedFile = "server.pem";
const char* const kKnownServersFile = "known_servers";
const char* const kSealKeyFile = "server.pub";
const char* const kRefusedServersFile = "refused_servers";
constexpr std::size_t kSealKeyBytes = 32;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// The key in a server.pub file's bytes (raw, or hex with white space around); "" when none.
std::string ParseSealKey(const std::string& bytes) {
    if (bytes.size() == kSealKeyBytes)
        return bytes;
    std::string hex;
    for (char c : bytes)
        if (!std::isspace(static_cast<unsigned char>(c)))
            hex += c;
    if (hex.size() != 2 * kSealKeyBytes)
        return "";
    std::string key;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        auto value = [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                               : std::tolower(c) - 'a' + 10;
        };
        if (!std::isxdigit(static_cast<unsigned char>(hex[i])) ||
            !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
            return "";
        key += char(value(hex[i]) * 16 + value(hex[i + 1]));
    }
    return key;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

struct KnownEntry {
    std::string server;
    std::string fingerprint;
};

// Lines "host:port fingerprint"; blank lines and lines starting with '#' are kept as they are
// so that a hand-written comment survives a rewrite.
struct KnownFile {
    std::vector<std::string> lines;

    static bool Parse(const std::string& line, KnownEntry& entry) {
        std::istringstream words(line);
        std::string extra;
        if (!(words >> entry.server >> entry.fingerprint) || entry.server[0] == '#')
            return false;
        return !(words >> extra);
    }
};

KnownFile ReadKnown(const std::string& path) {
    KnownFile file;
    std::string text;
    if (!platform::ReadWholeFile(path, text))
        return file;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        file.lines.push_back(line);
    }
    return file;
}

} // namespace

std::string Fingerprint(const QSslCertificate& certificate) {
    QByteArray digest =
        QCryptographicHash::hash(certificate.toDer(), QCryptographicHash::Sha256).toHex().toUpper();
    std::string hex = digest.toStdString();
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        if (!out.empty())
            out += ':';
        out += hex.substr(i, 2);
    }
    return out;
}

std::string ServerKey(const std::string& host, quint16 port) {
    std::string lowered = Lower(host);
    if (lowered.find(':') != std::string::npos)
        lowered = "[" + lowered + "]"; // an IPv6 address
    return lowered + ":" + std::to_string(port);
}

TrustStore::TrustStore(std::string keysFolder) : keysFolder_(std::move(keysFolder)) {
    if (!keysFolder_.empty() && keysFolder_.back() != '/')
        keysFolder_ += '/';
}

std::string TrustStore::PinnedPath() const {
    return keysFolder_ + kPinnedFile;
}

std::string TrustStore::KnownServersPath() const {
    return keysFolder_ + kKnownServersFile;
}

std::string TrustStore::Known(const std::string& serverKey) const {
    KnownFile file = ReadKnown(KnownServersPath());
    for (const auto& line : file.lines) {
        KnownEntry entry;
        if (KnownFile::Parse(line, entry) && entry.server == serverKey)
            return entry.fingerprint;
    }
    return {};
}

Decision TrustStore::Judge(const std::string& serverKey, const QSslCertificate& certificate) const {
    Decision decision;
    decision.fingerprint = Fingerprint(certificate);
    if (certificate.isNull()) {
        decision.reason = "the server presented no certificate";
        return decision;
    }

    const std::string pinnedPath = PinnedPath();
    if (platform::FileExists(pinnedPath)) {
        // An installed certificate is the whole truth: one that cannot be read trusts nothing,
        // rather than falling back to trusting whatever answers.
        std::string bytes;
        QList<QSslCertificate> pinned;
        if (platform::ReadWholeFile(pinnedPath, bytes))
            pinned = QSslCertificate::fromData(QByteArray::fromStdString(bytes), QSsl::Pem);
        if (pinned.isEmpty()) {
            decision.reason = "the installed certificate " + pinnedPath +
                              " holds no readable PEM certificate; install the server's "
                              "certificate there (pelora-server --print-certificate)";
            return decision;
        }
        for (const auto& candidate : pinned) {
            if (candidate == certificate) {
                decision.trusted = true;
                return decision;
            }
        }
        decision.reason = "the server presented the certificate SHA-256 " + decision.fingerprint +
                          ", which is not the one installed in " + pinnedPath + " (SHA-256 " +
                          Fingerprint(pinned.front()) +
                          "); if the server's certificate was replaced, install the new one "
                          "there (pelora-server --print-certificate), otherwise someone may be "
                          "posing as the server";
        return decision;
    }

    std::string known = Known(serverKey);
    if (known.empty()) {
        decision.trusted = true;
        decision.firstUse = true;
        return decision;
    }
    if (known == decision.fingerprint) {
        decision.trusted = true;
        return decision;
    }
    decision.reason = "the server " + serverKey + " presented the certificate SHA-256 " +
                      decision.fingerprint + " but is known by the certificate SHA-256 " + known +
                      " (" + KnownServersPath() +
                      "); if the server's certificate was replaced on purpose, remove the line "
                      "for " +
                      serverKey + " from that file or install the site's certificate as " +
                      pinnedPath + ", otherwise someone may be posing as the server";
    return decision;
}

std::string TrustStore::SealKeyPath() const {
    return keysFolder_ + kSealKeyFile;
}

std::string TrustStore::RefusedServersPath() const {
    return keysFolder_ + kRefusedServersFile;
}

TrustStore::SealKeyDecision TrustStore::JudgeSealKey(const std::string& serverKey,
                                                     const std::string& key,
                                                     bool certificateFirstSeen) const {
    SealKeyDecision decision;
    if (key.size() != kSealKeyBytes) {
        decision.reason = "the server " + serverKey + " gave a sealing key of " +
                          std::to_string(key.size()) + " bytes, not " +
                          std::to_string(kSealKeyBytes);
        return decision;
    }
    std::string bytes;
    const bool kept = platform::ReadWholeFile(SealKeyPath(), bytes);
    const std::string stored = kept ? ParseSealKey(bytes) : "";
    decision.accepted = true;
    if (stored == key)
        return decision;
    decision.store = true;
    if (!kept)
        return decision;
    if (stored.empty()) {
        decision.reason = "the key in " + SealKeyPath() + " could not be read; it is replaced";
        return decision;
    }
    if (certificateFirstSeen) {
        decision.reason = "the key in " + SealKeyPath() + " (" + Hex(stored) +
                          ") belonged to another server; it is replaced";
        return decision;
    }
    decision.accepted = false;
    decision.store = false;
    decision.reason = "the server " + serverKey + " gave the sealing key " + Hex(key) +
                      " but the key kept in " + SealKeyPath() + " is " + Hex(stored) +
                      ", while its certificate is unchanged; if the server was set up again on "
                      "purpose, accept it with plconfig --accept-server (or remove that file), "
                      "otherwise someone may be posing as the server";
    return decision;
}

bool TrustStore::StoreSealKey(const std::string& key, std::string& error) const {
    std::error_code ec;
    std::filesystem::create_directories(keysFolder_, ec);
    if (!platform::WriteFileAtomically(SealKeyPath(), Hex(key) + "\n")) {
        error = "could not write " + SealKeyPath() + ": " + platform::GetLastErrorText();
        return false;
    }
    return true;
}

void TrustStore::RememberRefused(const std::string& serverKey,
                                 const std::string& fingerprint) const {
    if (fingerprint.empty())
        return;
    std::error_code ec;
    std::filesystem::create_directories(keysFolder_, ec);
    KnownFile file = ReadKnown(RefusedServersPath());
    std::string text;
    if (file.lines.empty())
        text = "# Servers a launcher refused because their certificate or sealing key changed;\n"
               "# plconfig --show-server and --accept-server read this file.\n";
    for (const auto& line : file.lines) {
        KnownEntry entry;
        if (KnownFile::Parse(line, entry) && entry.server == serverKey)
            continue;
        text += line + "\n";
    }
    text += serverKey + " " + fingerprint + "\n";
    if (!platform::WriteFileAtomically(RefusedServersPath(), text))
        n_printf("WARN: Network: could not note the refused server in %s\n",
                 RefusedServersPath().c_str());
}

bool TrustStore::Remember(const std::string& serverKey, const std::string& fingerprint,
                          std::string& error) const {
    std::error_code ec;
    std::filesystem::create_directories(keysFolder_, ec);
    KnownFile file = ReadKnown(KnownServersPath());
    std::string text;
    if (file.lines.empty())
        text = "# Certificates of the servers this launcher has connected to, first seen.\n"
               "# A server whose certificate changes is refused until its line is removed.\n";
    for (const auto& line : file.lines) {
        KnownEntry entry;
        if (KnownFile::Parse(line, entry) && entry.server == serverKey)
            continue; // replaced below
        text += line + "\n";
    }
    text += serverKey + " " + fingerprint + "\n";
    if (!platform::WriteFileAtomically(KnownServersPath(), text)) {
        error = "could not write " + KnownServersPath() + ": " + platform::GetLastErrorText();
        return false;
    }
    return true;
}

} // namespace trust
