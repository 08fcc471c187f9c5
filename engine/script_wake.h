// A wake of the script language's own event loop: while a procedure waits there (vwait,
// update), the launcher's events are looked at only every few milliseconds; a readable
// socket armed here makes the loop turn at once, one wake per arming. Implemented beside the
// script server, so that the network files need not know the script language.
#pragma once

class ScriptWake {
public:
    ScriptWake() = default;
    ~ScriptWake();
    ScriptWake(const ScriptWake&) = delete;
    ScriptWake& operator=(const ScriptWake&) = delete;

    // Watches `fd` for reading; nothing when already armed. The first wake disarms.
    void Arm(int fd);
    void Disarm();
    bool Armed() const { return fd_ >= 0; }

private:
    static void Woken(void* wake, int mask);
    int fd_ = -1;
};
