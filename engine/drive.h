// The drive's two engine classes that scripts use: "nworld" (the loaded world) and "nobserver"
// (runs a drive with "/observer.start"). The layout and its parser live in world_layout.h, the
// simulation in drive_simulation.h, the self-driver in autopilot.h, the windows in
// drive_view.h. The observer steps the simulation, lets a view draw it, and when a drive ends
// hands its figures to the data server at /sys/servers/data as a value.
#pragma once

#include "drive_figures.h"
#include "engine/kernel.h"
#include "joystick_input.h"
#include "world_layout.h"

#include <string>
#include <vector>

// Tests: -1 follows the platform, 0 forces a headless drive, 1 a drive with a window.
void SetDriveDisplayForTesting(int display);

// The world being driven (class "nworld", at /usr/share/scene/world).
class nWorld : public nRoot {
public:
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;
    bool Load(const std::string& path, std::string& error);
    bool IsLoaded() const { return loaded_; }
    const WorldLayout& Layout() const { return layout_; }
    std::string DisplayName() const;

private:
    WorldLayout layout_;
    std::string name_; // set by "setname"; wins over the layout's name
    bool loaded_ = false;
};

// The observer (class "nobserver", at /observer): runs a drive through the loaded world.
class nObserver : public nRoot {
public:
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;
    // Runs a whole drive; false with the reason when none could start.
    bool Start(std::string& error);

    double speedScale = 1.0;
    double axisOffset = -0.75;   // feet
    double autoDriveSeconds = 0; // 0: the user drives (self-driving anyway when headless)
    // With a window: show at the end what the drive was (or why there was none) and wait for
    // the user. "setsummary false" turns it off for the next drive (a quick start).
    bool showSummary = true;
    int level = 1;
    bool running = false;
    // The user's joystick choices ("setjoystick <dead zone> <swap> <invert forward> <invert
    // turn>", as userSettings holds them); they hold until changed.
    StickSettings stick;

    // The figures of this observer's last drive; their sequence counts its drives (0 before
    // the first).
    const DriveFigures& LastFigures() const { return lastFigures_; }

private:
    DriveFigures lastFigures_;
};
