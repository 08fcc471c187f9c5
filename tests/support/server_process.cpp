// The real server as a child process of a test (see server_process.h).
#include "server_process.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pelora_test {

namespace {

constexpr const char* kReadyPrefix = "pelora-server: listening on ";

using Clock = std::chrono::steady_clock;

int ExitCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

ServerProcess::~ServerProcess() {
    Stop();
}

std::vector<std::string> ServerProcess::FastArguments() {
    return {"--argon2-ops", "1", "--argon2-memory",           "8",      "--workers",    "2",
            "--io-threads", "2", "--max-creates-per-address", "100000", "--staff-port", "0"};
}

bool ServerProcess::Start(const std::string& program, const std::string& dataDir,
                          const std::vector<std::string>& extraArguments, std::string& error,
                          double timeoutSeconds) {
    if (Running()) {
        error = "the server is running already";
        return false;
    }
    std::vector<std::string> arguments = {program,     "--port",     "0",    "--bind",
                                          "127.0.0.1", "--data-dir", dataDir};
    bool hasConfig = false;
    for (const std::string& argument : extraArguments)
        hasConfig = hasConfig || argument == "--config" || argument.rfind("--config=", 0) == 0;
    if (!hasConfig) {
        // Not the configuration of whoever runs the tests.
        arguments.push_back("--config");
        arguments.push_back("/dev/null");
    }
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());

    // Everything the child needs is made before the fork: in a test process with other
    // threads, the child may call only async-signal-safe functions until it execs. A malloc
    // there can wait forever for an allocator lock another thread held at the fork (the
    // sanitizers' allocator in particular takes no lock around fork), and the server then
    // never starts.
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return false;
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    pid_ = pid;
    output_ = pipeEnds[0];
    dataDir_ = dataDir;

    std::string text;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        auto newline = text.find('\n');
        while (newline != std::string::npos) {
            std::string line = text.substr(0, newline);
            text.erase(0, newline + 1);
            if (line.rfind(kReadyPrefix, 0) == 0) {
                auto colon = line.rfind(':');
                port_ = std::atoi(line.c_str() + colon + 1);
                if (port_ > 0)
                    return true;
            }
            newline = text.find('\n');
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            error = "the server gave no readiness line within " +
                    std::to_string(static_cast<int>(timeoutSeconds)) + " s";
            // Which program the child is tells a slow server from a child that never got to
            // exec it.
            char exe[PATH_MAX], wanted[PATH_MAX];
            std::string link = "/proc/" + std::to_string(pid_) + "/exe";
            ssize_t length = ::readlink(link.c_str(), exe, sizeof exe - 1);
            if (length > 0 && ::realpath(program.c_str(), wanted)) {
                exe[length] = '\0';
                if (std::strcmp(exe, wanted) != 0)
                    error += std::string("; the child is still ") + exe +
                             ", stuck before it could start " + program;
            }
            break;
        }
        pollfd wait{output_, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
            continue;
        char buffer[512];
        ssize_t got = ::read(output_, buffer, sizeof buffer);
        if (got <= 0) {
            error = "the server ended before it was ready (see its error output)";
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    int code = Stop(2);
    error += " (exit code " + std::to_string(code) + ")";
    return false;
}

namespace {

// Whether every thread of the process is stopped ('T' or 't' in each task's stat line).
bool AllThreadsStopped(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = ::opendir(tasks.c_str());
    if (!folder)
        return false;
    bool stopped = true;
    bool any = false;
    while (dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.')
            continue;
        any = true;
        std::string text;
        int fd = ::open((tasks + "/" + entry->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            char buffer[512];
            ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0)
                text.assign(buffer, static_cast<std::size_t>(got));
            ::close(fd);
        }
        auto close = text.rfind(')');
        if (close == std::string::npos || close + 2 >= text.size() ||
            (text[close + 2] != 'T' && text[close + 2] != 't'))
            stopped = false;
    }
    ::closedir(folder);
    return any && stopped;
}

} // namespace

bool ServerProcess::Hold(double timeoutSeconds) {
    if (pid_ <= 0 || ::kill(pid_, SIGSTOP) != 0)
        return false;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(timeoutSeconds));
    while (!AllThreadsStopped(pid_)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ServerProcess::Release() {
    if (pid_ > 0)
        ::kill(pid_, SIGCONT);
}

int ServerProcess::Stop(double timeoutSeconds) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    ::kill(pid_, SIGCONT); // a held server gets the SIGTERM only once it runs again
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(timeoutSeconds));
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    port_ = 0;
    if (output_ >= 0) {
        ::close(output_);
        output_ = -1;
    }
    return done == 0 ? 128 + SIGKILL : ExitCode(status);
}

} // namespace pelora_test
