// A throwaway PostgreSQL cluster for tests (see postgres_cluster.h).
#include "postgres_cluster.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace pelora_test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSuperuser = "pelora";
constexpr const char* kReadyLine = "ready to accept connections";

Clock::time_point After(double seconds) {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// What the children see: a plain C locale, so initdb needs no installed locale.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> environment = {"LC_ALL=C", "LANG=C", "PATH=/usr/bin:/bin"};
    return environment;
}

struct Child {
    pid_t pid = -1;
    int output = -1; // stdout and stderr together
};

// Starts `arguments` with stdout and stderr into a pipe, as uid/gid when `drop` is set. The
// child dies with the test process.
bool Spawn(const std::vector<std::string>& arguments, bool drop, uid_t uid, gid_t gid, Child& child,
           std::string& error) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> args = arguments;
    std::vector<char*> argv;
    for (std::string& argument : args)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (pid == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        ::dup2(ends[1], STDERR_FILENO);
        int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull >= 0)
            ::dup2(devNull, STDIN_FILENO);
        if (drop && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)) {
            const char message[] = "cannot switch to the unprivileged user\n";
            (void)!::write(STDERR_FILENO, message, sizeof message - 1);
            ::_exit(126);
        }
        // After the change of user: a change of credentials clears the death signal.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::execve(argv[0], argv.data(), envp.data());
        const char message[] = "cannot run the program\n";
        (void)!::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    ::close(ends[1]);
    child.pid = pid;
    child.output = ends[0];
    return true;
}

// Reads what is there now (within `waitMs`) into `text`; false at the end of the output.
bool ReadSome(int fd, std::string& text, int waitMs) {
    pollfd wait{fd, POLLIN, 0};
    if (::poll(&wait, 1, waitMs) <= 0)
        return true;
    char buffer[4096];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got <= 0)
        return false;
    text.append(buffer, static_cast<std::size_t>(got));
    return true;
}

// Runs a program to its end; false with its output when it fails or outlasts the deadline.
bool RunToEnd(const std::vector<std::string>& arguments, bool drop, uid_t uid, gid_t gid,
              Clock::time_point deadline, std::string& error) {
    Child child;
    if (!Spawn(arguments, drop, uid, gid, child, error))
        return false;
    std::string output;
    bool open = true;
    while (open && MillisecondsLeft(deadline) > 0)
        open = ReadSome(child.output, output, MillisecondsLeft(deadline));
    ::close(child.output);
    int status = 0;
    if (open) { // out of time
        ::kill(child.pid, SIGKILL);
        ::waitpid(child.pid, &status, 0);
        error = arguments[0] + " did not finish in time";
        return false;
    }
    ::waitpid(child.pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = arguments[0] + " failed: " + output;
        return false;
    }
    return true;
}

std::string SocketBase() {
    // Not TMPDIR: the socket's path must fit in sockaddr_un (107 bytes), and the unprivileged
    // user must be able to reach the folder, which a TMPDIR under root's home would forbid.
    return "/tmp";
}

} // namespace

PostgresCluster::~PostgresCluster() {
    Stop();
}

std::string PostgresCluster::BinFolder() {
    const char* folder = std::getenv("PELORA_PG_BIN");
    return folder && *folder ? folder : "/usr/lib/postgresql/15/bin";
}

bool PostgresCluster::Required() {
    const char* required = std::getenv("PELORA_REQUIRE_POSTGRES");
    return required && std::string(required) == "1";
}

bool PostgresCluster::Start(std::string& error, double timeoutSeconds) {
    if (Running()) {
        error = "the cluster is running already";
        return false;
    }
    auto deadline = After(timeoutSeconds);
    std::string bin = BinFolder();
    if (::access((bin + "/initdb").c_str(), X_OK) != 0 ||
        ::access((bin + "/postgres").c_str(), X_OK) != 0) {
        error = "no initdb and postgres in " + bin +
                " (install Debian's postgresql package, or set PELORA_PG_BIN)";
        return false;
    }
    dropPrivileges_ = ::geteuid() == 0;
    if (dropPrivileges_) {
        passwd* user = ::getpwnam("postgres");
        if (!user) {
            error = "running as root, and there is no unprivileged \"postgres\" user to run "
                    "PostgreSQL as (initdb and postgres refuse root)";
            return false;
        }
        uid_ = user->pw_uid;
        gid_ = user->pw_gid;
    }
    std::string pattern = SocketBase() + "/pelora-pg-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = "cannot make a temporary folder: " + std::string(std::strerror(errno));
        return false;
    }
    folder_ = pattern;
    data_ = folder_ + "/data";
    if (dropPrivileges_ && ::chown(folder_.c_str(), uid_, gid_) != 0) {
        error = "cannot give " + folder_ + " to the postgres user: " + std::strerror(errno);
        Stop();
        return false;
    }

    if (!RunToEnd({bin + "/initdb", "-D", data_, "-A", "trust", "-U", kSuperuser, "-E", "UTF8",
                   "--locale=C", "-N"},
                  dropPrivileges_, uid_, gid_, deadline, error)) {
        Stop();
        return false;
    }

    Child server;
    if (!Spawn({bin + "/postgres", "-D", data_, "-k", folder_, "-c", "listen_addresses=", "-c",
                "fsync=off", "-c", "synchronous_commit=off", "-c", "full_page_writes=off", "-c",
                "max_connections=200", "-c", "shared_buffers=16MB"},
               dropPrivileges_, uid_, gid_, server, error)) {
        Stop();
        return false;
    }
    pid_ = server.pid;
    output_ = server.output;
    std::string log;
    bool open = true;
    while (log.find(kReadyLine) == std::string::npos) {
        if (!open || MillisecondsLeft(deadline) == 0) {
            error = std::string(open ? "PostgreSQL did not become ready in time"
                                     : "PostgreSQL ended before it was ready") +
                    ": " + log;
            Stop();
            return false;
        }
        open = ReadSome(output_, log, MillisecondsLeft(deadline));
    }
    // From here on the log is read and dropped: the server must never block on a full pipe.
    drainer_ = std::thread([fd = output_, &ended = ended_] {
        std::string ignored;
        while (ReadSome(fd, ignored, 100) && !(ended && ignored.empty()))
            ignored.clear();
    });
    return true;
}

void PostgresCluster::Stop() {
    if (pid_ > 0) {
        // Immediate shutdown: the data is thrown away anyway.
        ::kill(pid_, SIGQUIT);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    ended_ = true;
    if (drainer_.joinable())
        drainer_.join();
    ended_ = false;
    if (output_ >= 0) {
        ::close(output_);
        output_ = -1;
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
}

bool PostgresCluster::CreateDatabase(const std::string& name, std::string& error) {
    if (!Running()) {
        error = "the cluster is not running";
        return false;
    }
    return RunToEnd({BinFolder() + "/createdb", "-h", folder_, "-U", kSuperuser, name},
                    dropPrivileges_, uid_, gid_, After(30), error);
}

std::string PostgresCluster::Url(const std::string& database) const {
    return std::string("postgresql://") + kSuperuser + "@/" + database + "?host=" + folder_;
}

std::string PostgresCluster::ConnectionText(const std::string& database) const {
    return std::string("host=") + folder_ + " user=" + kSuperuser + " dbname=" + database;
}

} // namespace pelora_test
