// The server's log (see server_log.h).
#include "server_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace server {

bool ParseLogLevel(const std::string& text, LogLevel& level) {
    if (text == "error")
        level = LogLevel::Error;
    else if (text == "warn" || text == "warning")
        level = LogLevel::Warning;
    else if (text == "info")
        level = LogLevel::Info;
    else if (text == "debug")
        level = LogLevel::Debug;
    else
        return false;
    return true;
}

const char* LogLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::Error:
        return "ERROR";
    case LogLevel::Warning:
        return "WARN ";
    case LogLevel::Info:
        return "INFO ";
    case LogLevel::Debug:
        return "DEBUG";
    }
    return "?    ";
}

Log::~Log() {
    if (file_)
        std::fclose(file_);
}

bool Log::Open(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ae");
    if (!file) {
        error = "cannot open the log " + path + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard lock(mutex_);
    if (file_)
        std::fclose(file_);
    file_ = file;
    echo_ = ::isatty(STDERR_FILENO) == 1;
    return true;
}

void Log::Write(LogLevel level, const std::string& text) {
    if (!Enabled(level))
        return;
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = std::string(stamp) + " " + LogLevelName(level) + " " + text + "\n";
    std::lock_guard lock(mutex_);
    if (file_) {
        std::fputs(line.c_str(), file_);
        std::fflush(file_);
    }
    if (!file_ || echo_)
        std::fputs(line.c_str(), stderr);
}

} // namespace server
