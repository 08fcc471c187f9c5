// Starts the real pelora-server as a child process for a test: on 127.0.0.1 with a port the
// system picks (--port 0), a data folder the test gives, no configuration file but the one the
// test names, and the arguments the test adds. Start() waits for the server's readiness line
// ("pelora-server: listening on 127.0.0.1:PORT") and takes the port from it; Stop() sends
// SIGTERM and waits for the exit. The child dies with the test process if that ends first.
// Self-contained: POSIX and the standard library only.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace pelora_test {

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess(); // stops a running server
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // `program`: the pelora-server binary. Gives false with a sentence in `error` when the
    // server did not start or did not say it was ready within `timeoutSeconds`.
    bool Start(const std::string& program, const std::string& dataDir,
               const std::vector<std::string>& extraArguments, std::string& error,
               double timeoutSeconds = 20);

    // Sends SIGTERM and waits; gives the exit code, 128 + the signal for a server that was
    // killed, or -1 when none was running. After `timeoutSeconds` the server is killed.
    int Stop(double timeoutSeconds = 10);

    // Stops the server where it stands (SIGSTOP: its connections stay open and nothing is
    // answered, a server too busy to answer) and waits, at most `timeoutSeconds`, until the
    // system reports every thread of it stopped, so that nothing sent afterwards can slip
    // through. False when it did not stop in time. Release() lets it go on (SIGCONT).
    bool Hold(double timeoutSeconds = 2);
    void Release();

    bool Running() const { return pid_ > 0; }
    int Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    const std::string& DataDir() const { return dataDir_; }

    // Arguments that make a server quick to test against: argon2id at its least cost, and no
    // limit on the accounts a test may create from 127.0.0.1, and no staff view (its port is
    // fixed; a test of the staff view gives one of its own).
    static std::vector<std::string> FastArguments();

private:
    pid_t pid_ = -1;
    int output_ = -1; // the read end of the child's stdout
    int port_ = 0;
    std::string dataDir_;
};

} // namespace pelora_test
