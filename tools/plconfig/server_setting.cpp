// The server's host name and port in the global settings: checked, read and stored through the
// launcher's own GlobalSettings, so the file is the one the launcher reads and writes.
#include "server_setting.h"

#include "platform/file_system.h"
#include "settings/global_settings.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace plconfig {

namespace {

constexpr std::size_t kMaxHostBytes = 253;
constexpr std::size_t kMaxLabelBytes = 63;

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
}

bool AllDigits(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::vector<std::string> Labels(const std::string& host) {
    std::vector<std::string> labels;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type dot = host.find('.', start);
        labels.push_back(host.substr(start, dot - start));
        if (dot == std::string::npos)
            return labels;
        start = dot + 1;
    }
}

// A settings file that exists must be readable and parse before the launcher's
// GlobalSettings is made on it: that one would replace an unreadable file with the defaults.
bool CheckReadable(const std::string& settingsFile, std::string& problem) {
    std::string text;
    if (!platform::ReadWholeFile(settingsFile, text)) {
        problem = "The settings file " + settingsFile + " cannot be read: " + std::strerror(errno);
        return false;
    }
    try {
        PersistentSettings::Parse(text, settingsFile);
    } catch (const FileException& e) {
        problem = "The settings file cannot be read: " + e.getMessage();
        return false;
    }
    return true;
}

} // namespace

std::string DescribeHostProblem(const std::string& host) {
    if (host.empty())
        return "The server's host name cannot be empty.";
    if (host.find(':') != std::string::npos)
        return "Give the server as a host name or an IPv4 address (an IPv6 server by its host "
               "name).";
    for (char c : host)
        if (!IsHostCharacter(c))
            return "A host name can hold only letters, digits, '-', '_' and dots.";
    if (host.size() > kMaxHostBytes)
        return "A host name can hold at most " + std::to_string(kMaxHostBytes) + " characters.";
    const std::vector<std::string> labels = Labels(host);
    bool numeric = true;
    for (const std::string& label : labels) {
        if (label.empty())
            return "A host name cannot start or end with a dot or hold two dots in a row.";
        if (label.size() > kMaxLabelBytes)
            return "Each dot-separated part of a host name can hold at most " +
                   std::to_string(kMaxLabelBytes) + " characters.";
        if (label.front() == '-' || label.back() == '-')
            return "A part of a host name cannot start or end with '-'.";
        numeric = numeric && AllDigits(label);
    }
    if (numeric) {
        bool valid = labels.size() == 4;
        for (const std::string& label : labels)
            valid = valid && label.size() <= 3 && std::stoi(label) <= 255;
        if (!valid)
            return "An IPv4 address is four numbers from 0 to 255 with dots between them.";
    }
    return "";
}

bool NormalisePort(const std::string& text, std::string& port, std::string& problem) {
    if (!AllDigits(text)) {
        problem = "The port must be a whole number from 1 to 65535.";
        return false;
    }
    std::string::size_type first = text.find_first_not_of('0');
    std::string digits = first == std::string::npos ? "0" : text.substr(first);
    if (digits.size() > 5 || std::stoi(digits) < 1 || std::stoi(digits) > 65535) {
        problem = "The port must be a whole number from 1 to 65535.";
        return false;
    }
    port = digits;
    return true;
}

bool ParseServerAddress(const std::string& text, ServerAddress& address, std::string& problem) {
    std::string::size_type colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
        problem = DescribeHostProblem(text);
        return false;
    }
    ServerAddress parsed;
    parsed.host = text.substr(0, colon);
    problem = DescribeHostProblem(parsed.host);
    if (!problem.empty())
        return false;
    if (colon != std::string::npos && !NormalisePort(text.substr(colon + 1), parsed.port, problem))
        return false;
    address = std::move(parsed);
    return true;
}

bool LoadServerAddress(const std::string& settingsFile, ServerAddress& address,
                       std::string& problem) {
    std::unique_ptr<GlobalSettings> settings;
    if (!platform::FileExists(settingsFile)) {
        // Without a file name the store keeps the defaults in memory and writes nothing.
        settings = std::make_unique<GlobalSettings>("");
    } else {
        if (!CheckReadable(settingsFile, problem))
            return false;
        try {
            settings = std::make_unique<GlobalSettings>(settingsFile);
        } catch (const FileException& e) {
            problem = "The settings file cannot be read: " + e.getMessage();
            return false;
        }
    }
    address.host = settings->getServerName();
    address.port = settings->getServerPort();
    return true;
}

Result SaveServerAddress(const std::string& settingsFile, const ServerAddress& address) {
    if (std::string problem = DescribeHostProblem(address.host); !problem.empty())
        return Result::Failure(Outcome::ValueRefused, problem);
    std::string port;
    if (!address.port.empty()) {
        std::string problem;
        if (!NormalisePort(address.port, port, problem))
            return Result::Failure(Outcome::ValueRefused, problem);
    }
    std::string problem;
    if (platform::FileExists(settingsFile) && !CheckReadable(settingsFile, problem))
        return Result::Failure(Outcome::IoFailure, problem + " Nothing was changed.");

    int writeError = 0;
    try {
        // Loads the file, or writes the defaults when there is none yet.
        GlobalSettings settings(settingsFile);
        errno = 0;
        settings.setServerName(address.host);
        if (!port.empty())
            settings.setServerPort(port);
        writeError = errno;
    } catch (const FileException& e) {
        return Result::Failure(Outcome::IoFailure,
                               "The settings file cannot be read: " + e.getMessage());
    }

    // The store logs a failed write and goes on; reading the file back tells.
    ServerAddress stored;
    std::string readProblem;
    if (!platform::FileExists(settingsFile) ||
        !LoadServerAddress(settingsFile, stored, readProblem) || stored.host != address.host ||
        (!port.empty() && stored.port != port)) {
        std::string reason = writeError ? std::strerror(writeError) : "the file did not change";
        return Result::Failure(Outcome::IoFailure,
                               "Could not write the settings file " + settingsFile + ": " + reason);
    }
    return Result::Success("The server is now " + stored.host + ":" + stored.port + ".");
}

} // namespace plconfig
