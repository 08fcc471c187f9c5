// The world run behind the Drive button (world_run.cpp) with the avatar (avatar_setup.cpp),
// the data upload (data_upload.cpp) and the leave (network_leave.cpp). It sits below the User
// Setup window: what the window must learn from a run it observes (ObserveWorldRun), and the
// run includes and calls nothing of the window.
#pragma once

#include "config/launcher_state.h"

#include <functional>
#include <string>

// What a run tells whoever observes it: the user's driving time changed (a drive was saved),
// the list of users online may have changed (after a leave). Either may be empty.
struct WorldRunObserver {
    std::function<void()> timeChanged;
    std::function<void()> onlineUsersChanged;
};
// The observer of the runs from now on (the User Setup window sets itself while it is open).
void ObserveWorldRun(WorldRunObserver observer);
// Tells the observer that the online users may have changed (the leave's success).
void NotifyOnlineUsersChanged();

void startWorld();
void joinWorld();
bool setUpAvatar();
void sendDataFiles();
void leaveWorld();
// Box "Network Error", end of the User Setup window with code 2, user settings destroyed.
void EndSetupAfterNetworkLoss();
// The source path that the world run's warning and error log lines name.
constexpr const char* kWorldRunLogSource = "\\nebula\\code\\src\\pelox\\config";
