// The net:: procedures against a real pelora-server: the server started on a loopback port of
// the system's choosing with its data folder in the test's temporary folder, the engine's
// network object pointed at it, and more launchers' engines (each with its own home folder,
// kernel, script server and netsetup.tcl) in the same process when a test needs two users.
#pragma once

#include "engine/services.h"
#include "network_fixture.h"
#include "server_process.h"

#include <QTest>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

// Another launcher's engine against the same server.
class OtherEngine {
public:
    explicit OtherEngine(int port) {
        kernel_ = NewRuntimeKernel();
        script_ = dynamic_cast<nScriptServer*>(kernel_->New("ntclserver", "/sys/servers/script"));
        std::string result;
        EXPECT_TRUE(script_ &&
                    script_->RunScript(PELORA_SOURCE_DIR "/home/scripts/netsetup.tcl", result))
            << result;
        Run("set net::reply_timeout 3000; set net::login_timeout 5000; "
            "net::setctrladdress 127.0.0.1 " +
            std::to_string(port));
    }
    ~OtherEngine() { kernel_.reset(); }

    std::string Run(const std::string& command) {
        std::string result;
        EXPECT_TRUE(script_ && script_->RunCommand(command.c_str(), result))
            << command << ": " << result;
        return result;
    }
    // Connected and logged in as `name`, the account made when the server lacks it.
    void LogIn(const std::string& name, const std::string& password = "secret") {
        EXPECT_EQ(Run("net::connect").substr(0, 1), "0");
        if (Run("net::login " + name + " " + password).substr(0, 1) == "2") {
            Run("net::createuser " + name + " " + password);
            EXPECT_EQ(Run("net::login " + name + " " + password).substr(0, 1), "0");
        }
    }
    nKernelServer* Kernel() const { return kernel_.get(); }
    const fakes::TempHome& Home() const { return home_; }

private:
    fakes::TempHome home_; // before the kernel: its assigns point here
    std::unique_ptr<nKernelServer> kernel_;
    nScriptServer* script_ = nullptr;
};

class NetworkServerFixture : public NetworkFixture {
protected:
    void SetUp() override {
        NetworkFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartServer());
    }

    std::string ServerData() const { return (home / "server-data").string(); }

    void StartServer(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments = pelora_test::ServerProcess::FastArguments();
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        std::string error;
        ASSERT_TRUE(server.Start(PELORA_SERVER_PROGRAM, ServerData(), arguments, error)) << error;
        Run("net::setctrladdress 127.0.0.1 " + std::to_string(server.Port()));
    }

    // What `pelora-server ARGUMENTS` prints.
    static std::string ServerPrints(const std::string& arguments) {
        std::string command = std::string("'") + PELORA_SERVER_PROGRAM + "' " + arguments;
        std::string output;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            size_t got = 0;
            while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
                output.append(buffer, got);
            pclose(pipe);
        }
        return output;
    }

    // The bytes of a file the server keeps for the user.
    std::string ServerFile(const std::string& user, const std::string& name) const {
        std::ifstream in(std::filesystem::path(ServerData()) / "users" / user / name,
                         std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The names of the files the server keeps for the user (its own hidden ones left out).
    std::vector<std::string> ServerFiles(const std::string& user) const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(
                 std::filesystem::path(ServerData()) / "users" / user, ec))
            if (entry.path().filename().string()[0] != '.')
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The drive data files still waiting in the user's local folder.
    std::vector<std::string> LocalDataFiles(const std::string& user) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(home / ("users/" + user)))
            if (entry.is_regular_file() && entry.path().filename().string().rfind("data", 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }

    void Connect() { ASSERT_EQ(Run("net::connect").substr(0, 1), "0") << State(); }

    // Connected and logged in as `name`, the account made first.
    void LogIn(const std::string& name, const std::string& password = "secret") {
        ASSERT_NO_FATAL_FAILURE(Connect());
        Run("net::createuser {" + name + "} {" + password + "}");
        ASSERT_EQ(Run("net::login {" + name + "} {" + password + "}").substr(0, 1), "0");
        ASSERT_EQ(State(), "online");
    }

    // Keeps Qt's (and so the network's) events flowing until `done` or `ms` passed.
    static bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
        return QTest::qWaitFor(done, ms);
    }

    void SignalServer(int signal) { ASSERT_EQ(::kill(server.Pid(), signal), 0); }

    // The server stopped where it stands (see ServerProcess::Hold); ReleaseServer lets it go on.
    void HoldServer() { ASSERT_TRUE(server.Hold()) << "the server did not stop"; }
    void ReleaseServer() { server.Release(); }

    pelora_test::ServerProcess server; // stops before the home folder it writes into goes
};
