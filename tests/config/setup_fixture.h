// Shared scaffolding of the User Setup tests: a temporary home with a kernel, the recording
// script server, and ways to run the modal windows without ever leaving a loop waiting.
#pragma once

#include "config/config.h"
#include "engine/services.h"
#include "fakes.h"
#include "resource.h"
#include "settings/user_settings.h"

#include <QImage>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unistd.h>

class SetupTest : public ::testing::Test {
protected:
    fakes::FakeClasses classes;
    fakes::TempHome home;
    fakes::MessageBoxRecorder boxes;
    fakes::LogRecorder log;

    void SetUp() override {
        ResetLauncherState();
        platform::ResetForTesting();
        classes.UseScriptServer();
        home.MakeDir("worlds");
        home.MakeDir("avatars");
        home.MakeDir("users/alice");
        g_state.kernelServer = NewRuntimeKernel().release();
        g_state.scriptServer = dynamic_cast<nScriptServer*>(
            g_state.kernelServer->New("ntclserver", "/sys/servers/script"));
        ASSERT_NE(g_state.scriptServer, nullptr);
        ASSERT_EQ(chdir(home.path().c_str()), 0);
        CopyName(g_state.userName, "alice");
    }

    void TearDown() override {
        platform::ResetForTesting();
        delete g_state.userSettings;
        g_state.userSettings = nullptr;
        delete g_state.kernelServer;
        ResetLauncherState();
    }

    fakes::FakeScriptServer& Script() {
        return *static_cast<fakes::FakeScriptServer*>(g_state.scriptServer);
    }

    void AddWorld(const std::string& name, const std::string* difficulty = nullptr) const {
        home.MakeDir("worlds/" + name);
        if (difficulty)
            home.WriteFile("worlds/" + name + "/difficulty", *difficulty);
    }
    void AddWorld(const std::string& name, const std::string& difficulty) const {
        AddWorld(name, &difficulty);
    }
    void AddVehicle(const std::string& name) const { home.MakeDir("avatars/" + name); }

    // A bitmap file whose width tells it apart from the others.
    void WriteBitmap(const std::string& relative, int width) const {
        home.MakeDir(std::filesystem::path(relative).parent_path().string());
        QImage image(width, 8, QImage::Format_RGB32);
        image.fill(Qt::gray);
        ASSERT_TRUE(image.save(QString::fromStdString((home.path() / relative).string()), "BMP"));
    }

    // The user's settings as the window makes them: loaded, or fresh when there is no file.
    static void MakeUserSettings() {
        delete g_state.userSettings; // a second opening in one test replaces the first's
        g_state.userSettings = nullptr;
        try {
            g_state.userSettings = new UserSettings("alice");
        } catch (const FileException&) {
            g_state.userSettings = new UserSettings();
            g_state.userSettings->setUser("alice");
        }
    }

    void WriteUserSettings(const std::string& text) const {
        home.WriteFile("users/alice/userSettings", text);
    }
    std::string StoredValue(const std::string& key) const {
        auto values =
            PersistentSettings::Parse(home.ReadFile("users/alice/userSettings"), "userSettings");
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    }

    // Runs the User Setup window modally; `inspect` runs once the loop is up, then Logout is
    // pressed (and the dialog ended outright should Logout fail to end it).
    void RunSetup(bool online, const std::function<void(platform::HWND)>& inspect) {
        QTimer::singleShot(0, [&] {
            platform::HWND window = g_state.setupWindow;
            if (!window)
                return;
            inspect(window);
            if (g_state.setupWindow == window) {
                platform::SendCommand(window, IDC_SETUP_LOGOUT, platform::BN_CLICKED);
                if (g_state.setupWindow == window) {
                    ADD_FAILURE() << "Logout did not close the window";
                    platform::EndDialog(window, 0);
                }
            }
        });
        ShowUserSetup(online);
    }

    // Runs a dialog of template 108 whose initialisation creates the user's settings and runs
    // `body` with the window as setupWindow, then ends it: the catalogues without the rest of
    // the window.
    static void WithSetupDialog(const std::function<void(platform::HWND)>& body) {
        static const std::function<void(platform::HWND)>* current = nullptr;
        current = &body;
        int result = platform::DialogBoxParam(
            nullptr, IDD_SETUP, nullptr,
            [](platform::HWND window, unsigned message, platform::WPARAM,
               platform::LPARAM) -> bool {
                if (message != platform::WM_INITDIALOG)
                    return false;
                g_state.setupWindow = window;
                (*current)(window);
                g_state.setupWindow = nullptr;
                platform::EndDialog(window, 0);
                return true;
            },
            0);
        EXPECT_EQ(result, 0);
        current = nullptr;
    }

    static std::vector<std::string> ComboItems(platform::HWND window, int id) {
        std::vector<std::string> items;
        for (int i = 0; i < platform::ComboBoxGetCount(window, id); ++i)
            items.push_back(platform::ComboBoxGetText(window, id, i));
        return items;
    }
    static std::string Selected(platform::HWND window, int id) {
        int index = platform::ComboBoxGetCurSel(window, id);
        return index < 0 ? std::string("<none>") : platform::ComboBoxGetText(window, id, index);
    }
    static std::vector<std::string> ListItems(platform::HWND window, int id) {
        std::vector<std::string> items;
        for (int i = 0; i < platform::ListBoxGetCount(window, id); ++i)
            items.push_back(platform::ListBoxGetText(window, id, i));
        return items;
    }
    // Chooses an item as the user would: selection, then the change notification.
    static void Choose(platform::HWND window, int id, int index) {
        platform::ComboBoxSetCurSel(window, id, index);
        platform::SendCommand(window, id, platform::CBN_SELCHANGE);
    }
};
