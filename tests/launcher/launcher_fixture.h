// Shared scope of the launcher tests: platform and launcher state reset, recording fakes,
// a temporary home folder, recorded boxes and log lines, and the Login window made on them.
#pragma once

#include "fakes.h"
#include "launcher/launcher.h"
#include "resource.h"
#include "settings/global_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace launcher_test {

// Runs before the members below are made, so that their hooks stay installed.
struct CleanSlate {
    CleanSlate() {
        platform::ResetForTesting();
        platform::ClearQuit();
        ResetLauncherState();
    }
};

// Global settings whose destruction is seen in the ordered event record.
class RecordingGlobalSettings : public GlobalSettings {
public:
    explicit RecordingGlobalSettings(std::string fileName) : GlobalSettings(std::move(fileName)) {}
    ~RecordingGlobalSettings() override { fakes::Record("release global settings"); }
};

class LauncherTest : public ::testing::Test, private CleanSlate {
protected:
    void TearDown() override {
        if (g_state.loginWindow && platform::IsWindow(g_state.loginWindow))
            platform::DestroyWindow(g_state.loginWindow);
        ReleaseEngine();
        n_setbarfhandler(nullptr);
        platform::ResetForTesting();
        platform::ClearQuit();
        ResetLauncherState();
    }

    // Script, graphics and data servers as recording fakes; users/guest present, so that the
    // start is not a first run.
    void UseFakeEngine() {
        classes.UseScriptServer();
        classes.UseGfxServers();
        classes.UseDataServer();
        home.MakeDir("users/guest");
    }

    // The globalSettings file of the home folder, one "key=value" line per entry.
    void WriteGlobalSettings(const std::map<std::string, std::string>& values) {
        std::string text;
        for (const auto& [key, value] : values)
            text += key + "=" + value + "\n";
        home.WriteFile("globalSettings", text);
    }

    // Global settings made ahead of the bootstrap (which then keeps them), from the home
    // folder's file; their release is recorded.
    RecordingGlobalSettings* PresetGlobalSettings() {
        std::filesystem::current_path(home.path());
        auto* settings = new RecordingGlobalSettings("globalSettings");
        g_state.globalSettings = settings;
        return settings;
    }

    platform::HWND OpenLoginWindow() {
        return platform::CreateDialogParam(nullptr, IDD_LOGIN, nullptr, LoginDialogProc, 0);
    }

    std::string Status() const {
        return platform::GetDlgItemText(g_state.loginWindow, IDC_LOGIN_STATUS, 1000);
    }

    bool BoxShown(const std::string& text) const {
        for (const auto& box : boxes.boxes)
            if (box.text == text)
                return true;
        return false;
    }

    fakes::FakeScriptServer* Script() const { return fakes::FakeScriptServer::last; }

    fakes::FakeClasses classes;
    fakes::TempHome home;
    fakes::MessageBoxRecorder boxes;
    fakes::LogRecorder log;
};

} // namespace launcher_test
