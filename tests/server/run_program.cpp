// Runs a program to its end and collects its standard output (see server_fixture.h).
#include "server_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

namespace pelora_test {

int RunProgram(const std::vector<std::string>& arguments, std::string& output) {
    // Made before the fork: the child of a process with threads must not allocate before it
    // execs (see server_process.cpp).
    std::vector<std::string> copy = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copy)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int ends[2];
    if (::pipe(ends) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        ::close(ends[0]);
        ::close(ends[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    output.clear();
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(ends[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(got));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace pelora_test
