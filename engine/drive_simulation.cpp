// The wheelchair simulation (see drive_simulation.h).
#include "drive_simulation.h"

#include <algorithm>
#include <cmath>

namespace {

double DistanceToSegment(Vec2 p, Vec2 a, Vec2 b) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double lengthSquared = dx * dx + dy * dy;
    double t = lengthSquared > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared : 0;
    t = std::clamp(t, 0.0, 1.0);
    double cx = a.x + t * dx - p.x, cy = a.y + t * dy - p.y;
    return std::sqrt(cx * cx + cy * cy);
}

} // namespace

DriveSimulation::DriveSimulation(WorldLayout layout, double speedScale, double axisOffsetFeet)
    : layout_(std::move(layout)), speedScale_(speedScale),
      axisOffset_(axisOffsetFeet * kFeetToMetres), heading_(layout_.startHeading),
      landmarkDone_(layout_.landmarks.size(), 0) {
    // The layout's start is where the seat stands; the axis lies behind or ahead of it.
    Vec2 dir = Direction(heading_);
    axis_ = {layout_.start.x + axisOffset_ * dir.x, layout_.start.y + axisOffset_ * dir.y};
    Vec2 c = Centre();
    recorder_.Step(0, c.x, c.y, heading_, 0, 0);
}

Vec2 DriveSimulation::CentreFor(Vec2 axis, double heading) const {
    Vec2 dir = Direction(heading);
    return {axis.x - axisOffset_ * dir.x, axis.y - axisOffset_ * dir.y};
}

Vec2 DriveSimulation::Centre() const {
    return CentreFor(axis_, heading_);
}

bool ChairFits(const WorldLayout& layout, Vec2 c) {
    const double r = DriveSimulation::kChairRadius;
    if (c.x < r || c.y < r || c.x > layout.width - r || c.y > layout.depth - r)
        return false;
    for (const auto& wall : layout.walls) {
        if (DistanceToSegment(c, wall.a, wall.b) < r)
            return false;
    }
    return true;
}

bool DriveSimulation::Blocked(Vec2 c) const {
    return !ChairFits(layout_, c);
}

Vec2 SpreadStart(const WorldLayout& layout, const std::vector<Vec2>& others) {
    auto free = [&](Vec2 c) {
        if (!ChairFits(layout, c))
            return false;
        for (const Vec2& other : others) {
            double dx = other.x - c.x, dy = other.y - c.y;
            if (dx * dx + dy * dy < kSpawnSpacing * kSpawnSpacing)
                return false;
        }
        return true;
    };
    if (free(layout.start))
        return layout.start;
    // Rings around the start, each place on a ring tried from behind the chair round to its
    // front, so that the others mostly stand ahead where the driver sees them.
    for (int ring = 1; ring <= kSpawnRings; ++ring) {
        const double radius = ring * kSpawnSpacing;
        const int places = 6 * ring;
        for (int i = 0; i < places; ++i) {
            int step = (i + 1) / 2 * (i % 2 == 0 ? 1 : -1); // 0, -1, 1, -2, 2, ...
            double heading = layout.startHeading + 180.0 + step * 360.0 / places;
            Vec2 d = Direction(heading);
            Vec2 c{layout.start.x + d.x * radius, layout.start.y + d.y * radius};
            if (free(c))
                return c;
        }
    }
    return layout.start; // a world too full to spread in: the start, as without others
}

std::string DriveSimulation::Obstacle(Vec2 c) const {
    const double r = kChairRadius;
    for (size_t i = 0; i < layout_.walls.size(); ++i) {
        if (DistanceToSegment(c, layout_.walls[i].a, layout_.walls[i].b) < r)
            return "wall " + std::to_string(i);
    }
    return "floor edge";
}

drive_record::Record DriveSimulation::Record() const {
    drive_record::Recorder copy = recorder_;
    return copy.Finish();
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
    speed_ = 0;
    Vec2 wanted = CentreFor(newAxis, newHeading);
    if (!Blocked(wanted)) {
        distance_ += std::abs(travel);
        speed_ = dt > 0 ? travel / dt : 0;
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
    Vec2 c = Centre();
    if (blocked && !touching_) {
        ++collisions_;
        recorder_.Hit(elapsed_, c.x, c.y, Obstacle(wanted));
    }
    touching_ = blocked;
    recorder_.Step(elapsed_, c.x, c.y, heading_, forward, turn);

    // Each landmark is looked at until its name is reached, and a name is looked up in a set:
    // a step stays linear in the landmarks however many are reached at once.
    std::vector<std::string> reachedNow;
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
            recorder_.Reached(elapsed_, landmark.name);
        }
    }
    return reachedNow;
}
