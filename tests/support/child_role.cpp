// The registry of helper-process roles (see child_role.h).
#include "child_role.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pelora_test {

namespace {

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

} // namespace

ChildRoleRegistration::ChildRoleRegistration(const std::string& name, ChildRole role) {
    Roles()[name] = std::move(role);
}

int RunChildRoleIfAsked(bool& ran) {
    const char* name = std::getenv(kChildRoleVariable);
    ran = name && *name;
    if (!ran)
        return 0;
    auto it = Roles().find(name);
    if (it == Roles().end()) {
        std::fprintf(stderr, "%s: no helper role \"%s\" in this test program\n", kChildRoleVariable,
                     name);
        return 125;
    }
    return it->second();
}

std::string TestProgramPath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

pid_t StartChildRole(const std::string& name, const std::vector<std::string>& environment,
                     int outputFd, std::string& error) {
    const std::string program = TestProgramPath();
    if (program.empty()) {
        error = "cannot find the running test program";
        return -1;
    }
    // All the child needs is made here: posix_spawn's child only execs.
    const std::string role = std::string(kChildRoleVariable) + "=" + name;
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, role.c_str(), std::strlen(kChildRoleVariable) + 1) != 0)
            entries.push_back(*entry);
    }
    entries.push_back(role);
    entries.insert(entries.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd != -1)
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    pid_t child = -1;
    int failed = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        error = "cannot start " + program + ": " + std::strerror(failed);
        return -1;
    }
    return child;
}

bool WaitForChild(pid_t child, double seconds, int& status) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    // The child's process descriptor becomes readable when it ends. (Without process
    // descriptors, before Linux 5.3, the wait is the plain one.)
    const int ended = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    bool inTime = true;
    if (ended >= 0) {
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                inTime = false;
                break;
            }
            pollfd wait{ended, POLLIN, 0};
            int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
            if (ready > 0 || (ready < 0 && errno != EINTR))
                break;
        }
        ::close(ended);
    }
    if (!inTime)
        ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return inTime;
}

} // namespace pelora_test
