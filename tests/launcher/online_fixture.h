// Drive Online end to end: the real launcher code on the real engine (Tcl script server, the
// default home's scripts:netsetup.tcl, the network object at /sys/network) against a real
// pelora-server on a loopback port of the system's choosing. Each launcher gets a copy of the
// default home with the server's address in its global settings and the server's certificate
// and sealing key installed as a site installs them; the waits of the network layer are
// shortened in that copy's netsetup.tcl so that a test ends in seconds.
#pragma once

#include "accounts/password_file.h"
#include "drive.h"
#include "engine/services.h"
#include "launcher_fixture.h"
#include "peer_avatars.h"
#include "server_process.h"
#include "settings/global_settings.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace launcher_test {

namespace fs = std::filesystem;

constexpr const char* kLostConnection =
    "There was a problem with the network connection. \nYou will have to login again.";

// The short waits a test home's network layer runs with (milliseconds).
constexpr int kTestConnectTimeoutMs = 3000;

// A temporary folder of a test's own (not a home: PELORA_HOME is left alone), removed with
// everything in it afterwards.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "pelora-e2e-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty())
            fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& part) const { return path_ / part; }

private:
    fs::path path_;
};

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void WriteBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Runs pelora-server with `arguments` (an action such as --print-public-key) and gives what it
// printed on standard output; `code` gets its exit code.
inline std::string ServerPrints(const std::vector<std::string>& arguments, int* code = nullptr) {
    std::string command = std::string("'") + PELORA_SERVER_PROGRAM + "' --config /dev/null";
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    std::string output;
    int status = -1;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, got);
        status = ::pclose(pipe);
    }
    if (code)
        *code = status;
    return output;
}

// Makes `home` a launcher's home for Drive Online to the server at 127.0.0.1:`port`: the
// default home's worlds, avatars and scripts, the guest folder (so the start is no first run),
// global settings naming the server, and, when `serverData` is given, the certificate and the
// sealing key of the server that keeps its data there, in home:keys/. Gives "" or what failed.
inline std::string PrepareOnlineHome(const fs::path& home, int port,
                                     const std::string& serverData) {
    std::error_code ec;
    fs::copy(fs::path(PELORA_SOURCE_DIR) / "home", home,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec)
        return "copying the default home: " + ec.message();
    fs::create_directories(home / "users" / "guest", ec);

    // The same procedures with short bounds: a wait that goes wrong ends within seconds.
    std::ofstream netsetup(home / "scripts" / "netsetup.tcl", std::ios::app);
    netsetup << "\n# Test home: short waits.\n"
             << "set net::connect_timeout " << kTestConnectTimeoutMs << "\n"
             << "set net::login_timeout 5000\nset net::reply_timeout 3000\n"
             << "set net::file_timeout 20000\nset net::stall_timeout 3000\n";
    if (!netsetup)
        return "could not extend scripts/netsetup.tcl";
    netsetup.close();

    if (!serverData.empty()) {
        int code = -1;
        std::string key = ServerPrints({"--data-dir", serverData, "--print-public-key"}, &code);
        if (code != 0 || key.size() < 64)
            return "pelora-server --print-public-key gave \"" + key + "\"";
        std::string pem = ServerPrints({"--data-dir", serverData, "--print-certificate"}, &code);
        if (code != 0 || pem.find("BEGIN CERTIFICATE") == std::string::npos)
            return "pelora-server --print-certificate gave \"" + pem + "\"";
        WriteBytes(home / "keys" / "server.pub", key);
        WriteBytes(home / "keys" / "server.pem", pem);
    }

    GlobalSettings settings((home / "globalSettings").string());
    settings.setServerName("127.0.0.1");
    settings.setServerPort(std::to_string(port));
    return "";
}

// A local user as the configuration tool makes one.
inline bool MakeLocalUser(const fs::path& home, const std::string& name,
                          const std::string& password) {
    std::error_code ec;
    fs::create_directories(home / "users" / name, ec);
    return !ec && accounts::WriteColorsFile((home / "users" / name).string(), password);
}

// ---- the User Setup window ----

inline std::vector<std::string> OnlineUsers(platform::HWND setup) {
    std::vector<std::string> lines;
    for (int i = 0; i < platform::ListBoxGetCount(setup, IDC_SETUP_ONLINE_USERS); ++i)
        lines.push_back(platform::ListBoxGetText(setup, IDC_SETUP_ONLINE_USERS, i));
    return lines;
}

inline bool Listed(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line)
            return true;
    return false;
}

// Presses Update, as a user waiting for someone would, until the Online Users list holds
// `line` or `ms` have passed; gives whether it does.
inline bool WaitUntilListed(platform::HWND setup, const std::string& line, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (Listed(OnlineUsers(setup), line))
            return true;
        if (clock.elapsed() > ms)
            return false;
        QTest::qWait(100);
        platform::SendCommand(setup, IDC_SETUP_UPDATE, platform::BN_CLICKED);
    }
}

inline void PressLogout(platform::HWND setup) {
    platform::SendCommand(setup, IDC_SETUP_LOGOUT, platform::BN_CLICKED);
}

// Acts on the User Setup window once it is shown, as a person would: its opening may wait for
// the server (the list of users online), and window messages run during that wait, so a
// driver that acted as soon as the window exists would act inside its opening. The action
// must leave the window; one left open is closed here and fails the test.
class SetupWindowDriver {
public:
    using Action = std::function<void(platform::HWND setup)>;
    explicit SetupWindowDriver(Action action) : action_(std::move(action)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(5);
    }
    int shown() const { return shown_; }

private:
    void Poll() {
        platform::HWND setup = g_state.setupWindow;
        if (!setup || setup == acting_ || !platform::IsWindowVisible(setup))
            return;
        acting_ = setup;
        ++shown_;
        action_(setup);
        if (g_state.setupWindow == setup) {
            ADD_FAILURE() << "the User Setup window was left open by the test's action";
            PressLogout(setup);
        }
    }
    Action action_;
    platform::HWND acting_ = nullptr;
    int shown_ = 0;
    QTimer timer_;
};

// Types the name and password into the Login window and presses Drive Online. `inSetup` runs
// on the User Setup window once it is shown and must leave it (Logout, say). Gives how often
// the User Setup window was shown.
inline int PressDriveOnline(platform::HWND login, const std::string& name,
                            const std::string& password,
                            const std::function<void(platform::HWND)>& inSetup) {
    platform::SetDlgItemText(login, IDC_LOGIN_USERNAME, name);
    platform::SetDlgItemText(login, IDC_LOGIN_PASSWORD, password);
    SetupWindowDriver setup(inSetup);
    platform::SendCommand(login, IDC_DRIVE_ONLINE, platform::BN_CLICKED);
    return setup.shown();
}

// ---- a look at the server from outside the launcher ----

// A client of its own: a second engine in this process (kernel, Tcl script server and the
// home's netsetup.tcl) on the same home folder. Made before the launcher's kernel, so that the
// launcher's remains the process's current one.
class ServerProbe {
public:
    explicit ServerProbe(int port) {
        kernel_ = NewRuntimeKernel();
        script_ = dynamic_cast<nScriptServer*>(kernel_->New("ntclserver", "/sys/servers/script"));
        std::string result;
        EXPECT_TRUE(script_ && script_->RunScript("scripts:netsetup.tcl", result)) << result;
        Run("net::setctrladdress 127.0.0.1 " + std::to_string(port));
    }
    ~ServerProbe() { kernel_.reset(); }
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;

    std::string Run(const std::string& command) {
        std::string result;
        EXPECT_TRUE(script_ && script_->RunCommand(command.c_str(), result))
            << command << ": " << result;
        return result;
    }

    // The first character of what the server answers a login of `name` with `password`
    // ('0' logged in, '2' no such account, '3' the account has another password); a
    // successful login is logged out again.
    char LoginReply(const std::string& name, const std::string& password) {
        if (Run("return $net::state") != "connected" && Run("net::connect").substr(0, 1) != "0")
            return '?';
        std::string reply = Run("net::login " + ScriptWord(name) + " " + ScriptWord(password));
        if (reply.substr(0, 1) == "0")
            Run("net::logout");
        return reply.empty() ? '?' : reply[0];
    }

    // An account made on the server (as another launcher would make it), left logged out.
    bool CreateAccount(const std::string& name, const std::string& password) {
        if (LoginReply(name, password) != '2')
            return false;
        Run("net::createuser " + ScriptWord(name) + " " + ScriptWord(password));
        return LoginReply(name, password) == '0';
    }

    // Logged in as `name` (made first) and in `world`.
    bool JoinWorld(const std::string& name, const std::string& world) {
        if (!CreateAccount(name, "probe-secret"))
            return false;
        if (Run("net::login " + ScriptWord(name) + " probe-secret").substr(0, 1) != "0")
            return false;
        Run("net::setJoinVars " + ScriptWord(world) + " Standard Blue male; /sys/network.start");
        return Run("net::infoPositions").substr(0, 1) == "0";
    }

    nKernelServer* Kernel() const { return kernel_.get(); }

private:
    std::unique_ptr<nKernelServer> kernel_;
    nScriptServer* script_ = nullptr;
};

// ---- the fixture ----

class OnlineTest : public LauncherTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(serverData.path().empty());
        ASSERT_NO_FATAL_FAILURE(StartServer());
        ASSERT_EQ(PrepareOnlineHome(home.path(), server.Port(), serverData.path().string()), "");
        // Self-driving drives of a second and a half, in a window (offscreen): the drive takes
        // real time, as a person's does, so that things can happen during it.
        SetDriveDisplayForTesting(1);
        setenv("PELORA_AUTODRIVE", "1.5", 1);
    }

    void TearDown() override {
        LauncherTest::TearDown();
        SetDriveDisplayForTesting(-1);
        unsetenv("PELORA_AUTODRIVE");
    }

    // Starts pelora-server on its data folder; on `port` when given (a restart), else on one
    // the system chooses.
    void StartServer(int port = 0) {
        std::vector<std::string> arguments = pelora_test::ServerProcess::FastArguments();
        if (port) {
            arguments.push_back("--port");
            arguments.push_back(std::to_string(port));
        }
        std::string error;
        ASSERT_TRUE(
            server.Start(PELORA_SERVER_PROGRAM, serverData.path().string(), arguments, error))
            << error;
        ASSERT_TRUE(port == 0 || server.Port() == port) << server.Port();
        serverPort = server.Port();
    }

    // Stops the server process where it stands (its connections stay open, nothing is
    // answered: a server too busy to answer) and waits until every thread of it has stopped,
    // so that nothing sent afterwards can slip through; ReleaseServer lets it go on.
    void HoldServer() {
        ASSERT_EQ(::kill(server.Pid(), SIGSTOP), 0);
        const fs::path tasks = "/proc/" + std::to_string(server.Pid()) + "/task";
        auto allStopped = [&] {
            std::error_code ec;
            for (const auto& task : fs::directory_iterator(tasks, ec)) {
                const std::string stat = ReadBytes(task.path() / "stat");
                auto close = stat.rfind(')');
                if (close == std::string::npos || close + 2 >= stat.size() ||
                    (stat[close + 2] != 'T' && stat[close + 2] != 't'))
                    return false;
            }
            return !ec;
        };
        for (int i = 0; i < 400 && !allStopped(); ++i)
            ::usleep(5000);
        ASSERT_TRUE(allStopped()) << "the server did not stop";
    }
    void ReleaseServer() { ::kill(server.Pid(), SIGCONT); }

    // The probe first, then the launcher's Login window on the real engine.
    void OpenLauncher() {
        probe = std::make_unique<ServerProbe>(serverPort);
        window = OpenLoginWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_NE(g_state.scriptServer, nullptr);
        boxes.boxes.clear();
    }

    void MakeUser(const std::string& name, const std::string& password) {
        ASSERT_TRUE(MakeLocalUser(home.path(), name, password));
    }

    int DriveOnline(const std::string& name, const std::string& password,
                    const std::function<void(platform::HWND)>& inSetup = PressLogout) {
        return PressDriveOnline(window, name, password, inSetup);
    }

    std::string RunScript(const std::string& command) {
        std::string result;
        g_state.scriptServer->RunCommand(command.c_str(), result);
        return result;
    }

    // Presses Drive in the User Setup window: the whole drive runs before this returns. The
    // drive's window goes away by itself at the end (nobody is there to read its summary).
    void Drive(platform::HWND setup) {
        RunScript("/observer.setsummary false");
        platform::SendCommand(setup, IDC_SETUP_DRIVE, platform::BN_CLICKED);
    }

    // The files the server keeps for `user`, name to bytes (its own hidden ones left out).
    std::map<std::string, std::string> ServerFiles(const std::string& user) const {
        std::map<std::string, std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(serverData / "users" / user, ec))
            if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                files[entry.path().filename().string()] = ReadBytes(entry.path());
        return files;
    }

    // The files in a folder of the home whose names begin with "data", name to bytes.
    std::map<std::string, std::string> HomeFiles(const std::string& folder) const {
        std::map<std::string, std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(home / folder, ec))
            if (entry.is_regular_file() && entry.path().filename().string().rfind("data", 0) == 0)
                files[entry.path().filename().string()] = ReadBytes(entry.path());
        return files;
    }

    ScratchFolder serverData; // outlives the server that writes into it
    pelora_test::ServerProcess server;
    int serverPort = 0; // where the server listens, or listened before it was stopped
    std::unique_ptr<ServerProbe> probe; // released after the launcher's engine
    platform::HWND window = nullptr;
};

} // namespace launcher_test
