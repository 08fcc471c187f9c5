// Several pelora-server instances on one PostgreSQL database see each other through it, with
// no other service between them:
//  - each instance has a row in `instances`, renewed every heartbeat; any instance deletes the
//    rows silent for longer than the timeout, and with them (ON DELETE CASCADE) the presence
//    rows of a dead instance, so its users may log in again elsewhere within the timeout plus
//    one heartbeat;
//  - who is logged in is a row per session in `presence`, one row per name but the guest's (a
//    unique index), so "already logged in" holds across instances;
//  - a change of this instance's users is told to the others by NOTIFY (one line, no names),
//    so their launchers learn to ask for the list again;
//  - joins, leaves and positions of world members go to the other instances by NOTIFY on one
//    channel, read by LISTEN on a connection of the cluster's own, and enter each instance's
//    world registry as remote members, which its sessions see like any other.
// One thread owns the listening connection: it sends what the registry hands over (positions
// newest-wins per member, batched into few notifications), receives the others', beats and
// reaps. Presence calls lease pooled connections and answer at once.
#pragma once

#include "pg_connection.h"
#include "presence.h"
#include "server_log.h"
#include "world_registry.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace server {

class Cluster : public SharedPresence, public WorldShare {
public:
    struct Settings {
        std::chrono::milliseconds heartbeat{2000};
        std::chrono::milliseconds timeout{10000};
        std::string address; // where this instance listens, for the instances table
    };
    Cluster(PgPool& pool, WorldRegistry& worlds, Log& log, Settings settings);
    ~Cluster() override;
    Cluster(const Cluster&) = delete;
    Cluster& operator=(const Cluster&) = delete;

    // Registers this instance, listens and starts the thread; false with a sentence.
    bool Start(std::string& error);
    // Tells the others this instance is going, removes its rows and stops the thread.
    void Stop();

    std::int64_t InstanceId() const { return instance_; }
    // Instances alive other than this one, as the database sees them now; -1 when it cannot
    // tell.
    int OtherInstances();

    // SharedPresence: pooled connections, from any thread.
    Taken Claim(std::uint64_t session, const std::string& name, bool shared) override;
    void Release(std::uint64_t session) override;
    void SetWorld(std::uint64_t session, const std::string& world) override;
    std::vector<OnlineEntry> Others() const override;

    // WorldShare: queued for the thread, from any thread.
    void Joined(const std::string& world, const pelora::wire::Member& member) override;
    void Left(std::uint32_t id) override;
    void Moved(std::uint32_t id, const pelora::wire::Position& position) override;

private:
    void Run();
    void Wake();
    bool SendPending(PgConnection& connection);
    bool Notify(PgConnection& connection, const std::string& payload);
    void Beat(PgConnection& connection);
    void Receive(const std::string& payload);
    void Handle(const std::string& message);
    void DropInstance(std::int64_t instance);
    void Announce(std::vector<std::string>& out);
    // The users of this instance changed: the others are told, so they tell their launchers.
    void PresenceChanged();

    PgPool& pool_;
    WorldRegistry& worlds_;
    Log& log_;
    Settings settings_;
    std::int64_t instance_ = 0;
    PgConnection listener_;
    int wake_ = -1; // an eventfd: something to send, or stop
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    // What the registry handed over, for the thread (guarded by mutex_).
    struct Local {
        std::string world;
        pelora::wire::Member member; // with its newest position
    };
    std::mutex mutex_;
    std::vector<std::string> outgoing_;                           // joins and leaves, in order
    std::map<std::uint32_t, pelora::wire::Position> movedLatest_; // newest of each member
    std::map<std::uint32_t, Local> locals_;                       // for announcing to newcomers
    bool woken_ = false; // the thread has been told and not yet taken

    // Members of other instances in this registry (the thread's own).
    struct RemoteKey {
        std::int64_t instance;
        std::uint32_t id;
        bool operator<(const RemoteKey& other) const {
            return instance != other.instance ? instance < other.instance : id < other.id;
        }
    };
    std::map<RemoteKey, std::uint32_t> remotes_;
    bool warnedFull_ = false;
};

} // namespace server
