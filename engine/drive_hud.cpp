// The drive's HUD (see drive_hud.h).
#include "drive_hud.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

const char* const kConnectionLostText = "Connection lost: this drive is still being recorded";

std::string FormatClock(double seconds) {
    int total = int(seconds + 1e-6); // the sum of many steps falls a hair short of a second
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", total / 3600, (total / 60) % 60, total % 60);
    return text;
}

LandmarkBearing NearestUnreached(const DriveSimulation& simulation) {
    LandmarkBearing best;
    const Vec2 c = simulation.Centre();
    for (const auto& landmark : simulation.Layout().landmarks) {
        if (simulation.HasReached(landmark.name))
            continue;
        double dx = landmark.centre.x - c.x, dy = landmark.centre.y - c.y;
        double metres = std::sqrt(dx * dx + dy * dy);
        if (best.valid && metres >= best.metres)
            continue;
        best.valid = true;
        best.name = landmark.name;
        best.metres = metres;
        double turn = std::atan2(dy, dx) * 180.0 / std::numbers::pi - simulation.Heading();
        best.turn = std::remainder(turn, 360.0);
    }
    return best;
}

namespace {

std::string TurnText(double turn) {
    if (std::abs(turn) < 10)
        return "ahead";
    return std::to_string(int(std::lround(std::abs(turn)))) + "\u00b0 " +
           (turn > 0 ? "right" : "left");
}

size_t LandmarksReached(const DriveSimulation& simulation) {
    size_t reached = 0;
    for (const auto& landmark : simulation.Layout().landmarks)
        reached += simulation.HasReached(landmark.name) ? 1 : 0;
    return reached;
}

void PanelText(QPainter& p, const QRectF& box, const QString& text, int flags,
               const QColor& colour = Qt::white) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 22, 28, 170));
    p.drawRoundedRect(box, 6, 6);
    p.setPen(colour);
    p.drawText(box.adjusted(10, 4, -10, -4), flags, text);
}

} // namespace

std::string HudSummary(const DriveSimulation& simulation, const HudState& hud) {
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f m/s", std::abs(simulation.Speed()));
    std::string text = hud.worldName + ": time " + FormatClock(simulation.Elapsed()) + ", speed " +
                       speed + ", collisions " + std::to_string(simulation.Collisions()) +
                       ", landmarks " + std::to_string(LandmarksReached(simulation)) + " of " +
                       std::to_string(simulation.Layout().landmarks.size()) + ", input " +
                       hud.input + ".";
    LandmarkBearing bearing = NearestUnreached(simulation);
    if (bearing.valid) {
        char metres[32];
        std::snprintf(metres, sizeof metres, "%.0f m", bearing.metres);
        text +=
            " Next landmark: " + bearing.name + ", " + metres + ", " + TurnText(bearing.turn) + ".";
    }
    if (hud.connectionLost)
        text += std::string(" ") + kConnectionLostText + ".";
    else if (!hud.connection.empty())
        text += " Server: " + hud.connection + ".";
    if (!hud.note.empty())
        text += " " + hud.note + ".";
    return text;
}

void PaintHud(QPainter& p, const QRect& area, const DriveSimulation& simulation,
              const HudState& hud) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (hud.collisionFlash > 0) {
        // A red frame that fades: the bump is felt at the edge of sight, not over the road.
        int alpha = std::clamp(int(hud.collisionFlash * 170), 0, 170);
        QColor red(220, 30, 30, alpha);
        int edge = std::max(12, std::min(area.width(), area.height()) / 14);
        p.fillRect(QRect(area.left(), area.top(), area.width(), edge), red);
        p.fillRect(QRect(area.left(), area.bottom() - edge + 1, area.width(), edge), red);
        p.fillRect(QRect(area.left(), area.top() + edge, edge, area.height() - 2 * edge), red);
        p.fillRect(
            QRect(area.right() - edge + 1, area.top() + edge, edge, area.height() - 2 * edge), red);
    }

    QFont title = p.font();
    title.setPointSize(13);
    title.setBold(true);
    QFont small = p.font();
    small.setPointSize(10);

    // Top left: the world and the figures of the drive.
    size_t total = simulation.Layout().landmarks.size();
    size_t reached = LandmarksReached(simulation);
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.1f m/s", std::abs(simulation.Speed()));
    QString figures = QString::fromStdString(
        "Time " + FormatClock(simulation.Elapsed()) + "   Speed " + speed + "   Collisions " +
        std::to_string(simulation.Collisions()) + "\nLandmarks " + std::to_string(reached) +
        " of " + std::to_string(total) + "   Level " + std::to_string(hud.level) +
        "   Input: " + hud.input);
    p.setFont(title);
    QFontMetrics titleMetrics(title);
    QString name = QString::fromStdString(hud.worldName);
    PanelText(p,
              QRectF(area.left() + 8, area.top() + 8, titleMetrics.horizontalAdvance(name) + 24,
                     titleMetrics.height() + 8),
              name, Qt::AlignVCenter | Qt::AlignLeft);
    p.setFont(small);
    QFontMetrics metrics(small);
    QRectF figuresBox(area.left() + 8, area.top() + 16 + titleMetrics.height(),
                      std::min<double>(area.width() - 16, 470), 2 * metrics.height() + 10);
    PanelText(p, figuresBox, figures, Qt::AlignVCenter | Qt::AlignLeft);

    // The way to the nearest landmark not yet reached: an arrow turned as far as the chair
    // would have to turn, and its name and distance.
    double y = figuresBox.bottom() + 8;
    LandmarkBearing bearing = NearestUnreached(simulation);
    if (bearing.valid) {
        char text[160];
        std::snprintf(text, sizeof text, "%s: %.0f m, %s", bearing.name.c_str(), bearing.metres,
                      TurnText(bearing.turn).c_str());
        QRectF box(area.left() + 8, y, std::min<double>(area.width() - 16, 300),
                   metrics.height() + 14);
        PanelText(p, box, QString::fromUtf8("      ") + QString::fromUtf8(text),
                  Qt::AlignVCenter | Qt::AlignLeft);
        p.save();
        p.translate(box.left() + 18, box.center().y());
        p.rotate(bearing.turn); // 0 points up: straight ahead
        QPainterPath arrow;
        arrow.moveTo(0, -8);
        arrow.lineTo(6, 6);
        arrow.lineTo(0, 3);
        arrow.lineTo(-6, 6);
        arrow.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 170, 40));
        p.drawPath(arrow);
        p.restore();
        y = box.bottom() + 8;
    } else if (total > 0) {
        QRectF box(area.left() + 8, y, 220, metrics.height() + 10);
        PanelText(p, box, QStringLiteral("Every landmark reached"),
                  Qt::AlignVCenter | Qt::AlignLeft, QColor(140, 230, 150));
        y = box.bottom() + 8;
    }

    // The connection of an online drive; a lost one in red, with what it means for the drive.
    if (!hud.connection.empty() || hud.connectionLost) {
        QString text = hud.connectionLost ? QString::fromUtf8(kConnectionLostText)
                                          : QString::fromStdString("Server: " + hud.connection);
        QRectF box(area.left() + 8, y, metrics.horizontalAdvance(text) + 24, metrics.height() + 10);
        PanelText(p, box, text, Qt::AlignVCenter | Qt::AlignLeft,
                  hud.connectionLost ? QColor(255, 120, 110) : QColor(200, 220, 255));
        y = box.bottom() + 8;
    }
    if (!hud.note.empty()) {
        QString text = QString::fromStdString(hud.note);
        QRectF box(area.left() + 8, y,
                   std::min(metrics.horizontalAdvance(text) + 24, area.width() - 16),
                   metrics.height() + 10);
        PanelText(p, box, text, Qt::AlignVCenter | Qt::AlignLeft, QColor(255, 220, 140));
    }

    // Bottom: the keys.
    QString help = QString::fromStdString(hud.keysHelp);
    QRectF helpBox(area.left() + 8, area.bottom() - metrics.height() - 18,
                   metrics.horizontalAdvance(help) + 24, metrics.height() + 10);
    PanelText(p, helpBox, help, Qt::AlignVCenter | Qt::AlignLeft, QColor(220, 220, 220));
    p.restore();
}
