// The drive window (see drive_view.h). The view draws the world from above, the other users of
// a shared world and the user's own chair over them, and shows the end of a drive in a panel
// over the map that the keyboard alone can dismiss.
#include "drive_view.h"

#include "autopilot.h"

#include "engine/services.h"
#include "gfx_server.h"
#include "peer_avatars.h"
#include "scene_objects.h"

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

std::string FormatClock(double seconds) {
    int total = int(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", total / 3600, (total / 60) % 60, total % 60);
    return text;
}

// One chair as the view draws it: where it stands, which way it faces, its colour and the
// name on its label.
struct DrawnAvatar {
    Vec2 centre;
    double heading = 0;
    QColor colour{128, 128, 128};
    std::string label;
    QColor labelColour{255, 255, 255};
};

template <typename Colour> QColor ToQColor(const Colour& c) {
    auto channel = [](float v) { return std::clamp(int(std::lround(v * 255.0f)), 0, 255); };
    return QColor(channel(c.r), channel(c.g), channel(c.b));
}

// The user's avatar as set up in the scene: its colour and its name label.
DrawnAvatar ReadOwnAvatar(nKernelServer* kernel) {
    DrawnAvatar look;
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
              DrawnAvatar own, int level)
        : kernel_(kernel), simulation_(simulation), worldName_(std::move(worldName)),
          own_(std::move(own)), level_(level) {
        setWindowTitle(QString::fromStdString("Pelora - " + worldName_));
        setFocusPolicy(Qt::StrongFocus);
        setAttribute(Qt::WA_DeleteOnClose, false);
        leave_ = new QPushButton(QStringLiteral("Leave"), this);
        leave_->setFocusPolicy(Qt::NoFocus);
        connect(leave_, &QPushButton::clicked, this, [this] { RequestLeave(); });
        MakeEndPanel();
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

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(40, 44, 52));
        QFont small = font();
        small.setPointSize(9);
        if (simulation_)
            PaintWorld(p, small);

        QFont heading = font();
        heading.setPointSize(13);
        heading.setBold(true);
        p.setFont(heading);
        p.setPen(Qt::white);
        p.drawText(QPointF(12, 28), QString::fromStdString(worldName_));
        if (!simulation_ || ending_)
            return;
        p.setFont(small);
        std::string status = "Time " + FormatClock(simulation_->Elapsed()) + "    Level " +
                             std::to_string(level_) + "    Collisions " +
                             std::to_string(simulation_->Collisions()) +
                             "    Arrow keys drive, Esc leaves";
        p.drawText(QPointF(std::max(200, width() / 3), 28), QString::fromStdString(status));
    }

private:
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

    void PaintWorld(QPainter& p, const QFont& small) {
        const WorldLayout& layout = simulation_->Layout();
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

        p.setFont(small);
        for (const auto& landmark : layout.landmarks) {
            bool reached = simulation_->HasReached(landmark.name);
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

        DrawnAvatar own = own_;
        own.centre = simulation_->Centre();
        own.heading = simulation_->Heading();
        PaintAvatar(p, own, at, scale, small);
    }

    // The chair from above: the seat in the avatar's colour between its two wheels, a line
    // for the way it faces, and its name label above it.
    template <class ToScreen>
    void PaintAvatar(QPainter& p, const DrawnAvatar& avatar, const ToScreen& at, double scale,
                     const QFont& small) {
        Vec2 c = avatar.centre;
        Vec2 dir = Direction(avatar.heading);
        double r = DriveSimulation::kChairRadius * scale;
        p.save();
        p.translate(at(c));
        p.rotate(avatar.heading);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 30, 34));
        p.drawRoundedRect(QRectF(-0.6 * r, -r, 1.2 * r, 0.3 * r), 2, 2);
        p.drawRoundedRect(QRectF(-0.6 * r, 0.7 * r, 1.2 * r, 0.3 * r), 2, 2);
        p.setPen(QPen(avatar.colour.darker(160), 2));
        p.setBrush(avatar.colour);
        p.drawRoundedRect(QRectF(-0.75 * r, -0.65 * r, 1.5 * r, 1.3 * r), 4, 4);
        p.restore();
        p.setPen(QPen(Qt::black, 3));
        p.drawLine(at(c), at({c.x + dir.x * DriveSimulation::kChairRadius * 1.6,
                              c.y + dir.y * DriveSimulation::kChairRadius * 1.6}));
        if (avatar.label.empty())
            return;
        QFont bold = small;
        bold.setBold(true);
        p.setFont(bold);
        QString label = QString::fromStdString(avatar.label);
        QFontMetrics metrics(bold);
        QRectF box(0, 0, metrics.horizontalAdvance(label) + 8, metrics.height() + 2);
        box.moveCenter(at(c) - QPointF(0, r + box.height() / 2 + 4));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 210));
        p.drawRoundedRect(box, 3, 3);
        p.setPen(avatar.labelColour);
        p.drawText(box, Qt::AlignCenter, label);
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
    std::string worldName_;
    DrawnAvatar own_;
    int level_;
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
    view.onLeave = nullptr;
    if (drive.showSummary)
        WaitAtEnd(view, "Drive finished", DriveSummaryText(simulation),
                  "Press Enter or Escape to go on.", "Continue");
    view.hide();
}

void ShowWorldNotLoaded(nKernelServer* kernel, const std::string& worldName,
                        const std::string& why) {
    DisplayMode mode = OpenDisplay(kernel);
    DriveView view(kernel, nullptr, worldName, DrawnAvatar{}, 0);
    ShowView(view, mode);
    std::string title = worldName.empty() ? std::string("The world could not be loaded.")
                                          : "The world \"" + worldName + "\" could not be loaded.";
    WaitAtEnd(view, title, why + "\n\nThe engine log (n_runlog.txt) has the details.",
              "Press Enter or Escape to go back.", "Back");
    view.hide();
}
