// The script server: one embedded Tcl interpreter per object, with the engine's object
// commands (new, sel, delete, exists, `<path>.<method> args`), puts into the engine log,
// assign-aware source, and a Tcl event source that keeps Qt's windows live while a script
// waits.
#pragma once

#include "engine/services.h"

#include <memory>
#include <string>

struct Tcl_Interp;
struct TclCore;

// How the most recent RunScript of any script server ended. The drive tells the user from it
// why a world's go.tcl loaded no world.
struct ScriptRunReport {
    std::string script; // as given to RunScript
    bool failed = false;
    std::string error; // the error message when it failed
};
const ScriptRunReport& LastScriptRun();

class nTclServer : public nScriptServer {
public:
    nTclServer();
    ~nTclServer() override;

    bool RunCommand(const char* command, std::string& result) override;
    bool RunScript(const char* path, std::string& result) override;
    bool ProcessEvents() override;
    bool RunWords(const std::vector<std::string>& words, std::string& result) override;
    bool SetVariable(const char* name, const std::string& value) override;

    Tcl_Interp* GetInterp() const;

private:
    // The interpreter and its event source. Shared with every evaluation on the stack, so
    // that releasing the server from inside a running command (a click during vwait) leaves
    // the interpreter alive until that command has unwound.
    std::shared_ptr<TclCore> core_;
};
