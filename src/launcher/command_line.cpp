// What pelox's command line asks for besides the launcher itself: the usage text and the
// version, and the exit codes that the usage text documents.
#include "launcher.h"

#include <strings.h>

int QuickStartExitCode(bool loggedIn, bool driveCompleted) {
    if (!loggedIn)
        return kExitLoginFailed;
    return driveCompleted ? kExitOk : kExitDriveFailed;
}

CommandLineRequest ReadCommandLineRequest(const std::string& commandLine) {
    if (commandLine == "--help" || commandLine == "-h")
        return CommandLineRequest::PrintUsage;
    if (commandLine == "--version")
        return CommandLineRequest::PrintVersion;
    return CommandLineRequest::RunLauncher;
}

std::string CommandLineProblem(const std::string& commandLine) {
    if (commandLine.empty() || strcasecmp(commandLine.c_str(), "-quick") == 0)
        return "";
    // The first word the launcher does not take is the one named.
    std::string word = commandLine.substr(0, commandLine.find(' '));
    if (strcasecmp(word.c_str(), "-quick") == 0)
        word = commandLine.substr(word.size() + 1);
    return "pelox: unknown option \"" + word + "\". See pelox --help.\n";
}

std::string VersionText() {
    return std::string("pelox ") + kVersionText + "\n";
}

std::string UsageText() {
    return std::string("Usage: pelox [-quick | --help | --version]\n"
                       "\n"
                       "The launcher of Pelora ") +
           kVersionText +
           ", the wheelchair driving simulator. Without arguments it opens\n"
           "the Login window.\n"
           "\n"
           "  -quick     Quick start: repeats the last login (the user and the drive mode\n"
           "             stored in the home folder's globalSettings; no stored user, or an\n"
           "             empty one, is the guest) and one drive with that user's stored\n"
           "             choices, without showing a window, then ends.\n"
           "  --help     Prints this text and ends.\n"
           "  --version  Prints the version and ends.\n"
           "Any other option is refused (exit code 4).\n"
           "\n"
           "Environment:\n"
           "  PELORA_HOME  The home folder: settings, users, worlds, avatars and the engine\n"
           "               log. When unset: $XDG_DATA_HOME/pelora/home, or\n"
           "               ~/.local/share/pelora/home, made from the installed default home\n"
           "               on first use.\n"
           "\n"
           "Log: n_runlog.txt in the home folder (the engine log; each run adds to it).\n"
           "\n"
           "Exit codes:\n"
           "  0    ended by Quit or the close box; or a quick start logged in and drove\n"
           "  1    could not start: no usable display, or the Login window could not be made\n"
           "  2    quick start: the login failed\n"
           "  3    quick start: logged in, but the drive did not run to its end\n"
           "  4    an unknown option or argument\n"
           "  255  the window system's message loop failed\n";
}
