// The server's log (see server_log.h).
#include "server_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
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

namespace {

// The length of the UTF-8 sequence at `at` and its code point; 0 when it is not one.
std::size_t Sequence(std::string_view text, std::size_t at, char32_t& c) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    unsigned char lead = byte(0);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    static const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    return length;
}

// Characters that change how a line reads without being seen: controls, the C1 range, marks
// and overrides of direction, zero-width characters, line and paragraph separators.
bool Hidden(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0xAD || c == 0x061C ||
           (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

} // namespace

std::string LogEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char escape[16];
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        std::size_t length = Sequence(text, i, c);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += escape;
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x80 && Hidden(c)) {
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            out += escape;
        } else if (Hidden(c)) {
            std::snprintf(escape, sizeof escape, "\\u{%04X}", static_cast<unsigned>(c));
            out += escape;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string LogQuoted(std::string_view text) {
    return "\"" + LogEscaped(text) + "\"";
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
    struct stat info;
    std::lock_guard lock(mutex_);
    if (file_)
        std::fclose(file_);
    file_ = file;
    path_ = path;
    size_ = ::fstat(fileno(file), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    echo_ = ::isatty(STDERR_FILENO) == 1;
    return true;
}

void Log::SetRotation(std::uint64_t maxBytes, unsigned keep) {
    std::lock_guard lock(mutex_);
    maxBytes_ = maxBytes;
    keep_ = keep;
}

// With the lock held: log.2 -> log.3 ..., log -> log.1, and a fresh log. The oldest beyond
// `keep_` goes; with none kept the file starts afresh.
void Log::Rotate() {
    std::fclose(file_);
    file_ = nullptr;
    if (keep_ == 0) {
        ::unlink(path_.c_str());
    } else {
        for (unsigned n = keep_; n > 1; --n)
            ::rename((path_ + "." + std::to_string(n - 1)).c_str(),
                     (path_ + "." + std::to_string(n)).c_str());
        ::rename(path_.c_str(), (path_ + ".1").c_str());
    }
    file_ = std::fopen(path_.c_str(), "ae");
    size_ = 0;
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
    if (file_ && maxBytes_ > 0 && size_ > 0 && size_ + line.size() > maxBytes_)
        Rotate();
    if (file_) {
        std::fputs(line.c_str(), file_);
        std::fflush(file_);
        size_ += line.size();
    }
    if (!file_ || echo_)
        std::fputs(line.c_str(), stderr);
}

} // namespace server
