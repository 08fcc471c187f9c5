// The Tcl script server (class "ntclserver"): the interpreter, the engine's object commands
// and the event source that lets Qt and Tcl share the GUI thread's one event loop.
#include "tcl_server.h"

#include "runtime_classes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <tcl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

namespace {

// Events run by one ProcessEvents call; the rest wait for the next tick.
constexpr int kMaxEventsPerPoll = 1000;
// How long Tcl may block in its notifier before Qt's events are looked at again.
constexpr long kMaxBlockMicroseconds = 10000;

// Owns one reference to a Tcl_Obj.
class TclObjRef {
public:
    explicit TclObjRef(Tcl_Obj* obj) : obj_(obj) {
        if (obj_)
            Tcl_IncrRefCount(obj_);
    }
    TclObjRef(const TclObjRef&) = delete;
    TclObjRef& operator=(const TclObjRef&) = delete;
    ~TclObjRef() {
        if (obj_)
            Tcl_DecrRefCount(obj_);
    }
    Tcl_Obj* get() const { return obj_; }

private:
    Tcl_Obj* obj_;
};

// Owns a Tcl_DString's storage.
struct TclDString {
    Tcl_DString ds;
    TclDString() { Tcl_DStringInit(&ds); }
    TclDString(const TclDString&) = delete;
    TclDString& operator=(const TclDString&) = delete;
    ~TclDString() { Tcl_DStringFree(&ds); }
};

TclObjRef NewString(const std::string& text) {
    return TclObjRef(Tcl_NewStringObj(text.data(), int(text.size())));
}

std::string ToString(Tcl_Obj* obj) {
    int length = 0;
    const char* text = Tcl_GetStringFromObj(obj, &length);
    return std::string(text, size_t(length));
}

void SetResult(Tcl_Interp* interp, const std::string& text) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(), int(text.size())));
}

int Fail(Tcl_Interp* interp, const std::string& message) {
    SetResult(interp, message);
    return TCL_ERROR;
}

ScriptRunReport g_lastScriptRun;

// Nested pumps: a long command started by a click during another one's wait keeps the
// windows live too, but the nesting is bounded.
constexpr int kMaxQtPumpDepth = 4;
int g_qtPumpDepth = 0;

void InitTclOnce() {
    static std::once_flag once;
    std::call_once(once, [] { Tcl_FindExecutable(nullptr); });
}

int NoOpEventProc(Tcl_Event*, int) {
    return 1;
}

bool OnGuiThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::string ErrorInfo(Tcl_Interp* interp, int code) {
    TclObjRef options(Tcl_GetReturnOptions(interp, code));
    TclObjRef key = NewString("-errorinfo");
    Tcl_Obj* info = nullptr;
    if (Tcl_DictObjGet(nullptr, options.get(), key.get(), &info) != TCL_OK || !info)
        return {};
    return ToString(info);
}

} // namespace

struct TclCore : std::enable_shared_from_this<TclCore> {
    Tcl_Interp* interp = nullptr;
    nTclServer* owner = nullptr; // null once the server has been released
    int evalDepth = 0;
    bool skipQtPumpOnce = false; // set for ProcessEvents' own poll: Qt is running us already
    bool hasTclUnknown = false;

    TclCore();
    ~TclCore();
    TclCore(const TclCore&) = delete;
    TclCore& operator=(const TclCore&) = delete;

    nKernelServer* Kernel() const {
        if (!owner)
            return nullptr;
        return owner->GetKernel() ? owner->GetKernel() : nKernelServerInstance();
    }
    std::string ResolvePath(const std::string& path) const;
    bool Evaluate(const std::string& what, bool isScript, const std::function<int()>& eval,
                  std::string& result);
    void InstallCommands();
    // Calls the renamed Tcl original (::tcl_puts, ...) with this command's words.
    int CallOriginal(const char* original, int objc, Tcl_Obj* const objv[]);
};

namespace {

void SetupProc(ClientData, int flags) {
    if (flags & TCL_DONT_WAIT)
        return;
    Tcl_Time blockTime{0, kMaxBlockMicroseconds};
    Tcl_SetMaxBlockTime(&blockTime);
}

void CheckProc(ClientData data, int flags) {
    auto* core = static_cast<TclCore*>(data);
    std::shared_ptr<TclCore> keep = core->weak_from_this().lock();
    if (!keep)
        return;
    bool skip = core->skipQtPumpOnce;
    core->skipQtPumpOnce = false;
    if (!skip && g_qtPumpDepth < kMaxQtPumpDepth && OnGuiThread()) {
        ++g_qtPumpDepth;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        --g_qtPumpDepth;
    }
    // A blocking Tcl_DoOneEvent returns only after an event: the no-op lets vwait look at
    // its variable again after a Qt handler may have set it.
    if (!(flags & TCL_DONT_WAIT)) {
        auto* event = reinterpret_cast<Tcl_Event*>(Tcl_Alloc(sizeof(Tcl_Event)));
        event->proc = NoOpEventProc;
        event->nextPtr = nullptr;
        Tcl_QueueEvent(event, TCL_QUEUE_TAIL);
    }
    // The server was released during the pump and nothing else holds the interpreter: Tcl
    // is walking its event sources, so ours is deleted later, from an idle callback.
    if (keep.use_count() == 1) {
        auto* holder = new std::shared_ptr<TclCore>(std::move(keep));
        Tcl_DoWhenIdle([](ClientData held) { delete static_cast<std::shared_ptr<TclCore>*>(held); },
                       holder);
    }
}

TclCore* CoreOf(ClientData data) {
    return static_cast<TclCore*>(data);
}

// Commands run only while the server exists; afterwards the interpreter is unwinding.
nKernelServer* KernelFor(ClientData data, Tcl_Interp* interp) {
    nKernelServer* kernel = CoreOf(data)->Kernel();
    if (!kernel)
        SetResult(interp, "the script server has been released");
    return kernel;
}

int NewCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "class path");
        return TCL_ERROR;
    }
    nKernelServer* kernel = KernelFor(data, interp);
    if (!kernel)
        return TCL_ERROR;
    std::string className = ToString(objv[1]);
    std::string path = ToString(objv[2]);
    nRoot* made = kernel->New(className.c_str(), path.c_str(), "nroot");
    if (!made)
        return Fail(interp,
                    "new: could not create object '" + path + "' of class '" + className + "'");
    SetResult(interp, made->GetFullName());
    return TCL_OK;
}

int SelCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?path?");
        return TCL_ERROR;
    }
    nKernelServer* kernel = KernelFor(data, interp);
    if (!kernel)
        return TCL_ERROR;
    if (objc == 2) {
        std::string path = ToString(objv[1]);
        nRoot* object = kernel->Lookup(path.c_str());
        if (!object)
            return Fail(interp, "sel: object '" + path + "' not found");
        kernel->SetCwd(object);
    }
    SetResult(interp, kernel->GetCwd()->GetFullName());
    return TCL_OK;
}

bool IsSelfOrAncestor(const nRoot* candidate, const nRoot* object) {
    for (const nRoot* node = object; node; node = node->GetParent()) {
        if (node == candidate)
            return true;
    }
    return false;
}

int DeleteCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "path");
        return TCL_ERROR;
    }
    nKernelServer* kernel = KernelFor(data, interp);
    if (!kernel)
        return TCL_ERROR;
    std::string path = ToString(objv[1]);
    nRoot* object = kernel->Lookup(path.c_str());
    if (!object)
        return Fail(interp, "delete: object '" + path + "' not found");
    // The root and the running server itself (or a folder holding it) stay: releasing them
    // here would free the interpreter under the command that is running.
    if (object == kernel->GetRoot())
        return Fail(interp, "delete: the root object cannot be deleted");
    if (IsSelfOrAncestor(object, CoreOf(data)->owner))
        return Fail(interp, "delete: object '" + path + "' holds the running script server");
    object->Release();
    Tcl_ResetResult(interp);
    return TCL_OK;
}

int ExistsCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "path");
        return TCL_ERROR;
    }
    nKernelServer* kernel = KernelFor(data, interp);
    if (!kernel)
        return TCL_ERROR;
    std::string path = ToString(objv[1]);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(kernel->Lookup(path.c_str()) ? 1 : 0));
    return TCL_OK;
}

// Calls `method` with the words after the command word; false when the object has no such
// method (and the interpreter's result is untouched).
bool TryCall(Tcl_Interp* interp, nRoot* object, const std::string& method, int objc,
             Tcl_Obj* const objv[], int& code) {
    std::vector<std::string> args;
    for (int i = 2; i < objc; ++i)
        args.push_back(ToString(objv[i]));
    std::string result;
    switch (object->Call(method, args, result)) {
    case nCallStatus::Ok:
        SetResult(interp, result);
        code = TCL_OK;
        return true;
    case nCallStatus::Error:
        code = Fail(interp, result);
        return true;
    case nCallStatus::NoMethod:
        break;
    }
    return false;
}

// `<path>.<method> args`: the '.' after the last '/' splits the object path (absolute, or
// relative to the selected object) from the method.
bool SplitObjectCall(const std::string& word, std::string& path, std::string& method) {
    size_t slash = word.rfind('/');
    size_t dot = word.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    if (dot == 0 || dot + 1 == word.size())
        return false;
    path = word.substr(0, dot);
    method = word.substr(dot + 1);
    return true;
}

int UnknownCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    TclCore* core = CoreOf(data);
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "command ?arg ...?");
        return TCL_ERROR;
    }
    std::string word = ToString(objv[1]);
    nKernelServer* kernel = core->Kernel();
    if (kernel) {
        std::string path, method;
        if (SplitObjectCall(word, path, method)) {
            nRoot* object = kernel->Lookup(path.c_str());
            if (!object)
                return Fail(interp, "object '" + path + "' not found");
            // Taken before the call, which may release the object.
            std::string fullName = object->GetFullName();
            std::string className = object->GetClass();
            int code = TCL_OK;
            if (TryCall(interp, object, method, objc, objv, code))
                return code;
            return Fail(interp, "object '" + fullName + "' of class '" + className +
                                    "' has no method '" + method + "'");
        }
        // A bare method of the selected object ("sel .../dynamic_color" then
        // "set_diffuse_by_name Red").
        nRoot* selected = kernel->GetCwd();
        int code = TCL_OK;
        if (selected && !word.empty() && TryCall(interp, selected, word, objc, objv, code))
            return code;
    }
    if (core->hasTclUnknown)
        return core->CallOriginal("::tcl_unknown", objc, objv);
    return Fail(interp, "invalid command name \"" + word + "\"");
}

// puts to stdout (or with no channel) goes to the engine log; other channels as Tcl does it.
int PutsCmd(ClientData data, Tcl_Interp*, int objc, Tcl_Obj* const objv[]) {
    TclCore* core = CoreOf(data);
    bool newline = true;
    Tcl_Obj* channel = nullptr;
    Tcl_Obj* text = nullptr;
    if (objc == 2) {
        text = objv[1];
    } else if (objc == 3) {
        if (ToString(objv[1]) == "-nonewline") {
            newline = false;
        } else {
            channel = objv[1];
        }
        text = objv[2];
    } else if (objc == 4 && ToString(objv[1]) == "-nonewline") {
        newline = false;
        channel = objv[2];
        text = objv[3];
    }
    if (!text || (channel && ToString(channel) != "stdout"))
        return core->CallOriginal("::tcl_puts", objc, objv);
    n_printf("%s%s", ToString(text).c_str(), newline ? "\n" : "");
    return TCL_OK;
}

int SourceCmd(ClientData data, Tcl_Interp*, int objc, Tcl_Obj* const objv[]) {
    TclCore* core = CoreOf(data);
    if (objc < 2)
        return core->CallOriginal("::tcl_source", objc, objv);
    std::vector<Tcl_Obj*> words(objv, objv + objc);
    TclObjRef file = NewString(core->ResolvePath(ToString(objv[objc - 1])));
    words.back() = file.get();
    return core->CallOriginal("::tcl_source", objc, words.data());
}

// `after ms` waits with the event loop running (Tcl's own sleeps, freezing the windows);
// every other form is Tcl's.
int AfterCmd(ClientData data, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    TclCore* core = CoreOf(data);
    Tcl_WideInt ms = 0;
    if (objc != 2 || Tcl_GetWideIntFromObj(nullptr, objv[1], &ms) != TCL_OK || ms < 0)
        return core->CallOriginal("::tcl_after", objc, objv);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::shared_ptr<TclCore> keep = core->shared_from_this();
    while (std::chrono::steady_clock::now() < deadline) {
        Tcl_DoOneEvent(TCL_ALL_EVENTS);
        if (Tcl_InterpDeleted(interp) || !keep->owner)
            return Fail(interp, "after: the script server has been released");
        if (Tcl_Canceled(interp, TCL_LEAVE_ERR_MSG) == TCL_ERROR)
            return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Errors of after handlers and socket events go to the engine log.
int BackgroundErrorCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]) {
    if (objc < 2)
        return TCL_OK;
    n_printf("ERROR: background script: %s\n", ToString(objv[1]).c_str());
    if (objc >= 3) {
        TclObjRef key = NewString("-errorinfo");
        Tcl_Obj* info = nullptr;
        if (Tcl_DictObjGet(nullptr, objv[2], key.get(), &info) == TCL_OK && info)
            n_printf("%s\n", ToString(info).c_str());
    }
    Tcl_ResetResult(interp);
    return TCL_OK;
}

} // namespace

TclCore::TclCore() {
    InitTclOnce();
    interp = Tcl_CreateInterp();
    Tcl_Preserve(interp);
    if (Tcl_Init(interp) != TCL_OK)
        n_printf("WARN: tcl: %s\n", Tcl_GetStringResult(interp));
    InstallCommands();
    Tcl_CreateEventSource(SetupProc, CheckProc, this);
}

TclCore::~TclCore() {
    Tcl_DeleteEventSource(SetupProc, CheckProc, this);
    Tcl_DeleteInterp(interp);
    Tcl_Release(interp);
}

int TclCore::CallOriginal(const char* original, int objc, Tcl_Obj* const objv[]) {
    std::vector<Tcl_Obj*> words(objv, objv + objc);
    TclObjRef name(Tcl_NewStringObj(original, -1));
    words[0] = name.get();
    return Tcl_EvalObjv(interp, objc, words.data(), 0);
}

void TclCore::InstallCommands() {
    // The launcher sets variables such as net::wv_connect before the network script has
    // made its namespace.
    Tcl_Eval(interp, "namespace eval ::net {}; namespace eval ::skill {}; "
                     "namespace eval ::pelora {}");

    auto renameOriginal = [this](const char* name, const char* renamed) {
        Tcl_CmdInfo info;
        if (!Tcl_GetCommandInfo(interp, name, &info))
            return false;
        std::string command = std::string("rename ") + name + " " + renamed;
        return Tcl_Eval(interp, command.c_str()) == TCL_OK;
    };
    hasTclUnknown = renameOriginal("::unknown", "::tcl_unknown");
    renameOriginal("::puts", "::tcl_puts");
    renameOriginal("::source", "::tcl_source");
    renameOriginal("::after", "::tcl_after");

    Tcl_CreateObjCommand(interp, "::new", NewCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::sel", SelCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::delete", DeleteCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::exists", ExistsCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::unknown", UnknownCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::puts", PutsCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::source", SourceCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::after", AfterCmd, this, nullptr);
    Tcl_CreateObjCommand(interp, "::pelora::bgerror", BackgroundErrorCmd, this, nullptr);
    Tcl_Eval(interp, "interp bgerror {} ::pelora::bgerror");
    Tcl_ResetResult(interp);
}

std::string TclCore::ResolvePath(const std::string& path) const {
    std::string resolved = path;
    if (nKernelServer* kernel = Kernel(); kernel && kernel->fileServer)
        resolved = kernel->fileServer->ManglePath(path);
    std::filesystem::path fsPath(resolved);
    if (!resolved.empty() && fsPath.is_relative()) {
        std::error_code ec;
        auto cwd = std::filesystem::current_path(ec);
        if (!ec)
            resolved = (cwd / fsPath).string();
    }
    return resolved;
}

bool TclCore::Evaluate(const std::string& what, bool isScript, const std::function<int()>& eval,
                       std::string& result) {
    std::shared_ptr<TclCore> keep = shared_from_this();
    // A command run inside a waiting one (a Qt click during vwait) must not change the
    // waiting command's result or error state.
    Tcl_InterpState saved = evalDepth > 0 ? Tcl_SaveInterpState(interp, TCL_OK) : nullptr;
    ++evalDepth;
    int code = eval();
    --evalDepth;
    bool ok = true;
    switch (code) {
    case TCL_OK:
    case TCL_RETURN:
        result = Tcl_GetStringResult(interp);
        break;
    case TCL_BREAK:
        result = "invoked \"break\" outside of a loop";
        ok = false;
        break;
    case TCL_CONTINUE:
        result = "invoked \"continue\" outside of a loop";
        ok = false;
        break;
    default:
        result = Tcl_GetStringResult(interp);
        ok = false;
        break;
    }
    if (!ok) {
        if (isScript)
            n_printf("ERROR: script %s: %s\n", what.c_str(), result.c_str());
        else
            n_printf("ERROR: command '%s': %s\n", what.c_str(), result.c_str());
        if (code == TCL_ERROR) {
            std::string info = ErrorInfo(interp, code);
            if (!info.empty() && info != result)
                n_printf("%s\n", info.c_str());
        }
    }
    if (saved)
        Tcl_RestoreInterpState(interp, saved);
    return ok;
}

// ---- nTclServer ----

nTclServer::nTclServer() : core_(std::make_shared<TclCore>()) {
    core_->owner = this;
}

nTclServer::~nTclServer() {
    core_->owner = nullptr;
    // Released from inside a running command: unwind it; the interpreter goes when the
    // last evaluation on the stack lets go of the core.
    if (core_->evalDepth > 0)
        Tcl_CancelEval(core_->interp, Tcl_NewStringObj("the script server has been released", -1),
                       nullptr, TCL_CANCEL_UNWIND);
}

Tcl_Interp* nTclServer::GetInterp() const {
    return core_->interp;
}

bool nTclServer::RunCommand(const char* command, std::string& result) {
    std::string text = command ? command : "";
    Tcl_Interp* interp = core_->interp;
    return core_->Evaluate(
        text, false,
        [&] { return Tcl_EvalEx(interp, text.data(), int(text.size()), TCL_EVAL_GLOBAL); }, result);
}

bool nTclServer::RunWords(const std::vector<std::string>& words, std::string& result) {
    std::string text;
    std::vector<Tcl_Obj*> objects;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + word;
        objects.push_back(Tcl_NewStringObj(word.data(), int(word.size())));
        Tcl_IncrRefCount(objects.back());
    }
    Tcl_Interp* interp = core_->interp;
    bool ok = core_->Evaluate(
        text, false,
        [&] { return Tcl_EvalObjv(interp, int(objects.size()), objects.data(), TCL_EVAL_GLOBAL); },
        result);
    for (Tcl_Obj* object : objects)
        Tcl_DecrRefCount(object);
    return ok;
}

bool nTclServer::SetVariable(const char* name, const std::string& value) {
    if (!name || !*name)
        return false;
    Tcl_Obj* object = Tcl_NewStringObj(value.data(), int(value.size()));
    Tcl_IncrRefCount(object);
    // No error message is left in the interpreter: this may run inside a command that is
    // waiting, which must keep its result.
    bool ok = Tcl_SetVar2Ex(core_->interp, name, nullptr, object, TCL_GLOBAL_ONLY) != nullptr;
    Tcl_DecrRefCount(object);
    return ok;
}

const ScriptRunReport& LastScriptRun() {
    return g_lastScriptRun;
}

bool nTclServer::RunScript(const char* path, std::string& result) {
    std::string name = path ? path : "";
    g_lastScriptRun = ScriptRunReport{name, false, {}};
    std::string resolved = core_->ResolvePath(name);
    std::error_code ec;
    if (name.empty() || !std::filesystem::is_regular_file(resolved, ec)) {
        result = "script '" + name + "' not found";
        if (resolved != name)
            result += " (" + resolved + ")";
        n_printf("ERROR: script %s: %s\n", name.c_str(), result.c_str());
        g_lastScriptRun = ScriptRunReport{name, true, result};
        return false;
    }
    Tcl_Interp* interp = core_->interp;
    bool ok = core_->Evaluate(
        name, true,
        [&] {
            // Tcl takes file names in UTF-8 and turns them back into the system's bytes.
            TclDString utf;
            Tcl_ExternalToUtfDString(nullptr, resolved.data(), int(resolved.size()), &utf.ds);
            return Tcl_EvalFile(interp, Tcl_DStringValue(&utf.ds));
        },
        result);
    // Scripts run by this one have reported on themselves; this is the outer one's outcome.
    g_lastScriptRun = ScriptRunReport{name, !ok, ok ? std::string() : result};
    return ok;
}

bool nTclServer::ProcessEvents() {
    std::shared_ptr<TclCore> keep = core_;
    ++keep->evalDepth;
    for (int i = 0; i < kMaxEventsPerPoll; ++i) {
        keep->skipQtPumpOnce = true;
        int serviced = Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT);
        keep->skipQtPumpOnce = false;
        if (!serviced || !keep->owner)
            break;
    }
    --keep->evalDepth;
    return true;
}

void RegisterScriptClasses(nKernelServer* kernel) {
    kernel->AddClass("ntclserver", [] { return new nTclServer; });
}
