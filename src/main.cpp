// pelox: the Pelora launcher. Builds the command-line string and hands over to WinMain.
#include "launcher/launcher.h"
#include "resource.h"

#include <QApplication>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    // Without a display the launcher still runs, on Qt's offscreen platform.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") &&
        !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    RegisterPeloraResources();

    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            commandLine += ' ';
        commandLine += argv[i];
    }
    return WinMain(&app, nullptr, commandLine.c_str(), platform::SW_SHOWNORMAL);
}
