// The floor plan (see plan_painter.h).
#include "plan_painter.h"

#include "engine/services.h"
#include "peer_avatars.h"
#include "scene_objects.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

template <typename Colour> QColor ToQColor(const Colour& c) {
    auto channel = [](float v) { return std::clamp(int(std::lround(v * 255.0f)), 0, 255); };
    return QColor(channel(c.r), channel(c.g), channel(c.b));
}

// The chair from above: the seat in the avatar's colour between its two wheels, a line for
// the way it faces, and its name label above it.
template <class ToScreen>
void PaintAvatar(QPainter& p, const OwnAvatarLook& avatar, Vec2 c, double heading,
                 const ToScreen& at, double scale, const QFont& small, bool labels) {
    Vec2 dir = Direction(heading);
    double r = DriveSimulation::kChairRadius * scale;
    p.save();
    p.translate(at(c));
    p.rotate(heading);
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
    if (avatar.label.empty() || !labels)
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

} // namespace

OwnAvatarLook ReadOwnAvatar(nKernelServer* kernel) {
    OwnAvatarLook look;
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

void PaintPlan(QPainter& p, const QRectF& area, const DriveSimulation& simulation,
               nKernelServer* kernel, const OwnAvatarLook& own, const QFont& font, bool labels) {
    const WorldLayout& layout = simulation.Layout();
    double scale = std::min(area.width() / layout.width, area.height() / layout.depth);
    scale = std::max(scale, 0.5);
    double ox = area.left() + (area.width() - layout.width * scale) / 2.0;
    double oy = area.top() + std::max(0.0, (area.height() - layout.depth * scale) / 2.0);
    auto at = [&](Vec2 v) { return QPointF(ox + v.x * scale, oy + v.y * scale); };

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(at({0, 0}), at({layout.width, layout.depth})), QColor(214, 206, 188));
    for (const auto& box : layout.boxes) {
        QColor fill = box.kind == BoxKind::Tree     ? QColor(90, 150, 80)
                      : box.kind == BoxKind::Pillar ? QColor(150, 146, 140)
                                                    : QColor(170, 140, 110);
        p.fillRect(QRectF(at(box.corner), at({box.corner.x + box.width, box.corner.y + box.depth})),
                   fill);
    }
    p.setPen(QPen(QColor(70, 60, 50), std::max(labels ? 3.0 : 1.5, scale * 0.15)));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(at({0, 0}), at({layout.width, layout.depth})));
    for (const auto& wall : layout.walls)
        p.drawLine(at(wall.a), at(wall.b));

    p.setFont(font);
    for (const auto& landmark : layout.landmarks) {
        bool reached = simulation.HasReached(landmark.name);
        p.setPen(QPen(reached ? QColor(30, 130, 60) : QColor(200, 120, 20), 2));
        p.setBrush(reached ? QColor(120, 200, 140, 160) : QColor(250, 200, 90, 160));
        double r = std::max(2.0, landmark.radius * scale);
        p.drawEllipse(at(landmark.centre), r, r);
        if (!labels)
            continue;
        p.setPen(Qt::black);
        p.drawText(at(landmark.centre) + QPointF(-r, r + 12),
                   QString::fromStdString(landmark.name));
    }

    // The other users of a shared world, under the user's own chair.
    DrawPeerAvatars(
        p, kernel,
        [&](double x, double y) {
            return at({x, y});
        },
        scale);
    PaintAvatar(p, own, simulation.Centre(), simulation.Heading(), at, scale, font, labels);
    p.restore();
}
