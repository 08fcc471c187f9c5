// The command line's own requests (usage, version) and the exit codes a quick start ends with,
// as the usage text documents them.
#include "launcher/launcher.h"

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

TEST(CommandLine, QuickStartExitCode_SaysHowFarItGot) {
    EXPECT_EQ(QuickStartExitCode(false, false), kExitLoginFailed);
    EXPECT_EQ(QuickStartExitCode(false, true), kExitLoginFailed);
    EXPECT_EQ(QuickStartExitCode(true, false), kExitDriveFailed);
    EXPECT_EQ(QuickStartExitCode(true, true), kExitOk);
}

// Each code as the shell sees it is listed, so the text cannot fall behind the constants.
TEST(CommandLine, UsageText_DocumentsEveryExitCodeHomeAndLog) {
    const std::string usage = UsageText();
    for (int code :
         {kExitOk, kExitCannotStart, kExitLoginFailed, kExitDriveFailed, kExitLoopFailed})
        EXPECT_NE(usage.find("\n  " + std::to_string(code & 0xFF) + " "), std::string::npos)
            << code;
    for (const char* word :
         {"-quick", "--help", "--version", "PELORA_HOME", "n_runlog.txt", "guest", "Exit codes:"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    EXPECT_EQ(VersionText(), "pelox 2.1\n");
}

} // namespace
