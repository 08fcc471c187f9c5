// The server's start, accept loop and shutdown (see server.h).
#include "server.h"

#include "disk.h"
#include "folder_lock.h"
#include "seal_keys.h"
#include "session.h"
#include "tls_identity.h"

#include "protocol/message_checks.h"

#include <asio/post.hpp>
#include <asio/strand.hpp>

#include <openssl/ssl.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <thread>
#include <vector>

namespace server {

namespace {

// Past the connection limit a few more are taken, only to be told the server is full; beyond
// that a connection is closed at once.
constexpr std::size_t kFullNoticeSlack = 64;
constexpr auto kShutdownGrace = std::chrono::seconds(3);
constexpr auto kTrimInterval = std::chrono::seconds(2);
// The least hashing cost a site should run with (argon2id, as recommended for passwords).
constexpr std::uint64_t kSafeArgon2Ops = 2;
constexpr std::uint64_t kSafeArgon2MemoryKiB = 19456;

unsigned WorkerCount(const ServerOptions& options) {
    if (options.workers > 0)
        return options.workers;
    unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? cores : 2;
}

LoginThrottle::Settings ThrottleSettings(const ServerOptions& options) {
    LoginThrottle::Settings settings;
    settings.nameFailures = options.throttleNameFailures;
    settings.addressFailures = options.throttleAddressFailures;
    settings.baseDelay = options.throttleBaseDelay;
    settings.maxDelay = options.throttleMaxDelay;
    settings.window = options.throttleWindow;
    return settings;
}

// Connections to PostgreSQL: one per worker and I/O thread (they wait on the database), and one
// to spare, but no more than a few instances can open on a default PostgreSQL (100 at most).
std::size_t StoreConnections(const ServerOptions& options) {
    return std::min<std::size_t>(WorkerCount(options) + options.ioThreads + 1, 12);
}

FileLimits Limits(const ServerOptions& options) {
    return FileLimits{options.maxFileBytes, options.maxUserBytes, options.maxUserFiles};
}

} // namespace

DataLayout::DataLayout(const ServerOptions& options)
    : database(JoinPath(options.dataDir, "pelora-server.db")),
      log(options.logFile.empty() ? JoinPath(options.dataDir, "pelora-server.log")
                                  : options.logFile),
      keys(JoinPath(options.dataDir, "keys")),
      cert(options.certPath.empty() ? JoinPath(options.dataDir, "tls/server.pem")
                                    : options.certPath),
      key(options.keyPath.empty() ? JoinPath(options.dataDir, "tls/server.key") : options.keyPath),
      users(JoinPath(options.dataDir, "users")) {}

Server::Server(const ServerOptions& options)
    : options_(options), layout_(options_),
      storage_(MakeStorage(options.database, layout_.database, StoreConnections(options))),
      hasher_(options.argon2Ops, options.argon2MemoryKiB), throttle_(ThrottleSettings(options)),
      creations_(options.maxCreatesPerAddress, 3600), presence_(options.maxUsers),
      worlds_(wire::kMaxWorldMembers), files_(layout_.users, storage_->Files(), Limits(options)),
      workers_(WorkerCount(options)), disk_(options.diskThreads),
      io_(static_cast<int>(options.ioThreads)),
      presenceNews_(io_, options.usersNoticeInterval, [this](std::uint64_t cause) {
          sessions_.ForEach(
              [cause](const std::shared_ptr<Session>& session) { session->UsersChanged(cause); });
      }) {
    context_.reset(new ServerContext{options_, log_, accounts_, files_, presence_, worlds_,
                                     workers_, disk_, sessions_, ""});
    presence_.OnChange([this](std::uint64_t session) { presenceNews_.Changed(session); });
}

Server::~Server() {
    workers_.join();
    disk_.join();
}

bool Server::Start(std::string& error) {
    if (!MakeFolders(options_.dataDir, 0700, error) ||
        !CheckPrivateFolder(options_.dataDir, error) || !MakeFolders(layout_.users, 0700, error) ||
        !CheckPrivateFolder(layout_.users, error))
        return false;
    if (!log_.Open(layout_.log, error))
        return false;
    log_.SetLevel(options_.logLevel);
    log_.SetRotation(options_.logRotateBytes, options_.logKeep);
    WarnOfWeakHashing();
    if (!storage_->Open(error))
        return false;

    // Instances given one data folder make its keys and certificate one at a time.
    FolderLock setupLock;
    if (!setupLock.Take(JoinPath(options_.dataDir, ".setup.lock"), error))
        return false;
    SealKeys keys;
    bool created = false;
    if (!LoadOrMakeSealKeys(layout_.keys, keys, created, error))
        return false;
    if (created)
        log_.Info("made the sealing key pair in " + layout_.keys + "; public key " +
                  PublicKeyHex(keys));
    context_->sealPublicKey.assign(reinterpret_cast<const char*>(keys.publicKey.data()),
                                   keys.publicKey.size());
    sealKeys_ = keys;

    if (options_.certPath.empty()) {
        std::string tlsFolder = JoinPath(options_.dataDir, "tls");
        if (!MakeFolders(tlsFolder, 0700, error) ||
            !EnsureCertificate(layout_.cert, layout_.key, created, error))
            return false;
        if (created)
            log_.Info("made a self-signed certificate in " + layout_.cert);
    }
    std::string summary;
    if (!CheckCertificatePair(layout_.cert, layout_.key, summary, error))
        return false;
    setupLock.Release();

    asio::error_code code;
    tls_.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                         asio::ssl::context::no_sslv3 | asio::ssl::context::single_dh_use,
                     code);
    SSL_CTX_set_min_proto_version(tls_.native_handle(), TLS1_2_VERSION);
    // An idle connection holds no TLS record buffers (about 34 KiB each otherwise).
    SSL_CTX_set_mode(tls_.native_handle(), SSL_MODE_RELEASE_BUFFERS);
    tls_.use_certificate_chain_file(layout_.cert, code);
    if (!code)
        tls_.use_private_key_file(layout_.key, asio::ssl::context::pem, code);
    if (code) {
        error = "cannot use the certificate " + layout_.cert + ": " + code.message();
        return false;
    }

    if (!storage_->Postgres())
        SettleEarlierRun();

    asio::ip::address address = asio::ip::make_address(options_.bind, code);
    if (code) {
        error = "\"" + options_.bind + "\" is not an IP address to listen on";
        return false;
    }
    asio::ip::tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol(), code);
    if (!code)
        acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), code);
    if (!code)
        acceptor_.bind(endpoint, code);
    if (!code)
        acceptor_.listen(asio::socket_base::max_listen_connections, code);
    if (code) {
        error = "cannot listen on " + options_.bind + " port " + std::to_string(options_.port) +
                ": " + code.message();
        return false;
    }
    if (storage_->Postgres() && !StartCluster(error))
        return false;
    if (!StartStaffView(summary, error))
        return false;
    // Caught from here on, before the readiness line: a SIGTERM that comes at once is held
    // for Run() instead of killing the process.
    signals_.add(SIGTERM);
    signals_.add(SIGINT);
    std::uint64_t accounts = 0;
    storage_->Accounts().Count(accounts);
    log_.Info("pelora-server started: listening on " + ListenAddress() + ", data in " +
              options_.dataDir + ", database " + storage_->Describe() + ", " +
              std::to_string(accounts) + " accounts, certificate " + summary);
    return true;
}

// Lower hashing settings make tests and load runs quick; a site must not run on them unaware.
void Server::WarnOfWeakHashing() {
    if (options_.argon2Ops >= kSafeArgon2Ops && options_.argon2MemoryKiB >= kSafeArgon2MemoryKiB)
        return;
    std::string text =
        "password hashing is set below the safe floor (argon2id t=" +
        std::to_string(options_.argon2Ops) + ", m=" + std::to_string(options_.argon2MemoryKiB) +
        " KiB): new password hashes are easier to crack. The safe values are "
        "argon2-ops = " +
        std::to_string(kSafeArgon2Ops) +
        " and argon2-memory = " + std::to_string(kSafeArgon2MemoryKiB) + " (19 MiB) or more";
    log_.Warning(text);
    if (!log_.EchoesToStandardError())
        std::fprintf(stderr, "pelora-server: WARN %s\n", text.c_str());
}

// The drives of the data files already received are read first (each once: a file recorded,
// readable or not, is not read again), then every file stored is read as it arrives. On a
// shared database and data folder every instance reads what it receives, and the staff view of
// each shows the drives of all.
bool Server::StartStaffView(const std::string& certificate, std::string& error) {
    std::string worlds = options_.worldsDir.empty() ? DefaultWorldsFolder() : options_.worldsDir;
    worldCatalog_.Load(worlds);
    for (const std::string& problem : worldCatalog_.Problems())
        log_.Warning("staff view: " + problem);
    ingest_ = std::make_unique<DriveIngest>(layout_.users, sealKeys_, storage_->Drives(),
                                            worldCatalog_, log_);
    if (std::size_t recorded = ingest_->Scan())
        log_.Info("recorded " + std::to_string(recorded) + " data files received earlier");
    files_.OnStored([this](const std::string& user, const std::string& storedName) {
        ingest_->Ingest(user, storedName);
    });
    if (options_.staffPort == 0) {
        log_.Info("staff view off (--staff-port 0)");
        return true;
    }
    staffServer_ = std::make_unique<StaffServer>(StaffContext{
        options_, log_, storage_->Drives(), storage_->Staff(), hasher_, presence_, worldCatalog_});
    if (!staffServer_->Start(layout_.cert, layout_.key, error)) {
        staffServer_.reset();
        return false;
    }
    log_.Info("staff view listening on https://" + staffServer_->ListenAddress() + " with " +
              std::to_string(worldCatalog_.Worlds().size()) + " worlds from " + worlds +
              ", certificate " + certificate);
    return true;
}

void Server::SettleEarlierRun() {
    if (std::size_t removed = files_.RemoveLeftovers())
        log_.Info("removed " + std::to_string(removed) +
                  " unfinished file transfers left by an earlier run");
    for (const std::string& line : files_.SettleUnrecorded(JoinPath(options_.dataDir, "set-aside")))
        log_.Warning(line);
}

std::string Server::ListenAddress() const {
    asio::error_code code;
    auto endpoint = acceptor_.local_endpoint(code);
    if (code)
        return "?";
    std::string address = endpoint.address().to_string();
    if (endpoint.address().is_v6())
        address = "[" + address + "]";
    return address + ":" + std::to_string(endpoint.port());
}

int Server::Run() {
    signals_.async_wait([this](const asio::error_code& error, int signal) {
        if (!error)
            BeginShutdown(signal == SIGTERM ? "SIGTERM" : "SIGINT");
    });
    Accept();
    TrimMemory();
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < options_.ioThreads; ++i)
        threads.emplace_back([this] { io_.run(); });
    io_.run();
    for (auto& thread : threads)
        thread.join();
    workers_.join();
    disk_.join();
    if (staffServer_)
        staffServer_->Stop();
    StopCluster();
    storage_->Close();
    log_.Info("pelora-server stopped");
    return 0;
}

// Freed memory stays with the allocator (one arena per thread); after connections have
// closed it is given back to the system, so a flood that ends leaves no lasting cost.
void Server::TrimMemory() {
    trimTimer_.expires_after(kTrimInterval);
    trimTimer_.async_wait([this](const asio::error_code& error) {
        if (error || stopping_)
            return;
        std::uint64_t closed = sessions_.Closed();
        if (closed != closedAtLastTrim_) {
            closedAtLastTrim_ = closed;
            ::malloc_trim(0);
        }
        TrimMemory();
    });
}

void Server::Stop() {
    asio::post(io_, [this] { BeginShutdown("a stop request"); });
}

void Server::Accept() {
    acceptor_.async_accept(asio::make_strand(io_), [this](const asio::error_code& error,
                                                          asio::ip::tcp::socket socket) {
        if (stopping_ || error == asio::error::operation_aborted)
            return;
        if (error) {
            // Out of descriptors, most likely: wait a little instead of spinning.
            if (!acceptErrorLogged_)
                log_.Warning("cannot accept connections: " + error.message());
            acceptErrorLogged_ = true;
            acceptRetry_.expires_after(std::chrono::milliseconds(100));
            acceptRetry_.async_wait([this](const asio::error_code& waited) {
                if (!waited)
                    Accept();
            });
            return;
        }
        acceptErrorLogged_ = false;
        std::size_t count = sessions_.Count();
        asio::error_code code;
        auto remote = socket.remote_endpoint(code);
        std::string address = code ? "unknown address" : remote.address().to_string();
        if (count >= options_.maxConnections + kFullNoticeSlack) {
            asio::error_code ignored;
            socket.close(ignored);
        } else if (sessions_.CountFrom(address) >= options_.maxConnectionsPerAddress) {
            // No TLS, no words: an address past its share gets nothing to hold on to.
            asio::error_code ignored;
            socket.close(ignored);
            NoteAddressRefusal(address);
        } else {
            auto session =
                std::make_shared<Session>(*context_, std::move(socket), tls_, nextSessionId_++,
                                          count >= options_.maxConnections);
            sessions_.Add(session->Id(), session, address);
            session->Start();
        }
        Accept();
    });
}

// Logs the first connection refused for its address's limit, then at most one line a minute
// with the count since.
void Server::NoteAddressRefusal(const std::string& address) {
    auto now = std::chrono::steady_clock::now();
    ++addressRefusals_;
    if (addressRefusals_ > 1 && now - addressRefusalLogged_ < std::chrono::minutes(1))
        return;
    log_.Info("refused " + std::to_string(addressRefusals_) + " connection" +
              (addressRefusals_ == 1 ? "" : "s") + " past the limit of " +
              std::to_string(options_.maxConnectionsPerAddress) +
              " from one address (the last from " + address + ")");
    addressRefusals_ = 0;
    addressRefusalLogged_ = now;
}

void Server::BeginShutdown(const std::string& why) {
    if (stopping_.exchange(true))
        return;
    log_.Info("shutting down (" + why + "): telling " + std::to_string(sessions_.Count()) +
              " connections");
    asio::error_code ignored;
    acceptor_.close(ignored);
    signals_.cancel(ignored);
    acceptRetry_.cancel();
    trimTimer_.cancel();
    sessions_.ForEach([](const std::shared_ptr<Session>& session) {
        session->Shutdown("The server is shutting down.");
    });
    shutdownStart_ = std::chrono::steady_clock::now();
    WaitForSessions();
}

void Server::WaitForSessions() {
    if (sessions_.Count() == 0 ||
        std::chrono::steady_clock::now() - shutdownStart_ > kShutdownGrace) {
        if (sessions_.Count() > 0)
            log_.Warning(std::to_string(sessions_.Count()) +
                         " connections did not close in time; stopping anyway");
        io_.stop();
        return;
    }
    shutdownTimer_.expires_after(std::chrono::milliseconds(20));
    shutdownTimer_.async_wait([this](const asio::error_code& error) {
        if (!error)
            WaitForSessions();
    });
}

void SessionTable::Add(std::uint64_t id, const std::weak_ptr<Session>& session,
                       const std::string& address) {
    std::lock_guard lock(mutex_);
    if (sessions_.try_emplace(id, Entry{session, address}).second)
        ++perAddress_[address];
}

void SessionTable::Remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(id);
    if (found == sessions_.end())
        return;
    auto from = perAddress_.find(found->second.address);
    if (from != perAddress_.end() && --from->second == 0)
        perAddress_.erase(from);
    sessions_.erase(found);
    ++closed_;
}

std::size_t SessionTable::CountFrom(const std::string& address) const {
    std::lock_guard lock(mutex_);
    auto found = perAddress_.find(address);
    return found == perAddress_.end() ? 0 : found->second;
}

std::size_t SessionTable::Count() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

void SessionTable::ForEach(
    const std::function<void(const std::shared_ptr<Session>&)>& action) const {
    std::vector<std::shared_ptr<Session>> live;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : sessions_)
            if (auto session = entry.session.lock())
                live.push_back(session);
    }
    for (const auto& session : live)
        action(session);
}

} // namespace server
