// Joystick and gamepad input (see joystick_input.h).
#include "joystick_input.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

double AxisValue(Sint16 raw) {
    return std::clamp(raw / 32767.0, -1.0, 1.0);
}

double OutsideDeadZone(double value, double deadZone) {
    double magnitude = std::abs(value);
    if (magnitude <= deadZone)
        return 0;
    return std::copysign(std::min(1.0, (magnitude - deadZone) / (1.0 - deadZone)), value);
}

bool ReadFlag(const std::string& text, bool& flag) {
    if (text == "1" || text == "true" || text == "yes") {
        flag = true;
        return true;
    }
    if (text == "0" || text == "false" || text == "no") {
        flag = false;
        return true;
    }
    return text.empty();
}

} // namespace

DriveInput StickDemand(double across, double along, const StickSettings& settings) {
    if (settings.swapAxes)
        std::swap(across, along);
    const double deadZone = std::clamp(settings.deadZone, 0.0, 0.9);
    DriveInput demand;
    demand.forward = -OutsideDeadZone(along, deadZone); // pushed away reads negative
    demand.turn = OutsideDeadZone(across, deadZone);
    if (settings.invertForward)
        demand.forward = -demand.forward;
    if (settings.invertTurn)
        demand.turn = -demand.turn;
    demand.forward += 0.0; // no negative zero in the demand
    demand.turn += 0.0;
    return demand;
}

StickSettings StickSettingsFrom(const std::string& deadZone, const std::string& swapAxes,
                                const std::string& invertForward, const std::string& invertTurn,
                                std::string* problem) {
    StickSettings settings;
    auto bad = [&](const std::string& what) {
        if (problem && problem->empty())
            *problem = what;
    };
    if (!deadZone.empty()) {
        char* end = nullptr;
        double value = std::strtod(deadZone.c_str(), &end);
        if (*end == '\0' && std::isfinite(value) && value >= 0 && value <= 0.9)
            settings.deadZone = value;
        else
            bad("joystick-dead-zone '" + deadZone + "' is not a number from 0 to 0.9");
    }
    if (!ReadFlag(swapAxes, settings.swapAxes))
        bad("joystick-swap-axes '" + swapAxes + "' is not true or false");
    if (!ReadFlag(invertForward, settings.invertForward))
        bad("joystick-invert-forward '" + invertForward + "' is not true or false");
    if (!ReadFlag(invertTurn, settings.invertTurn))
        bad("joystick-invert-turn '" + invertTurn + "' is not true or false");
    return settings;
}

JoystickInput::JoystickInput(StickSettings settings) : settings_(settings) {
    // No SDL window: the drive's window has the focus, so events must come in the background,
    // and SDL must leave the program's signals alone.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    available_ = SDL_InitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER) == 0;
}

JoystickInput::~JoystickInput() {
    Close();
    if (available_)
        SDL_QuitSubSystem(SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER);
}

void JoystickInput::Open(int index) {
    if (SDL_IsGameController(index)) {
        controller_ = SDL_GameControllerOpen(index);
        joystick_ = controller_ ? SDL_GameControllerGetJoystick(controller_) : nullptr;
    }
    if (!joystick_) {
        controller_ = nullptr;
        joystick_ = SDL_JoystickOpen(index);
    }
    if (!joystick_)
        return;
    instance_ = SDL_JoystickInstanceID(joystick_);
    const char* name = SDL_JoystickName(joystick_);
    name_ = std::string(controller_ ? "Gamepad: " : "Joystick: ") + (name ? name : "unnamed");
}

void JoystickInput::Close() {
    if (controller_)
        SDL_GameControllerClose(controller_);
    else if (joystick_)
        SDL_JoystickClose(joystick_);
    controller_ = nullptr;
    joystick_ = nullptr;
    instance_ = -1;
    name_.clear();
    demand_ = {};
}

void JoystickInput::Poll() {
    if (!available_)
        return;
    // Plugs and unplugs arrive as events; the axes are read directly, so nothing else in the
    // queue is wanted.
    SDL_JoystickUpdate();
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    if (joystick_ && !SDL_JoystickGetAttached(joystick_))
        Close();
    if (!joystick_) {
        for (int i = 0, n = SDL_NumJoysticks(); i < n && !joystick_; ++i)
            Open(i);
        if (!joystick_)
            return;
    }
    double across = 0, along = 0;
    if (controller_) {
        across = AxisValue(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_LEFTX));
        along = AxisValue(SDL_GameControllerGetAxis(controller_, SDL_CONTROLLER_AXIS_LEFTY));
    } else if (SDL_JoystickNumAxes(joystick_) >= 2) {
        across = AxisValue(SDL_JoystickGetAxis(joystick_, 0));
        along = AxisValue(SDL_JoystickGetAxis(joystick_, 1));
    }
    demand_ = StickDemand(across, along, settings_);
}
