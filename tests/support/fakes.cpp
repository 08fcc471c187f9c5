// Recording fakes and test scopes.
#include "fakes.h"

#include "launcher/launcher.h"
#include "platform/dialog_window.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fakes {

std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}

void Record(const std::string& event) {
    Events().push_back(event);
}

int IndexOf(const std::string& event, bool prefix) {
    const auto& events = Events();
    for (size_t i = 0; i < events.size(); ++i) {
        if (prefix ? events[i].rfind(event, 0) == 0 : events[i] == event)
            return int(i);
    }
    return -1;
}

// ---- script server ----
FakeScriptServer* FakeScriptServer::last = nullptr;
FakeScriptServer::FakeScriptServer() {
    last = this;
}
FakeScriptServer::~FakeScriptServer() {
    Record("release script server");
    if (last == this)
        last = nullptr;
}
bool FakeScriptServer::RunCommand(const char* command, std::string& result) {
    commands.push_back(command);
    Record(std::string("command ") + command);
    result.clear();
    if (handler && handler(command, result))
        return true;
    auto it = answers.find(command);
    if (it != answers.end())
        result = it->second;
    return true;
}
bool FakeScriptServer::RunScript(const char* path, std::string& result) {
    scripts.push_back(path);
    Record(std::string("script ") + path);
    result.clear();
    return scriptHandler ? scriptHandler(path, result) : true;
}
bool FakeScriptServer::ProcessEvents() {
    ++processEventsCalls;
    return true;
}
bool FakeScriptServer::RunWords(const std::vector<std::string>& words, std::string& result) {
    std::string command;
    for (const std::string& word : words)
        command += (command.empty() ? "" : " ") + ScriptWord(word);
    return RunCommand(command.c_str(), result);
}
bool FakeScriptServer::SetVariable(const char* name, const std::string& value) {
    variables[name] = value;
    return true;
}
int FakeScriptServer::CountCommands(const std::string& command) const {
    int n = 0;
    for (const auto& c : commands)
        n += c == command;
    return n;
}

// ---- graphics server ----
FakeGfxServer* FakeGfxServer::last = nullptr;
FakeGfxServer::FakeGfxServer() {
    last = this;
}
FakeGfxServer::~FakeGfxServer() {
    Record("release gfx server");
    if (last == this)
        last = nullptr;
}
bool FakeGfxServer::SetDisplayMode(const char* mode) {
    modes.push_back(mode);
    Record(std::string("display mode ") + mode);
    return true;
}
nCallStatus FakeGfxServer::Call(const std::string& method, const std::vector<std::string>& args,
                                std::string& result) {
    Record("gfx " + method);
    return nRoot::Call(method, args, result);
}

// ---- data server ----
FakeDataServer* FakeDataServer::last = nullptr;
FakeDataServer::FakeDataServer() {
    last = this;
}
FakeDataServer::~FakeDataServer() {
    Record("release data server");
    if (last == this)
        last = nullptr;
}
void FakeDataServer::BeginDrive() {
    Record("data BeginDrive");
}
void FakeDataServer::SaveDriveData() {
    Record("data SaveDriveData");
}
void FakeDataServer::EncryptData() {
    Record("data EncryptData");
}
void FakeDataServer::SetOnline(bool online) {
    Record(std::string("data SetOnline ") + (online ? "true" : "false"));
}
void FakeDataServer::SendData() {
    Record("data SendData");
}
void FakeDataServer::SetSiteInfo(const char* state, const char* organization, const char* dataId) {
    Record(std::string("data SetSiteInfo ") + state + "|" + organization + "|" + dataId);
}
void FakeDataServer::SetUserName(const char* userName) {
    Record(std::string("data SetUserName ") + userName);
}
void FakeDataServer::RefreshUser() {
    Record("data RefreshUser");
}
int FakeDataServer::GetTime() {
    Record("data GetTime");
    return seconds;
}
void FakeDataServer::SetDriveWorld(const char* world) {
    Record(std::string("data SetDriveWorld ") + world);
}
void FakeDataServer::EndDrive() {
    Record("data EndDrive");
}
int FakeDataServer::GetLevel() {
    Record("data GetLevel");
    return level;
}

// ---- network ----
RecordedObject::RecordedObject(const std::string& className) {
    Record("made " + className);
}

bool FakeSocket::setAddress(const char* a) {
    address = a;
    Record(std::string("socket address ") + a);
    return true;
}
FakeNetwork* FakeNetwork::last = nullptr;
FakeNetwork::FakeNetwork() {
    last = this;
}
FakeNetwork::~FakeNetwork() {
    if (last == this)
        last = nullptr;
}

// ---- scopes ----
FakeClasses::FakeClasses() {
    nKernelServer::UnregisterAllClasses();
    Events().clear();
}
FakeClasses::~FakeClasses() {
    nKernelServer::UnregisterAllClasses();
}
void FakeClasses::Use(const std::string& className, nClassFactory factory) {
    nKernelServer::RegisterClass(className, std::move(factory));
}
void FakeClasses::UseVoiceServers() {
    for (const char* name : {"zuaudioinputserver", "zuhawkvoiceserver"})
        Use(name, [name] { return new RecordedObject(name); });
}
void FakeClasses::UseGfxServers() {
    Use("nd3d8server", [] { return new FakeGfxServer; });
    Use("nglserver", [] { return new FakeGfxServer; });
}

TempHome::TempHome() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelora-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made ? std::filesystem::path(made) : std::filesystem::path(pattern);
    if (const char* old = std::getenv("PELORA_HOME")) {
        hadOldHome_ = true;
        oldHome_ = old;
    }
    setenv("PELORA_HOME", path_.c_str(), 1);
    oldCwd_ = std::filesystem::current_path();
}
TempHome::~TempHome() {
    std::error_code ec;
    std::filesystem::current_path(oldCwd_, ec);
    std::filesystem::remove_all(path_, ec);
    if (hadOldHome_)
        setenv("PELORA_HOME", oldHome_.c_str(), 1);
    else
        unsetenv("PELORA_HOME");
}
void TempHome::MakeDir(const std::string& relative) const {
    std::filesystem::create_directories(path_ / relative);
}
void TempHome::WriteFile(const std::string& relative, const std::string& bytes) const {
    auto full = path_ / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << bytes;
}
std::string TempHome::ReadFile(const std::string& relative) const {
    std::ifstream in(path_ / relative, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

DialogDriver::DialogDriver(int templateId, std::vector<Action> actions)
    : templateId_(templateId), actions_(std::move(actions)), timer_(std::make_unique<QTimer>()) {
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Poll(); });
    timer_->start(1);
}
DialogDriver::~DialogDriver() = default;

void DialogDriver::Poll() {
    for (platform::HWND dialog : platform::detail::LiveDialogs()) {
        platform::DialogWindow* window = platform::detail::LiveDialog(dialog);
        if (!window || window->Template().id != templateId_ || seen_.count(dialog))
            continue;
        seen_.insert(dialog);
        ++opened_;
        if (!actions_.empty())
            actions_[std::min(size_t(opened_ - 1), actions_.size() - 1)](dialog);
        // The quit message ends modal loops by itself.
        if (platform::detail::LiveDialog(dialog) && !dialog->ended && !platform::QuitPosted()) {
            ADD_FAILURE() << "dialog " << templateId_ << " left open by the test's action";
            platform::EndDialog(dialog, 1);
        }
    }
}

MessageBoxRecorder::MessageBoxRecorder() {
    platform::SetMessageBoxHook([this](const platform::MessageBoxRecord& r) {
        boxes.push_back(r);
        Record("box " + r.caption + ": " + r.text);
        return platform::IDOK;
    });
}
MessageBoxRecorder::~MessageBoxRecorder() {
    platform::SetMessageBoxHook(nullptr);
}

LogRecorder::LogRecorder() {
    n_setloghook([this](const std::string& text) { lines.push_back(text); });
}
LogRecorder::~LogRecorder() {
    n_setloghook(nullptr);
}
bool LogRecorder::Contains(const std::string& text) const {
    return Count(text) > 0;
}
int LogRecorder::Count(const std::string& text) const {
    int n = 0;
    for (const auto& l : lines)
        n += l.find(text) != std::string::npos;
    return n;
}

} // namespace fakes
