// Release of the engine objects and the global settings when the Login window goes.
#include "launcher.h"

#include "engine/services.h"
#include "settings/global_settings.h"

// Script server before graphics server before kernel: both servers live in the kernel's tree.
void ReleaseEngine() {
    if (g_state.scriptServer) {
        g_state.scriptServer->Release();
        g_state.scriptServer = nullptr;
    }
    if (g_state.gfxServer) {
        g_state.gfxServer->Release();
        g_state.gfxServer = nullptr;
    }
    if (g_state.kernelServer) {
        delete g_state.kernelServer;
        g_state.kernelServer = nullptr;
        g_state.dataServer = nullptr; // lived in the kernel's tree
    }
    if (g_state.globalSettings) {
        delete g_state.globalSettings;
        g_state.globalSettings = nullptr;
    }
}
