// Other users in the shared world: their objects, their smooth motion and their drawing.
#include "peer_avatars.h"

#include "scene_objects.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPointF>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr const char* kNetworkPath = "/sys/network";
constexpr double kChairRadiusMetres = 0.35; // as the user's own chair is drawn

std::string FormatPose(const PeerPose& pose) {
    char text[96];
    std::snprintf(text, sizeof text, "%.3f %.3f %.1f", pose.x, pose.y, pose.heading);
    return text;
}

// The heading change from `from` to `to` along the shorter way round, in degrees.
double HeadingDelta(double from, double to) {
    double delta = std::fmod(to - from, 360.0);
    if (delta > 180.0)
        delta -= 360.0;
    else if (delta < -180.0)
        delta += 360.0;
    return delta;
}

SharedWorldDrive* FindSharedWorld(nKernelServer* kernel) {
    return kernel ? dynamic_cast<SharedWorldDrive*>(kernel->Lookup(kNetworkPath)) : nullptr;
}

QColor PeerColour(const std::string& name) {
    Rgba rgba;
    if (!ColourByName(name, rgba))
        return QColor(128, 128, 128);
    auto channel = [](float v) { return std::clamp(int(std::lround(v * 255.0f)), 0, 255); };
    return QColor(channel(rgba.r), channel(rgba.g), channel(rgba.b));
}

} // namespace

std::int64_t PeerClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- motion -------------------------------------------------------------------------------

void PeerMotion::Add(const PeerPose& pose, double senderTime, std::int64_t nowMs) {
    if (!has_) {
        has_ = true;
        from_ = to_ = pose;
        startMs_ = nowMs;
        lastSenderTime_ = senderTime;
        return;
    }
    double interval = senderTime - lastSenderTime_;
    if (!std::isfinite(interval) || interval <= 0)
        interval = kDefaultIntervalSeconds;
    interval = std::clamp(interval, kMinIntervalSeconds, kMaxIntervalSeconds);
    lastSenderTime_ = senderTime;

    PeerPose shown = At(nowMs);
    double dx = pose.x - shown.x, dy = pose.y - shown.y;
    from_ = std::sqrt(dx * dx + dy * dy) > kSnapMetres ? pose : shown;
    to_ = pose;
    startMs_ = nowMs;
    durationMs_ = interval * 1000.0;
}

PeerPose PeerMotion::At(std::int64_t nowMs) const {
    if (!has_)
        return {};
    double t = durationMs_ > 0 ? double(nowMs - startMs_) / durationMs_ : 1.0;
    t = std::clamp(t, 0.0, 1.0);
    PeerPose pose;
    pose.x = from_.x + (to_.x - from_.x) * t;
    pose.y = from_.y + (to_.y - from_.y) * t;
    pose.heading = from_.heading + HeadingDelta(from_.heading, to_.heading) * t;
    if (t >= 1.0)
        pose.heading = to_.heading;
    return pose;
}

// ---- plpeeravatar -------------------------------------------------------------------------

nCallStatus plPeerAvatar::Call(const std::string& method, const std::vector<std::string>& args,
                               std::string& result) {
    if (!args.empty())
        return nRoot::Call(method, args, result);
    if (method == "getusername")
        result = userName;
    else if (method == "getmemberid")
        result = std::to_string(memberId);
    else if (method == "getvehicle")
        result = vehicle;
    else if (method == "getcolour" || method == "getcolor")
        result = colour;
    else if (method == "getgender")
        result = gender;
    else if (method == "hasposition")
        result = std::to_string(motion.HasPose() ? 1 : 0);
    else if (method == "getposition")
        result = motion.HasPose() ? FormatPose(motion.Latest()) : "";
    else if (method == "getshownposition")
        result = motion.HasPose() ? FormatPose(motion.At(PeerClockMs())) : "";
    else
        return nRoot::Call(method, args, result);
    return nCallStatus::Ok;
}

std::vector<plPeerAvatar*> PeerAvatars(nKernelServer* kernel) {
    std::vector<plPeerAvatar*> peers;
    nRoot* folder = kernel ? kernel->Lookup(kPeerFolder) : nullptr;
    if (!folder)
        return peers;
    for (nRoot* child : folder->GetChildren()) {
        if (auto* peer = dynamic_cast<plPeerAvatar*>(child))
            peers.push_back(peer);
    }
    return peers;
}

// ---- drawing ------------------------------------------------------------------------------

void DrawPeerAvatars(QPainter& p, nKernelServer* kernel,
                     const std::function<QPointF(double x, double y)>& at, double metre) {
    const std::int64_t now = PeerClockMs();
    const double r = kChairRadiusMetres * metre;
    QFont labelFont = p.font();
    labelFont.setPointSize(9);
    labelFont.setBold(true);
    QFontMetrics metrics(labelFont);
    for (plPeerAvatar* peer : PeerAvatars(kernel)) {
        if (!peer->motion.HasPose())
            continue;
        PeerPose pose = peer->motion.At(now);
        QPointF centre = at(pose.x, pose.y);
        QColor colour = PeerColour(peer->colour);

        // The chair from above, as the user's own: the seat in the colour between two wheels.
        p.save();
        p.translate(centre);
        p.rotate(pose.heading);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 30, 34));
        p.drawRoundedRect(QRectF(-0.6 * r, -r, 1.2 * r, 0.3 * r), 2, 2);
        p.drawRoundedRect(QRectF(-0.6 * r, 0.7 * r, 1.2 * r, 0.3 * r), 2, 2);
        p.setPen(QPen(colour.darker(160), 2));
        p.setBrush(colour);
        p.drawRoundedRect(QRectF(-0.75 * r, -0.65 * r, 1.5 * r, 1.3 * r), 4, 4);
        p.setPen(QPen(Qt::black, 3));
        p.drawLine(QPointF(0, 0), QPointF(1.6 * r, 0));
        p.restore();

        // The name in black on white, framed in the member's colour, so that every colour
        // (yellow too) stays readable.
        QString label = QString::fromStdString(peer->userName);
        QRectF box(0, 0, metrics.horizontalAdvance(label) + 10, metrics.height() + 4);
        box.moveCenter(centre - QPointF(0, r + box.height() / 2 + 4));
        p.setFont(labelFont);
        p.setPen(QPen(colour.darker(130), 2));
        p.setBrush(QColor(255, 255, 255, 225));
        p.drawRoundedRect(box, 3, 3);
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignCenter, label);
    }
}

// ---- the drive's side ---------------------------------------------------------------------

void SharedWorldDriveStarted(nKernelServer* kernel) {
    if (SharedWorldDrive* world = FindSharedWorld(kernel))
        world->DriveStarted();
}

void SharedWorldDrivePosition(nKernelServer* kernel, const PeerPose& pose) {
    if (SharedWorldDrive* world = FindSharedWorld(kernel))
        world->DrivePosition(pose);
}

std::vector<std::string> SharedWorldDriveEnded(nKernelServer* kernel) {
    if (SharedWorldDrive* world = FindSharedWorld(kernel))
        return world->DriveEnded();
    return {};
}

void RegisterPeerClasses(nKernelServer* kernel) {
    kernel->AddClass("plpeeravatar", [] { return new plPeerAvatar; });
}
