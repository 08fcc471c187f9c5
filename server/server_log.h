// The server's log: one line per event a site cares about (login, logout, join, leave, file,
// refusal), with a time, a level and the text, appended to the log file and, when stderr is a
// terminal, echoed there. The file is rotated at a set size, keeping a few old ones
// (pelora-server.log.1 the newest), so the log's disk use is bounded. Safe to use from every
// thread. Whatever a client gave (names, text) goes into a line through LogEscaped only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace server {

enum class LogLevel { Error = 0, Warning = 1, Info = 2, Debug = 3 };

// "error", "warn", "info", "debug"; false for any other text.
bool ParseLogLevel(const std::string& text, LogLevel& level);
const char* LogLevelName(LogLevel level);

// Client-given text as a log line may show it: quotes, backslashes, control characters,
// invisible and direction-changing characters and broken UTF-8 are written as escapes
// (\", \\, \x01, \u{202E}), so no text can forge a line, end one, or hide what it is.
std::string LogEscaped(std::string_view text);
// LogEscaped in double quotes: "alice".
std::string LogQuoted(std::string_view text);

class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens (appends to) the file; gives false with `error` when it cannot. Without a file the
    // log goes to stderr only.
    bool Open(const std::string& path, std::string& error);
    // Rotates the file when it passes `maxBytes` (0: never), keeping `keep` old files.
    void SetRotation(std::uint64_t maxBytes, unsigned keep);
    void SetLevel(LogLevel level) { level_ = level; }
    bool Enabled(LogLevel level) const { return level <= level_; }
    // Whether lines also go to standard error (it is a terminal, or there is no file).
    bool EchoesToStandardError() const { return echo_ || !file_; }

    void Write(LogLevel level, const std::string& text);
    void Error(const std::string& text) { Write(LogLevel::Error, text); }
    void Warning(const std::string& text) { Write(LogLevel::Warning, text); }
    void Info(const std::string& text) { Write(LogLevel::Info, text); }
    void Debug(const std::string& text) { Write(LogLevel::Debug, text); }

private:
    void Rotate();

    std::mutex mutex_;
    std::string path_;
    std::uint64_t size_ = 0;
    std::uint64_t maxBytes_ = 0;
    unsigned keep_ = 0;
    std::FILE* file_ = nullptr;
    bool echo_ = true;
    LogLevel level_ = LogLevel::Info;
};

} // namespace server
