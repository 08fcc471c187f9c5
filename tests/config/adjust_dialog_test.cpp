// The Adjust Wheelchair Characteristics dialog: positions and labels from the stored values,
// snapping, OK storing and sending, and the ways out that change nothing.
#include "setup_fixture.h"

#include <algorithm>

namespace {

platform::HWND g_adjust = nullptr;

// The dialog's own procedure, with the window handle kept for the test's actions.
bool RecordingAdjustProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                         platform::LPARAM lParam) {
    if (message == platform::WM_INITDIALOG)
        g_adjust = window;
    return AdjustDialogProc(window, message, wParam, lParam);
}

class AdjustDialogTest : public SetupTest {
protected:
    void SetUp() override {
        SetupTest::SetUp();
        g_adjust = nullptr;
        // An empty file: loading it fills in the two defaults.
        WriteUserSettings("");
    }

    // Opens the dialog over the stored settings; `act` runs inside its loop and must end it
    // (the dialog is ended outright should it not).
    void RunAdjust(const std::function<void(platform::HWND)>& act) {
        if (!g_state.userSettings)
            MakeUserSettings();
        QTimer::singleShot(0, [&] {
            platform::HWND dialog = g_adjust;
            if (!dialog)
                return;
            act(dialog);
            // Never leave the loop waiting, whatever `act` did.
            if (platform::IsWindow(dialog) && platform::IsWindowVisible(dialog))
                platform::EndDialog(dialog, 0);
        });
        int result = platform::DialogBoxParam(nullptr, IDD_ADJUST, nullptr, RecordingAdjustProc, 0);
        EXPECT_EQ(result, 0);
    }

    struct Shown {
        int speed = -1, axis = -1;
        std::string speedLabel, axisLabel;
    };
    static Shown Read(platform::HWND dialog) {
        return {platform::TrackbarGetPos(dialog, IDC_ADJUST_SPEED),
                platform::TrackbarGetPos(dialog, IDC_ADJUST_AXIS),
                platform::GetDlgItemText(dialog, IDC_ADJUST_SPEED_LABEL, 127),
                platform::GetDlgItemText(dialog, IDC_ADJUST_AXIS_LABEL, 127)};
    }
    static void Move(platform::HWND dialog, int slider, int position) {
        platform::TrackbarSetPos(dialog, slider, position, true);
        platform::SendMessage(dialog, platform::WM_HSCROLL, 0, slider);
    }
    static void Ok(platform::HWND dialog) {
        platform::SendCommand(dialog, platform::IDOK, platform::BN_CLICKED);
    }
};

TEST_F(AdjustDialogTest, Defaults_SlidersOnTicksWithLabels) {
    Shown shown;
    std::vector<int> speedTicks, axisTicks;
    std::pair<int, int> speedRange, axisRange;
    int speedPage = 0, axisPage = 0;
    RunAdjust([&](platform::HWND dialog) {
        shown = Read(dialog);
        speedTicks = platform::TrackbarGetTicks(dialog, IDC_ADJUST_SPEED);
        axisTicks = platform::TrackbarGetTicks(dialog, IDC_ADJUST_AXIS);
        speedRange = platform::TrackbarGetRange(dialog, IDC_ADJUST_SPEED);
        axisRange = platform::TrackbarGetRange(dialog, IDC_ADJUST_AXIS);
        speedPage = platform::TrackbarGetPageSize(dialog, IDC_ADJUST_SPEED);
        axisPage = platform::TrackbarGetPageSize(dialog, IDC_ADJUST_AXIS);
        platform::SendCommand(dialog, platform::IDCANCEL, platform::BN_CLICKED);
    });
    EXPECT_EQ(shown.speed, 50);
    EXPECT_EQ(shown.speedLabel, "Adjust Speed Scale: 100%");
    EXPECT_EQ(shown.axis, 25);
    EXPECT_EQ(shown.axisLabel, "Adjust Axis Location: -0.75 ft.");
    EXPECT_TRUE(std::count(speedTicks.begin(), speedTicks.end(), 50));
    for (int tick : {25, 100, 175})
        EXPECT_TRUE(std::count(axisTicks.begin(), axisTicks.end(), tick)) << tick;
    EXPECT_EQ(speedRange, std::make_pair(0, 70));
    EXPECT_EQ(axisRange, std::make_pair(0, 200));
    EXPECT_EQ(speedPage, 10);
    EXPECT_EQ(axisPage, 25);
}

TEST_F(AdjustDialogTest, MovedSliders_SnapToSteps) {
    std::vector<Shown> seen;
    RunAdjust([&](platform::HWND dialog) {
        Move(dialog, IDC_ADJUST_SPEED, 34);
        Move(dialog, IDC_ADJUST_AXIS, 36);
        seen.push_back(Read(dialog));
        Move(dialog, IDC_ADJUST_SPEED, 35);
        Move(dialog, IDC_ADJUST_AXIS, 37);
        seen.push_back(Read(dialog));
        Move(dialog, IDC_ADJUST_SPEED, 69);
        Move(dialog, IDC_ADJUST_AXIS, 199);
        seen.push_back(Read(dialog));
        platform::SendCommand(dialog, platform::IDCANCEL, platform::BN_CLICKED);
    });
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].speed, 30);
    EXPECT_EQ(seen[0].speedLabel, "Adjust Speed Scale: 80%");
    EXPECT_EQ(seen[0].axis, 25);
    EXPECT_EQ(seen[0].axisLabel, "Adjust Axis Location: -0.75 ft.");
    EXPECT_EQ(seen[1].speed, 40);
    EXPECT_EQ(seen[1].speedLabel, "Adjust Speed Scale: 90%");
    EXPECT_EQ(seen[1].axis, 50);
    EXPECT_EQ(seen[1].axisLabel, "Adjust Axis Location: -0.50 ft.");
    EXPECT_EQ(seen[2].speed, 70);
    EXPECT_EQ(seen[2].axis, 200);
    // Moving alone stores and sends nothing.
    EXPECT_EQ(StoredValue("speed-scale"), "1.000000");
    EXPECT_EQ(StoredValue("axis-offset"), "-0.750000");
    EXPECT_TRUE(Script().commands.empty());
}

TEST_F(AdjustDialogTest, SnapPositions_RoundAtThreshold) {
    EXPECT_EQ(SnapPosition(34, 10, 5), 30);
    EXPECT_EQ(SnapPosition(35, 10, 5), 40);
    EXPECT_EQ(SnapPosition(36, 25, 12), 25);
    EXPECT_EQ(SnapPosition(37, 25, 12), 50);
    EXPECT_EQ(SnapPosition(0, 25, 12), 0);
    EXPECT_EQ(SnapPosition(70, 10, 5), 70);
}

TEST_F(AdjustDialogTest, AxisLabels_SignAlwaysShown) {
    EXPECT_EQ(AxisLabel(100), "Adjust Axis Location: +0.00 ft.");
    EXPECT_EQ(AxisLabel(200), "Adjust Axis Location: +1.00 ft.");
    EXPECT_EQ(AxisLabel(0), "Adjust Axis Location: -1.00 ft.");
    EXPECT_EQ(SpeedLabel(0), "Adjust Speed Scale: 50%");
    EXPECT_EQ(SpeedLabel(70), "Adjust Speed Scale: 120%");
}

TEST_F(AdjustDialogTest, ReverseMapping_RoundsSinglePrecisionToNearest) {
    EXPECT_EQ(SpeedPositionFor(0.8f), 30);
    EXPECT_EQ(SpeedPositionFor(1.2f), 70);
    EXPECT_EQ(SpeedPositionFor(0.55f), 5);
    EXPECT_EQ(SpeedPositionFor(0.834f), 33);
    EXPECT_EQ(SpeedPositionFor(2.0f), 150);
    EXPECT_EQ(AxisPositionFor(-0.75f), 25);
    EXPECT_EQ(AxisPositionFor(0.3f), 130);
    EXPECT_EQ(AxisPositionFor(-0.996f), 0);
}

TEST_F(AdjustDialogTest, StoredValueOutOfRange_SliderAtEndLabelUnclampedOkStoresEnd) {
    WriteUserSettings("speed-scale=2.0\naxis-offset=-0.750000\n");
    Shown shown;
    RunAdjust([&](platform::HWND dialog) {
        shown = Read(dialog);
        Ok(dialog);
    });
    EXPECT_EQ(shown.speed, 70);
    EXPECT_EQ(shown.speedLabel, "Adjust Speed Scale: 200%");
    EXPECT_EQ(StoredValue("speed-scale"), "1.200000");
    EXPECT_FLOAT_EQ(g_state.userSettings->getSpeedScale(), 1.2f);
}

TEST_F(AdjustDialogTest, OkWithoutMoving_StoresBothAgainAndSendsBoth) {
    WriteUserSettings("speed-scale=0.8\naxis-offset=0.25\n");
    RunAdjust([&](platform::HWND dialog) { Ok(dialog); });
    EXPECT_EQ(StoredValue("speed-scale"), "0.800000");
    EXPECT_EQ(StoredValue("axis-offset"), "0.250000");
    EXPECT_EQ(Script().commands, (std::vector<std::string>{"skill::set_speed 0.800000",
                                                           "set_avatar_center 0.250000"}));
}

TEST_F(AdjustDialogTest, EveryStoredPosition_ReopensAtSamePositionAndLabel) {
    for (int speed = 0; speed <= 70; ++speed) {
        int axis = speed * 200 / 70;
        RunAdjust([&](platform::HWND dialog) {
            platform::TrackbarSetPos(dialog, IDC_ADJUST_SPEED, speed, true);
            platform::TrackbarSetPos(dialog, IDC_ADJUST_AXIS, axis, true);
            Ok(dialog);
        });
        Shown again;
        RunAdjust([&](platform::HWND dialog) {
            again = Read(dialog);
            platform::SendMessage(dialog, platform::WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(again.speed, speed);
        EXPECT_EQ(again.axis, axis);
        EXPECT_EQ(again.speedLabel, SpeedLabel(speed));
        EXPECT_EQ(again.axisLabel, AxisLabel(axis));
    }
}

TEST_F(AdjustDialogTest, CancelEscapeAndClose_StoreAndSendNothing) {
    WriteUserSettings("speed-scale=0.900000\naxis-offset=-0.750000\n");
    const std::string before = home.ReadFile("users/alice/userSettings");
    auto moveThen = [&](const std::function<void(platform::HWND)>& leave) {
        RunAdjust([&](platform::HWND dialog) {
            Move(dialog, IDC_ADJUST_SPEED, 62);
            Move(dialog, IDC_ADJUST_AXIS, 180);
            leave(dialog);
        });
    };
    moveThen([](platform::HWND dialog) {
        platform::SendCommand(dialog, platform::IDCANCEL, platform::BN_CLICKED);
    });
    moveThen(
        [](platform::HWND dialog) { platform::SendMessage(dialog, platform::WM_CLOSE, 0, 0); });
    EXPECT_EQ(home.ReadFile("users/alice/userSettings"), before);
    EXPECT_FLOAT_EQ(g_state.userSettings->getSpeedScale(), 0.9f);
    EXPECT_TRUE(Script().commands.empty());
}

TEST_F(AdjustDialogTest, NoScriptServer_OkStoresButSendsNothing) {
    g_state.scriptServer->Release();
    g_state.scriptServer = nullptr;
    RunAdjust([&](platform::HWND dialog) {
        Move(dialog, IDC_ADJUST_SPEED, 20);
        Ok(dialog);
    });
    EXPECT_EQ(StoredValue("speed-scale"), "0.700000");
    EXPECT_EQ(fakes::IndexOf("command ", true), -1);
}

} // namespace
