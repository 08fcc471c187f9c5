// Recording fakes of the engine services, registered in the kernel by class name so that the
// launcher's real code runs against them; a temporary home folder; a message-box recorder.
#pragma once

#include "engine/services.h"
#include "platform/window_system.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QTimer;

namespace fakes {

// One ordered record of what the fakes were asked, shared by all of them.
std::vector<std::string>& Events();
void Record(const std::string& event);
// Index of the first event equal to `event` (or starting with it when `prefix`); -1 if none.
int IndexOf(const std::string& event, bool prefix = false);

class FakeScriptServer : public nScriptServer {
public:
    FakeScriptServer();
    ~FakeScriptServer() override;
    bool RunCommand(const char* command, std::string& result) override;
    bool RunScript(const char* path, std::string& result) override;
    bool ProcessEvents() override;
    // Recorded as the command line the words make (each word quoted as the launcher quotes).
    bool RunWords(const std::vector<std::string>& words, std::string& result) override;
    bool SetVariable(const char* name, const std::string& value) override;

    std::vector<std::string> commands;
    std::map<std::string, std::string> variables; // as set through SetVariable
    std::vector<std::string> scripts;
    int processEventsCalls = 0;
    // Exact command -> result; commands without an answer give "".
    std::map<std::string, std::string> answers;
    // When set, asked first; gives true when it answered.
    std::function<bool(const std::string& command, std::string& result)> handler;
    // Runs in place of each script file when set; gives the script's success.
    std::function<bool(const std::string& path, std::string& result)> scriptHandler;
    int CountCommands(const std::string& command) const;

    static FakeScriptServer* last; // the most recently made one
};

class FakeGfxServer : public nGfxServer {
public:
    FakeGfxServer();
    ~FakeGfxServer() override;
    bool SetDisplayMode(const char* mode) override;
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;
    std::vector<std::string> modes;
    static FakeGfxServer* last;
};

class FakeDataServer : public plData {
public:
    FakeDataServer();
    ~FakeDataServer() override;
    void BeginDrive() override;
    void SaveDriveData() override;
    void EncryptData() override;
    void SetOnline(bool online) override;
    void SendData() override;
    void SetSiteInfo(const char* state, const char* organization, const char* dataId) override;
    void SetUserName(const char* userName) override;
    void RefreshUser() override;
    int GetTime() override;
    void SetDriveWorld(const char* world) override;
    void EndDrive() override;
    int GetLevel() override;
    int level = 1;
    int seconds = 0;
    static FakeDataServer* last;
};

class FakeSocket : public plnSocket {
public:
    bool setAddress(const char* address) override;
    std::string address;
};

// An engine object that records its making ("made <class>") and nothing else.
class RecordedObject : public nRoot {
public:
    explicit RecordedObject(const std::string& className);
};

class FakeNetwork : public plNetwork {
public:
    FakeNetwork();
    ~FakeNetwork() override;
    plnSocket* GetSocket() override { return &socket; }
    FakeSocket socket;
    static FakeNetwork* last;
};

// Registers the fakes under class names for this scope; the real classes come back after.
class FakeClasses {
public:
    FakeClasses();
    ~FakeClasses();
    void Use(const std::string& className, nClassFactory factory);
    void UseScriptServer() {
        Use("ntclserver", [] { return new FakeScriptServer; });
    }
    void UseGfxServers(); // both "nd3d8server" and "nglserver"
    void UseDataServer() {
        Use("pldata", [] { return new FakeDataServer; });
    }
    // FakeNetwork as "fakenetwork"; a script handler makes it at /sys/network.
    void UseNetwork() {
        Use("fakenetwork", [] { return new FakeNetwork; });
    }
    // "zuaudioinputserver" and "zuhawkvoiceserver" as recorded objects.
    void UseVoiceServers();
};

// Acts on the modal dialogs of one template as they open, from the event loop that their
// modal loop runs: each newly opened dialog gets the next action (the last one repeats). An
// action must end its dialog; one left open is ended with 1 and the test fails, so no test
// ever waits on a dialog.
class DialogDriver {
public:
    using Action = std::function<void(platform::HWND dialog)>;
    DialogDriver(int templateId, std::vector<Action> actions);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;
    int opened() const { return opened_; }

private:
    void Poll();
    int templateId_;
    std::vector<Action> actions_;
    int opened_ = 0;
    std::set<platform::HWND> seen_;
    std::unique_ptr<QTimer> timer_;
};

// A temporary home folder named by PELORA_HOME for this scope, removed afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& part) const { return path_ / part; }
    void MakeDir(const std::string& relative) const;
    void WriteFile(const std::string& relative, const std::string& bytes) const;
    std::string ReadFile(const std::string& relative) const;

private:
    std::filesystem::path path_;
    std::string oldHome_;
    bool hadOldHome_ = false;
    std::filesystem::path oldCwd_;
};

// Records every message box and answers OK, for this scope.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    std::vector<platform::MessageBoxRecord> boxes;
};

// Log lines written through n_printf, for this scope.
class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    std::vector<std::string> lines; // each n_printf call's text
    bool Contains(const std::string& text) const;
    int Count(const std::string& text) const;
};

} // namespace fakes
