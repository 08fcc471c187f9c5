// The option table, the configuration file and the command line (see options.h).
#include "options.h"

#include "disk.h"
#include "pg_connection.h"
#include "storage_backend.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <unistd.h>

namespace server {

namespace {

using Setter = std::function<bool(ServerOptions&, const std::string&, std::string&)>;

struct Option {
    const char* name;
    const char* value; // what the value is, for the help text
    const char* help;
    Setter set;
};

bool ParseUnsigned(const std::string& text, std::uint64_t maximum, std::uint64_t& out,
                   std::string& error) {
    // Sizes may end in K, M or G (powers of 1024).
    std::uint64_t scale = 1;
    std::string digits = text;
    if (!digits.empty()) {
        char last = digits.back();
        if (last == 'K' || last == 'k')
            scale = 1024;
        else if (last == 'M' || last == 'm')
            scale = 1024 * 1024;
        else if (last == 'G' || last == 'g')
            scale = 1024ull * 1024 * 1024;
        if (scale != 1)
            digits.pop_back();
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
        error = "\"" + text + "\" is not a whole number";
        return false;
    }
    errno = 0;
    unsigned long long value = std::strtoull(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || value > maximum / scale) {
        error = "\"" + text + "\" is larger than " + std::to_string(maximum);
        return false;
    }
    out = value * scale;
    return true;
}

bool ParseSeconds(const std::string& text, double minimum, double& out, std::string& error) {
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
        error = "\"" + text + "\" is not a number of seconds";
        return false;
    }
    if (value < minimum || value > 86400 * 365) {
        error =
            "\"" + text + "\" is out of range (at least " + std::to_string(minimum) + " seconds)";
        return false;
    }
    out = value;
    return true;
}

template <typename Field>
Setter Whole(Field ServerOptions::*field, std::uint64_t minimum, std::uint64_t maximum) {
    return [=](ServerOptions& options, const std::string& text, std::string& error) {
        std::uint64_t value;
        if (!ParseUnsigned(text, maximum, value, error))
            return false;
        if (value < minimum) {
            error = "\"" + text + "\" is below the least value " + std::to_string(minimum);
            return false;
        }
        options.*field = static_cast<Field>(value);
        return true;
    };
}

Setter Seconds(double ServerOptions::*field, double minimum) {
    return [=](ServerOptions& options, const std::string& text, std::string& error) {
        return ParseSeconds(text, minimum, options.*field, error);
    };
}

Setter Text(std::string ServerOptions::*field) {
    return [=](ServerOptions& options, const std::string& text, std::string& error) {
        if (text.empty()) {
            error = "the value is empty";
            return false;
        }
        options.*field = text;
        return true;
    };
}

const std::vector<Option>& Options() {
    static const std::vector<Option> table = {
        {"port", "PORT", "TCP port to listen on; 0 lets the system choose (default 3152)",
         Whole(&ServerOptions::port, 0, 65535)},
        {"bind", "ADDRESS", "address to listen on (default 0.0.0.0, every IPv4 address)",
         Text(&ServerOptions::bind)},
        {"data-dir", "DIR",
         "the data folder: accounts, files, keys, certificate, log (default "
         "$XDG_DATA_HOME/pelora-server or ~/.local/share/pelora-server)",
         Text(&ServerOptions::dataDir)},
        {"cert", "FILE", "TLS certificate (PEM) to use instead of the one made on first start",
         Text(&ServerOptions::certPath)},
        {"key", "FILE", "private key (PEM) of --cert", Text(&ServerOptions::keyPath)},
        {"database", "URL",
         "a postgresql:// URL: keep accounts, presence, file records, drives and staff accounts "
         "in PostgreSQL, shared by every instance given the same URL (default: SQLite in the "
         "data folder)",
         [](ServerOptions& options, const std::string& text, std::string& error) {
             if (!IsPostgresUrl(text)) {
                 error = "\"" + RedactedUrl(text) +
                         "\" is not a postgresql:// URL (leave it out for SQLite)";
                 return false;
             }
             options.database = text;
             return true;
         }},
        {"log-file", "FILE", "the log (default <data-dir>/pelora-server.log)",
         Text(&ServerOptions::logFile)},
        {"log-level", "LEVEL", "error, warn, info or debug (default info)",
         [](ServerOptions& options, const std::string& text, std::string& error) {
             if (ParseLogLevel(text, options.logLevel))
                 return true;
             error = "\"" + text + "\" is not one of error, warn, info, debug";
             return false;
         }},
        {"log-rotate-size", "BYTES",
         "the log is rotated when it grows past this size; 0: never (default 16M)",
         Whole(&ServerOptions::logRotateBytes, 0, 1ull << 40)},
        {"log-keep", "N", "rotated logs kept beside the current one (default 4)",
         Whole(&ServerOptions::logKeep, 0, 100)},
        {"io-threads", "N", "threads serving connections (default 2)",
         Whole(&ServerOptions::ioThreads, 1, 256)},
        {"workers", "N", "threads for password hashing; 0: one per processor",
         Whole(&ServerOptions::workers, 0, 256)},
        {"disk-threads", "N",
         "threads writing data files; more let the disk gather their flushes (default 8)",
         Whole(&ServerOptions::diskThreads, 1, 256)},
        {"max-connections", "N", "connections served at once (default 2000)",
         Whole(&ServerOptions::maxConnections, 1, 1000000)},
        {"max-connections-per-address", "N",
         "connections from one address at once, loopback included (default 100)",
         Whole(&ServerOptions::maxConnectionsPerAddress, 1, 1000000)},
        {"max-users", "N", "users logged in at once (default 2000)",
         Whole(&ServerOptions::maxUsers, 1, 1000000)},
        {"handshake-timeout", "SECONDS",
         "time from a connection to its Hello, TLS handshake included (default 10)",
         Seconds(&ServerOptions::handshakeTimeout, 0.05)},
        {"login-timeout", "SECONDS", "time from a connection to its login (default 300)",
         Seconds(&ServerOptions::loginTimeout, 0.05)},
        {"frame-timeout", "SECONDS",
         "time for a whole message to arrive once its first byte has (default 20)",
         Seconds(&ServerOptions::frameTimeout, 0.05)},
        {"idle-timeout", "SECONDS", "a connection silent this long is closed (default 30)",
         Seconds(&ServerOptions::idleTimeout, 0.05)},
        {"ping-interval", "SECONDS", "how often clients are asked to ping (default 10)",
         Seconds(&ServerOptions::pingInterval, 0.05)},
        {"max-send-queue", "BYTES",
         "bytes waiting to be sent to one client before it is dropped as too slow (default 1M)",
         Whole(&ServerOptions::maxSendQueueBytes, 64 * 1024, 1ull << 32)},
        {"relay-interval", "SECONDS",
         "least time between two batches of positions sent to one client (default 0.05)",
         Seconds(&ServerOptions::relayInterval, 0)},
        {"users-notice-interval", "SECONDS",
         "least time between two notices to clients that the users online changed (default 1)",
         Seconds(&ServerOptions::usersNoticeInterval, 0)},
        {"max-file-size", "BYTES", "largest data file taken (default 16M)",
         Whole(&ServerOptions::maxFileBytes, 0, 1ull << 40)},
        {"max-user-bytes", "BYTES", "space for one user's data files (default 256M)",
         Whole(&ServerOptions::maxUserBytes, 0, 1ull << 50)},
        {"max-user-files", "N", "number of data files one user may keep (default 10000)",
         Whole(&ServerOptions::maxUserFiles, 0, 1ull << 32)},
        {"argon2-ops", "N", "argon2id passes for new password hashes (default 2; tests may use 1)",
         Whole(&ServerOptions::argon2Ops, 1, 64)},
        {"argon2-memory", "KIB",
         "argon2id memory for new password hashes in KiB (default 19456; tests may use 8)",
         Whole(&ServerOptions::argon2MemoryKiB, 8, 4ull * 1024 * 1024)},
        {"throttle-name-failures", "N",
         "failed logins for one name before it is throttled (default 5)",
         Whole(&ServerOptions::throttleNameFailures, 1, 1000000)},
        {"throttle-address-failures", "N",
         "failed logins from one address before it is throttled (default 20)",
         Whole(&ServerOptions::throttleAddressFailures, 1, 1000000)},
        {"throttle-delay", "SECONDS",
         "first throttling delay, doubled with each further failure (default 2)",
         Seconds(&ServerOptions::throttleBaseDelay, 0.01)},
        {"throttle-max-delay", "SECONDS", "longest throttling delay (default 300)",
         Seconds(&ServerOptions::throttleMaxDelay, 0.01)},
        {"max-creates-per-address", "N", "accounts one address may create in an hour (default 30)",
         Whole(&ServerOptions::maxCreatesPerAddress, 1, 1000000)},
        {"throttle-window", "SECONDS", "how long a failed login is remembered (default 900)",
         Seconds(&ServerOptions::throttleWindow, 1)},
        {"staff-port", "PORT",
         "HTTPS port of the staff view (default 3153); 0 turns the staff view off",
         Whole(&ServerOptions::staffPort, 0, 65535)},
        {"staff-bind", "ADDRESS", "address the staff view listens on (default 0.0.0.0)",
         Text(&ServerOptions::staffBind)},
        {"worlds", "DIR",
         "the worlds whose layouts the staff view draws (default the installed home's "
         "share/pelora/home/worlds)",
         Text(&ServerOptions::worldsDir)},
        {"staff-idle-timeout", "SECONDS", "a staff login unused this long ends (default 1800)",
         Seconds(&ServerOptions::staffIdleTimeout, 1)},
        {"instance-heartbeat", "SECONDS",
         "with --database: how often this instance tells the others it is alive (default 2)",
         Seconds(&ServerOptions::instanceHeartbeat, 0.05)},
        {"instance-timeout", "SECONDS",
         "with --database: an instance silent this long is taken for dead and its users are "
         "freed (default 10)",
         Seconds(&ServerOptions::instanceTimeout, 0.2)},
    };
    return table;
}

const Option* FindOption(const std::string& name) {
    for (const Option& option : Options())
        if (name == option.name)
            return &option;
    return nullptr;
}

constexpr std::size_t kHelpIndent = 25;
constexpr std::size_t kHelpWidth = 92;

// Breaks a help text into lines that fit the width beside the option column.
std::string Wrapped(const std::string& text) {
    std::string out, line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t space = text.find(' ', at);
        std::string word =
            text.substr(at, space == std::string::npos ? std::string::npos : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        if (!line.empty() && kHelpIndent + line.size() + 1 + word.size() > kHelpWidth) {
            out += line + "\n" + std::string(kHelpIndent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

std::string Trim(const std::string& text) {
    auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/tmp";
}

std::string Absolute(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return path;
    char buffer[4096];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    return JoinPath(buffer, path);
}

} // namespace

std::string DefaultDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/')
        return JoinPath(xdg, "pelora-server");
    return HomeFolder() + "/.local/share/pelora-server";
}

std::string DefaultConfigPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base = xdg && *xdg == '/' ? std::string(xdg) : HomeFolder() + "/.config";
    return base + "/pelora-server/pelora-server.conf";
}

std::vector<std::string> ConfigOptionNames() {
    std::vector<std::string> names;
    for (const Option& option : Options())
        names.emplace_back(option.name);
    return names;
}

bool ApplyConfigText(const std::string& text, const std::string& origin, ServerOptions& options,
                     std::string& error) {
    std::size_t lineNumber = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        std::string where = origin + ":" + std::to_string(lineNumber) + ": ";
        auto equals = line.find('=');
        if (equals == std::string::npos) {
            error = where + "expected \"name = value\"";
            return false;
        }
        std::string name = Trim(line.substr(0, equals));
        std::string value = Trim(line.substr(equals + 1));
        const Option* option = FindOption(name);
        if (!option) {
            error = where + "unknown option \"" + name + "\"";
            return false;
        }
        std::string problem;
        if (!option->set(options, value, problem)) {
            error = where + name + ": " + problem;
            return false;
        }
    }
    return true;
}

bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& commandLine,
                      std::string& error) {
    // First pass: actions and --config; options are kept for after the file.
    std::vector<std::pair<const Option*, std::string>> settings;
    std::string configPath;
    bool configGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            commandLine.action = Action::Help;
            return true;
        }
        if (argument == "--version") {
            commandLine.action = Action::Version;
            return true;
        }
        if (argument.rfind("--", 0) != 0) {
            error = "unexpected argument \"" + argument + "\" (see --help)";
            return false;
        }
        std::string name = argument.substr(2);
        std::string value;
        bool hasValue = false;
        if (auto equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "list-staff") {
            commandLine.action = Action::ListStaff;
            continue;
        }
        if (name == "print-public-key" || name == "print-certificate") {
            commandLine.action =
                name == "print-public-key" ? Action::PrintPublicKey : Action::PrintCertificate;
            continue;
        }
        const Option* option = FindOption(name);
        bool staffAction = name == "add-staff" || name == "remove-staff";
        if (!option && name != "config" && name != "open-data" && name != "set-password" &&
            !staffAction) {
            error = "unknown option \"--" + name + "\" (see --help)";
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = "--" + name + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (name == "config") {
            configPath = value;
            configGiven = true;
        } else if (staffAction) {
            commandLine.action = name == "add-staff" ? Action::AddStaff : Action::RemoveStaff;
            commandLine.staffName = value;
        } else if (name == "open-data") {
            commandLine.action = Action::OpenData;
            commandLine.openDataTarget = Absolute(value);
        } else if (name == "set-password") {
            commandLine.action = Action::SetPassword;
            commandLine.accountName = value;
        } else {
            settings.emplace_back(option, value);
        }
    }

    ServerOptions options;
    if (!configGiven && PathExists(DefaultConfigPath()))
        configPath = DefaultConfigPath();
    if (!configPath.empty()) {
        std::string text;
        if (!ReadFile(configPath, text, error))
            return false;
        if (!ApplyConfigText(text, configPath, options, error))
            return false;
    }
    for (const auto& [option, value] : settings) {
        std::string problem;
        if (!option->set(options, value, problem)) {
            error = "--" + std::string(option->name) + ": " + problem;
            return false;
        }
    }
    if (options.certPath.empty() != options.keyPath.empty()) {
        error = "--cert and --key go together: give both or neither";
        return false;
    }
    if (options.dataDir.empty())
        options.dataDir = DefaultDataDir();
    options.dataDir = Absolute(options.dataDir);
    options.certPath = Absolute(options.certPath);
    options.keyPath = Absolute(options.keyPath);
    options.logFile = Absolute(options.logFile);
    commandLine.configPath = configPath;
    commandLine.options = options;
    return true;
}

std::string HelpText() {
    std::string text =
        "Usage: pelora-server [OPTION]...\n"
        "The Pelora simulation server: accounts, online users, shared worlds and the users'\n"
        "data files, over TLS. Prints \"pelora-server: listening on ADDRESS:PORT\" on standard\n"
        "output once it accepts connections; SIGTERM or SIGINT ends it cleanly.\n"
        "\n"
        "Actions (instead of serving):\n"
        "  --print-public-key     print the key (64 hex digits) launchers seal drive data\n"
        "                         with (launchers learn it when they connect; a site may\n"
        "                         also install it as home:keys/server.pub)\n"
        "  --print-certificate    print the TLS certificate (PEM); a site copies it to\n"
        "                         home:keys/server.pem on each launcher\n"
        "  --open-data DIR        decrypt the data files received so far into DIR, one\n"
        "                         folder per user, for the site's staff\n"
        "  --add-staff NAME       add a staff account for the staff view (in the database\n"
        "                         of --database, else the data folder's); the password is\n"
        "                         read from standard input (twice on a terminal)\n"
        "  --remove-staff NAME    remove a staff account (its logins end)\n"
        "  --list-staff           list the staff accounts\n"
        "  --set-password NAME    give the account NAME a new password, read from the first\n"
        "                         line of standard input (for the site's staff: a user\n"
        "                         whose password changed must also change it in plconfig)\n"
        "  --help, --version\n"
        "\n"
        "Options (each may also stand in the configuration file as \"name = value\"):\n"
        "  --config FILE          " +
        Wrapped("configuration file (default " + DefaultConfigPath() + " when it exists)") + "\n";
    for (const Option& option : Options()) {
        std::string head = "  --" + std::string(option.name) + " " + option.value;
        if (head.size() < kHelpIndent)
            head.resize(kHelpIndent, ' ');
        else
            head += "\n" + std::string(kHelpIndent, ' ');
        text += head + Wrapped(option.help) + "\n";
    }
    return text;
}

} // namespace server
