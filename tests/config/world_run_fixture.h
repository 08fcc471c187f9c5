// A drive's surroundings for the world-run tests: a temporary home with a user, a world and
// two avatars, a kernel with the recording fakes, a User Setup window run modally around the
// scenario, and a look at the progress windows that the run opens.
#pragma once

#include "config/config.h"
#include "engine/services.h"
#include "fakes.h"
#include "launcher/launcher.h"
#include "platform/file_system.h"
#include "resource.h"
#include "settings/user_settings.h"

#include <QApplication>
#include <QVariant>
#include <QWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace worldrun_test {

// The data server fake, also noting what the state and the progress window were at its calls.
class WatchedDataServer : public fakes::FakeDataServer {
public:
    static inline std::function<void(const std::string&)> watch;
    void SetOnline(bool online) override {
        Note("SetOnline");
        FakeDataServer::SetOnline(online);
    }
    void SaveDriveData() override {
        Note("SaveDriveData");
        FakeDataServer::SaveDriveData();
    }
    void EncryptData() override {
        Note("EncryptData");
        FakeDataServer::EncryptData();
    }
    void SendData() override {
        Note("SendData");
        FakeDataServer::SendData();
    }
    int GetTime() override {
        Note("GetTime");
        return FakeDataServer::GetTime();
    }

private:
    static void Note(const std::string& call) {
        if (watch)
            watch(call);
    }
};

// User settings whose end is recorded.
class RecordedUserSettings : public UserSettings {
public:
    ~RecordedUserSettings() override { fakes::Record("user settings destroyed"); }
};

// A label that records its calls in order.
class RecordingLabel : public zuwLabel {
public:
    void setText(std::string text) override {
        fakes::Record("label setText " + text);
        zuwLabel::setText(text);
    }
    void setColor(Color color) override {
        fakes::Record("label setColor");
        zuwLabel::setColor(color);
    }
};

// An avatar model whose release is recorded.
class RecordedModel : public nRoot {
public:
    ~RecordedModel() override { fakes::Record("model released " + GetName()); }
};

inline std::function<void()>& Scenario() {
    static std::function<void()> scenario;
    return scenario;
}

inline bool ScenarioProc(platform::HWND window, unsigned message, platform::WPARAM,
                         platform::LPARAM) {
    if (message != platform::WM_INITDIALOG)
        return false;
    g_state.setupWindow = window;
    platform::ShowWindow(window, platform::SW_SHOWNORMAL);
    if (Scenario())
        Scenario()();
    // A run that did not end the window leaves it open: close it as Logout would.
    if (g_state.setupWindow) {
        g_state.setupWindow = nullptr;
        platform::EndDialog(window, 0);
    }
    return true;
}

// Texts of every control of the windows that were opened since `before` and are still shown.
inline std::vector<std::string> TextsOfNewWindows(const std::set<QWidget*>& before) {
    std::vector<std::string> texts;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (before.count(top) || !top->isVisible())
            continue;
        for (QWidget* child : top->findChildren<QWidget*>()) {
            QVariant text = child->property("text");
            if (text.isValid())
                texts.push_back(text.toString().toStdString());
        }
    }
    return texts;
}

inline bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    for (const auto& t : texts) {
        if (t == text)
            return true;
    }
    return false;
}

class DriveFixture : public ::testing::Test {
protected:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kWorld = "park";
    static constexpr const char* kVehicle = "chair";
    static constexpr const char* kOtherVehicle = "scooter";

    void SetUp() override {
        ResetLauncherState();
        fakes::Events().clear();
        if (!realScriptServer)
            classes.UseScriptServer();
        classes.Use("pldata", [] { return new WatchedDataServer; });
        classes.Use("testlabel", [] { return new RecordingLabel; });
        classes.Use("testmodel", [] { return new RecordedModel; });
        home.MakeDir(std::string("users/") + kUser);
        home.WriteFile(std::string("worlds/") + kWorld + "/go.tcl", "# world\n");
        home.MakeDir(std::string("worlds/") + kWorld + "/meshes");
        home.WriteFile(std::string("avatars/") + kVehicle + "/avatar.tcl", "# avatar\n");
        home.WriteFile(std::string("avatars/") + kOtherVehicle + "/avatar.tcl", "# avatar\n");

        kernel = NewRuntimeKernel();
        g_state.kernelServer = kernel.get();
        g_state.scriptServer =
            dynamic_cast<nScriptServer*>(kernel->New("ntclserver", "/sys/servers/script"));
        script = realScriptServer ? nullptr : fakes::FakeScriptServer::last;
        CopyName(g_state.userName, kUser);
        CopyName(g_state.worldName, kWorld);
        CopyName(g_state.vehicleType, kVehicle);
        CopyName(g_state.vehicleColor, "Red");
        CopyName(g_state.gender, "female");
        homeFolder = Canonical(home.path());
        platform::SetCurrentDirectory(homeFolder);
    }

    void TearDown() override {
        WatchedDataServer::watch = nullptr;
        Scenario() = nullptr;
        delete g_state.userSettings;
        plLandmarkInformation::resetForTesting();
        ResetLauncherState();
        kernel.reset();
        platform::SetMessageBoxHook(nullptr);
        boxes.reset();
    }

    static std::string Canonical(const std::filesystem::path& path) {
        std::error_code ec;
        auto canonical = std::filesystem::weakly_canonical(path, ec);
        return (ec ? path : canonical).string();
    }

    static std::string Cwd() { return Canonical(platform::GetCurrentDirectory()); }

    void UseDataServer() {
        g_state.dataServer = dynamic_cast<plData*>(kernel->New("pldata", "/sys/servers/data"));
        data = fakes::FakeDataServer::last;
    }

    // Runs the scenario inside a modal User Setup window and gives the dialog's end code.
    int InSetupWindow(std::function<void()> scenario) {
        Scenario() = [this, scenario = std::move(scenario)] {
            // The windows open now (the User Setup window among them) are not progress windows.
            for (QWidget* top : QApplication::topLevelWidgets())
                windowsBefore.insert(top);
            setupVisibleAtStart = platform::IsWindowVisible(g_state.setupWindow);
            scenario();
        };
        int code = platform::DialogBoxParam(nullptr, IDD_SETUP, nullptr, ScenarioProc, 0);
        Scenario() = nullptr;
        return code;
    }

    // Each command's result comes from `answer` (or the scripted answers when it gives false).
    void Answer(std::function<bool(const std::string&, std::string&)> answer) {
        script->handler = std::move(answer);
    }

    std::vector<std::string> ProgressTexts() const { return TextsOfNewWindows(windowsBefore); }

    int Index(const std::string& event) const { return fakes::IndexOf(event); }
    int IndexStarting(const std::string& prefix) const { return fakes::IndexOf(prefix, true); }
    int CountStarting(const std::string& prefix) const {
        int n = 0;
        for (const auto& e : fakes::Events())
            n += e.rfind(prefix, 0) == 0;
        return n;
    }

    fakes::TempHome home;
    fakes::FakeClasses classes;
    std::unique_ptr<fakes::MessageBoxRecorder> boxes =
        std::make_unique<fakes::MessageBoxRecorder>();
    fakes::LogRecorder log;
    std::unique_ptr<nKernelServer> kernel;
    fakes::FakeScriptServer* script = nullptr;
    fakes::FakeDataServer* data = nullptr;
    std::string homeFolder;
    std::set<QWidget*> windowsBefore;
    bool setupVisibleAtStart = false;
    bool realScriptServer = false; // the engine's own Tcl server instead of the fake
};

} // namespace worldrun_test
