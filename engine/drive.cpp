// The drive: the wheelchair simulation, the world and observer objects, and the drive window
// (a top-down view of the world with the user's avatar). Without a display, or when the
// world's go.tcl asks for it, the chair drives itself for a set time so that runs end alone.
#include "drive.h"

#include "engine/services.h"
#include "gfx_server.h"
#include "peer_avatars.h"
#include "platform/file_system.h"
#include "platform/window_system.h"
#include "runtime_classes.h"
#include "scene_objects.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <numbers>

namespace {

constexpr double kDefaultHeadlessSeconds = 3.0;
constexpr double kMaxSpeedScale = 10.0;
constexpr double kMaxAxisFeet = 5.0;
constexpr double kMaxAutoDriveSeconds = 3600.0;

DriveFigures g_lastFigures;
int g_displayOverride = -1;

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

Vec2 Direction(double heading) {
    return {std::cos(Radians(heading)), std::sin(Radians(heading))};
}

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

std::string FormatClock(double seconds) {
    int total = int(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", total / 3600, (total / 60) % 60, total % 60);
    return text;
}

} // namespace

// ---- simulation ---------------------------------------------------------------------------

DriveSimulation::DriveSimulation(WorldLayout layout, double speedScale, double axisOffsetFeet)
    : layout_(std::move(layout)), speedScale_(speedScale),
      axisOffset_(axisOffsetFeet * kFeetToMetres), heading_(layout_.startHeading) {
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
    return std::find(reached_.begin(), reached_.end(), landmark) != reached_.end();
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

    std::vector<std::string> reachedNow;
    Vec2 c = Centre();
    for (const auto& landmark : layout_.landmarks) {
        double dx = c.x - landmark.centre.x, dy = c.y - landmark.centre.y;
        if (std::sqrt(dx * dx + dy * dy) <= landmark.radius + kChairRadius &&
            !HasReached(landmark.name)) {
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

// ---- drive window -------------------------------------------------------------------------

namespace {

struct AvatarLook {
    QColor colour{128, 128, 128};
    std::string label;
    QColor labelColour{255, 255, 255};
};

template <typename Colour> QColor ToQColor(const Colour& c) {
    auto channel = [](float v) { return std::clamp(int(std::lround(v * 255.0f)), 0, 255); };
    return QColor(channel(c.r), channel(c.g), channel(c.b));
}

AvatarLook ReadAvatarLook(nKernelServer* kernel) {
    AvatarLook look;
    if (!kernel)
        return look;
    Rgba colour;
    auto* env = dynamic_cast<nEnv*>(kernel->Lookup("/usr/share/scene/avmodel/color"));
    auto* material = dynamic_cast<nMaterialNode*>(
        kernel->Lookup("/usr/share/scene/avmodel/matlib/dynamic_color"));
    if (env && env->GetString() && ColourByName(env->GetString(), colour))
        look.colour = ToQColor(colour);
    else if (material)
        look.colour = ToQColor(material->GetDiffuse());
    if (auto* label = dynamic_cast<zuwLabel*>(
            kernel->Lookup("/usr/share/scene/avmodel/labelnode/flip/label"));
        label && label->isShown()) {
        look.label = label->getText();
        look.labelColour = ToQColor(label->getColor());
    }
    return look;
}

// The window of a drive: the world from above, the avatar, the time driven, and a Leave
// button. It only shows and collects keys; the simulation is driven from outside.
class DriveView : public QWidget {
public:
    DriveView(nKernelServer* kernel, const DriveSimulation& simulation, std::string worldName,
              AvatarLook look, int level)
        : kernel_(kernel), simulation_(simulation), worldName_(std::move(worldName)),
          look_(std::move(look)), level_(level) {
        setWindowTitle(QString::fromStdString("Pelora - " + worldName_));
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_DeleteOnClose, false);
        leave_ = new QPushButton(QStringLiteral("Leave"), this);
        leave_->setFocusPolicy(Qt::NoFocus);
        connect(leave_, &QPushButton::clicked, this, [this] { RequestLeave(); });
    }

    DriveInput Input() const {
        return {double(up_) - double(down_), double(right_) - double(left_)};
    }
    bool LeaveRequested() const { return leaveRequested_; }
    std::function<void()> onLeave;

protected:
    void resizeEvent(QResizeEvent*) override { leave_->setGeometry(width() - 90, 8, 80, 28); }

    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            RequestLeave();
            return;
        }
        if (!SetKey(event->key(), true))
            QWidget::keyPressEvent(event);
    }

    void keyReleaseEvent(QKeyEvent* event) override {
        if (event->isAutoRepeat() || !SetKey(event->key(), false))
            QWidget::keyReleaseEvent(event);
    }

    void closeEvent(QCloseEvent* event) override {
        RequestLeave();
        QWidget::closeEvent(event);
    }

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(40, 44, 52));
        const WorldLayout& layout = simulation_.Layout();
        const int top = 44, margin = 16;
        double scale = std::min((width() - 2.0 * margin) / layout.width,
                                (height() - top - 2.0 * margin) / layout.depth);
        scale = std::max(scale, 1.0);
        double ox = (width() - layout.width * scale) / 2.0;
        double oy = top + std::max(double(margin), (height() - top - layout.depth * scale) / 2.0);
        auto at = [&](Vec2 v) { return QPointF(ox + v.x * scale, oy + v.y * scale); };

        p.fillRect(QRectF(at({0, 0}), at({layout.width, layout.depth})), QColor(214, 206, 188));
        p.setPen(QPen(QColor(70, 60, 50), std::max(3.0, scale * 0.15)));
        p.drawRect(QRectF(at({0, 0}), at({layout.width, layout.depth})));
        for (const auto& wall : layout.walls)
            p.drawLine(at(wall.a), at(wall.b));

        QFont small = font();
        small.setPointSize(9);
        p.setFont(small);
        for (const auto& landmark : layout.landmarks) {
            bool reached = simulation_.HasReached(landmark.name);
            p.setPen(QPen(reached ? QColor(30, 130, 60) : QColor(200, 120, 20), 2));
            p.setBrush(reached ? QColor(120, 200, 140, 160) : QColor(250, 200, 90, 160));
            double r = landmark.radius * scale;
            p.drawEllipse(at(landmark.centre), r, r);
            p.setPen(Qt::black);
            p.drawText(at(landmark.centre) + QPointF(-r, r + 12),
                       QString::fromStdString(landmark.name));
        }

        // The other users of a shared world, under the user's own chair.
        DrawPeerAvatars(
            p, kernel_,
            [&](double x, double y) {
                return at({x, y});
            },
            scale);

        Vec2 c = simulation_.Centre();
        Vec2 dir = Direction(simulation_.Heading());
        double r = DriveSimulation::kChairRadius * scale;
        // The chair from above: the seat in the avatar's colour between its two wheels.
        p.save();
        p.translate(at(c));
        p.rotate(simulation_.Heading());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 30, 34));
        p.drawRoundedRect(QRectF(-0.6 * r, -r, 1.2 * r, 0.3 * r), 2, 2);
        p.drawRoundedRect(QRectF(-0.6 * r, 0.7 * r, 1.2 * r, 0.3 * r), 2, 2);
        p.setPen(QPen(look_.colour.darker(160), 2));
        p.setBrush(look_.colour);
        p.drawRoundedRect(QRectF(-0.75 * r, -0.65 * r, 1.5 * r, 1.3 * r), 4, 4);
        p.restore();
        p.setPen(QPen(Qt::black, 3));
        p.drawLine(at(c), at({c.x + dir.x * DriveSimulation::kChairRadius * 1.6,
                              c.y + dir.y * DriveSimulation::kChairRadius * 1.6}));
        if (!look_.label.empty()) {
            QFont bold = small;
            bold.setBold(true);
            p.setFont(bold);
            QString label = QString::fromStdString(look_.label);
            QFontMetrics metrics(bold);
            QRectF box(0, 0, metrics.horizontalAdvance(label) + 8, metrics.height() + 2);
            box.moveCenter(at(c) - QPointF(0, r + box.height() / 2 + 4));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(255, 255, 255, 210));
            p.drawRoundedRect(box, 3, 3);
            p.setPen(look_.labelColour);
            p.drawText(box, Qt::AlignCenter, label);
        }

        QFont heading = font();
        heading.setPointSize(13);
        heading.setBold(true);
        p.setFont(heading);
        p.setPen(Qt::white);
        p.drawText(QPointF(12, 28), QString::fromStdString(worldName_));
        p.setFont(small);
        std::string status = "Time " + FormatClock(simulation_.Elapsed()) + "    Level " +
                             std::to_string(level_) + "    Collisions " +
                             std::to_string(simulation_.Collisions()) +
                             "    Arrow keys drive, Esc leaves";
        p.drawText(QPointF(std::max(200, width() / 3), 28), QString::fromStdString(status));
    }

private:
    bool SetKey(int key, bool down) {
        switch (key) {
        case Qt::Key_Up:
            up_ = down;
            return true;
        case Qt::Key_Down:
            down_ = down;
            return true;
        case Qt::Key_Left:
            left_ = down;
            return true;
        case Qt::Key_Right:
            right_ = down;
            return true;
        default:
            return false;
        }
    }

    void RequestLeave() {
        if (leaveRequested_)
            return;
        leaveRequested_ = true;
        if (onLeave)
            onLeave();
    }

    nKernelServer* kernel_;
    const DriveSimulation& simulation_;
    std::string worldName_;
    AvatarLook look_;
    int level_;
    QPushButton* leave_;
    bool up_ = false, down_ = false, left_ = false, right_ = false;
    bool leaveRequested_ = false;
};

using LandmarkReport = std::function<void(const std::vector<std::string>&)>;

// Self-driving without a window: steps faster than real time, one simulated second a tick,
// inside a nested loop so that Qt (and through it the script layer) stays serviced.
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

void RunWithWindow(nKernelServer* kernel, DriveSimulation& simulation, double autoSeconds,
                   const std::string& worldName, int level, const LandmarkReport& report) {
    DisplayMode mode{};
    mode.width = 1024;
    mode.height = 768;
    auto* render =
        kernel ? dynamic_cast<nRenderServer*>(kernel->Lookup("/sys/servers/gfx")) : nullptr;
    if (render) {
        mode = render->GetMode();
        if (!render->IsDisplayOpen())
            render->OpenDisplay();
    }

    DriveView view(kernel, simulation, worldName, ReadAvatarLook(kernel), level);
    QEventLoop loop;
    view.onLeave = [&loop] { loop.quit(); };
    if (mode.fullscreen) {
        // Without a window manager full screen is only a wish: cover the screen ourselves.
        if (QScreen* screen = QGuiApplication::primaryScreen())
            view.setGeometry(screen->geometry());
        view.showFullScreen();
    } else {
        view.resize(std::max(320, mode.width), std::max(240, mode.height));
        view.show();
    }
    view.activateWindow();
    view.setFocus();

    AutoPilot pilot;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        qint64 now = clock.elapsed();
        // A stalled event loop must not make the chair jump through a wall.
        double dt = std::min(0.1, (now - last) / 1000.0);
        last = now;
        if (autoSeconds > 0) {
            dt = std::min(dt, autoSeconds - simulation.Elapsed());
            double done = 0;
            while (done + 1e-9 < dt) {
                double step = std::min(DriveSimulation::kStep, dt - done);
                report(simulation.Advance(step, pilot.Next(simulation, step)));
                done += step;
            }
        } else {
            report(simulation.Advance(dt, view.Input()));
        }
        view.update();
        if (autoSeconds > 0 && simulation.Elapsed() + 1e-9 >= autoSeconds)
            loop.quit();
    });
    timer.start(16);
    if (!view.LeaveRequested())
        loop.exec();
    timer.stop();
    view.hide();
}

} // namespace

// ---- nobserver ----------------------------------------------------------------------------

bool nObserver::Start(std::string& error) {
    if (running) {
        error = "a drive is already running";
        return false;
    }
    nKernelServer* kernel = GetKernel();
    auto* world =
        kernel ? dynamic_cast<nWorld*>(kernel->Lookup("/usr/share/scene/world")) : nullptr;
    if (!world || !world->IsLoaded()) {
        error = "no world loaded at /usr/share/scene/world";
        return false;
    }
    running = true;
    struct Running {
        bool& flag;
        ~Running() { flag = false; }
    } runningGuard{running};

    // A self-driving length holds for one drive: the next world's go.tcl sets its own.
    double autoSeconds = autoDriveSeconds;
    autoDriveSeconds = 0;
    bool display = DisplayAvailable();
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
        RunWithWindow(kernel, simulation, autoSeconds, worldName, level, report);
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
