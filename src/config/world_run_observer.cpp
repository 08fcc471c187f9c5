// The one observer of the world runs (see world_run.h), apart from the run and the leave that
// tell it, so that neither of them calls the other for it.
#include "config/world_run.h"

#include <utility>

namespace {

WorldRunObserver g_observer;

} // namespace

void ObserveWorldRun(WorldRunObserver observer) {
    g_observer = std::move(observer);
}

void NotifyTimeChanged() {
    if (g_observer.timeChanged)
        g_observer.timeChanged();
}

void NotifyOnlineUsersChanged() {
    if (g_observer.onlineUsersChanged)
        g_observer.onlineUsersChanged();
}
