// The network object (class "plnetwork", made by scripts:netsetup.tcl at /sys/network): the
// launcher's side of the conversation with pelora-server. It holds the plnSocket with the
// server's address, runs one NetworkSession, and turns what the server says into changes of
// Tcl variables in ::net, which the net:: procedures of netsetup.tcl wait on with vwait:
//
//   net::state       "not connected", "connecting", "connected", "online" (logged in), "lost"
//   net::wv_connect  result of a connection attempt        net::ack_login  login / create
//   net::ack_logout, net::ack_users, net::ack_join, net::ack_leave, net::ack_file: the replies
//   net::file_progress  bytes of the current data file handed to the connection
//
// Each request method clears its variable and gives "" when the request went out (the answer
// then arrives in the variable), or at once the answer to give when it could not go out.
// A procedure that stops waiting (time-out, cancel) says so with "abandon", and a late answer
// then only has its side effects (a late login is logged out again at once).
//
// In a shared world it keeps the other members as peer avatars (peer_avatars.h) and sends the
// user's position a few times a second while a drive runs. The server's news that the users
// online changed goes to usersChangedCallback (see services.h).
#pragma once

#include "engine/services.h"
#include "file_upload.h"
#include "network_session.h"
#include "peer_avatars.h"
#include "pending_requests.h"

#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

// The socket of the network library: the server's address.
class plnTlsSocket : public plnSocket {
public:
    // "host:port", "[v6-address]:port"; false (and logged) when it does not read as that.
    bool setAddress(const char* address) override;
    bool SetHostAndPort(const std::string& host, const std::string& port);
    const std::string& Host() const { return host_; }
    std::uint16_t Port() const { return port_; }

private:
    std::string host_;
    std::uint16_t port_ = 0;
};

class plNetworkObject : public plNetwork,
                        public SharedWorldDrive,
                        private NetworkSession::Listener {
public:
    plNetworkObject();
    ~plNetworkObject() override;

    plnSocket* GetSocket() override { return &socket_; }
    nCallStatus Call(const std::string& method, const std::vector<std::string>& args,
                     std::string& result) override;

    // SharedWorldDrive
    void DriveStarted() override;
    void DrivePosition(const PeerPose& pose) override;
    std::vector<std::string> DriveEnded() override;

    // The kinds of request that wait for an answer.
    enum class Request { Create, Login, Logout, Users, Join, Leave, File };

    // Where the object stands with the server: one value, shown to the scripts as net::state
    // (LinkText). Refused is a connection whose greeting the server refused: it reads
    // "connected", so the launcher goes on to log in and the login answers with the server's
    // sentence. InWorld is logged in and a member of a shared world.
    enum class Link { NotConnected, Connecting, Connected, Refused, Online, InWorld, Lost };
    static const char* LinkText(Link link);

    // Position updates: at most this often while the chair moves, and this often at least
    // while it stands (so that a member who joins later sees it).
    static constexpr std::int64_t kMovingPositionMs = 200;
    static constexpr std::int64_t kStillPositionMs = 1000;
    // File data is handed to the socket while less than this waits in it.
    static constexpr std::int64_t kFileHighWaterBytes = 256 * 1024;

private:
    // Tcl-facing methods; each gives the Tcl result.
    std::string Connect();
    std::string Login(Request kind, const std::string& name, const std::string& password);
    void UndoAbandonedLogins();
    std::string Logout();
    std::string Users();
    std::string Start();
    std::string Stop();
    std::string Leave();
    std::string Positions(); // the others in the world, one "name x y heading" line each
    std::string SendFile(const std::string& user, const std::string& name, int stallMs);
    void Abandon(Request kind);
    static bool ParsePose(const std::vector<std::string>& args, PeerPose& pose);

    // NetworkSession::Listener
    void OnSessionReady() override;
    void OnSessionFailed(ConnectFailure failure, const std::string& reason,
                         const std::string& serverMessage) override;
    void OnSessionLost(const std::string& reason) override;
    void OnSessionFrame(const wire::Frame& frame) override;
    void OnSessionDrained() override;
    // The connection is gone (lost, or closed on purpose): waiting procedures get `why`.
    void OnSessionLostOrClosed(const std::string& why, Link link);

    void HandleLoginReply(const wire::Frame& frame);
    void HandleCreateReply(const wire::Frame& frame);
    void HandleUsersReply(const wire::Frame& frame);
    void HandleJoinReply(const wire::Frame& frame);
    void HandleFileReply(const wire::Frame& frame);
    void HandleErrorReply(const wire::Frame& frame);
    void HandlePositions(const wire::Frame& frame);
    void HandleUsersChanged();

    static std::string Sentence(const std::string& text, const char* fallback);
    // Parses a frame's message; logs and gives false when it does not read.
    static bool ReadFrame(const wire::Frame& frame, google::protobuf::MessageLite& message);

    // Sends a request whose answer goes to the request's variable.
    bool SendRequest(Request kind, wire::FrameType type,
                     const google::protobuf::MessageLite& message);
    // Takes the outstanding request of the kind that the reply answers: the one whose id it
    // echoes, or from a server that echoes none the oldest; false when none was outstanding.
    bool TakePending(Request kind, const wire::Frame& reply, bool& abandoned);
    void Answer(Request kind, const std::string& text);

    void PumpFile();
    void FinishFile(bool stored, const std::string& text);
    void CancelFile(const std::string& why);

    void AddPeer(const pelora::wire::Member& member);
    void RemovePeer(std::uint32_t id);
    void ClearWorld();
    void SendPosition(const PeerPose& pose);

    // Changes the link and tells the scripts (net::state is written even when its text
    // stays, which wakes a procedure waiting on it).
    void SetLink(Link link);
    bool LoggedIn() const { return link_ == Link::Online || link_ == Link::InWorld; }
    bool InWorld() const { return link_ == Link::InWorld; }
    // Sets a script variable through the script server, when there is one.
    void SetVar(const char* name, const std::string& value);
    std::string KeysFolder() const;
    std::string UserFolder(const std::string& user) const;
    bool Ready() const { return session_.phase() == NetworkSession::Phase::Ready; }

    plnTlsSocket socket_;
    NetworkSession session_;
    Link link_ = Link::NotConnected;
    PendingRequests<Request> pending_;
    std::uint32_t fileRequestId_ = 0; // the offer's, which its chunks and cancel carry too
    // How many of the oldest pending logins (all abandoned) already have a logout sent after
    // them, which undoes them should they succeed.
    std::size_t undoneLogins_ = 0;

    // The sentence of the server that refused the greeting (an update is needed, it is
    // full) while the link is Refused: the answer of the login that follows.
    std::string refusal_;
    std::string userName_; // logged in as, while LoggedIn()

    struct JoinFields {
        std::string world, vehicle, colour, gender;
    };
    std::optional<JoinFields> join_;
    std::uint32_t memberId_ = 0;

    // A drive runs (the drive's own state, apart from the link: a drive may start before
    // the join answers, and its positions go out once the link is InWorld).
    bool driving_ = false;
    std::set<std::string> seenInDrive_;
    std::optional<PeerPose> ownPose_;
    PeerPose lastSentPose_;
    std::int64_t lastSentMs_ = -1;
    bool sentSinceMove_ = true;

    enum class FileStage { None, Offered, Sending, AwaitingResult, Cancelling };
    FileStage fileStage_ = FileStage::None;
    std::unique_ptr<FileUpload> upload_;
    std::size_t chunkBytes_ = 0;
    QTimer fileStall_;
    // The server's news that the users online changed, passed on from the event loop (the
    // launcher then asks for the list, and must not do so inside this object's reading).
    QTimer usersChanged_;
};
