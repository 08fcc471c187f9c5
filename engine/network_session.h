// One connection to pelora-server: TCP, TLS with the launcher's own certificate trust, the
// Hello exchange, frames in and out, keep-alive pings and the detection of a lost server. It
// runs on Qt's event loop on the GUI thread (the same loop that keeps the windows and the Tcl
// interpreter serviced), so nothing here blocks and nothing here is a thread.
//
// Each connection attempt ends with exactly one engine-log line: connected, or the server's
// address and why not (refused, no route, timed out, certificate not trusted, ...).
#pragma once

#include "protocol/framing.h"
#include "protocol/messages.pb.h"
#include "script_wake.h"
#include "trust_store.h"

#include <QElapsedTimer>

#include <cstdint>
#include <memory>
#include <string>

class QObject;
class QSslSocket;
class QTimer;

// Why a connection attempt ended without a session.
enum class ConnectFailure {
    BadAddress,
    Refused,       // nothing listens there
    Unreachable,   // no route, host not found, network down
    TimedOut,      // the caller's bound passed
    Cancelled,     // the user cancelled
    NotTrusted,    // the certificate failed the trust check
    Handshake,     // TLS failed for another reason
    ServerRefused, // the server answered Hello with a refusal (update, full)
    Closed,        // the server closed the connection before the greeting ended
    Other,
};

class NetworkSession {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void OnSessionReady() = 0;
        // `serverMessage` is the server's own sentence for ServerRefused.
        virtual void OnSessionFailed(ConnectFailure failure, const std::string& reason,
                                     const std::string& serverMessage) = 0;
        virtual void OnSessionLost(const std::string& reason) = 0;
        virtual void OnSessionFrame(const wire::Frame& frame) = 0;
        // The socket has handed bytes to the system: room for more file data.
        virtual void OnSessionDrained() {}
    };

    enum class Phase { Idle, Connecting, Greeting, Ready };

    explicit NetworkSession(Listener& listener);
    ~NetworkSession();
    NetworkSession(const NetworkSession&) = delete;
    NetworkSession& operator=(const NetworkSession&) = delete;

    // Starts an attempt (an earlier connection is closed first). `keysFolder` holds the
    // installed certificate and the known-servers file.
    void Connect(const std::string& host, std::uint16_t port, const std::string& keysFolder);
    // Ends the attempt or the session without calling the listener. An attempt still under
    // way is logged as failed for `reason`; a standing session as closed.
    void Close(const std::string& reason);

    // Queues one frame; false when there is no session or the message does not fit a frame.
    // `requestId`: the request's id, echoed by the server's reply (0 for none).
    bool Send(wire::FrameType type, const google::protobuf::MessageLite& message,
              std::uint32_t requestId = 0);
    // Bytes queued in the socket and not yet handed to the system.
    std::int64_t BytesToWrite() const;

    Phase phase() const { return phase_; }
    // The server as "host:port", for log lines.
    const std::string& ServerName() const { return serverName_; }
    const pelora::wire::HelloReply& Welcome() const { return welcome_; }

private:
    void OnEncrypted(unsigned generation);
    void OnSslErrors(unsigned generation);
    void OnSocketError(unsigned generation);
    void OnDisconnected(unsigned generation);
    void OnReadyRead(unsigned generation);
    void OnPingTick();
    // Takes the sealing key of the greeting; false (the attempt failed) when it is refused.
    bool TakeSealKey(const std::string& key);
    void Dispatch(const wire::Frame& frame);
    void HandleHelloReply(const wire::Frame& frame);

    // An attempt that ends without a session: one log line, the listener told.
    void FailAttempt(ConnectFailure failure, const std::string& reason,
                     const std::string& serverMessage = {});
    // A standing session that ends: one log line, the listener told.
    void LoseSession(const std::string& reason);
    void DropSocket();
    // While a procedure waits in Tcl's own event loop, Qt's events are looked at only every
    // few milliseconds; a readable socket wakes the script loop at once, one wake per read.
    void ArmScriptWake();

    Listener& listener_;
    std::unique_ptr<QObject> context_; // owns the socket and the timer and their connections
    QSslSocket* socket_ = nullptr;
    QTimer* pingTimer_ = nullptr;
    unsigned generation_ = 0; // bumped whenever the socket changes, to ignore stale signals
    ScriptWake wake_;         // the socket watched by the script loop
    Phase phase_ = Phase::Idle;

    std::string host_;
    std::uint16_t port_ = 0;
    std::string serverName_;
    std::unique_ptr<trust::TrustStore> trust_;
    bool judged_ = false;
    trust::Decision decision_;

    std::unique_ptr<wire::FrameDecoder> decoder_;
    pelora::wire::HelloReply welcome_;
    QElapsedTimer sinceReceived_;
    bool pingOutstanding_ = false;
    std::uint64_t pingToken_ = 0;
};
