// Shared by the window-system tests: a recording dialog procedure, test templates (ids from
// 9000, clear of the program's own) and a fixture that resets the layer around each case.
#pragma once

#include "platform/dialog_window.h"
#include "platform/window_system.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace platformtest {

using namespace platform;

struct Received {
    HWND window;
    unsigned message;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<Received>& Log() {
    static std::vector<Received> log;
    return log;
}

// What the procedure does besides recording; gives whether it handled the message.
using Behaviour = std::function<bool(HWND, unsigned, WPARAM, LPARAM)>;
inline Behaviour& CurrentBehaviour() {
    static Behaviour behaviour;
    return behaviour;
}

// A dialog procedure that handles nothing: the template's own behaviour only.
inline bool SilentProc(HWND, unsigned, WPARAM, LPARAM) {
    return false;
}

inline bool RecordingProc(HWND window, unsigned message, WPARAM wParam, LPARAM lParam) {
    Log().push_back({window, message, wParam, lParam});
    Behaviour b = CurrentBehaviour();
    return b ? b(window, message, wParam, lParam) : false;
}

inline int Count(unsigned message) {
    int n = 0;
    for (const auto& r : Log())
        n += r.message == message;
    return n;
}

inline int CountCommand(int id, int code) {
    int n = 0;
    for (const auto& r : Log())
        n += r.message == WM_COMMAND && LOWORD(r.wParam) == unsigned(id) &&
             HIWORD(r.wParam) == unsigned(code);
    return n;
}

inline const Received* Last(unsigned message) {
    for (auto it = Log().rbegin(); it != Log().rend(); ++it) {
        if (it->message == message)
            return &*it;
    }
    return nullptr;
}

// Form: a login-like dialog.
constexpr int kForm = 9001;
constexpr int kName = 9101, kPassword = 9102, kOnline = 9103, kOffline = 9104, kQuit = 9105,
              kBanner = 9106, kStatus = 9107;
// Choices: lists, trackbar, radios.
constexpr int kChoices = 9002;
constexpr int kCombo = 9201, kSortedCombo = 9202, kSortedList = 9203, kNoSelList = 9204,
              kSlider = 9205, kMale = 9206, kFemale = 9207, kSunken = 9208, kHiddenEdit = 9209,
              kDisabledButton = 9210;
// Popup: no caption, visible when created.
constexpr int kPopup = 9003;
constexpr int kPopupText = 9301;
// Picture: a static bitmap showing a registered bitmap.
constexpr int kPicture = 9004;
constexpr int kPictureBitmap = 9401;
constexpr int kBitmapResource = 9501;
constexpr int kIconResource = 9502;
constexpr int kCursorResource = 9503;

inline void RegisterTestTemplates() {
    RegisterDialogTemplate(DialogTemplate{
        kForm,
        true,
        "Form",
        257,
        335,
        "MS Sans Serif",
        8,
        DS_CENTER | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
        {
            {kName, ControlKind::Edit, "", 25, 261, 85, 15, WS_BORDER | WS_TABSTOP},
            {kPassword, ControlKind::Edit, "", 140, 261, 85, 15,
             WS_BORDER | WS_TABSTOP | ES_PASSWORD},
            {kOnline, ControlKind::PushButton, "Online", 173, 306, 60, 15, WS_TABSTOP},
            {kOffline, ControlKind::DefPushButton, "Offline", 98, 306, 60, 15, WS_TABSTOP},
            {kQuit, ControlKind::PushButton, "Quit", 23, 306, 60, 15, WS_TABSTOP},
            {-1, ControlKind::GroupBox, "Login", 10, 231, 235, 60},
            {-1, ControlKind::Static, "User Name:", 25, 246, 80, 10},
            {kBanner, ControlKind::StaticBitmap, "", 12, 10, 233, 197},
            {kStatus, ControlKind::Static, "--", 18, 216, 220, 10},
        }});
    RegisterDialogTemplate(DialogTemplate{
        kChoices,
        false,
        "Choices",
        300,
        200,
        "MS Sans Serif",
        8,
        DS_CENTER | WS_CAPTION | WS_SYSMENU,
        {
            {kCombo, ControlKind::ComboDropList, "", 10, 10, 100, 80, WS_TABSTOP},
            {kSortedCombo, ControlKind::ComboDropList, "", 10, 30, 100, 80, WS_TABSTOP | CBS_SORT},
            {kSortedList, ControlKind::ListBox, "", 120, 10, 100, 80, WS_TABSTOP | LBS_SORT},
            {kNoSelList, ControlKind::ListBox, "", 120, 100, 100, 60, LBS_NOSEL},
            {kSlider, ControlKind::Trackbar, "", 10, 60, 100, 20, WS_TABSTOP | TBS_BOTH | TBS_HORZ},
            {kMale, ControlKind::AutoRadioButton, "Male", 10, 100, 50, 10, WS_TABSTOP},
            {kFemale, ControlKind::AutoRadioButton, "Female", 10, 115, 50, 10},
            {kSunken, ControlKind::Static, "", 10, 140, 60, 13, SS_SUNKEN | SS_CENTERIMAGE},
            {kHiddenEdit, ControlKind::Edit, "secret", 10, 160, 80, 14, WS_HIDDEN},
            {kDisabledButton, ControlKind::PushButton, "Off", 100, 160, 40, 14, WS_DISABLED},
        }});
    RegisterDialogTemplate(
        DialogTemplate{kPopup,
                       false,
                       "",
                       177,
                       67,
                       "MS Sans Serif",
                       8,
                       WS_POPUP | WS_VISIBLE | DS_CENTER | DS_MODALFRAME,
                       {
                           {-1, ControlKind::Static, "Working", 21, 15, 135, 15},
                           {kPopupText, ControlKind::Static, "", 21, 35, 135, 15},
                       }});
    RegisterDialogTemplate(DialogTemplate{
        kPicture,
        false,
        "Picture",
        200,
        150,
        "MS Sans Serif",
        8,
        WS_CAPTION,
        {
            {kPictureBitmap, ControlKind::StaticBitmap, "", 10, 10, 20, 20, 0, kBitmapResource},
        }});
}

// Writes a plain picture of the given size; gives its path.
inline std::string WriteImage(const QTemporaryDir& dir, const char* name, int width, int height,
                              const char* format = nullptr) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = dir.filePath(QString::fromUtf8(name));
    image.save(path, format);
    return path.toStdString();
}

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetForTesting();
        Log().clear();
        CurrentBehaviour() = nullptr;
        RegisterTestTemplates();
    }
    void TearDown() override {
        CurrentBehaviour() = nullptr;
        ResetForTesting();
        Log().clear();
    }

    HWND Open(int templateId, LPARAM param = 0) {
        return CreateDialogParam(nullptr, templateId, nullptr, RecordingProc, param);
    }
    // Opens and shows a dialog and makes it the active window, so keys reach its focus.
    HWND OpenShown(int templateId) {
        HWND w = Open(templateId);
        ShowWindow(w, SW_SHOWNORMAL);
        QWidget* widget = Widget(w);
        widget->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(widget));
        return w;
    }
    static QWidget* Widget(HWND window) { return detail::LiveWidget(window); }
    static QWidget* Control(HWND dialog, int id) { return Widget(GetDlgItem(dialog, id)); }
};

} // namespace platformtest
