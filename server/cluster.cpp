// Instances on one database seeing each other (see cluster.h).
#include "cluster.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <unistd.h>

namespace server {

namespace pb = pelora::wire;

namespace {

constexpr const char* kChannel = "pelora_cluster";
// Notifications stay well below PostgreSQL's limit of 8000 bytes.
constexpr std::size_t kPayloadBytes = 7000;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

int Digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Unhex(const std::string& hex, std::string& out) {
    if (hex.size() % 2)
        return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = Digit(hex[i]), low = Digit(hex[i + 1]);
        if (high < 0 || low < 0)
            return false;
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    for (std::string field; stream >> field;)
        fields.push_back(field);
    return fields;
}

bool ParseId(const std::string& text, std::int64_t& out) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoll(text);
    return true;
}

double Seconds(std::chrono::milliseconds span) {
    return static_cast<double>(span.count()) / 1000.0;
}

} // namespace

Cluster::Cluster(PgPool& pool, WorldRegistry& worlds, Log& log, Settings settings)
    : pool_(pool), worlds_(worlds), log_(log), settings_(std::move(settings)),
      listener_(pool.ConnInfo()) {}

Cluster::~Cluster() {
    Stop();
}

bool Cluster::Start(std::string& error) {
    PgResult registered =
        pool_.Run("instance_add", "INSERT INTO instances (address) VALUES ($1) RETURNING id",
                  {PgParam::Text(settings_.address)});
    if (!registered.Ok() || registered.Rows() != 1) {
        error = "cannot register this instance in the database: " + registered.Error();
        return false;
    }
    instance_ = registered.Integer(0, 0);
    if (!listener_.Ensure(error)) {
        error = "cannot connect to the database for the other instances' news: " + error;
        return false;
    }
    PgResult listening = listener_.Execute(std::string("LISTEN ") + kChannel);
    if (!listening.Ok()) {
        error = "cannot listen for the other instances: " + listening.Error();
        return false;
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        error = "eventfd: " + std::string(std::strerror(errno));
        return false;
    }
    // The members already in worlds elsewhere are announced in answer.
    Notify(listener_, "S " + std::to_string(instance_));
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Cluster::Stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        Wake();
    }
    thread_.join();
    // Gone at once rather than after the timeout: the others drop its members, and its users
    // are free.
    Notify(listener_, "G " + std::to_string(instance_));
    PgResult removed = pool_.Run("instance_remove", "DELETE FROM instances WHERE id = $1",
                                 {PgParam::Integer(instance_)});
    if (!removed.Ok())
        log_.Warning("could not remove this instance's rows from the database: " + removed.Error());
    listener_.Close();
    ::close(wake_);
    wake_ = -1;
}

int Cluster::OtherInstances() {
    PgResult others =
        pool_.Run("instance_others",
                  "SELECT count(*) FROM instances WHERE id <> $1 AND seen_at >= now() - "
                  "make_interval(secs => $2)",
                  {PgParam::Integer(instance_), PgParam::Real(Seconds(settings_.timeout))});
    return others.Ok() && others.Rows() == 1 ? static_cast<int>(others.Integer(0, 0)) : -1;
}

SharedPresence::Taken Cluster::Claim(std::uint64_t session, const std::string& name, bool shared) {
    PgResult claimed = pool_.Run(
        "presence_claim",
        "INSERT INTO presence (instance_id, session_id, name, shared) VALUES ($1, $2, $3, $4)",
        {PgParam::Integer(instance_), PgParam::Integer(static_cast<std::int64_t>(session)),
         PgParam::Text(name), PgParam::Boolean(shared)});
    if (claimed.Ok()) {
        PresenceChanged();
        return Taken::Yes;
    }
    if (claimed.status() == PgResult::Status::Constraint)
        return Taken::Elsewhere;
    // The session logs the refused login, with the database's words (TakeStoreFailure).
    return Taken::Failed;
}

void Cluster::Release(std::uint64_t session) {
    PgResult released = pool_.Run(
        "presence_release", "DELETE FROM presence WHERE instance_id = $1 AND session_id = $2",
        {PgParam::Integer(instance_), PgParam::Integer(static_cast<std::int64_t>(session))});
    if (!released.Ok())
        log_.Error("cannot note a logout in the database: " + released.Error());
    else
        PresenceChanged();
}

void Cluster::SetWorld(std::uint64_t session, const std::string& world) {
    PgResult set =
        pool_.Run("presence_world",
                  "UPDATE presence SET world = $3 WHERE instance_id = $1 AND session_id = $2",
                  {PgParam::Integer(instance_),
                   PgParam::Integer(static_cast<std::int64_t>(session)), PgParam::Text(world)});
    if (!set.Ok())
        log_.Warning("cannot note a user's world in the database: " + set.Error());
    else
        PresenceChanged();
}

void Cluster::PresenceChanged() {
    std::string line = "U " + std::to_string(instance_);
    std::lock_guard lock(mutex_);
    if (!outgoing_.empty() && outgoing_.back() == line)
        return; // told already with what waits
    outgoing_.push_back(std::move(line));
    Wake();
}

std::vector<OnlineEntry> Cluster::Others() const {
    std::vector<OnlineEntry> others;
    PgResult rows =
        pool_.Run("presence_others", "SELECT name, world FROM presence WHERE instance_id <> $1",
                  {PgParam::Integer(instance_)});
    if (!rows.Ok()) {
        log_.Warning("cannot read the other instances' users: " + rows.Error());
        return others;
    }
    for (int row = 0; row < rows.Rows(); ++row)
        others.push_back(OnlineEntry{rows.Text(row, 0), rows.Text(row, 1)});
    return others;
}

void Cluster::Joined(const std::string& world, const pb::Member& member) {
    std::lock_guard lock(mutex_);
    locals_[member.id()] = Local{world, member};
    outgoing_.push_back("J " + std::to_string(instance_) + " " + std::to_string(member.id()) + " " +
                        Hex(world) + " " + Hex(member.SerializeAsString()));
    Wake();
}

void Cluster::Left(std::uint32_t id) {
    std::lock_guard lock(mutex_);
    locals_.erase(id);
    movedLatest_.erase(id);
    outgoing_.push_back("L " + std::to_string(instance_) + " " + std::to_string(id));
    Wake();
}

void Cluster::Moved(std::uint32_t id, const pb::Position& position) {
    std::lock_guard lock(mutex_);
    auto local = locals_.find(id);
    if (local != locals_.end())
        *local->second.member.mutable_position() = position;
    movedLatest_[id] = position;
    Wake();
}

// Called with mutex_ held, or by the thread at stop.
void Cluster::Wake() {
    if (woken_ && !stopping_)
        return;
    woken_ = true;
    std::uint64_t one = 1;
    if (wake_ >= 0)
        (void)!::write(wake_, &one, sizeof one);
}

void Cluster::Run() {
    using Clock = std::chrono::steady_clock;
    auto nextBeat = Clock::now();
    bool connected = true;
    while (!stopping_) {
        if (!connected) {
            std::string error;
            if (listener_.Ensure(error) &&
                listener_.Execute(std::string("LISTEN ") + kChannel).Ok()) {
                connected = true;
                log_.Info("connected again to the database for the other instances' news");
                Notify(listener_, "S " + std::to_string(instance_));
            }
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextBeat - Clock::now());
        pollfd waits[2] = {{wake_, POLLIN, 0},
                           {connected ? PQsocket(listener_.Handle()) : -1, POLLIN, 0}};
        int timeout = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
        if (!connected)
            timeout = std::min(timeout, 500);
        ::poll(waits, 2, timeout);
        if (waits[0].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(wake_, &count, sizeof count);
        }
        if (stopping_)
            break;
        if (connected) {
            PGconn* handle = listener_.Handle();
            if (!PQconsumeInput(handle)) {
                log_.Warning("lost the database connection for the other instances' news: " +
                             std::string(PQerrorMessage(handle)));
                listener_.Close();
                connected = false;
            } else {
                while (PGnotify* notice = PQnotifies(handle)) {
                    Receive(notice->extra);
                    PQfreemem(notice);
                }
                connected = SendPending(listener_);
            }
        }
        if (Clock::now() >= nextBeat) {
            Beat(listener_);
            nextBeat = Clock::now() + settings_.heartbeat;
        }
    }
}

bool Cluster::SendPending(PgConnection& connection) {
    std::vector<std::string> lines;
    {
        std::lock_guard lock(mutex_);
        woken_ = false;
        lines.swap(outgoing_);
        for (const auto& [id, position] : movedLatest_)
            lines.push_back("P " + std::to_string(instance_) + " " + std::to_string(id) + " " +
                            Hex(position.SerializeAsString()));
        movedLatest_.clear();
    }
    std::string payload;
    for (const std::string& line : lines) {
        if (!payload.empty() && payload.size() + 1 + line.size() > kPayloadBytes) {
            if (!Notify(connection, payload))
                return false;
            payload.clear();
        }
        payload += (payload.empty() ? "" : "\n") + line;
    }
    return payload.empty() || Notify(connection, payload);
}

bool Cluster::Notify(PgConnection& connection, const std::string& payload) {
    PgResult sent = connection.Run("cluster_notify", "SELECT pg_notify('pelora_cluster', $1)",
                                   {PgParam::Text(payload)});
    if (!sent.Ok()) {
        log_.Warning("cannot tell the other instances: " + sent.Error());
        return connection.Handle() != nullptr;
    }
    return true;
}

void Cluster::Beat(PgConnection&) {
    // On a pooled connection: the listening one may be down while the database is not.
    PgResult beat = pool_.Run("instance_beat", "UPDATE instances SET seen_at = now() WHERE id = $1",
                              {PgParam::Integer(instance_)});
    if (beat.Ok() && beat.Changed() == 0) {
        // Silent past the timeout (the database was out of reach): the others dropped this
        // instance's users. It comes back; its current users are not claimed again.
        log_.Warning("this instance was taken for dead by the others; registering it again");
        pool_.Run("instance_again", "INSERT INTO instances (id, address) VALUES ($1, $2)",
                  {PgParam::Integer(instance_), PgParam::Text(settings_.address)});
    } else if (!beat.Ok()) {
        log_.Warning("cannot tell the database this instance is alive: " + beat.Error());
        return;
    }
    PgResult reaped = pool_.Run(
        "instance_reap",
        "DELETE FROM instances WHERE seen_at < now() - make_interval(secs => $1) RETURNING id",
        {PgParam::Real(Seconds(settings_.timeout))});
    for (int row = 0; row < reaped.Rows(); ++row) {
        std::int64_t dead = reaped.Integer(row, 0);
        log_.Warning("instance " + std::to_string(dead) + " has been silent for more than " +
                     std::to_string(Seconds(settings_.timeout)) +
                     " seconds: its users are free to log in again");
        Notify(listener_, "G " + std::to_string(dead));
        DropInstance(dead);
    }
}

void Cluster::Receive(const std::string& payload) {
    std::size_t at = 0;
    while (at < payload.size()) {
        std::size_t end = payload.find('\n', at);
        if (end == std::string::npos)
            end = payload.size();
        Handle(payload.substr(at, end - at));
        at = end + 1;
    }
}

void Cluster::Handle(const std::string& message) {
    std::vector<std::string> fields = Fields(message);
    std::int64_t from = 0, id = 0;
    if (fields.size() < 2 || fields[0].size() != 1 || !ParseId(fields[1], from) ||
        from == instance_)
        return;
    char kind = fields[0][0];
    if (kind == 'G') {
        DropInstance(from);
    } else if (kind == 'U') {
        if (othersChanged)
            othersChanged();
    } else if (kind == 'S') {
        std::vector<std::string> lines;
        Announce(lines);
        std::lock_guard lock(mutex_);
        outgoing_.insert(outgoing_.end(), lines.begin(), lines.end());
        Wake();
    } else if (fields.size() >= 3 && ParseId(fields[2], id)) {
        RemoteKey key{from, static_cast<std::uint32_t>(id)};
        auto known = remotes_.find(key);
        std::string world, bytes;
        if (kind == 'J' && fields.size() == 5 && Unhex(fields[3], world) &&
            Unhex(fields[4], bytes)) {
            pb::Member member;
            if (!member.ParseFromString(bytes))
                return;
            if (known != remotes_.end()) { // announced again: only its position may be new
                if (member.has_position())
                    worlds_.Relay(known->second, member.position());
                return;
            }
            std::uint32_t local = worlds_.JoinRemote(world, member);
            if (local != 0) {
                remotes_[key] = local;
            } else if (!warnedFull_) {
                warnedFull_ = true;
                log_.Warning("a world is full here: members of other instances left out");
            }
        } else if (kind == 'L' && known != remotes_.end()) {
            worlds_.Leave(known->second);
            remotes_.erase(known);
        } else if (kind == 'P' && fields.size() == 4 && known != remotes_.end() &&
                   Unhex(fields[3], bytes)) {
            pb::Position position;
            if (position.ParseFromString(bytes))
                worlds_.Relay(known->second, position);
        }
    }
}

void Cluster::DropInstance(std::int64_t instance) {
    auto it = remotes_.lower_bound(RemoteKey{instance, 0});
    while (it != remotes_.end() && it->first.instance == instance) {
        worlds_.Leave(it->second);
        it = remotes_.erase(it);
    }
    // Its users went with it.
    if (othersChanged)
        othersChanged();
}

void Cluster::Announce(std::vector<std::string>& out) {
    std::lock_guard lock(mutex_);
    for (const auto& [id, local] : locals_)
        out.push_back("J " + std::to_string(instance_) + " " + std::to_string(id) + " " +
                      Hex(local.world) + " " + Hex(local.member.SerializeAsString()));
}

} // namespace server
