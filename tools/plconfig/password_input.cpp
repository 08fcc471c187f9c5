// Reading a password from standard input: twice with echo off on a terminal, one line from a
// pipe or file.
#include "password_input.h"

#include <cerrno>
#include <csignal>
#include <cstring>

#include <termios.h>
#include <unistd.h>

namespace plconfig {

namespace {

// Far above any password the store accepts; a longer line is not read on without end.
constexpr std::size_t kMaxLineBytes = 4096;

enum class LineRead { Line, End, TooLong, Failed };

// Reads up to a line feed, byte by byte so that nothing after the line is taken from a shared
// input. A carriage return before the line feed goes with it.
LineRead ReadLine(int fd, std::string& line) {
    line.clear();
    bool any = false;
    for (;;) {
        char c;
        ssize_t got = ::read(fd, &c, 1);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return LineRead::Failed;
        }
        if (got == 0) {
            if (!any)
                return LineRead::End;
            break;
        }
        any = true;
        if (c == '\n')
            break;
        if (line.size() >= kMaxLineBytes)
            return LineRead::TooLong;
        line += c;
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return LineRead::Line;
}

void WriteText(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        left -= std::size_t(written);
    }
}

// The terminal settings to put back when a signal ends the process while echo is off.
int g_echoFd = -1;
termios g_echoSaved;

extern "C" void RestoreEchoAndDie(int signal) {
    if (g_echoFd >= 0)
        ::tcsetattr(g_echoFd, TCSANOW, &g_echoSaved);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Echo off on a terminal for this scope; the line feed that ends the password still shows.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (::tcgetattr(fd, &saved_) != 0)
            return;
        g_echoSaved = saved_;
        g_echoFd = fd;
        struct sigaction action {};
        action.sa_handler = RestoreEchoAndDie;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < kSignalCount; ++i)
            ::sigaction(kSignals[i], &action, &previous_[i]);
        termios quiet = saved_;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        // Typed-ahead input is kept: it was shown already, and dropping it loses keystrokes.
        ::tcsetattr(fd, TCSADRAIN, &quiet);
    }
    ~EchoOff() {
        if (g_echoFd < 0)
            return;
        ::tcsetattr(fd_, TCSADRAIN, &saved_);
        for (int i = 0; i < kSignalCount; ++i)
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        g_echoFd = -1;
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    static constexpr int kSignalCount = 4;
    static constexpr int kSignals[kSignalCount] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    int fd_;
    termios saved_{};
    struct sigaction previous_[kSignalCount] {};
};

bool Explain(LineRead read, std::string& problem) {
    switch (read) {
    case LineRead::Line:
        return true;
    case LineRead::End:
        problem = "No password was given on standard input.";
        return false;
    case LineRead::TooLong:
        problem = "The password given on standard input is far too long.";
        return false;
    case LineRead::Failed:
        problem = std::string("Could not read standard input: ") + std::strerror(errno);
        return false;
    }
    return false;
}

} // namespace

bool ReadPassword(int in, int promptOut, const std::string& prompt, std::string& password,
                  std::string& problem) {
    if (!::isatty(in)) {
        std::string line;
        if (!Explain(ReadLine(in, line), problem))
            return false;
        password = std::move(line);
        return true;
    }
    std::string first, second;
    {
        EchoOff quiet(in);
        WriteText(promptOut, prompt);
        if (!Explain(ReadLine(in, first), problem))
            return false;
        WriteText(promptOut, "Type it again: ");
        if (!Explain(ReadLine(in, second), problem))
            return false;
    }
    if (first != second) {
        problem = "The two passwords differ; nothing was changed.";
        return false;
    }
    password = std::move(first);
    return true;
}

} // namespace plconfig
