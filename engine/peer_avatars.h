// The other users of a shared world as the drive sees them. Each one is an object of class
// "plpeeravatar" under /usr/share/scene/peers (named after the server's member id), made and
// removed by the network object as members join and leave, holding the member's name, vehicle,
// colour and gender and the positions the server relays. Between two relayed positions the
// avatar moves smoothly from where it was shown towards the newest one, over about the time
// between the sender's updates, so a few updates a second look like driving, not jumping.
//
// The drive talks to the shared world through the free functions at the end: it reports its
// own chair's position, draws the others, and learns at its end who else was in the world.
#pragma once

#include "engine/kernel.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPainter;
class QPointF;

struct PeerPose {
    double x = 0, y = 0;
    double heading = 0; // degrees, as the engine gives it
};

// A monotonic clock in milliseconds, the time base of the interpolation.
std::int64_t PeerClockMs();

// Where to show a member between updates.
class PeerMotion {
public:
    // Updates closer together than this are treated as coming this often; further apart
    // than the upper bound, the avatar still arrives within it.
    static constexpr double kMinIntervalSeconds = 0.05;
    static constexpr double kMaxIntervalSeconds = 1.0;
    static constexpr double kDefaultIntervalSeconds = 0.2;
    // A jump this far (a new drive's start, say) is shown at once, not slid across the world.
    static constexpr double kSnapMetres = 8.0;

    // A relayed position; `senderTime` is the sender's clock in seconds.
    void Add(const PeerPose& pose, double senderTime, std::int64_t nowMs);
    bool HasPose() const { return has_; }
    PeerPose Latest() const { return to_; }
    // The pose to show at `nowMs`: on the way from the last shown pose to the newest.
    PeerPose At(std::int64_t nowMs) const;

private:
    bool has_ = false;
    PeerPose from_, to_;
    std::int64_t startMs_ = 0;
    double durationMs_ = kDefaultIntervalSeconds * 1000;
    double lastSenderTime_ = 0;
};

// Class "plpeeravatar": one other member of the shared world.
class plPeerAvatar : public nRoot {
public:
    std::uint32_t memberId = 0;
    std::string userName, vehicle, colour, gender;
    PeerMotion motion;

    // getusername, getmemberid, getvehicle, getcolour, getgender, hasposition,
    // getposition ("x y heading", the newest relayed), getshownposition (now, interpolated)
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;
};

// The folder of the peer avatars.
constexpr const char* kPeerFolder = "/usr/share/scene/peers";

// The peers in the kernel's object tree (none when the folder is absent).
std::vector<plPeerAvatar*> PeerAvatars(nKernelServer* kernel);

// Draws every peer that has a position as a wheelchair in its colour with its name label.
// `at` maps world metres to the view; `metre` is the length of one metre in the view.
void DrawPeerAvatars(QPainter& painter, nKernelServer* kernel,
                     const std::function<QPointF(double x, double y)>& at, double metre);

// What a drive needs from the shared world; the network object implements it.
class SharedWorldDrive {
public:
    virtual ~SharedWorldDrive() = default;
    virtual void DriveStarted() = 0;
    // The user's chair, every simulation tick; the network object decides what to send.
    virtual void DrivePosition(const PeerPose& pose) = 0;
    // Gives the names of the others who were in the world during the drive.
    virtual std::vector<std::string> DriveEnded() = 0;
};

// The drive's side: do nothing when there is no network object or no shared world.
void SharedWorldDriveStarted(nKernelServer* kernel);
void SharedWorldDrivePosition(nKernelServer* kernel, const PeerPose& pose);
std::vector<std::string> SharedWorldDriveEnded(nKernelServer* kernel);

void RegisterPeerClasses(nKernelServer* kernel);
