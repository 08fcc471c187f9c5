// The README's two commands: scripts/test.sh always builds with the tests and fails when
// none ran; scripts/run.sh reports only what its own run did. Both run for real with bash;
// only cmake is replaced by a recorder (a real configure and build would take minutes), and
// run.sh drives the real pelox. .ci/run must run the README's test command as written.
#include "fakes.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text, bool executable = false) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    if (executable)
        ::chmod(path.c_str(), 0755);
}

class Scripts : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.isValid());
        root = scratch.path().toStdString();
        // Stands in for cmake: notes each call's arguments and does nothing else.
        WriteText(root / "bin" / "cmake",
                  "#!/bin/sh\necho \"$*\" >> \"" + (root / "cmake-calls").string() + "\"\n", true);
    }

    // Runs a script of the repository with bash; gives its exit code (-1 when it hung).
    int Run(const std::string& script, const QStringList& arguments,
            const std::map<QString, QString>& extra = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", QString::fromStdString((root / "bin").string()) + ":" +
                                       environment.value("PATH"));
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "PELORA_BUILD_DIR"})
            environment.remove(name);
        for (const auto& [name, value] : extra)
            environment.insert(name, value);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        QStringList all{QString::fromStdString(Source(script))};
        all += arguments;
        process.start("bash", all);
        if (!process.waitForStarted(10000))
            return -1;
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished(5000);
            return -1;
        }
        output = process.readAll().toStdString();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    // The default home copied into `home`, as a machine that was set up already has it.
    static void SeedHome(const fakes::TempHome& home) {
        std::error_code ec;
        fs::copy(fs::path(PELORA_SOURCE_DIR) / "home", home.path(),
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << ec.message();
        home.MakeDir("users/guest");
    }

    static std::string Source(const std::string& relative) {
        return (fs::path(PELORA_SOURCE_DIR) / relative).string();
    }

    // A build folder whose test list holds the given CTest lines.
    std::string BuildFolder(const std::string& testLines) {
        const fs::path folder = root / "build";
        fs::create_directories(folder);
        if (!testLines.empty())
            WriteText(folder / "CTestTestfile.cmake", testLines);
        return folder.string();
    }

    QTemporaryDir scratch;
    fs::path root;
    std::string output;
};

TEST_F(Scripts, TestScriptOnFolderWithoutTests_FailsSayingNoTestRan) {
    const std::string folder = BuildFolder("");

    EXPECT_NE(Run("scripts/test.sh", {QString::fromStdString(folder)}), 0) << output;
    EXPECT_NE(output.find("No tests were found"), std::string::npos) << output;
}

TEST_F(Scripts, TestScript_ForcesTestsOnBeforeTheCallersOptions) {
    const std::string folder = BuildFolder("add_test(passes \"true\")\n");

    EXPECT_EQ(Run("scripts/test.sh", {QString::fromStdString(folder), "-DPELORA_SANITIZE=ON"}), 0)
        << output;
    const std::string calls = ReadText(root / "cmake-calls");
    const auto configure = calls.substr(0, calls.find('\n'));
    const auto testsOn = configure.find("-DPELORA_TESTS=ON");
    ASSERT_NE(testsOn, std::string::npos) << configure;
    EXPECT_LT(testsOn, configure.find("-DPELORA_SANITIZE=ON")) << configure;
    EXPECT_NE(configure.find("-B " + folder), std::string::npos) << configure;
    EXPECT_NE(calls.find("--build " + folder), std::string::npos) << calls;
    EXPECT_NE(output.find("0 tests failed out of 1"), std::string::npos) << output;
}

TEST_F(Scripts, TestScriptWithFailingTest_Fails) {
    const std::string folder =
        BuildFolder("add_test(passes \"true\")\nadd_test(fails \"false\")\n");

    EXPECT_NE(Run("scripts/test.sh", {QString::fromStdString(folder)}), 0) << output;
    EXPECT_NE(output.find("tests failed out of 2"), std::string::npos) << output;
}

TEST_F(Scripts, CiRun_RunsTheReadmeTestCommandAsWritten) {
    const std::string readme = ReadText(Source("README.md"));
    const std::string marker = "scripts/install-deps.sh && scripts/test.sh";
    const auto at = readme.find(marker);
    ASSERT_NE(at, std::string::npos) << "no test command in the README";
    const std::string command = readme.substr(at, readme.find('\n', at) - at);

    const std::string ci = ReadText(Source(".ci/run"));
    EXPECT_NE(ci.find("\n" + command + "\n"), std::string::npos) << command;
}

// Two headless quick starts with the real pelox on one home: the second report shows the
// second run's log lines only, and the guest drives both times.
TEST_F(Scripts, RunScriptTwice_ReportsOnlyItsOwnRun) {
    fakes::TempHome home;
    SeedHome(home);
    fs::remove(home / "globalSettings");
    const std::map<QString, QString> environment{
        {"PELORA_HOME", QString::fromStdString(home.path().string())},
        {"PELORA_BUILD_DIR", QString::fromStdString(fs::path(PELOX_PROGRAM).parent_path())}};
    // A line that only an earlier run could have written.
    home.WriteFile("n_runlog.txt", "an earlier run's line\n");

    ASSERT_EQ(Run("scripts/run.sh", {}, environment), 0) << output;
    EXPECT_NE(output.find("pelox -quick ended with exit code 0: logged in, drove"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("**** startWorld()   user: guest"), std::string::npos) << output;
    EXPECT_EQ(output.find("an earlier run's line"), std::string::npos) << output;
    EXPECT_NE(output.find("Files this run wrote in the user's folder:"), std::string::npos)
        << output;
    const std::string firstReport = output;

    ASSERT_EQ(Run("scripts/run.sh", {}, environment), 0) << output;
    const auto drives = [](const std::string& text) {
        int n = 0;
        for (auto at = text.find("**** startWorld()"); at != std::string::npos;
             at = text.find("**** startWorld()", at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(drives(output), 1) << output;
    EXPECT_EQ(drives(home.ReadFile("n_runlog.txt")), 2);
}

TEST_F(Scripts, RunScriptWhoseLoginFails_ExplainsItsExitCode) {
    fakes::TempHome home;
    SeedHome(home);
    home.WriteFile("globalSettings", "user-name=nobody\ndrive-mode=offline\n");
    const std::map<QString, QString> environment{
        {"PELORA_HOME", QString::fromStdString(home.path().string())},
        {"PELORA_BUILD_DIR", QString::fromStdString(fs::path(PELOX_PROGRAM).parent_path())}};

    EXPECT_EQ(Run("scripts/run.sh", {}, environment), 2) << output;
    EXPECT_NE(output.find("User \"nobody\" does not exist."), std::string::npos) << output;
    EXPECT_NE(output.find("exit code 2: the login failed"), std::string::npos) << output;
}

} // namespace
