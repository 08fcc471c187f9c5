// plconfig: the user-configuration tool of Pelora. Commands run without a window; otherwise
// the configuration window opens (on Add User with -add), or, without a display, -add makes
// the guest account and says how to go on from the command line.
#include "command_line.h"
#include "engine/home_folder.h"
#include "users_window.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>
#include <iostream>
#include <unistd.h>

using namespace plconfig;

int main(int argc, char** argv) {
    const Options options = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    const bool window =
        options.action == Action::OpenWindow || options.action == Action::FirstRunAdd;
    if (!window) {
        const bool needsHome = options.action != Action::Help &&
                               options.action != Action::Version &&
                               options.action != Action::Invalid;
        CommandStreams streams{STDIN_FILENO, STDERR_FILENO, std::cout, std::cerr};
        return RunCommand(options, needsHome ? ResolveHomeFolder() : "", streams);
    }

    const std::string home = ResolveHomeFolder();
    const bool firstRun = options.action == Action::FirstRunAdd;
    const std::string platform = ChooseWindowPlatform(
        std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"));
    auto noDisplay = [&] {
        if (firstRun)
            return RunHeadlessFirstRun(home, std::cerr);
        std::cerr << "plconfig: there is no display, so the window cannot open; "
                     "plconfig --help lists the commands that work without one.\n";
        return int(kExitNoDisplay);
    };
    if (platform.empty())
        return noDisplay();
    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    QApplication app(argc, argv);
    if (IsHeadlessPlatform(QGuiApplication::platformName().toStdString()))
        return noDisplay();

    UserStore store(home + "/users");
    UsersWindow usersWindow(store, home + "/globalSettings");
    usersWindow.show();
    if (firstRun)
        usersWindow.OpenAddDialog();
    usersWindow.exec();
    const Result& guest = usersWindow.GuestResult();
    if (!guest.Ok()) {
        std::cerr << "plconfig: " << guest.message << '\n';
        QMessageBox::warning(nullptr, "Pelora Users", QString::fromStdString(guest.message));
        return ExitCodeFor(guest.outcome);
    }
    return kExitOk;
}
