// The one process-wide record of the launcher: window handles, engine objects, the current
// user and choices, and flags. Zero at process start; tests reset it. It lives with the User
// Setup window and the world run, the lowest layer that uses it, so that the Login window
// above reads it without either library linking the other.
#pragma once

#include "config/world_entry.h"
#include "platform/window_system.h"

#include <cstdint>
#include <list>
#include <string>
#include <vector>

class nKernelServer;
class nScriptServer;
class nGfxServer;
class plData;
class GlobalSettings;
class UserSettings;

constexpr int kNameSize = 128; // name texts hold at most 127 characters

struct LauncherState {
    char userName[kNameSize] = {};
    platform::HWND loginWindow = nullptr;
    platform::HCURSOR savedCursor = nullptr;
    nKernelServer* kernelServer = nullptr;
    nScriptServer* scriptServer = nullptr;
    nGfxServer* gfxServer = nullptr;
    platform::HINSTANCE instance = nullptr;
    std::uintptr_t clockTimer = 0;
    std::uint8_t createUserSent = 0;
    std::uint8_t renameRetry = 0;
    GlobalSettings* globalSettings = nullptr;
    std::uint8_t quickStart = 0;
    std::uint8_t bannerCaptured = 0;
    char vehicleType[kNameSize] = {};
    char gender[kNameSize] = {};
    char vehicleColor[kNameSize] = {};
    char worldName[kNameSize] = {};
    std::uint8_t inWorld = 0;
    std::uint8_t online = 0;
    UserSettings* userSettings = nullptr;
    platform::HWND setupWindow = nullptr;
    plData* dataServer = nullptr;
    std::list<WorldEntry> worldCatalogue;
    char loadedVehicleType[kNameSize] = {};
    std::uint8_t loginBusy = 0;               // a login sequence of the Login window runs
    platform::HWND focusBeforeBusy = nullptr; // where the keyboard focus was when it began
    // Outcome of a quick start: the last login sequence got past its login, the last world
    // run drove to its end, and the code the program ends with when the Login window goes.
    std::uint8_t loggedIn = 0;
    std::uint8_t driveCompleted = 0;
    int exitCode = 0;
    // The Online Users list being asked for (online_users.cpp): an asking waits on the server,
    // another asked for meanwhile runs after it, and an update in place gathers its lines here.
    std::uint8_t usersAsking = 0;
    std::uint8_t usersAskAgain = 0;
    std::uint8_t usersGathering = 0;
    std::vector<std::string> usersGathered;
};

extern LauncherState g_state;

// Back to the zero state (tests). Owned objects are not freed here.
void ResetLauncherState();

// Copies at most 127 characters of `text` into a name buffer, always terminated.
void CopyName(char (&buffer)[kNameSize], const std::string& text);
