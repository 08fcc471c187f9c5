// The quit message and the main loop's fetch. Qt ignores QCoreApplication::exit before its
// loop runs, so the quit request is kept here and the loop asks for it.
#include "dialog_window.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace platform {

namespace {

struct QuitState {
    bool posted = false;
    int code = 0;
};

QuitState& Q() {
    static QuitState state;
    return state;
}

} // namespace

void PostQuitMessage(int exitCode) {
    Q().posted = true;
    Q().code = exitCode;
    // Modal loops end as well; the quit stays posted for the loop outside them.
    detail::QuitModalLoops();
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

bool QuitPosted() {
    return Q().posted;
}

int QuitCode() {
    return Q().code;
}

void ClearQuit() {
    Q() = QuitState{};
}

int GetMessage() {
    if (Q().posted)
        return 0;
    if (!QCoreApplication::instance()) {
        // Without an application there is nothing to wait for; a loop would never end.
        PostQuitMessage(-1);
        return 0;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    // Windows destroyed by their own handlers are deleted here, outside every handler.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return Q().posted ? 0 : 1;
}

} // namespace platform
