// The Adjust Wheelchair Characteristics dialog: speed scale and axis location sliders, and
// the two script commands that hand the stored values to the simulation.
#include "config/config.h"
#include "engine/services.h"
#include "platform/c_locale.h"
#include "resource.h"
#include "settings/user_settings.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr int kSpeedMax = 70;
constexpr int kSpeedStep = 10;
constexpr int kSpeedThreshold = 5;
constexpr int kAxisMax = 200;
constexpr int kAxisStep = 25;
constexpr int kAxisThreshold = 12;

double SpeedScaleAt(int position) {
    return 0.5 + position / 100.0;
}
double AxisOffsetAt(int position) {
    return position / 100.0 - 1.0;
}

std::string Format(const char* format, double value) {
    platform::CNumericLocaleScope cLocale;
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

void EndAdjustWithOk(platform::HWND dialog) {
    ApplySpeedSlider(dialog, platform::TrackbarGetPos(dialog, IDC_ADJUST_SPEED));
    ApplyAxisSlider(dialog, platform::TrackbarGetPos(dialog, IDC_ADJUST_AXIS));
    ApplyWheelchairAdjustments();
    platform::EndDialog(dialog, 0);
}

} // namespace

std::string SpeedLabel(int position) {
    return Format("Adjust Speed Scale: %.0f%%", SpeedScaleAt(position) * 100.0);
}

std::string AxisLabel(int position) {
    return Format("Adjust Axis Location: %+.2f ft.", AxisOffsetAt(position));
}

// Nearest whole position, from the single-precision values as stored (0.8f gives 30).
int SpeedPositionFor(float speedScale) {
    return int(std::lround((speedScale - 0.5f) * 100.0f));
}
int AxisPositionFor(float axisOffset) {
    return int(std::lround((axisOffset + 1.0f) * 100.0f));
}

int SnapPosition(int position, int step, int threshold) {
    int remainder = position % step;
    return remainder >= threshold ? position + (step - remainder) : position - remainder;
}

void ShowAdjustDialog() {
    int result = platform::DialogBoxParam(g_state.instance, IDD_ADJUST, g_state.setupWindow,
                                          AdjustDialogProc, 0);
    if (result == -1) {
        platform::MessageBox(nullptr, platform::GetLastErrorText(), "Error",
                             platform::MB_OK | platform::MB_ICONEXCLAMATION);
        platform::PostQuitMessage(0);
    }
}

bool AdjustDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                      platform::LPARAM lParam) {
    switch (message) {
    case platform::WM_INITDIALOG:
        InitAdjustDialog(window);
        return true;
    case platform::WM_HSCROLL:
        SnapSlider(window, int(lParam));
        return true;
    case platform::WM_COMMAND:
        if (platform::LOWORD(wParam) == unsigned(platform::IDOK))
            EndAdjustWithOk(window);
        else if (platform::LOWORD(wParam) == unsigned(platform::IDCANCEL))
            platform::EndDialog(window, 0);
        return true;
    case platform::WM_CLOSE:
        platform::EndDialog(window, 0);
        return true;
    default:
        return false;
    }
}

void InitAdjustDialog(platform::HWND dialog) {
    platform::TrackbarSetRange(dialog, IDC_ADJUST_SPEED, 0, kSpeedMax, true);
    platform::TrackbarSetPageSize(dialog, IDC_ADJUST_SPEED, 10);
    platform::TrackbarSetTick(dialog, IDC_ADJUST_SPEED, 50);

    platform::TrackbarSetRange(dialog, IDC_ADJUST_AXIS, 0, kAxisMax, true);
    platform::TrackbarSetPageSize(dialog, IDC_ADJUST_AXIS, 25);
    for (int tick : {25, 100, 175})
        platform::TrackbarSetTick(dialog, IDC_ADJUST_AXIS, tick);

    float speedScale = g_state.userSettings ? g_state.userSettings->getSpeedScale() : 1.0f;
    float axisOffset = g_state.userSettings ? g_state.userSettings->getAxisOffset() : -0.75f;

    // The slider clamps a stored value outside its range; the label shows the unclamped one.
    int speed = SpeedPositionFor(speedScale);
    platform::TrackbarSetPos(dialog, IDC_ADJUST_SPEED, speed, true);
    platform::SetDlgItemText(dialog, IDC_ADJUST_SPEED_LABEL, SpeedLabel(speed));

    int axis = AxisPositionFor(axisOffset);
    platform::TrackbarSetPos(dialog, IDC_ADJUST_AXIS, axis, true);
    platform::SetDlgItemText(dialog, IDC_ADJUST_AXIS_LABEL, AxisLabel(axis));
}

void SnapSlider(platform::HWND dialog, int sliderId) {
    if (sliderId == IDC_ADJUST_SPEED) {
        int position =
            SnapPosition(platform::TrackbarGetPos(dialog, sliderId), kSpeedStep, kSpeedThreshold);
        platform::TrackbarSetPos(dialog, sliderId, position, true);
        platform::SetDlgItemText(dialog, IDC_ADJUST_SPEED_LABEL, SpeedLabel(position));
    } else if (sliderId == IDC_ADJUST_AXIS) {
        int position =
            SnapPosition(platform::TrackbarGetPos(dialog, sliderId), kAxisStep, kAxisThreshold);
        platform::TrackbarSetPos(dialog, sliderId, position, true);
        platform::SetDlgItemText(dialog, IDC_ADJUST_AXIS_LABEL, AxisLabel(position));
    }
}

void ApplySpeedSlider(platform::HWND dialog, int position) {
    platform::SetDlgItemText(dialog, IDC_ADJUST_SPEED_LABEL, SpeedLabel(position));
    if (g_state.userSettings)
        g_state.userSettings->setSpeedScale(float(SpeedScaleAt(position)));
}

void ApplyAxisSlider(platform::HWND dialog, int position) {
    platform::SetDlgItemText(dialog, IDC_ADJUST_AXIS_LABEL, AxisLabel(position));
    if (g_state.userSettings)
        g_state.userSettings->setAxisOffset(float(AxisOffsetAt(position)));
}

void ApplyWheelchairAdjustments() {
    if (!g_state.scriptServer || !g_state.userSettings)
        return;
    std::string result;
    g_state.scriptServer->RunCommand(
        Format("skill::set_speed %f", g_state.userSettings->getSpeedScale()).c_str(), result);
    g_state.scriptServer->RunCommand(
        Format("set_avatar_center %f", g_state.userSettings->getAxisOffset()).c_str(), result);
}
