// The drive: the wheelchair simulation, the world and observer objects. The drive window is
// drive_view.cpp. Without a display, or when the world's go.tcl asks for it, the chair drives
// itself for a set time so that runs end alone.
#include "drive.h"

#include "drive_view.h"
#include "engine/services.h"
#include "peer_avatars.h"
#include "platform/file_system.h"
#include "platform/window_system.h"
#include "runtime_classes.h"
#include "tcl_server.h"

#include <QApplication>
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

namespace {

constexpr double kDefaultHeadlessSeconds = 3.0;
constexpr double kMaxSpeedScale = 10.0;
constexpr double kMaxAxisFeet = 5.0;
constexpr double kMaxAutoDriveSeconds = 3600.0;

DriveFigures g_lastFigures;
int g_displayOverride = -1;

double DistanceToSegment(Vec2 p, Vec2 a, Vec2 b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double lengthSquared = dx * dx + dy * dy;
    double t = lengthSquared > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    double cx = a.x + t * dx - p.x, cy = a.y + t * dy - p.y;
    return std::sqrt(cx * cx + cy * cy);
}

bool ParseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0' && std::isfinite(value);
}

std::string JoinWords(const std::vector<std::string>& words) {
    std::string joined;
    for (const auto& word : words) {
        if (!joined.empty())
            joined += ' ';
        joined += word;
    }
    return joined;
}

bool DisplayAvailable() {
    if (g_displayOverride >= 0)
        return g_displayOverride == 1;
    // Windows need a QApplication, not just a core application.
    return !platform::Headless() && qobject_cast<QApplication*>(QCoreApplication::instance());
}

// Why /usr/share/scene/world holds no loaded world, for the log and for the user.
std::string WhyNoWorld() {
    const ScriptRunReport& last = LastScriptRun();
    if (last.failed)
        return last.script + " failed: " + last.error;
    if (!last.script.empty())
        return last.script + " ran without loading a world at /usr/share/scene/world.";
    return "No world is loaded at /usr/share/scene/world.";
}

} // namespace

// ---- simulation ---------------------------------------------------------------------------

DriveSimulation::DriveSimulation(WorldLayout layout, double speedScale, double axisOffsetFeet)
    : layout_(std::move(layout)), speedScale_(speedScale),
      axisOffset_(axisOffsetFeet * kFeetToMetres), heading_(layout_.startHeading),
      landmarkDone_(layout_.landmarks.size(), 0) {
    // The layout's start is where the seat stands; the axis lies behind or ahead of it.
    Vec2 dir = Direction(heading_);
    axis_ = {layout_.start.x + axisOffset_ * dir.x, layout_.start.y + axisOffset_ * dir.y};
}

Vec2 DriveSimulation::CentreFor(Vec2 axis, double heading) const {
    Vec2 dir = Direction(heading);
    return {axis.x - axisOffset_ * dir.x, axis.y - axisOffset_ * dir.y};
}

Vec2 DriveSimulation::Centre() const {
    return CentreFor(axis_, heading_);
}

bool DriveSimulation::Blocked(Vec2 c) const {
    const double r = kChairRadius;
    if (c.x < r || c.y < r || c.x > layout_.width - r || c.y > layout_.depth - r)
        return true;
    for (const auto& wall : layout_.walls) {
        if (DistanceToSegment(c, wall.a, wall.b) < r)
            return true;
    }
    return false;
}

bool DriveSimulation::HasReached(const std::string& landmark) const {
    return reachedNames_.count(landmark) != 0;
}

std::vector<std::string> DriveSimulation::Advance(double seconds, DriveInput input) {
    std::vector<std::string> reached;
    while (seconds > 1e-9) {
        double dt = std::min(seconds, kStep);
        auto now = Step(dt, input);
        reached.insert(reached.end(), now.begin(), now.end());
        seconds -= dt;
    }
    return reached;
}

std::vector<std::string> DriveSimulation::Step(double dt, DriveInput input) {
    elapsed_ += dt;
    double forward = std::clamp(input.forward, -1.0, 1.0);
    double turn = std::clamp(input.turn, -1.0, 1.0);
    double newHeading = heading_ + turn * kTurnRate * dt;
    Vec2 dir = Direction(newHeading);
    double travel = forward * kTopSpeed * speedScale_ * dt;
    Vec2 newAxis{axis_.x + dir.x * travel, axis_.y + dir.y * travel};

    bool blocked = false;
    if (!Blocked(CentreFor(newAxis, newHeading))) {
        distance_ += std::abs(travel);
        axis_ = newAxis;
        heading_ = newHeading;
    } else if (forward != 0 || turn != 0) {
        // Against a wall the chair may still turn on the spot when there is room for it.
        bool turned = turn != 0 && !Blocked(CentreFor(axis_, newHeading));
        if (turned)
            heading_ = newHeading;
        blocked = forward != 0 || !turned;
    }
    // One collision per contact: pressing on against the same wall counts once.
    if (blocked && !touching_)
        ++collisions_;
    touching_ = blocked;

    // Each landmark is looked at until its name is reached, and a name is looked up in a set:
    // a step stays linear in the landmarks however many are reached at once.
    std::vector<std::string> reachedNow;
    Vec2 c = Centre();
    for (size_t i = 0; i < layout_.landmarks.size(); ++i) {
        if (landmarkDone_[i])
            continue;
        const LayoutLandmark& landmark = layout_.landmarks[i];
        double dx = c.x - landmark.centre.x, dy = c.y - landmark.centre.y;
        if (std::sqrt(dx * dx + dy * dy) > landmark.radius + kChairRadius)
            continue;
        landmarkDone_[i] = 1;
        if (reachedNames_.insert(landmark.name).second) {
            reached_.push_back(landmark.name);
            reachedNow.push_back(landmark.name);
        }
    }
    return reachedNow;
}

DriveInput AutoPilot::Next(const DriveSimulation& simulation, double dt) {
    if (simulation.Touching() && turning_ <= 0)
        turning_ = 90.0 / DriveSimulation::kTurnRate;
    if (turning_ > 0) {
        turning_ -= dt;
        return {0.0, 1.0};
    }
    return {1.0, 0.0};
}

// ---- figures ------------------------------------------------------------------------------

const DriveFigures& LastDriveFigures() {
    return g_lastFigures;
}
void ResetDriveFiguresForTesting() {
    g_lastFigures = DriveFigures{};
}
void SetDriveDisplayForTesting(int display) {
    g_displayOverride = display;
}

// ---- nworld -------------------------------------------------------------------------------

bool nWorld::Load(const std::string& path, std::string& error) {
    std::string resolved = path;
    if (GetKernel() && GetKernel()->fileServer)
        resolved = GetKernel()->fileServer->ManglePath(path);
    std::string text;
    if (!platform::ReadWholeFile(resolved, text)) {
        error = "cannot read the world layout " + resolved;
        return false;
    }
    WorldLayout layout;
    std::string why;
    if (!ParseWorldLayout(text, layout, why)) {
        error = "bad world layout " + resolved + ", " + why;
        return false;
    }
    layout_ = std::move(layout);
    loaded_ = true;
    return true;
}

std::string nWorld::DisplayName() const {
    if (!name_.empty())
        return name_;
    return layout_.name.empty() ? GetName() : layout_.name;
}

nCallStatus nWorld::Call(const std::string& method, const std::vector<std::string>& args,
                         std::string& result) {
    if (method == "load") {
        if (args.size() != 1) {
            result = "usage: load <layout file>";
            return nCallStatus::Error;
        }
        std::string error;
        if (!Load(args[0], error)) {
            result = error;
            return nCallStatus::Error;
        }
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "setname") {
        name_ = JoinWords(args);
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "getname") {
        result = DisplayName();
        return nCallStatus::Ok;
    }
    if (method == "getsize") {
        char text[64];
        std::snprintf(text, sizeof text, "%g %g", layout_.width, layout_.depth);
        result = text;
        return nCallStatus::Ok;
    }
    if (method == "getwallcount") {
        result = std::to_string(layout_.walls.size());
        return nCallStatus::Ok;
    }
    if (method == "getlandmarkcount") {
        result = std::to_string(layout_.landmarks.size());
        return nCallStatus::Ok;
    }
    return nRoot::Call(method, args, result);
}

// ---- nobserver ----------------------------------------------------------------------------

bool nObserver::Start(std::string& error) {
    if (running) {
        error = "a drive is already running";
        return false;
    }
    nKernelServer* kernel = GetKernel();
    auto* world =
        kernel ? dynamic_cast<nWorld*>(kernel->Lookup("/usr/share/scene/world")) : nullptr;
    // A self-driving length and the summary setting hold for one drive: the next world's
    // go.tcl and the launcher set their own.
    double autoSeconds = autoDriveSeconds;
    autoDriveSeconds = 0;
    bool summary = showSummary;
    showSummary = true;
    bool display = DisplayAvailable();
    if (!world || !world->IsLoaded()) {
        std::string why = WhyNoWorld();
        error = "no world loaded at /usr/share/scene/world (" + why + ")";
        // Headless, or when nobody waits at the end, the error goes back at once (and to the
        // log); with a window the user is told until they go on.
        if (display && summary) {
            running = true;
            auto* current =
                kernel ? dynamic_cast<nEnv*>(kernel->Lookup("/usr/share/scene/currentworld"))
                       : nullptr;
            ShowWorldNotLoaded(kernel, current && current->GetString() ? current->GetString() : "",
                               why);
            running = false;
        }
        return false;
    }
    running = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } runningGuard{running};

    if (!display && autoSeconds <= 0)
        autoSeconds = kDefaultHeadlessSeconds;

    DriveSimulation simulation(world->Layout(), speedScale, axisOffset);
    std::string worldName = world->DisplayName();
    n_printf("Drive started in %s (%s)\n", worldName.c_str(),
             autoSeconds > 0 ? "self-driving" : "driven by the user");
    // Called after every simulation step: landmarks, and the chair's place for the others in
    // a shared world (the network object decides how often it goes out).
    auto report = [&](const std::vector<std::string>& names) {
        for (const auto& name : names) {
            n_printf("Landmark reached: %s\n", name.c_str());
            if (auto* landmarks = plLandmarkInformation::getInstance())
                landmarks->landmarkReached(name);
        }
        Vec2 centre = simulation.Centre();
        SharedWorldDrivePosition(kernel, {centre.x, centre.y, simulation.Heading()});
    };
    auto startTime = std::chrono::duration_cast<std::chrono::seconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    SharedWorldDriveStarted(kernel);
    report({}); // the others see where the chair starts
    if (display)
        RunWithWindow(kernel, simulation, WindowedDrive{worldName, level, autoSeconds, summary},
                      report);
    else
        RunHeadless(simulation, autoSeconds, report);

    DriveFigures figures;
    figures.sequence = g_lastFigures.sequence + 1;
    figures.world = worldName;
    figures.startTime = startTime;
    figures.durationSeconds = int(std::lround(simulation.Elapsed()));
    // The end is the start plus the time driven, so a self-driving run that steps faster
    // than real time still gives consistent figures.
    figures.endTime = startTime + figures.durationSeconds;
    figures.distanceMetres = simulation.Distance();
    figures.collisions = simulation.Collisions();
    figures.landmarks = simulation.LandmarksReached();
    figures.others = SharedWorldDriveEnded(kernel);
    g_lastFigures = figures;
    n_printf("Drive ended: %d s, %.1f m, %d collisions, %zu landmarks\n", figures.durationSeconds,
             figures.distanceMetres, figures.collisions, figures.landmarks.size());
    return true;
}

nCallStatus nObserver::Call(const std::string& method, const std::vector<std::string>& args,
                            std::string& result) {
    auto number = [&](double low, double high, double& value) {
        if (args.size() == 1 && ParseNumber(args[0], value) && value >= low && value <= high)
            return true;
        char text[160];
        std::snprintf(text, sizeof text, "%s: expected one number from %g to %g, got '%s'",
                      method.c_str(), low, high, JoinWords(args).c_str());
        result = text;
        return false;
    };
    double value = 0;
    if (method == "start") {
        std::string error;
        if (!Start(error)) {
            result = "start: " + error;
            return nCallStatus::Error;
        }
        result.clear();
        return nCallStatus::Ok;
    }
    if (method == "setspeed") {
        if (!number(0.01, kMaxSpeedScale, value))
            return nCallStatus::Error;
        speedScale = value;
    } else if (method == "setaxis") {
        if (!number(-kMaxAxisFeet, kMaxAxisFeet, value))
            return nCallStatus::Error;
        axisOffset = value;
    } else if (method == "setautodrive") {
        if (!number(0, kMaxAutoDriveSeconds, value))
            return nCallStatus::Error;
        autoDriveSeconds = value;
    } else if (method == "setsummary") {
        if (args.size() != 1 || (args[0] != "true" && args[0] != "false")) {
            result = "setsummary: expected true or false, got '" + JoinWords(args) + "'";
            return nCallStatus::Error;
        }
        showSummary = args[0] == "true";
    } else if (method == "setlevel") {
        if (!number(0, 1000, value) || value != std::floor(value)) {
            result =
                "setlevel: expected a whole number from 0 to 1000, got '" + JoinWords(args) + "'";
            return nCallStatus::Error;
        }
        level = int(value);
    } else if (method == "getspeed" || method == "getaxis" || method == "getautodrive") {
        double v = method == "getspeed"  ? speedScale
                   : method == "getaxis" ? axisOffset
                                         : autoDriveSeconds;
        char text[32];
        std::snprintf(text, sizeof text, "%g", v);
        result = text;
        return nCallStatus::Ok;
    } else if (method == "getlevel") {
        result = std::to_string(level);
        return nCallStatus::Ok;
    } else {
        return nRoot::Call(method, args, result);
    }
    result.clear();
    return nCallStatus::Ok;
}

void RegisterDriveClasses(nKernelServer* kernel) {
    kernel->AddClass("nworld", [] { return new nWorld; });
    kernel->AddClass("nobserver", [] { return new nObserver; });
}
