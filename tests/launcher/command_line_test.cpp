// The command line's own requests (usage, version) and the exit codes a quick start ends with,
// as the usage text documents them.
#include "launcher/launcher.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommandLine, HelpAndVersionWords_AreAnsweredWithoutTheLauncher) {
    EXPECT_EQ(ReadCommandLineRequest("--help"), CommandLineRequest::PrintUsage);
    EXPECT_EQ(ReadCommandLineRequest("-h"), CommandLineRequest::PrintUsage);
    EXPECT_EQ(ReadCommandLineRequest("--version"), CommandLineRequest::PrintVersion);
}

TEST(CommandLine, AnythingElse_IsTheLaunchersOwn) {
    for (const char* line : {"", "-quick", "-QUICK", "--help -quick", "-quick --help", "--HELP",
                             " --help", "--version ", "help", "-help", "--versions"})
        EXPECT_EQ(ReadCommandLineRequest(line), CommandLineRequest::RunLauncher) << line;
}

TEST(CommandLine, NothingOrQuickStart_IsTaken) {
    for (const char* line : {"", "-quick", "-QUICK", "-Quick"})
        EXPECT_EQ(CommandLineProblem(line), "") << line;
}

TEST(CommandLine, UnknownOption_IsNamedWithAPointerToHelp) {
    EXPECT_EQ(CommandLineProblem("--server host:3152"),
              "pelox: unknown option \"--server\". See pelox --help.\n");
    EXPECT_EQ(CommandLineProblem("-quick --fast"),
              "pelox: unknown option \"--fast\". See pelox --help.\n");
    for (const char* line : {"help", "-help", "--versions", "-quick -quick", "quick"})
        EXPECT_NE(CommandLineProblem(line), "") << line;
}

// The built launcher ends at once with its own exit code and the sentence on standard error,
// before any window or home folder is touched.
TEST(CommandLine, BuiltLauncherWithUnknownOption_RefusesWithExitCodeFour) {
    QProcess pelox;
    pelox.start(PELOX_PROGRAM, {"--server", "127.0.0.1:3152"});
    ASSERT_TRUE(pelox.waitForFinished(30000));
    EXPECT_EQ(pelox.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(pelox.exitCode(), kExitUnknownOption);
    const std::string said = pelox.readAllStandardError().toStdString();
    EXPECT_NE(said.find("unknown option \"--server\""), std::string::npos) << said;
    EXPECT_NE(said.find("pelox --help"), std::string::npos) << said;
}

TEST(CommandLine, QuickStartExitCode_SaysHowFarItGot) {
    EXPECT_EQ(QuickStartExitCode(false, false), kExitLoginFailed);
    EXPECT_EQ(QuickStartExitCode(false, true), kExitLoginFailed);
    EXPECT_EQ(QuickStartExitCode(true, false), kExitDriveFailed);
    EXPECT_EQ(QuickStartExitCode(true, true), kExitOk);
}

// Each code as the shell sees it is listed, so the text cannot fall behind the constants.
TEST(CommandLine, UsageText_DocumentsEveryExitCodeHomeAndLog) {
    const std::string usage = UsageText();
    for (int code : {kExitOk, kExitCannotStart, kExitLoginFailed, kExitDriveFailed,
                     kExitUnknownOption, kExitLoopFailed})
        EXPECT_NE(usage.find("\n  " + std::to_string(code & 0xFF) + " "), std::string::npos)
            << code;
    for (const char* word :
         {"-quick", "--help", "--version", "PELORA_HOME", "n_runlog.txt", "guest", "Exit codes:"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    EXPECT_EQ(VersionText(), "pelox 2.1\n");
}

} // namespace
