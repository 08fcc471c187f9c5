// The world run behind the Drive button: prepares the scene for the user's choices, hands the
// GUI thread to the engine for the drive, then saves the drive's results, leaves the shared
// world, runs the clear scripts and brings the User Setup window back.
#include "config/world_run.h"

#include "config/progress_windows.h"
#include "engine/services.h"
#include "platform/file_system.h"
#include "resource.h"
#include "settings/user_settings.h"

#include <cctype>
#include <string>

namespace {

WorldRunObserver g_observer;

std::string RunCommand(const std::string& command) {
    std::string result;
    g_state.scriptServer->RunCommand(command.c_str(), result);
    return result;
}

// The user's joystick choices from userSettings, for the drive to read. Values go to Tcl as
// plain words: anything but letters, digits, '.', '+' and '-' is dropped (the drive then keeps
// its default for a value that no longer reads).
void PassJoystickSettings() {
    if (!g_state.userSettings)
        return;
    std::string command = "/observer.setjoystick";
    for (const char* key : {"joystick-dead-zone", "joystick-swap-axes", "joystick-invert-forward",
                            "joystick-invert-turn"}) {
        std::string word;
        for (char c : g_state.userSettings->getValue(key))
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-')
                word += c;
        command += " {" + word + "}";
    }
    RunCommand(command);
}

void RunScript(const std::string& path) {
    std::string result;
    g_state.scriptServer->RunScript(path.c_str(), result);
}

void ShowMessage(const std::string& text) {
    platform::MessageBox(g_state.setupWindow, text, "ERROR!", platform::MB_OK);
}

void ReturnHome() {
    platform::SetCurrentDirectory(pathate(g_state.kernelServer, "home:"));
}

void ShowSetupWindowAgain() {
    if (!g_state.quickStart && g_state.setupWindow)
        platform::ShowWindow(g_state.setupWindow, platform::SW_RESTORE);
}

std::string Quoted(const char* name) {
    return std::string("\"") + name + "\"";
}

// Drive bookkeeping of the data server and the landmarks, the avatar and the current-world
// variable. False when the run must end (already reported).
bool PrepareScene() {
    const char* world = g_state.worldName;
    if (g_state.dataServer) {
        int level = g_state.dataServer->GetLevel();
        RunCommand("skill::set_level " + std::to_string(level) + " false");
        g_state.dataServer->SetDriveWorld(world);
        g_state.dataServer->BeginDrive();
    }
    if (auto* landmarks =
            plLandmarkInformation::getInstance(g_state.kernelServer, g_state.userName))
        landmarks->setCurrentWorld(world);

    if (!setUpAvatar())
        return false;

    nRoot* current = g_state.kernelServer->New("nenv", "/usr/share/scene/currentworld", "nroot");
    if (auto* variable = dynamic_cast<nEnv*>(current))
        variable->SetString(world);
    return true;
}

// Enters the world folder, hides the User Setup window and runs the world's "go.tcl"; the
// current directory is home: again afterwards. False when the run must end (already reported).
bool LoadWorld() {
    const char* world = g_state.worldName;
    if (!platform::SetCurrentDirectory(pathate(g_state.kernelServer, "worlds:%s", world))) {
        ShowMessage("Error loading world " + Quoted(world));
        ReturnHome();
        return false;
    }
    std::string meshes = pathate(g_state.kernelServer, "worlds:%s/meshes/", world);
    g_state.kernelServer->fileServer->DefineAssign("meshes", meshes.c_str());
    platform::ShowWindow(g_state.setupWindow, platform::SW_HIDE);

    // Only an exact "0" means missing: an error text or an empty result lets go.tcl try.
    if (RunCommand("file exists go.tcl") == "0") {
        std::string text = "Error loading world " + Quoted(world) + ": Can't find \"go.tcl\"";
        ShowMessage(text);
        n_printf("ERROR %s/%d: %s\n", kWorldRunLogSource, 520, text.c_str());
        ReturnHome();
        ShowSetupWindowAgain();
        return false;
    }
    RunScript("go.tcl");
    ReturnHome();
    return true;
}

// After the drive: landmarks, level, drive data and time, under the progress window.
void SaveDriveResults(platform::HWND progress) {
    platform::SetDlgItemText(progress, IDC_PROGRESS_HEADLINE, "Saving settings...");
    if (auto* landmarks = plLandmarkInformation::getInstance())
        landmarks->saveLandmarkInfo();

    plData* data = g_state.dataServer;
    if (!data)
        return;
    platform::SetDlgItemText(g_state.setupWindow, IDC_SETUP_LEVEL,
                             std::to_string(data->GetLevel()));
    data->EndDrive();
    data->SaveDriveData();
    platform::SetDlgItemText(progress, IDC_PROGRESS_HEADLINE, "Encrypting data...");
    data->EncryptData();
    if (g_state.online) {
        platform::SetDlgItemText(progress, IDC_PROGRESS_HEADLINE, "Sending files to server...");
        data->SendData();
    }
    if (g_observer.timeChanged)
        g_observer.timeChanged();
}

} // namespace

void ObserveWorldRun(WorldRunObserver observer) {
    g_observer = std::move(observer);
}

void NotifyOnlineUsersChanged() {
    if (g_observer.onlineUsersChanged)
        g_observer.onlineUsersChanged();
}

void joinWorld() {
    if (!g_state.scriptServer)
        return;
    // Each name is one script word, whatever blanks or script characters it holds.
    std::string ignored;
    g_state.scriptServer->RunWords({"net::setJoinVars", g_state.worldName, g_state.vehicleType,
                                    g_state.vehicleColor, g_state.gender},
                                   ignored);
    RunCommand("/sys/network.start");
    RunCommand("net::infoPositions");
}

void startWorld() {
    g_state.driveCompleted = 0;
    n_printf("\n\n**** startWorld()   user: %s   world: %s\n", g_state.userName, g_state.worldName);
    if (!g_state.scriptServer) {
        ShowMessage("Can't start world, script server is down.");
        return;
    }
    // The network object is left running here; only a failed leave stops it.
    if (g_state.online && RunCommand("return $net::state") != "online") {
        EndSetupAfterNetworkLoss();
        return;
    }
    if (!PrepareScene() || !LoadWorld())
        return;

    if (g_state.online) {
        if (g_state.dataServer)
            g_state.dataServer->SetOnline(true);
        joinWorld();
    }

    g_state.inWorld = 1;
    // Nobody waits at the end of a quick start's drive: no summary to dismiss.
    if (g_state.quickStart)
        RunCommand("/observer.setsummary false");
    PassJoystickSettings();
    std::string driveResult; // the whole drive runs inside this command
    const bool drove = g_state.scriptServer->RunCommand("/observer.start", driveResult);
    RunCommand("/sys/servers/gfx.closedisplay");
    platform::HWND progress = CreateProgressWindow();
    SaveDriveResults(progress);
    g_state.inWorld = 0;

    if (g_state.online)
        leaveWorld();
    RunScript("scripts:clear.tcl");
    std::string worldClear =
        pathate(g_state.kernelServer, "worlds:%s/clear.tcl", g_state.worldName);
    if (platform::FileExists(worldClear))
        RunScript(worldClear);
    platform::DestroyWindow(progress);
    ShowSetupWindowAgain();
    // Complete: the engine ran the drive and, online, the leave kept the connection (a lost
    // one has ended the User Setup window).
    g_state.driveCompleted = drove && (!g_state.online || g_state.setupWindow) ? 1 : 0;
}
