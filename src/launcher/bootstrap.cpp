// The engine bootstrap run by the Login window's initialisation: kernel, log, script server,
// first-run set-up, home folder, global settings, graphics server and start-up scripts.
#include "launcher.h"

#include "engine/services.h"
#include "platform/file_system.h"
#include "resource.h"
#include "settings/global_settings.h"

#include <cstdio>
#include <new>
#include <string>

namespace {

// What the bootstrap reads from the global settings; the defaults of the global settings
// stand in when there is no settings object (the file could not be read).
struct StartupSettings {
    std::string gfxServerType = "Direct3D";
    std::string screenWidth = "1024";
    std::string screenHeight = "768";
    std::string bitsPerPixel = "32";
    bool useFullscreen = true;
    bool soundEnabled = true;
    bool useHeadTracker = false;
};

StartupSettings ReadStartupSettings(const GlobalSettings* settings) {
    StartupSettings values;
    if (!settings)
        return values;
    values.gfxServerType = settings->getGfxServerType();
    values.screenWidth = settings->getScreenWidth();
    values.screenHeight = settings->getScreenHeight();
    values.bitsPerPixel = settings->getBitsPerPixel();
    values.useFullscreen = settings->useFullscreen();
    values.soundEnabled = settings->soundEnabled();
    values.useHeadTracker = settings->useHeadTracker();
    return values;
}

std::string DisplayModeFor(const StartupSettings& values) {
    std::string mode = "dev(0)-";
    if (values.useFullscreen)
        mode += "type(full)-";
    mode += "w(" + values.screenWidth + ")-h(" + values.screenHeight;
    mode += ")-bpp(" + values.bitsPerPixel;
    mode += ")-zbuf(" + values.bitsPerPixel; // the depth buffer always takes the colour depth
    mode += ")";
    return mode;
}

// The configuration tool installed beside the launcher's executable, or else one in the
// directory the launcher was started from; "" when it is in neither. The installed one comes
// first, so that a program of that name in whatever folder the launcher happens to be started
// from does not run in its place.
std::string FindConfigurationTool() {
    const std::string name = "plconfig";
    for (const std::string& folder :
         {platform::ExecutableDirectory(), platform::GetCurrentDirectory()}) {
        if (folder.empty())
            continue;
        std::string path = folder + platform::kPathSeparator + name;
        if (platform::GetFileKind(path) == platform::FileKind::File)
            return path;
    }
    return "";
}

void EndBootstrap(platform::HWND startupWindow) {
    platform::SetCursor(g_state.savedCursor);
    platform::DestroyWindow(startupWindow);
}

} // namespace

std::string BuildDisplayMode(const GlobalSettings* settings) {
    return DisplayModeFor(ReadStartupSettings(settings));
}

void RunFirstRunSetup(platform::HWND startupWindow) {
    platform::ShowWindow(startupWindow, platform::SW_HIDE);
    platform::MessageBox(g_state.loginWindow,
                         std::string("Pelora has detected that it is being run for the first "
                                     "time.\n") +
                             "Please take a moment and enter the user information for those\n" +
                             "who will be using the software.  Thank you.\n",
                         "Vantor Pelora", platform::MB_ICONINFORMATION);
    std::string tool = FindConfigurationTool();
    if (tool.empty())
        n_printf("Configuration tool plconfig not found; first-run set-up skipped\n");
    else
        platform::SpawnAndWait(tool, {"-add"});
    platform::SetForegroundWindow(g_state.loginWindow);
    platform::ShowWindow(startupWindow, platform::SW_RESTORE);
}

void BootstrapEngine() {
    g_state.scriptServer = nullptr;
    g_state.kernelServer = nullptr;
    g_state.gfxServer = nullptr;

    platform::HWND startupWindow = CreateStartupWindow();
    g_state.savedCursor = platform::SetCursor(platform::LoadSystemCursor(platform::IDC_WAIT));
    platform::SetDlgItemText(startupWindow, IDC_STARTUP_STATUS, "Creating kernel...");

    try {
        g_state.kernelServer = NewRuntimeKernel().release();
    } catch (const std::bad_alloc&) {
        g_state.kernelServer = nullptr;
    }
    nKernelServer* kernel = g_state.kernelServer;
    if (!kernel) {
        platform::MessageBox(g_state.loginWindow, "Could not create kernel server.", "Error",
                             platform::MB_ICONEXCLAMATION);
        EndBootstrap(startupWindow);
        return;
    }
    kernel->Log(pathate(kernel, "home:n_runlog.txt").c_str());

    g_state.scriptServer =
        dynamic_cast<nScriptServer*>(kernel->New("ntclserver", "/sys/servers/script", "nroot"));
    if (!g_state.scriptServer) {
        platform::MessageBox(g_state.loginWindow, "Could not create script server.", "Error",
                             platform::MB_ICONEXCLAMATION);
        EndBootstrap(startupWindow);
        return;
    }
    nScriptServer* script = g_state.scriptServer;

    if (!platform::FileExists(pathate(kernel, "home:users/guest")))
        RunFirstRunSetup(startupWindow);

    platform::SetDlgItemText(startupWindow, IDC_STARTUP_STATUS, "Configuring...");
    platform::SetCurrentDirectory(pathate(kernel, "home:"));

    if (!g_state.globalSettings) {
        try {
            g_state.globalSettings = new GlobalSettings("globalSettings");
        } catch (const FileException& problem) {
            platform::MessageBox(
                nullptr, "There is a problem with the configuration file\n" + problem.getMessage(),
                "Error", platform::MB_ICONEXCLAMATION);
        }
    }
    const StartupSettings settings = ReadStartupSettings(g_state.globalSettings);

    n_printf("Creating %s gfx server\n", settings.gfxServerType.c_str());
    const char* gfxClass = settings.gfxServerType == "Direct3D" ? "nd3d8server" : "nglserver";
    g_state.gfxServer =
        dynamic_cast<nGfxServer*>(kernel->New(gfxClass, "/sys/servers/gfx", "nroot"));
    if (!g_state.gfxServer)
        n_barf("g_gfxServer", "\\nebula\\code\\src\\pelox\\launcher", __LINE__);

    std::string mode = DisplayModeFor(settings);
    n_printf("Setting gfx display mode to %s\n", mode.c_str());
    g_state.gfxServer->SetDisplayMode(mode.c_str());

    std::string result;
    script->RunScript("apps/pelox/scripts/startup.tcl", result);
    if (settings.soundEnabled)
        script->RunScript("scripts:audio.tcl", result);

    char helpTitle[512];
    std::snprintf(helpTitle, sizeof helpTitle, "%s \"Help for Pelora V%s\"",
                  "/usr/share/gui/helpwindow/lbl_main_title/widget.settext", kVersionText);
    script->RunCommand(helpTitle, result);
    script->RunCommand("new pldata /sys/servers/data", result);

    if (settings.useHeadTracker) {
        platform::SetDlgItemText(startupWindow, IDC_STARTUP_STATUS, "Searching for headtracker...");
        script->RunScript("scripts:intertrax.tcl", result);
    }

    EndBootstrap(startupWindow);
}
