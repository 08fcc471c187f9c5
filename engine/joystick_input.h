// Joysticks and gamepads as the drive's hand, through SDL2: a known game controller by its left
// stick, any other joystick (a wheelchair's, say) by its first two axes. The stick sets the
// demand only (forward and turn, -1..1); the simulation keeps the chair's response. A stick
// plugged in during a drive is used at once; one pulled out stops the chair (the demand goes
// to zero), not the drive. Polled from the drive's timer: no thread, no SDL window.
#pragma once

#include "drive_simulation.h"

#include <string>

typedef struct _SDL_Joystick SDL_Joystick;
typedef struct _SDL_GameController SDL_GameController;

// The user's stick choices (userSettings keys joystick-dead-zone, joystick-swap-axes,
// joystick-invert-forward, joystick-invert-turn).
struct StickSettings {
    double deadZone = 0.15; // of the axis' travel, 0..0.9
    bool swapAxes = false;  // the first axis is forward/back, the second the turn
    bool invertForward = false;
    bool invertTurn = false;
};

// The demand from two axes in -1..1 (`across`: left -1 / right +1; `along`: up/away -1, as
// sticks report it). Inside the dead zone an axis gives 0; beyond it the rest of the travel
// maps onto 0..1, so full deflection is full demand.
DriveInput StickDemand(double across, double along, const StickSettings& settings);

// Settings from the text values of a user's settings ("" leaves the default); `problem` names
// a value that does not read (and is left at its default).
StickSettings StickSettingsFrom(const std::string& deadZone, const std::string& swapAxes,
                                const std::string& invertForward, const std::string& invertTurn,
                                std::string* problem = nullptr);

class JoystickInput {
public:
    explicit JoystickInput(StickSettings settings);
    ~JoystickInput();
    JoystickInput(const JoystickInput&) = delete;
    JoystickInput& operator=(const JoystickInput&) = delete;

    // SDL's joystick support came up.
    bool Available() const { return available_; }
    // Takes in plugs and unplugs and reads the stick in use.
    void Poll();
    bool HasDevice() const { return joystick_ != nullptr; }
    // "Gamepad: <name>" or "Joystick: <name>"; "" without a device.
    const std::string& DeviceName() const { return name_; }
    // The stick's demand (zero without a device).
    DriveInput Demand() const { return demand_; }
    // The stick is off its centre (beyond the dead zone): it is driving.
    bool Active() const { return demand_.forward != 0 || demand_.turn != 0; }

private:
    void Open(int index);
    void Close();

    StickSettings settings_;
    bool available_ = false;
    SDL_Joystick* joystick_ = nullptr;
    SDL_GameController* controller_ = nullptr;
    int instance_ = -1;
    std::string name_;
    DriveInput demand_;
};
