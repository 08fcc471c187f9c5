// The drive window (see drive_view.h). It shows the drive in 3D from the seat (or from behind
// the chair) through DriveGlView, or as the floor plan (plan_painter) when V is pressed or when
// OpenGL is not available; the HUD over either, the small map in a corner of the 3D views, and
// the end of a drive in a panel that the keyboard alone can dismiss.
#include "drive_view.h"

#include "autopilot.h"
#include "drive_gl_view.h"
#include "drive_hud.h"
#include "engine/services.h"
#include "gfx_server.h"
#include "plan_painter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace {

// Said in the engine log once per process: a machine without OpenGL stays without it.
bool g_fallbackLogged = false;

enum class ViewMode { FirstPerson, Chase, Plan };

SceneColour ToSceneColour(const QColor& c) {
    return {float(c.redF()), float(c.greenF()), float(c.blueF())};
}

// Opens the graphics server's display when there is one; gives the mode to size the window.
DisplayMode OpenDisplay(nKernelServer* kernel) {
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
    return mode;
}

// The window of a drive. It only shows and collects keys; the simulation is driven from
// outside. Without a simulation (no world loaded) it shows the end panel over an empty floor.
class DriveView : public QWidget {
public:
    DriveView(nKernelServer* kernel, const DriveSimulation* simulation, std::string worldName,
              OwnAvatarLook own, int level)
        : kernel_(kernel), simulation_(simulation), own_(std::move(own)) {
        setWindowTitle(QString::fromStdString("Pelora - " + worldName));
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_DeleteOnClose, false);
        hud_.worldName = std::move(worldName);
        hud_.level = level;
        if (simulation_) {
            std::string why;
            if (OpenGlWidgetsUsable(why)) {
                gl_ = new DriveGlView(this, kernel_, *simulation_, ToSceneColour(own_.colour));
                gl_->overlay = [this](QPainter& p) { PaintOverlay(p); };
                gl_->onFailed = [this](const std::string& reason) { FallBack(reason); };
                gl_->setGeometry(rect());
                mode_ = ViewMode::FirstPerson;
            } else {
                FallBack(why);
            }
        }
        leave_ = new QPushButton(QStringLiteral("Leave"), this);
        leave_->setFocusPolicy(Qt::NoFocus);
        connect(leave_, &QPushButton::clicked, this, [this] { RequestLeave(); });
        MakeEndPanel();
    }

    HudState& Hud() { return hud_; }
    ViewMode Mode() const { return mode_; }
    // Draws the drive anew: the 3D view when it shows, else the plan.
    void Refresh() {
        if (simulation_) {
            QString summary = QString::fromStdString(HudSummary(*simulation_, hud_));
            if (summary != accessibleDescription())
                setAccessibleDescription(summary);
        }
        if (gl_ && mode_ != ViewMode::Plan)
            gl_->update();
        else
            update();
    }

    DriveInput Input() const {
        return {double(up_) - double(down_), double(right_) - double(left_)};
    }
    bool LeaveRequested() const { return leaveRequested_; }
    bool Done() const { return done_; }
    std::function<void()> onLeave; // the user asks to leave the drive
    std::function<void()> onDone;  // the user goes on from the end panel

    // Shows the end panel and gives it the keyboard; Enter, Escape, its button or the close
    // box then end the view.
    void ShowEnd(const std::string& title, const std::string& text, const std::string& hint,
                 const std::string& button) {
        ending_ = true;
        leave_->hide();
        Refresh();
        endTitle_->setText(QString::fromStdString(title));
        endText_->setText(QString::fromStdString(text));
        endHint_->setText(QString::fromStdString(hint));
        endButton_->setText(QString::fromStdString(button));
        endPanel_->show();
        PlaceEndPanel();
        endButton_->setFocus();
        update();
    }

protected:
    void resizeEvent(QResizeEvent*) override {
        if (gl_)
            gl_->setGeometry(rect());
        leave_->setGeometry(width() - 90, 8, 80, 28);
        PlaceEndPanel();
    }

    void keyPressEvent(QKeyEvent* event) override {
        int key = event->key();
        if (ending_) {
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
                Finish();
            else
                QWidget::keyPressEvent(event);
            return;
        }
        if (key == Qt::Key_Escape) {
            RequestLeave();
            return;
        }
        if (key == Qt::Key_V && !event->isAutoRepeat()) {
            CycleView();
            return;
        }
        if (key == Qt::Key_M && !event->isAutoRepeat()) {
            showMap_ = !showMap_;
            Refresh();
            return;
        }
        if (!SetKey(key, true))
            QWidget::keyPressEvent(event);
    }

    void keyReleaseEvent(QKeyEvent* event) override {
        if (event->isAutoRepeat() || !SetKey(event->key(), false))
            QWidget::keyReleaseEvent(event);
    }

    // The close box during the drive leaves it (the window stays for the summary); at the end
    // it goes on.
    void closeEvent(QCloseEvent* event) override {
        if (ending_) {
            Finish();
            QWidget::closeEvent(event);
            return;
        }
        event->ignore();
        RequestLeave();
    }

    // The floor plan with the HUD over it; in the 3D views the GL child covers the window and
    // paints its own.
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(40, 44, 52));
        if (!simulation_) {
            QFont heading = font();
            heading.setPointSize(13);
            heading.setBold(true);
            p.setFont(heading);
            p.setPen(Qt::white);
            p.drawText(QPointF(12, 28), QString::fromStdString(hud_.worldName));
            return;
        }
        QFont small = font();
        small.setPointSize(9);
        // Below the HUD's figures, above its line of keys.
        PaintPlan(p, QRectF(16, 150, width() - 32, height() - 150 - 48), *simulation_, kernel_,
                  own_, small, true);
        if (!ending_)
            PaintHud(p, rect(), *simulation_, hud_);
    }

private:
    // First person, chase, plan, and round again; the plan only when 3D is not available.
    void CycleView() {
        if (!gl_ || glFailed_)
            return;
        mode_ = mode_ == ViewMode::FirstPerson ? ViewMode::Chase
                : mode_ == ViewMode::Chase     ? ViewMode::Plan
                                               : ViewMode::FirstPerson;
        if (mode_ == ViewMode::Plan) {
            gl_->hide();
        } else {
            gl_->SetCamera(mode_ == ViewMode::Chase ? DriveCamera::Chase
                                                    : DriveCamera::FirstPerson);
            gl_->show();
            gl_->lower();
        }
        Refresh();
    }

    // No 3D: the plan for the whole drive, said once in the log and in every drive's HUD.
    void FallBack(const std::string& why) {
        glFailed_ = true;
        mode_ = ViewMode::Plan;
        if (gl_)
            gl_->hide();
        hud_.note = "3D view not available (" + why + "): showing the floor plan";
        hud_.keysHelp = "Arrow keys drive, Esc leaves";
        if (!g_fallbackLogged) {
            g_fallbackLogged = true;
            n_printf("WARN: the 3D drive view is not available (%s); drives show the floor plan\n",
                     why.c_str());
        }
        update();
    }

    // Over the 3D picture: the HUD and the small map in the lower right corner.
    void PaintOverlay(QPainter& p) {
        if (!simulation_ || ending_)
            return;
        const WorldLayout& layout = simulation_->Layout();
        if (showMap_) {
            double w = std::max(120.0, width() * 0.26);
            double h = std::min(height() * 0.36, w * layout.depth / layout.width);
            w = h * layout.width / layout.depth;
            QRectF area(width() - w - 16, height() - h - 16, w, h);
            p.fillRect(area.adjusted(-6, -6, 6, 6), QColor(20, 22, 28, 170));
            QFont small = font();
            small.setPointSize(8);
            PaintPlan(p, area, *simulation_, kernel_, own_, small, false);
        }
        PaintHud(p, rect(), *simulation_, hud_);
    }

    void MakeEndPanel() {
        endPanel_ = new QFrame(this);
        endPanel_->setObjectName("driveEnd");
        endPanel_->setFrameShape(QFrame::StyledPanel);
        endPanel_->setAutoFillBackground(true);
        QPalette palette = endPanel_->palette();
        palette.setColor(QPalette::Window, QColor(250, 248, 242));
        palette.setColor(QPalette::WindowText, Qt::black);
        endPanel_->setPalette(palette);
        auto* layout = new QVBoxLayout(endPanel_);
        layout->setContentsMargins(20, 16, 20, 16);
        layout->setSpacing(10);
        endTitle_ = new QLabel(endPanel_);
        endTitle_->setObjectName("driveEndTitle");
        QFont bold = endTitle_->font();
        bold.setPointSize(bold.pointSize() + 3);
        bold.setBold(true);
        endTitle_->setFont(bold);
        endTitle_->setWordWrap(true);
        endText_ = new QLabel(endPanel_);
        endText_->setObjectName("driveEndText");
        endText_->setWordWrap(true);
        endText_->setTextFormat(Qt::PlainText);
        endHint_ = new QLabel(endPanel_);
        endHint_->setObjectName("driveEndHint");
        endHint_->setWordWrap(true);
        endButton_ = new QPushButton(endPanel_);
        endButton_->setObjectName("driveEndButton");
        endButton_->setFocusPolicy(Qt::StrongFocus);
        connect(endButton_, &QPushButton::clicked, this, [this] { Finish(); });
        layout->addWidget(endTitle_);
        layout->addWidget(endText_);
        layout->addWidget(endHint_);
        layout->addWidget(endButton_, 0, Qt::AlignHCenter);
        endPanel_->hide();
    }

    // Centred, as wide as the window allows (up to a readable line length), as tall as its
    // text needs: every line shows in full.
    void PlaceEndPanel() {
        if (!endPanel_ || !endPanel_->isVisible())
            return;
        int panelWidth = std::min(560, std::max(240, width() - 40));
        int panelHeight = endPanel_->layout()->heightForWidth(panelWidth);
        if (panelHeight <= 0)
            panelHeight = endPanel_->sizeHint().height();
        panelHeight = std::min(panelHeight, std::max(120, height() - 20));
        endPanel_->setGeometry((width() - panelWidth) / 2,
                               std::max(10, (height() - panelHeight) / 2), panelWidth, panelHeight);
    }

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
        up_ = down_ = left_ = right_ = false;
        if (onLeave)
            onLeave();
    }

    void Finish() {
        if (done_)
            return;
        done_ = true;
        if (onDone)
            onDone();
    }

    nKernelServer* kernel_;
    const DriveSimulation* simulation_;
    OwnAvatarLook own_;
    HudState hud_;
    DriveGlView* gl_ = nullptr; // a child: the 3D view, when OpenGL is there
    bool glFailed_ = false;
    ViewMode mode_ = ViewMode::Plan;
    bool showMap_ = true;
    QPushButton* leave_ = nullptr;
    QFrame* endPanel_ = nullptr;
    QLabel* endTitle_ = nullptr;
    QLabel* endText_ = nullptr;
    QLabel* endHint_ = nullptr;
    QPushButton* endButton_ = nullptr;
    bool up_ = false, down_ = false, left_ = false, right_ = false;
    bool leaveRequested_ = false;
    bool ending_ = false;
    bool done_ = false;
};

// How long a collision's red frame takes to fade.
constexpr double kCollisionFlashMs = 500;

// The state of the network object during an online drive, for the HUD. A drive that starts
// without a logged-in connection is not online and shows none.
class ConnectionWatch {
public:
    explicit ConnectionWatch(nKernelServer* kernel)
        : network_(kernel ? kernel->Lookup("/sys/network") : nullptr) {
        online_ = State() == "online";
    }
    void Update(HudState& hud) {
        if (!online_)
            return;
        std::string state = State();
        if (state != "online")
            hud.connectionLost = true; // once lost, the drive stays recorded locally
        hud.connection = state;
    }

private:
    std::string State() {
        std::string state;
        if (!network_ || network_->Call("getstate", {}, state) != nCallStatus::Ok)
            return "";
        return state;
    }
    nRoot* network_;
    bool online_ = false;
};

void ShowView(DriveView& view, const DisplayMode& mode) {
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
}

// Shows the end panel and waits, with the event loop running, until the user goes on.
void WaitAtEnd(DriveView& view, const std::string& title, const std::string& text,
               const std::string& hint, const std::string& button) {
    QEventLoop loop;
    view.onDone = [&loop] { loop.quit(); };
    view.ShowEnd(title, text, hint, button);
    if (!view.Done())
        loop.exec();
    view.onDone = nullptr;
}

} // namespace

std::string DriveSummaryText(const DriveSimulation& simulation) {
    char distance[48];
    std::snprintf(distance, sizeof distance, "%.1f m", simulation.Distance());
    std::unordered_set<std::string> names;
    for (const auto& landmark : simulation.Layout().landmarks)
        names.insert(landmark.name);
    const auto& reached = simulation.LandmarksReached();
    std::string text = "Time: " + FormatClock(simulation.Elapsed()) + "\nDistance: " + distance +
                       "\nCollisions: " + std::to_string(simulation.Collisions()) +
                       "\nLandmarks reached: " + std::to_string(reached.size()) + " of " +
                       std::to_string(names.size());
    for (size_t i = 0; i < reached.size() && i < kMaxNamesShown; ++i)
        text += (i == 0 ? "\n" : ", ") + reached[i];
    if (reached.size() > kMaxNamesShown)
        text += " and " + std::to_string(reached.size() - kMaxNamesShown) + " more";
    return text;
}

void RunWithWindow(nKernelServer* kernel, DriveSimulation& simulation, const WindowedDrive& drive,
                   const LandmarkReport& report) {
    DisplayMode mode = OpenDisplay(kernel);
    DriveView view(kernel, &simulation, drive.worldName, ReadOwnAvatar(kernel), drive.level);
    QEventLoop loop;
    view.onLeave = [&loop] { loop.quit(); };
    ShowView(view, mode);

    const double autoSeconds = drive.autoSeconds;
    AutoPilot pilot;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    ConnectionWatch connection(kernel);
    JoystickInput stick(drive.stick);
    std::string driving = "Keyboard"; // the input that last moved the chair
    int collisions = simulation.Collisions();
    qint64 flashStart = -1;
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
            // The keys while one is held, else the stick: both work side by side.
            stick.Poll();
            DriveInput keys = view.Input();
            bool keysHeld = keys.forward != 0 || keys.turn != 0;
            if (keysHeld)
                driving = "Keyboard";
            else if (stick.Active())
                driving = stick.DeviceName();
            else if (!stick.HasDevice() && driving != "Keyboard")
                driving = "Keyboard"; // the stick was pulled out
            report(simulation.Advance(dt, keysHeld ? keys : stick.Demand()));
        }
        HudState& hud = view.Hud();
        if (simulation.Collisions() != collisions) {
            collisions = simulation.Collisions();
            flashStart = now;
        }
        hud.collisionFlash =
            flashStart < 0 ? 0 : std::max(0.0, 1.0 - (now - flashStart) / kCollisionFlashMs);
        hud.input = autoSeconds > 0 ? "self-driving"
                    : driving == "Keyboard" && stick.HasDevice()
                        ? "Keyboard (" + stick.DeviceName() + " ready)"
                        : driving;
        connection.Update(hud);
        view.Refresh();
        if (autoSeconds > 0 && simulation.Elapsed() + 1e-9 >= autoSeconds)
            loop.quit();
    });
    timer.start(16);
    if (!view.LeaveRequested())
        loop.exec();
    timer.stop();
    view.onLeave = nullptr;
    if (drive.showSummary)
        WaitAtEnd(view, "Drive finished", DriveSummaryText(simulation),
                  "Press Enter or Escape to go on.", "Continue");
    view.hide();
}

void ShowWorldNotLoaded(nKernelServer* kernel, const std::string& worldName,
                        const std::string& why) {
    DisplayMode mode = OpenDisplay(kernel);
    DriveView view(kernel, nullptr, worldName, OwnAvatarLook{}, 0);
    ShowView(view, mode);
    std::string title = worldName.empty() ? std::string("The world could not be loaded.")
                                          : "The world \"" + worldName + "\" could not be loaded.";
    WaitAtEnd(view, title, why + "\n\nThe engine log (n_runlog.txt) has the details.",
              "Press Enter or Escape to go back.", "Back");
    view.hide();
}
