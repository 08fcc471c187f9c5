// plconfig's command line: the options, their help text, the exit codes, and the commands
// that run without a window (for scripted installs and machines without a display).
#pragma once

#include "outcome.h"

#include <ostream>
#include <string>
#include <vector>

namespace plconfig {

enum ExitCode : int {
    kExitOk = 0,
    kExitIoFailure = 1,        // a file or folder could not be read, made, written or moved
    kExitUsage = 2,            // unknown option, missing or unusable argument
    kExitNameRefused = 3,      // the name breaks the rules, or names the guest account wrongly
    kExitNoSuchUser = 4,       // no user of that name
    kExitUserExists = 5,       // the user exists already
    kExitPasswordRefused = 6,  // empty, too long, not typeable, or the two entries differ
    kExitNoDisplay = 7,        // the window was asked for but there is no display
    kExitServerNotChanged = 8, // the password changed here, but not on the server
};

enum class Action {
    OpenWindow,  // no option
    FirstRunAdd, // -add: the launcher's first run
    AddUser,
    ChangePassword,
    RemoveUser,
    ListUsers,
    SetServer,
    ShowServer,   // the server's remembered and refused certificates
    AcceptServer, // trust the certificate a launcher was refused
    Help,
    Version,
    Invalid, // `problem` says why
};

struct Options {
    Action action = Action::OpenWindow;
    std::string value; // the NAME or HOST[:PORT]
    std::string problem;
};

// The arguments after the program's name.
Options ParseArguments(const std::vector<std::string>& arguments);
std::string HelpText();
int ExitCodeFor(Outcome outcome);

// Where a command reads passwords and writes what it has to say.
struct CommandStreams {
    int passwordIn; // standard input
    int promptOut;  // where terminal prompts go (standard error)
    std::ostream& out;
    std::ostream& err;
};

// The Qt platform to start the window on, or "" when no window can be shown:
// QT_QPA_PLATFORM naming offscreen or minimal, or (with it unset) neither DISPLAY nor
// WAYLAND_DISPLAY set. With it unset the offscreen platform comes last in the list, so a
// display that cannot be reached is noticed after start instead of ending the program.
std::string ChooseWindowPlatform(const char* qpaPlatform, const char* display,
                                 const char* waylandDisplay);
// Platforms on which a window reaches nobody.
bool IsHeadlessPlatform(const std::string& platformName);

// Runs one of the commands without a window (every action but OpenWindow and FirstRunAdd) on
// the home folder; gives the exit code. Refusals and failures go to `err`, "plconfig: " first.
int RunCommand(const Options& options, const std::string& homeFolder, CommandStreams& streams);

// -add without a display: the window cannot be used, so the launcher's first run must not wait
// for it. Makes the guest account, says on `err` how to add users from the command line and
// gives 0 (or the failure's code when the guest account cannot be made).
int RunHeadlessFirstRun(const std::string& homeFolder, std::ostream& err);

} // namespace plconfig
