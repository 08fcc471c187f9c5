// The server's settings: defaults, the configuration file ("name = value" lines) and the
// command line ("--name value" or "--name=value"), which overrides the file. One table of
// options serves both, the --help text and the example configuration.
#pragma once

#include "server_log.h"

#include <cstdint>
#include <string>
#include <vector>

namespace server {

struct ServerOptions {
    // where
    std::uint16_t port = 3152;
    std::string bind = "0.0.0.0";
    std::string dataDir;          // made absolute; default $XDG_DATA_HOME/pelora-server
    std::string certPath;         // default <data>/tls/server.pem, made on first start
    std::string keyPath;          // default <data>/tls/server.key
    std::string logFile;          // default <data>/pelora-server.log
    std::string database;         // a postgresql:// URL; empty: SQLite in the data folder
    double instanceHeartbeat = 2; // seconds between two signs of life of this instance
    double instanceTimeout = 10;  // an instance silent this long is taken for dead
    LogLevel logLevel = LogLevel::Info;
    std::uint64_t logRotateBytes = 16ull * 1024 * 1024; // 0: never rotated
    unsigned logKeep = 4;                               // rotated files kept

    // threads
    unsigned ioThreads = 2;
    unsigned workers = 0;     // 0: one per processor
    unsigned diskThreads = 8; // data-file writes: they wait on the disk, not the processor

    // connections
    std::size_t maxConnections = 2000;
    std::size_t maxConnectionsPerAddress = 100;
    std::size_t maxUsers = 2000;
    double handshakeTimeout = 10; // seconds from the connection, for the TLS handshake and Hello
    double loginTimeout = 300;    // seconds from the connection until a login
    double frameTimeout = 20;     // seconds for a whole frame once its first byte came
    double idleTimeout = 30;
    double pingInterval = 10; // what clients are told
    std::size_t maxSendQueueBytes = 1024 * 1024;
    double relayInterval = 0.05;    // least time between two Positions frames to one client
    double usersNoticeInterval = 1; // least time between two UsersChanged notices to clients

    // data files
    std::uint64_t maxFileBytes = 16ull * 1024 * 1024;
    std::uint64_t maxUserBytes = 256ull * 1024 * 1024;
    std::uint64_t maxUserFiles = 10000;

    // accounts
    std::uint64_t argon2Ops = 2;
    std::uint64_t argon2MemoryKiB = 19456;
    unsigned throttleNameFailures = 5;
    unsigned throttleAddressFailures = 20;
    double throttleBaseDelay = 2;       // seconds; doubles with each further failure
    double throttleMaxDelay = 300;      // seconds
    double throttleWindow = 900;        // seconds a failure is remembered
    unsigned maxCreatesPerAddress = 30; // account creations from one address per hour

    // the staff view (server/staff/)
    std::uint16_t staffPort = 3153; // 0: no staff view
    std::string staffBind = "0.0.0.0";
    std::string worldsDir;          // default: the installed home's worlds
    double staffIdleTimeout = 1800; // seconds a staff login lasts unused
};

enum class Action {
    Serve,
    Help,
    Version,
    PrintPublicKey,
    PrintCertificate,
    OpenData,
    SetPassword,
    AddStaff,
    RemoveStaff,
    ListStaff
};

struct CommandLine {
    Action action = Action::Serve;
    std::string openDataTarget;
    std::string staffName;   // for AddStaff and RemoveStaff
    std::string accountName; // of --set-password
    std::string configPath;  // the file read, or "" when none
    ServerOptions options;
};

// Reads the command line and the configuration file it names (--config), or else the default
// one ($XDG_CONFIG_HOME/pelora-server/pelora-server.conf) when it exists. Gives false with a
// sentence in `error` for an unknown option, a bad value or an unreadable file.
bool ParseCommandLine(const std::vector<std::string>& arguments, CommandLine& commandLine,
                      std::string& error);

// Applies one configuration file's text; `origin` names it in errors ("file.conf:12: ...").
bool ApplyConfigText(const std::string& text, const std::string& origin, ServerOptions& options,
                     std::string& error);

std::string HelpText();

// The names of the options a configuration file may set.
std::vector<std::string> ConfigOptionNames();

// $XDG_DATA_HOME/pelora-server, else ~/.local/share/pelora-server.
std::string DefaultDataDir();
std::string DefaultConfigPath();

} // namespace server
