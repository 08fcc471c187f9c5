// The server's settings: defaults, the configuration file, the command line over it, the
// refusals of bad input, and the example configuration kept in step with the options.
#include "server/options.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace server;
using pelora_test::ReadAll;
using pelora_test::TempFolder;

namespace {

bool Parse(std::vector<std::string> arguments, CommandLine& commandLine, std::string& error) {
    // Never the configuration of whoever runs the tests.
    bool hasConfig = false;
    for (const auto& argument : arguments)
        hasConfig = hasConfig || argument.rfind("--config", 0) == 0;
    if (!hasConfig)
        arguments.insert(arguments.begin(), {"--config", "/dev/null"});
    return ParseCommandLine(arguments, commandLine, error);
}

} // namespace

TEST(ServerOptions, DefaultsServeOnPort3152WithTheDataFolderUnderXdgDataHome) {
    setenv("XDG_DATA_HOME", "/var/tmp/xdg-data", 1);
    CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(Parse({}, commandLine, error)) << error;
    EXPECT_EQ(commandLine.action, Action::Serve);
    EXPECT_EQ(commandLine.options.port, 3152);
    EXPECT_EQ(commandLine.options.dataDir, "/var/tmp/xdg-data/pelora-server");
    EXPECT_EQ(commandLine.options.argon2Ops, 2u);
    EXPECT_EQ(commandLine.options.maxFileBytes, 16u * 1024 * 1024);
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "/home/site", 1);
    EXPECT_EQ(DefaultDataDir(), "/home/site/.local/share/pelora-server");
}

TEST(ServerOptions, CommandLineOverridesTheConfigurationFile) {
    TempFolder folder;
    std::ofstream(folder / "server.conf") << "# a site's settings\n"
                                             "port = 4000\n"
                                             "  idle-timeout=12.5  \n"
                                             "\n"
                                             "max-file-size = 2M\n"
                                             "log-level = debug\n";
    CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(Parse({"--config", folder / "server.conf", "--port=0", "--data-dir", "rel/data"},
                      commandLine, error))
        << error;
    EXPECT_EQ(commandLine.options.port, 0);
    EXPECT_DOUBLE_EQ(commandLine.options.idleTimeout, 12.5);
    EXPECT_EQ(commandLine.options.maxFileBytes, 2u * 1024 * 1024);
    EXPECT_EQ(commandLine.options.logLevel, LogLevel::Debug);
    EXPECT_EQ(commandLine.options.dataDir.front(), '/'); // made absolute
    EXPECT_EQ(commandLine.configPath, folder / "server.conf");
}

TEST(ServerOptions, BadInputIsRefusedWithAReason) {
    CommandLine commandLine;
    std::string error;
    EXPECT_FALSE(Parse({"--port", "70000"}, commandLine, error));
    EXPECT_NE(error.find("--port"), std::string::npos) << error;
    EXPECT_FALSE(Parse({"--colour", "red"}, commandLine, error));
    EXPECT_NE(error.find("unknown option \"--colour\""), std::string::npos) << error;
    EXPECT_FALSE(Parse({"--port"}, commandLine, error));
    EXPECT_NE(error.find("needs a value"), std::string::npos) << error;
    EXPECT_FALSE(Parse({"--idle-timeout", "soon"}, commandLine, error));
    EXPECT_FALSE(Parse({"--idle-timeout", "nan"}, commandLine, error));
    EXPECT_FALSE(Parse({"--argon2-memory", "4"}, commandLine, error));
    EXPECT_FALSE(Parse({"--max-file-size", "-1"}, commandLine, error));
    EXPECT_FALSE(Parse({"--log-level", "loud"}, commandLine, error));
    EXPECT_FALSE(Parse({"--cert", "a.pem"}, commandLine, error));
    EXPECT_NE(error.find("--key"), std::string::npos) << error;
    EXPECT_FALSE(Parse({"stray"}, commandLine, error));
    EXPECT_FALSE(Parse({"--config", "/nonexistent/pelora.conf"}, commandLine, error));

    TempFolder folder;
    std::ofstream(folder / "bad.conf") << "port = 1\nthis line has no equals sign\n";
    EXPECT_FALSE(Parse({"--config", folder / "bad.conf"}, commandLine, error));
    EXPECT_NE(error.find("bad.conf:2:"), std::string::npos) << error;
}

TEST(ServerOptions, ActionsAreRecognised) {
    CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(Parse({"--print-public-key"}, commandLine, error));
    EXPECT_EQ(commandLine.action, Action::PrintPublicKey);
    ASSERT_TRUE(Parse({"--print-certificate", "--data-dir", "/srv/p"}, commandLine, error));
    EXPECT_EQ(commandLine.action, Action::PrintCertificate);
    EXPECT_EQ(commandLine.options.dataDir, "/srv/p");
    ASSERT_TRUE(Parse({"--open-data", "/tmp/out"}, commandLine, error));
    EXPECT_EQ(commandLine.action, Action::OpenData);
    EXPECT_EQ(commandLine.openDataTarget, "/tmp/out");
    ASSERT_TRUE(Parse({"--port", "x", "--help"}, commandLine, error));
    EXPECT_EQ(commandLine.action, Action::Help);
}

TEST(ServerOptions, HelpAndTheExampleConfigurationNameEveryOption) {
    std::string help = HelpText();
    std::string example = ReadAll(PELORA_SOURCE_DIR "/server/pelora-server.conf.example");
    ASSERT_FALSE(example.empty());
    for (const std::string& name : ConfigOptionNames()) {
        EXPECT_NE(help.find("--" + name + " "), std::string::npos) << name;
        EXPECT_NE(example.find("# " + name + " = "), std::string::npos) << name;
    }
    // Every setting of the example, uncommented, makes a valid configuration that keeps the
    // defaults.
    std::string uncommented;
    std::istringstream lines(example);
    for (std::string line; std::getline(lines, line);)
        for (const std::string& name : ConfigOptionNames())
            if (line.rfind("# " + name + " = ", 0) == 0)
                uncommented += line.substr(2) + "\n";
    ServerOptions options;
    options.dataDir = "/x";
    std::string error;
    ASSERT_TRUE(ApplyConfigText(uncommented, "example", options, error)) << error;
    ServerOptions defaults;
    EXPECT_EQ(options.port, defaults.port);
    EXPECT_EQ(options.maxFileBytes, defaults.maxFileBytes);
    EXPECT_EQ(options.argon2MemoryKiB, defaults.argon2MemoryKiB);
    EXPECT_DOUBLE_EQ(options.idleTimeout, defaults.idleTimeout);
    EXPECT_EQ(options.maxConnections, defaults.maxConnections);
}
