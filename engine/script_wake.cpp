// The script event loop's wake on a readable socket, through Tcl's notifier.
#include "script_wake.h"

#include <tcl.h>

#include <mutex>

ScriptWake::~ScriptWake() {
    Disarm();
}

void ScriptWake::Arm(int fd) {
    if (fd_ >= 0 || fd < 0)
        return;
    // Tcl's notifier is set up with its library, also when no interpreter was made yet.
    static std::once_flag tclReady;
    std::call_once(tclReady, [] { Tcl_FindExecutable(nullptr); });
    fd_ = fd;
    Tcl_CreateFileHandler(fd_, TCL_READABLE, Woken, this);
}

void ScriptWake::Disarm() {
    if (fd_ < 0)
        return;
    Tcl_DeleteFileHandler(fd_);
    fd_ = -1;
}

void ScriptWake::Woken(void* wake, int) {
    // Nothing to do here: the wake itself lets the script server's event source pump Qt,
    // which reads the socket. Disarmed until then, so an unread socket cannot spin Tcl.
    static_cast<ScriptWake*>(wake)->Disarm();
}
