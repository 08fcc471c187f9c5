// The server's part in several instances on one database (see cluster.h): started once it
// listens, so the other instances learn its address, and stopped after its sessions ended.
#include "server.h"

namespace server {

namespace {

std::chrono::milliseconds Milliseconds(double seconds) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000));
}

} // namespace

bool Server::StartCluster(std::string& error) {
    if (options_.instanceTimeout < 2 * options_.instanceHeartbeat) {
        error = "instance-timeout (" + std::to_string(options_.instanceTimeout) +
                " s) must be at least twice instance-heartbeat (" +
                std::to_string(options_.instanceHeartbeat) + " s)";
        return false;
    }
    Cluster::Settings settings;
    settings.heartbeat = Milliseconds(options_.instanceHeartbeat);
    settings.timeout = Milliseconds(options_.instanceTimeout);
    settings.address = ListenAddress();
    cluster_ = std::make_unique<Cluster>(*storage_->Postgres(), worlds_, log_, settings);
    if (!cluster_->Start(error)) {
        cluster_.reset();
        return false;
    }
    presence_.Share(cluster_.get());
    worlds_.Share(cluster_.get());
    // Unfinished transfers and files not yet recorded are only an earlier run's when no other
    // instance is writing into the shared folder now.
    int others = cluster_->OtherInstances();
    if (others == 0)
        SettleEarlierRun();
    log_.Info("instance " + std::to_string(cluster_->InstanceId()) + " on the shared database; " +
              (others < 0 ? std::string("the other instances could not be counted")
                          : std::to_string(others) + " other instances alive"));
    return true;
}

void Server::StopCluster() {
    if (!cluster_)
        return;
    presence_.Share(nullptr);
    worlds_.Share(nullptr);
    cluster_->Stop();
    cluster_.reset();
}

} // namespace server
