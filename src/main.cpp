// pelox: the Pelora launcher. Answers --help and --version, otherwise builds the command-line
// string and hands over to WinMain.
#include "launcher/launcher.h"
#include "resource.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string JoinArguments(int argc, char** argv) {
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    return commandLine;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before any window system is touched: they need no display.
    switch (ReadCommandLineRequest(JoinArguments(argc, argv))) {
    case CommandLineRequest::PrintUsage:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case CommandLineRequest::PrintVersion:
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    case CommandLineRequest::RunLauncher:
        break;
    }

    // Without a display the launcher still runs, on Qt's offscreen platform.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    RegisterPeloraResources();
    // Qt has taken its own options (-platform, -style, ...) out of argv by now.
    const std::string commandLine = JoinArguments(argc, argv);
    if (const std::string problem = CommandLineProblem(commandLine); !problem.empty()) {
        std::fputs(problem.c_str(), stderr);
        return kExitUnknownOption;
    }
    return WinMain(&app, nullptr, commandLine.c_str(), platform::SW_SHOWNORMAL);
}
