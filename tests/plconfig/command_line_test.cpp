// plconfig's command line: options, exit codes and messages, passwords from a pipe and from a
// terminal with echo off, the server setting, the windowless first run, and the built tool.
#include "command_line.h"
#include "fakes.h"
#include "password_input.h"

#include "accounts/password_file.h"
#include "settings/global_settings.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace plconfig;

// ---- options ----

TEST(PlconfigOptions, EachOptionGivesItsActionAndValue) {
    struct Case {
        std::vector<std::string> arguments;
        Action action;
        std::string value;
    };
    const Case cases[] = {
        {{}, Action::OpenWindow, ""},
        {{"-add"}, Action::FirstRunAdd, ""},
        {{"--add-user", "alice"}, Action::AddUser, "alice"},
        {{"--add-user=al ice"}, Action::AddUser, "al ice"},
        {{"--add-user", "-dash"}, Action::AddUser, "-dash"},
        {{"--passwd", "bob"}, Action::ChangePassword, "bob"},
        {{"--remove", "carol"}, Action::RemoveUser, "carol"},
        {{"--list"}, Action::ListUsers, ""},
        {{"--server", "host:1"}, Action::SetServer, "host:1"},
        {{"--help"}, Action::Help, ""},
        {{"-h"}, Action::Help, ""},
        {{"--version"}, Action::Version, ""},
    };
    for (const Case& c : cases) {
        Options options = ParseArguments(c.arguments);
        EXPECT_EQ(options.action, c.action) << (c.arguments.empty() ? "" : c.arguments[0]);
        EXPECT_EQ(options.value, c.value);
    }
}

TEST(PlconfigOptions, UsageMistakes_AreInvalidWithTheReason) {
    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    const Case cases[] = {
        {{"--add-user"}, "--add-user needs a user name."},
        {{"--server"}, "--server needs HOST:PORT."},
        {{"--list", "extra"}, "One option at a time"},
        {{"--list=1"}, "--list takes no value."},
        {{"--bogus"}, "Unknown option \"--bogus\"."},
        {{"alice"}, "Unknown option \"alice\"."},
        {{"--add-user", "a", "--list"}, "One option at a time"},
    };
    for (const Case& c : cases) {
        Options options = ParseArguments(c.arguments);
        EXPECT_EQ(options.action, Action::Invalid) << c.arguments[0];
        EXPECT_EQ(options.problem.rfind(c.reason, 0), 0u) << options.problem;
        EXPECT_NE(options.problem.find("plconfig --help"), std::string::npos);
    }
}

TEST(PlconfigOptions, HelpNamesEveryOptionAndExitCode) {
    const std::string help = HelpText();
    for (const char* text : {"-add", "--add-user NAME", "--passwd NAME", "--remove NAME", "--list",
                             "--server HOST[:PORT]", "--help", "--version", "standard input",
                             "users/.removed/", "users/.adding/", "PELORA_HOME", "119 bytes"})
        EXPECT_NE(help.find(text), std::string::npos) << text;
    for (int code = kExitOk; code <= kExitNoDisplay; ++code)
        EXPECT_NE(help.find("\n  " + std::to_string(code) + "  "), std::string::npos) << code;
}

TEST(PlconfigOptions, WindowPlatform_NoneWithoutADisplayElseFallingBackToOffscreen) {
    EXPECT_EQ(ChooseWindowPlatform(nullptr, nullptr, nullptr), "");
    EXPECT_EQ(ChooseWindowPlatform("", "", ""), "");
    EXPECT_EQ(ChooseWindowPlatform("offscreen", ":0", nullptr), "");
    EXPECT_EQ(ChooseWindowPlatform("minimal", ":0", nullptr), "");
    EXPECT_EQ(ChooseWindowPlatform("offscreen:fontengine=freetype", ":0", nullptr), "");
    EXPECT_EQ(ChooseWindowPlatform("xcb", nullptr, nullptr), "xcb");
    EXPECT_EQ(ChooseWindowPlatform(nullptr, ":0", nullptr), "xcb;offscreen");
    EXPECT_EQ(ChooseWindowPlatform(nullptr, nullptr, "wayland-0"), "wayland;offscreen");
    EXPECT_EQ(ChooseWindowPlatform(nullptr, ":0", "wayland-0"), "wayland;xcb;offscreen");
}

// ---- commands ----

class PlconfigCommand : public ::testing::Test {
protected:
    // Runs the command with `input` as standard input (a pipe, closed after it).
    int Run(const std::vector<std::string>& arguments, const std::string& input = "") {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], input.data(), input.size()), ssize_t(input.size()));
        ::close(fds[1]);
        out.str("");
        err.str("");
        CommandStreams streams{fds[0], -1, out, err};
        int code = RunCommand(ParseArguments(arguments), home.path().string(), streams);
        char rest[256];
        ssize_t left = ::read(fds[0], rest, sizeof rest);
        unread = left > 0 ? std::string(rest, std::size_t(left)) : "";
        ::close(fds[0]);
        return code;
    }
    std::string Password(const std::string& name) {
        std::string password;
        EXPECT_TRUE(accounts::ReadColorsFile((home / "users" / name).string(), password));
        return password;
    }

    fakes::TempHome home;
    std::ostringstream out, err;
    std::string unread; // what the command left of its standard input
};

TEST_F(PlconfigCommand, AddUser_TakesTheFirstLineOfStandardInputAsPassword) {
    EXPECT_EQ(Run({"--add-user", "alice"}, "s3cret pw\r\nsecond line\n"), kExitOk) << err.str();

    EXPECT_EQ(Password("alice"), "s3cret pw");
    EXPECT_EQ(out.str(), "User \"alice\" added.\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(unread, "second line\n");
}

TEST_F(PlconfigCommand, AddUser_Refusals_HaveTheirExitCodesAndMakeNothing) {
    ASSERT_EQ(Run({"--add-user", "Bob"}, "pw\n"), kExitOk);

    EXPECT_EQ(Run({"--add-user", "bob"}, "pw\n"), kExitUserExists);
    EXPECT_EQ(err.str().rfind("plconfig: A user \"Bob\" exists already", 0), 0u) << err.str();
    EXPECT_EQ(unread, "pw\n") << "no password is asked for a name that is refused";
    EXPECT_EQ(Run({"--add-user", "a/b"}, "pw\n"), kExitNameRefused);
    EXPECT_EQ(err.str(), "plconfig: A user name cannot hold a slash (/) or a backslash (\\).\n");
    EXPECT_EQ(Run({"--add-user", "carol"}, ""), kExitPasswordRefused);
    EXPECT_EQ(err.str(), "plconfig: No password was given on standard input.\n");
    EXPECT_EQ(Run({"--add-user", "carol"}, "\n"), kExitPasswordRefused);
    EXPECT_EQ(Run({"--add-user", "carol"}, std::string(120, 'p') + "\n"), kExitPasswordRefused);
    EXPECT_NE(err.str().find("at most 119 bytes"), std::string::npos) << err.str();

    EXPECT_FALSE(fs::exists(home / "users" / "carol"));
    EXPECT_FALSE(fs::exists(home / "users" / "a"));
}

TEST_F(PlconfigCommand, AddGuest_NeedsNoPassword) {
    EXPECT_EQ(Run({"--add-user", "Guest"}, "not read\n"), kExitOk) << err.str();

    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
    EXPECT_EQ(unread, "not read\n");
}

TEST_F(PlconfigCommand, PasswdListAndRemove_WorkOnExistingUsersOnly) {
    ASSERT_EQ(Run({"--add-user", "dave"}, "old\n"), kExitOk);
    ASSERT_EQ(Run({"--add-user", "Erin"}, "pw\n"), kExitOk);

    // No server answers at the configured address: changed here, and said that the server
    // was not told, with an exit code of its own.
    EXPECT_EQ(Run({"--passwd", "dave"}, "new\n"), kExitServerNotChanged) << err.str();
    EXPECT_EQ(Password("dave"), "new");
    EXPECT_NE(err.str().find("could NOT be changed on the server"), std::string::npos);
    EXPECT_NE(err.str().find("next Drive Online"), std::string::npos);
    EXPECT_EQ(Run({"--passwd", "nobody"}, "new\n"), kExitNoSuchUser);
    EXPECT_EQ(err.str(), "plconfig: There is no user \"nobody\".\n");
    EXPECT_EQ(unread, "new\n");
    EXPECT_EQ(Run({"--passwd", "guest"}, "new\n"), kExitNameRefused);

    EXPECT_EQ(Run({"--list"}), kExitOk);
    EXPECT_EQ(out.str(), "dave\nErin\n");

    EXPECT_EQ(Run({"--remove", "erin"}), kExitNoSuchUser);
    EXPECT_EQ(Run({"--remove", "Erin"}), kExitOk) << err.str();
    EXPECT_EQ(
        out.str().rfind("User \"Erin\" removed; the folder is kept as users/.removed/Erin-", 0), 0u)
        << out.str();
    EXPECT_EQ(Run({"--remove", "guest"}), kExitNameRefused);
    EXPECT_EQ(Run({"--list"}), kExitOk);
    EXPECT_EQ(out.str(), "dave\n");
}

TEST_F(PlconfigCommand, List_NoUsersFolderIsNoUsersButAnUnreadableOneFails) {
    EXPECT_EQ(Run({"--list"}), kExitOk);
    EXPECT_EQ(out.str(), "");

    home.WriteFile("users", "a file where the folder should be");
    EXPECT_EQ(Run({"--list"}), kExitIoFailure);
    EXPECT_EQ(err.str().rfind("plconfig: Could not read the users folder ", 0), 0u) << err.str();
}

TEST_F(PlconfigCommand, Server_WithoutSettingsFile_WritesTheDefaultsPlusTheChange) {
    EXPECT_EQ(Run({"--server", "training.example.org:04000"}), kExitOk) << err.str();

    EXPECT_EQ(out.str(), "The server is now training.example.org:4000.\n");
    GlobalSettings settings((home / "globalSettings").string());
    EXPECT_EQ(settings.getServerName(), "training.example.org");
    EXPECT_EQ(settings.getServerPort(), "4000");
    EXPECT_EQ(settings.getResolution(), "1024x768");
    EXPECT_TRUE(settings.useFullscreen());
    EXPECT_EQ(settings.getUserName(), "guest");
    EXPECT_EQ(settings.getDriveMode(), "offline");
}

TEST_F(PlconfigCommand, Server_InAnExistingFile_ChangesTheTwoKeysOnly) {
    home.WriteFile("globalSettings", "# Pelora settings\nresolution=800x600\nserver-port=5000\n");

    EXPECT_EQ(Run({"--server", "10.0.0.7"}), kExitOk) << err.str();

    EXPECT_EQ(home.ReadFile("globalSettings"), "# Pelora settings\nresolution=800x600\n"
                                               "server-name=10.0.0.7\nserver-port=5000\n");
}

TEST_F(PlconfigCommand, Server_UnusableValuesOrUnreadableFile_ChangeNothing) {
    const std::string broken = "# Pelora settings\nno equals sign here\n";
    home.WriteFile("globalSettings", broken);
    EXPECT_EQ(Run({"--server", "example.org:3152"}), kExitIoFailure);
    EXPECT_NE(err.str().find("line 2"), std::string::npos) << err.str();
    EXPECT_EQ(home.ReadFile("globalSettings"), broken);

    fs::remove(home / "globalSettings");
    for (const char* value : {"", "bad host", "host:0", "host:65536", "host:", "host:80a", "::1",
                              "-host", "a..b", "300.1.1.1", "1.2.3", "h;rm -rf /:1", "[x]"}) {
        EXPECT_EQ(Run({"--server", value}), kExitUsage) << value;
        EXPECT_FALSE(err.str().empty()) << value;
    }
    EXPECT_FALSE(fs::exists(home / "globalSettings"));
    EXPECT_EQ(Run({"--server", "under_score-host.local:65535"}), kExitOk) << err.str();
}

TEST_F(PlconfigCommand, HeadlessFirstRun_MakesGuestAndExplainsTheCommandLine) {
    std::ostringstream messages;

    EXPECT_EQ(RunHeadlessFirstRun(home.path().string(), messages), kExitOk);

    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
    EXPECT_NE(messages.str().find("plconfig --add-user NAME"), std::string::npos);
}

// ---- a terminal ----

class Terminal {
public:
    Terminal() { opened_ = ::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0; }
    ~Terminal() {
        if (opened_) {
            ::close(master);
            ::close(slave);
        }
    }
    bool EchoOn() const {
        termios modes{};
        ::tcgetattr(slave, &modes);
        return (modes.c_lflag & ECHO) != 0;
    }
    // Types the text once echo is off, as a person does after the prompt.
    std::thread TypeWhenQuiet(std::string text) {
        return std::thread([this, text] {
            for (int i = 0; i < 5000 && EchoOn(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ::write(master, text.data(), text.size());
        });
    }
    std::string Shown() {
        std::string shown;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        char buffer[512];
        ssize_t got;
        while ((got = ::read(master, buffer, sizeof buffer)) > 0)
            shown.append(buffer, std::size_t(got));
        return shown;
    }
    bool opened_ = false;
    int master = -1;
    int slave = -1;
};

TEST(PlconfigTerminal, PasswordIsAskedTwiceWithoutEchoAndEchoComesBack) {
    Terminal terminal;
    ASSERT_TRUE(terminal.opened_);
    std::thread typist = terminal.TypeWhenQuiet("hidden pw\nhidden pw\n");
    std::string password, problem;

    bool read =
        ReadPassword(terminal.slave, terminal.slave, "Password for bob: ", password, problem);
    typist.join();

    EXPECT_TRUE(read) << problem;
    EXPECT_EQ(password, "hidden pw");
    const std::string shown = terminal.Shown();
    EXPECT_NE(shown.find("Password for bob: "), std::string::npos) << shown;
    EXPECT_NE(shown.find("Type it again: "), std::string::npos) << shown;
    EXPECT_EQ(shown.find("hidden"), std::string::npos) << shown;
    EXPECT_TRUE(terminal.EchoOn());
}

TEST(PlconfigTerminal, TwoDifferentEntries_AreRefused) {
    Terminal terminal;
    ASSERT_TRUE(terminal.opened_);
    std::thread typist = terminal.TypeWhenQuiet("first\nsecond\n");
    std::string password, problem;

    bool read = ReadPassword(terminal.slave, terminal.slave, "Password: ", password, problem);
    typist.join();

    EXPECT_FALSE(read);
    EXPECT_EQ(problem, "The two passwords differ; nothing was changed.");
    EXPECT_TRUE(password.empty());
    EXPECT_TRUE(terminal.EchoOn());
}

// ---- the built tool ----

class PlconfigProgram : public ::testing::Test {
protected:
    int Run(const QStringList& arguments, const QByteArray& input = {}) {
        return Run(arguments, input, Environment());
    }
    int Run(const QStringList& arguments, const QByteArray& input,
            const QProcessEnvironment& environment) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(PLCONFIG_PROGRAM, arguments);
        if (!process.waitForStarted(10000))
            return -1000;
        process.write(input);
        process.closeWriteChannel();
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished(5000);
            return -1001;
        }
        output = process.readAllStandardOutput().toStdString();
        errors = process.readAllStandardError().toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1002;
    }
    // The tool on the test's home, without a display.
    QProcessEnvironment Environment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PELORA_HOME", QString::fromStdString(home.path().string()));
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        return environment;
    }

    fakes::TempHome home;
    std::string output, errors;
};

TEST_F(PlconfigProgram, FirstRunWithoutDisplay_EndsAtOnceWithGuestMade) {
    QProcessEnvironment offscreen = Environment();
    offscreen.insert("QT_QPA_PLATFORM", "offscreen");
    offscreen.insert("DISPLAY", ":0");

    EXPECT_EQ(Run({"-add"}), kExitOk) << errors;
    EXPECT_NE(errors.find("plconfig --add-user NAME"), std::string::npos) << errors;
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
    fs::remove_all(home / "users" / "guest");
    EXPECT_EQ(Run({"-add"}, {}, offscreen), kExitOk) << errors;
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));

    EXPECT_EQ(Run({}), kExitNoDisplay);
    EXPECT_NE(errors.find("no display"), std::string::npos) << errors;
}

TEST_F(PlconfigProgram, ScriptedInstall_AddsListsAndReportsOnStandardError) {
    EXPECT_EQ(Run({"--add-user", "alice"}, "pw one\n"), kExitOk) << errors;
    EXPECT_EQ(Run({"--add-user", "alice"}, "pw one\n"), kExitUserExists);
    EXPECT_EQ(errors, "plconfig: A user \"alice\" exists already.\n");
    EXPECT_EQ(Run({"--list"}), kExitOk);
    EXPECT_EQ(output, "alice\n");
    EXPECT_EQ(Run({"--frobnicate"}), kExitUsage);
    EXPECT_EQ(output, "");
    EXPECT_EQ(Run({"--help"}), kExitOk);
    EXPECT_EQ(output, HelpText());
}

} // namespace
