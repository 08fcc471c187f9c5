// The world and observer objects. The observer runs a drive: it steps the simulation from the
// user's demand or the self-driver, lets the drive window show it (drive_view.cpp), reports
// landmarks and the chair's place to the shared world, and hands the figures to the data
// server. Without a display, or when the world's go.tcl asks for it, the chair drives itself for
// a set time so that runs end alone; without a display nothing is drawn.
#include "drive.h"

#include "autopilot.h"
#include "data_server.h"
#include "drive_simulation.h"
#include "drive_view.h"
#include "engine/services.h"
#include "peer_avatars.h"
#include "platform/file_system.h"
#include "platform/window_system.h"
#include "runtime_classes.h"
#include "tcl_server.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>

namespace {

constexpr double kDefaultHeadlessSeconds = 3.0;
constexpr double kMaxSpeedScale = 10.0;
constexpr double kMaxAxisFeet = 5.0;
constexpr double kMaxAutoDriveSeconds = 3600.0;

int g_displayOverride = -1;

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

// Self-driving without a window, faster than real time, with Qt (and through it the script
// layer) still serviced.
void RunHeadless(DriveSimulation& simulation, double seconds, const LandmarkReport& report) {
    AutoPilot pilot;
    auto stepOnce = [&] {
        for (int i = 0; i < 30 && simulation.Elapsed() + 1e-9 < seconds; ++i) {
            double dt = std::min(DriveSimulation::kStep, seconds - simulation.Elapsed());
            report(simulation.Advance(dt, pilot.Next(simulation, dt)));
        }
    };
    if (!QCoreApplication::instance()) {
        while (simulation.Elapsed() + 1e-9 < seconds)
            stepOnce();
        return;
    }
    QEventLoop loop;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        stepOnce();
        if (simulation.Elapsed() + 1e-9 >= seconds)
            loop.quit();
    });
    timer.start(0);
    loop.exec();
}

} // namespace

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
    std::vector<std::string> warnings;
    if (!ParseWorldLayout(text, layout, why, &warnings)) {
        error = "bad world layout " + resolved + ", " + why;
        return false;
    }
    // A bad optional value leaves its default: the world loads, and the log says where.
    for (const auto& warning : warnings)
        n_printf("WARN: world layout %s, %s\n", resolved.c_str(), warning.c_str());
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

    // In a shared world the chair starts clear of the others already there.
    WorldLayout layout = world->Layout();
    std::vector<Vec2> others;
    for (plPeerAvatar* peer : PeerAvatars(kernel))
        if (peer->motion.HasPose())
            others.push_back({peer->motion.Latest().x, peer->motion.Latest().y});
    layout.start = SpreadStart(layout, others);
    DriveSimulation simulation(std::move(layout), speedScale, axisOffset);
    std::string worldName = world->DisplayName();
    n_printf("Drive started in %s (%s) at %.2f %.2f\n", worldName.c_str(),
             autoSeconds > 0 ? "self-driving" : "driven by the user", simulation.Centre().x,
             simulation.Centre().y);
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
        RunWithWindow(kernel, simulation,
                      WindowedDrive{worldName, level, autoSeconds, summary, stick}, report);
    else
        RunHeadless(simulation, autoSeconds, report);

    DriveFigures figures;
    figures.sequence = lastFigures_.sequence + 1;
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
    figures.record = simulation.Record();
    lastFigures_ = figures;
    if (auto* data = dynamic_cast<plDataServer*>(kernel->Lookup("/sys/servers/data")))
        data->DriveFinished(figures);
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
    } else if (method == "setjoystick") {
        // Values as the user's settings hold them ("" for a default); a bad one keeps its
        // default and is logged, so a damaged settings file never stops a drive.
        std::vector<std::string> values = args;
        if (values.size() > 4) {
            result = "setjoystick: expected at most 4 values (dead zone, swap axes, invert "
                     "forward, invert turn), got '" +
                     JoinWords(args) + "'";
            return nCallStatus::Error;
        }
        values.resize(4);
        std::string problem;
        stick = StickSettingsFrom(values[0], values[1], values[2], values[3], &problem);
        if (!problem.empty())
            n_printf("WARN: joystick setting %s; using the default\n", problem.c_str());
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
