// The network object in a shared world: joining and leaving, the other members as peer
// avatars in the object tree, and the user's own position while a drive runs.
#include "network_object.h"

#include "protocol/message_checks.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

std::string PeerPath(std::uint32_t id) {
    return std::string(kPeerFolder) + "/" + std::to_string(id);
}

bool ParseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != text.c_str() && *end == '\0' && std::isfinite(value);
}

bool SamePose(const PeerPose& a, const PeerPose& b) {
    return std::abs(a.x - b.x) < 1e-4 && std::abs(a.y - b.y) < 1e-4 &&
           std::abs(a.heading - b.heading) < 1e-3;
}

} // namespace

bool plNetworkObject::ParsePose(const std::vector<std::string>& args, PeerPose& pose) {
    return args.size() == 3 && ParseNumber(args[0], pose.x) && ParseNumber(args[1], pose.y) &&
           ParseNumber(args[2], pose.heading);
}

std::string plNetworkObject::Start() {
    std::string now;
    if (!join_)
        now = "1 no world to join (net::setJoinVars was not run)";
    else if (!Ready() || !LoggedIn())
        now = "1 not logged in to the server";
    else {
        pelora::wire::Join join;
        join.set_world(join_->world);
        join.set_vehicle(join_->vehicle);
        join.set_colour(join_->colour);
        join.set_gender(join_->gender);
        // A join while in a world leaves that world first, on the server as here.
        ClearWorld();
        if (SendRequest(Request::Join, wire::FrameType::Join, join))
            return "";
        now = "1 the request could not be sent";
    }
    n_printf("Network: could not join the shared world: %s\n", now.c_str() + 2);
    SetVar("::net::ack_join", now);
    return now;
}

std::string plNetworkObject::Leave() {
    std::string now;
    if (!Ready())
        now = "1 not connected to the server";
    else if (SendRequest(Request::Leave, wire::FrameType::Leave, pelora::wire::Leave()))
        return "";
    else
        now = "1 the request could not be sent";
    SetVar("::net::ack_leave", now);
    return now;
}

std::string plNetworkObject::Stop() {
    // Ends the shared-world session and the connection: after a failed leave the user logs in
    // again from the start, and the server ends the old login with the connection.
    driving_ = false;
    if (session_.phase() != NetworkSession::Phase::Idle)
        session_.Close("the network was stopped");
    OnSessionLostOrClosed("The network was stopped.", Link::NotConnected);
    return "0 stopped";
}

std::string plNetworkObject::Positions() {
    std::string lines;
    const std::int64_t now = PeerClockMs();
    for (plPeerAvatar* peer : PeerAvatars(GetKernel())) {
        if (!lines.empty())
            lines += '\n';
        lines += peer->userName;
        if (peer->motion.HasPose()) {
            PeerPose pose = peer->motion.At(now);
            char text[96];
            std::snprintf(text, sizeof text, " %.2f %.2f %.1f", pose.x, pose.y, pose.heading);
            lines += text;
        }
    }
    return lines;
}

void plNetworkObject::HandleJoinReply(const wire::Frame& frame) {
    bool abandoned = false;
    if (!TakePending(Request::Join, frame, abandoned))
        return;
    pelora::wire::JoinReply reply;
    std::string problem;
    if (!wire::ParseFrame(frame, reply, problem)) {
        Answer(Request::Join, "1 the server's answer to the join could not be read");
        return;
    }
    if (reply.result() != pelora::wire::JoinReply::JOINED) {
        std::string why =
            reply.message().empty() ? "the server did not let us join" : reply.message();
        n_printf("Network: could not join the shared world %s: %s\n",
                 join_ ? join_->world.c_str() : "", why.c_str());
        Answer(Request::Join, "1 " + why);
        return;
    }
    if (link_ == Link::Online)
        link_ = Link::InWorld; // net::state reads "online" as before
    memberId_ = reply.member_id();
    for (const auto& member : reply.members())
        AddPeer(member);
    n_printf("Network: joined the shared world %s with %d others\n",
             join_ ? join_->world.c_str() : "", reply.members_size());
    // Whoever looks at the world next sees where this user is, even before the drive moves.
    if (ownPose_)
        SendPosition(*ownPose_);
    Answer(Request::Join, "0 joined with " + std::to_string(reply.members_size()) + " others");
}

void plNetworkObject::HandlePositions(const wire::Frame& frame) {
    pelora::wire::Positions positions;
    std::string problem;
    if (!InWorld() || !wire::ParseFrame(frame, positions, problem))
        return;
    const std::int64_t now = PeerClockMs();
    nKernelServer* kernel = GetKernel();
    for (const auto& entry : positions.positions()) {
        auto* peer = dynamic_cast<plPeerAvatar*>(kernel->Lookup(PeerPath(entry.id()).c_str()));
        const auto& p = entry.position();
        if (!peer || !std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.heading()))
            continue;
        peer->motion.Add({p.x(), p.y(), p.heading()}, p.time(), now);
    }
}

void plNetworkObject::AddPeer(const pelora::wire::Member& member) {
    nKernelServer* kernel = GetKernel();
    if (!kernel || member.id() == memberId_)
        return;
    auto* peer =
        dynamic_cast<plPeerAvatar*>(kernel->New("plpeeravatar", PeerPath(member.id()).c_str()));
    if (!peer) {
        n_printf("ERROR: Network: could not make the avatar of %s\n", member.name().c_str());
        return;
    }
    peer->memberId = member.id();
    peer->userName = member.name();
    peer->vehicle = member.vehicle();
    peer->colour = member.colour();
    peer->gender = member.gender();
    if (member.has_position()) {
        const auto& p = member.position();
        if (std::isfinite(p.x()) && std::isfinite(p.y()) && std::isfinite(p.heading()))
            peer->motion.Add({p.x(), p.y(), p.heading()}, p.time(), PeerClockMs());
    }
    if (driving_)
        seenInDrive_.insert(member.name());
}

void plNetworkObject::RemovePeer(std::uint32_t id) {
    if (nKernelServer* kernel = GetKernel()) {
        if (auto* peer = dynamic_cast<plPeerAvatar*>(kernel->Lookup(PeerPath(id).c_str())))
            peer->Release();
    }
}

void plNetworkObject::ClearWorld() {
    if (link_ == Link::InWorld)
        link_ = Link::Online;
    memberId_ = 0;
    lastSentMs_ = -1;
    if (nKernelServer* kernel = GetKernel()) {
        for (plPeerAvatar* peer : PeerAvatars(kernel))
            peer->Release();
    }
    SetVar("::net::ack_join", "1 not in a shared world");
}

void plNetworkObject::SendPosition(const PeerPose& pose) {
    if (!InWorld() || !Ready())
        return;
    pelora::wire::Position position;
    position.set_x(float(pose.x));
    position.set_y(float(pose.y));
    position.set_heading(float(pose.heading));
    position.set_time(double(PeerClockMs()) / 1000.0);
    if (session_.Send(wire::FrameType::Position, position)) {
        lastSentPose_ = pose;
        lastSentMs_ = PeerClockMs();
    }
}

// ---- the drive's side ---------------------------------------------------------------------

void plNetworkObject::DriveStarted() {
    driving_ = true;
    seenInDrive_.clear();
    for (plPeerAvatar* peer : PeerAvatars(GetKernel()))
        seenInDrive_.insert(peer->userName);
    lastSentMs_ = -1; // the first position of the drive goes out at once
}

void plNetworkObject::DrivePosition(const PeerPose& pose) {
    ownPose_ = pose;
    if (!driving_ || !InWorld())
        return;
    const std::int64_t now = PeerClockMs();
    const std::int64_t since = lastSentMs_ < 0 ? INT64_MAX : now - lastSentMs_;
    const bool moved = !SamePose(pose, lastSentPose_);
    if ((moved && since >= kMovingPositionMs) || since >= kStillPositionMs)
        SendPosition(pose);
}

std::vector<std::string> plNetworkObject::DriveEnded() {
    // The last position always goes out, so the others see where the chair stopped.
    if (ownPose_ && InWorld() && (lastSentMs_ < 0 || !SamePose(*ownPose_, lastSentPose_)))
        SendPosition(*ownPose_);
    driving_ = false;
    std::vector<std::string> names(seenInDrive_.begin(), seenInDrive_.end());
    seenInDrive_.clear();
    return names;
}
