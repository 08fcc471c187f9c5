// The server's log: one line per event a site cares about (login, logout, join, leave, file,
// refusal), with a time, a level and the text, appended to the log file and, when stderr is a
// terminal, echoed there. Safe to use from every thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace server {

enum class LogLevel { Error = 0, Warning = 1, Info = 2, Debug = 3 };

// "error", "warn", "info", "debug"; false for any other text.
bool ParseLogLevel(const std::string& text, LogLevel& level);
const char* LogLevelName(LogLevel level);

class Log {
public:
    Log() = default;
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Opens (appends to) the file; gives false with `error` when it cannot. Without a file the
    // log goes to stderr only.
    bool Open(const std::string& path, std::string& error);
    void SetLevel(LogLevel level) { level_ = level; }
    bool Enabled(LogLevel level) const { return level <= level_; }

    void Write(LogLevel level, const std::string& text);
    void Error(const std::string& text) { Write(LogLevel::Error, text); }
    void Warning(const std::string& text) { Write(LogLevel::Warning, text); }
    void Info(const std::string& text) { Write(LogLevel::Info, text); }
    void Debug(const std::string& text) { Write(LogLevel::Debug, text); }

private:
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    bool echo_ = true;
    LogLevel level_ = LogLevel::Info;
};

} // namespace server
