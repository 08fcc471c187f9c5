// The connection to pelora-server on Qt Network's TLS socket.
#include "network_session.h"

#include "engine/kernel.h"
#include "protocol/message_checks.h"

#include <QObject>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {

const char* const kClientName = "pelox 2.1";
// Reads are taken in pieces of this size, so a fast server cannot make the socket buffer
// grow without bound between two turns of the event loop.
constexpr qint64 kReadBufferBytes = 256 * 1024;
constexpr unsigned kDefaultPingSeconds = 10;

std::string SocketErrorText(QSslSocket* socket) {
    return socket->errorString().toStdString();
}

} // namespace

NetworkSession::NetworkSession(Listener& listener)
    : listener_(listener), context_(std::make_unique<QObject>()) {}

NetworkSession::~NetworkSession() {
    DropSocket();
}

void NetworkSession::ArmScriptWake() {
    if (socket_ && socket_->socketDescriptor() >= 0)
        wake_.Arm(int(socket_->socketDescriptor()));
}

void NetworkSession::DropSocket() {
    ++generation_;
    wake_.Disarm();
    if (pingTimer_) {
        pingTimer_->stop();
        pingTimer_->deleteLater();
        pingTimer_ = nullptr;
    }
    if (socket_) {
        QObject::disconnect(socket_, nullptr, context_.get(), nullptr);
        socket_->abort();
        // The socket may be inside one of its own signals right now.
        socket_->deleteLater();
        socket_ = nullptr;
    }
    decoder_.reset();
    phase_ = Phase::Idle;
    judged_ = false;
    decision_ = {};
    pingOutstanding_ = false;
}

void NetworkSession::Connect(const std::string& host, std::uint16_t port,
                             const std::string& keysFolder) {
    if (phase_ != Phase::Idle)
        Close("a new connection was asked for");
    DropSocket();
    host_ = host;
    port_ = port;
    serverName_ = trust::ServerKey(host, port);
    trust_ = std::make_unique<trust::TrustStore>(keysFolder);
    welcome_.Clear();
    if (host.empty() || port == 0) {
        FailAttempt(ConnectFailure::BadAddress, "no usable server address (host '" + host +
                                                    "', port " + std::to_string(port) + ")");
        return;
    }

    const unsigned generation = generation_;
    socket_ = new QSslSocket(context_.get());
    socket_->setReadBufferSize(kReadBufferBytes);
    QSslConfiguration config = socket_->sslConfiguration();
    // No authority vouches for a Pelora server: every certificate goes through the trust
    // store, so the system's root certificates are not used at all.
    config.setCaCertificates({});
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    socket_->setSslConfiguration(config);

    QObject* ctx = context_.get();
    QObject::connect(socket_, &QSslSocket::encrypted, ctx,
                     [this, generation] { OnEncrypted(generation); });
    QObject::connect(socket_, &QSslSocket::sslErrors, ctx,
                     [this, generation](const QList<QSslError>&) { OnSslErrors(generation); });
    QObject::connect(
        socket_, &QAbstractSocket::errorOccurred, ctx,
        [this, generation](QAbstractSocket::SocketError) { OnSocketError(generation); });
    QObject::connect(socket_, &QAbstractSocket::disconnected, ctx,
                     [this, generation] { OnDisconnected(generation); });
    QObject::connect(socket_, &QIODevice::readyRead, ctx,
                     [this, generation] { OnReadyRead(generation); });
    QObject::connect(socket_, &QAbstractSocket::connected, ctx, [this, generation] {
        if (generation == generation_)
            ArmScriptWake();
    });
    QObject::connect(socket_, &QSslSocket::encryptedBytesWritten, ctx, [this, generation](qint64) {
        if (generation == generation_)
            listener_.OnSessionDrained();
    });

    phase_ = Phase::Connecting;
    socket_->connectToHostEncrypted(QString::fromStdString(host), port);
}

void NetworkSession::Close(const std::string& reason) {
    if (phase_ == Phase::Connecting || phase_ == Phase::Greeting)
        n_printf("Network: could not connect to server %s: %s\n", serverName_.c_str(),
                 reason.c_str());
    else if (phase_ == Phase::Ready)
        n_printf("Network: closed the connection to server %s (%s)\n", serverName_.c_str(),
                 reason.c_str());
    DropSocket();
}

bool NetworkSession::Send(wire::FrameType type, const google::protobuf::MessageLite& message,
                          std::uint32_t requestId) {
    if (!socket_ || (phase_ != Phase::Ready && type != wire::FrameType::Hello))
        return false;
    std::string bytes;
    if (!wire::AppendMessage(bytes, type, message, requestId)) {
        n_printf("ERROR: Network: a %s message did not fit one frame; not sent\n",
                 wire::FrameTypeName(std::uint16_t(type)).c_str());
        return false;
    }
    socket_->write(bytes.data(), qint64(bytes.size()));
    // Out at once: a procedure waiting in Tcl's own event loop would otherwise leave the
    // request in Qt's buffer until Qt's events are next looked at.
    socket_->flush();
    return true;
}

std::int64_t NetworkSession::BytesToWrite() const {
    if (!socket_)
        return 0;
    return socket_->bytesToWrite() + socket_->encryptedBytesToWrite();
}

void NetworkSession::OnSslErrors(unsigned generation) {
    if (generation != generation_ || !socket_)
        return;
    judged_ = true;
    decision_ = trust_->Judge(serverName_, socket_->peerCertificate());
    // A certificate the store trusts is all that counts; the errors are the expected ones of
    // a self-signed certificate (no authority, a host name it was not made for).
    if (decision_.trusted)
        socket_->ignoreSslErrors();
}

void NetworkSession::OnEncrypted(unsigned generation) {
    if (generation != generation_ || !socket_)
        return;
    if (!judged_) {
        judged_ = true;
        decision_ = trust_->Judge(serverName_, socket_->peerCertificate());
    }
    if (!decision_.trusted) {
        FailAttempt(ConnectFailure::NotTrusted, "certificate not trusted: " + decision_.reason);
        return;
    }
    if (decision_.firstUse) {
        std::string error;
        if (trust_->Remember(serverName_, decision_.fingerprint, error))
            n_printf("Network: first connection to server %s; its certificate SHA-256 %s is now "
                     "remembered in %s\n",
                     serverName_.c_str(), decision_.fingerprint.c_str(),
                     trust_->KnownServersPath().c_str());
        else
            n_printf("WARN: Network: the certificate of server %s could not be remembered: %s\n",
                     serverName_.c_str(), error.c_str());
    }
    decoder_ = std::make_unique<wire::FrameDecoder>(wire::Sender::Server);
    phase_ = Phase::Greeting;
    pelora::wire::Hello hello;
    hello.set_protocol_version(wire::kProtocolVersion);
    hello.set_client(kClientName);
    Send(wire::FrameType::Hello, hello);
}

void NetworkSession::OnSocketError(unsigned generation) {
    if (generation != generation_ || !socket_)
        return;
    const auto error = socket_->error();
    if (phase_ == Phase::Ready) {
        LoseSession(error == QAbstractSocket::RemoteHostClosedError
                        ? "the server closed the connection"
                        : SocketErrorText(socket_));
        return;
    }
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        FailAttempt(ConnectFailure::Refused, "connection refused");
        break;
    case QAbstractSocket::HostNotFoundError:
        FailAttempt(ConnectFailure::Unreachable,
                    "host not found (" + SocketErrorText(socket_) + ")");
        break;
    case QAbstractSocket::NetworkError:
        FailAttempt(ConnectFailure::Unreachable, "no route (" + SocketErrorText(socket_) + ")");
        break;
    case QAbstractSocket::SocketTimeoutError:
        FailAttempt(ConnectFailure::TimedOut, "timed out");
        break;
    case QAbstractSocket::SslHandshakeFailedError:
        if (judged_ && !decision_.trusted)
            FailAttempt(ConnectFailure::NotTrusted, "certificate not trusted: " + decision_.reason);
        else
            FailAttempt(ConnectFailure::Handshake,
                        "the TLS handshake failed (" + SocketErrorText(socket_) + ")");
        break;
    case QAbstractSocket::RemoteHostClosedError:
        FailAttempt(ConnectFailure::Closed, phase_ == Phase::Greeting
                                                ? "the server closed the connection before it "
                                                  "answered the greeting"
                                                : "the server closed the connection during the "
                                                  "TLS handshake");
        break;
    default:
        FailAttempt(ConnectFailure::Other, SocketErrorText(socket_));
        break;
    }
}

void NetworkSession::OnDisconnected(unsigned generation) {
    if (generation != generation_ || !socket_)
        return;
    if (phase_ == Phase::Ready)
        LoseSession("the server closed the connection");
    else if (phase_ != Phase::Idle)
        FailAttempt(ConnectFailure::Closed, "the server closed the connection before it answered "
                                            "the greeting");
}

void NetworkSession::OnReadyRead(unsigned generation) {
    while (generation == generation_ && socket_ && decoder_) {
        QByteArray bytes = socket_->read(kReadBufferBytes);
        if (bytes.isEmpty()) {
            // Made afresh, so that a wake Tcl queued for the bytes just read is dropped.
            wake_.Disarm();
            ArmScriptWake();
            return;
        }
        sinceReceived_.start();
        pingOutstanding_ = false;
        decoder_->Feed(bytes.constData(), size_t(bytes.size()));
        wire::Frame frame;
        for (;;) {
            auto status = decoder_->Next(frame);
            if (status == wire::FrameDecoder::Status::NeedMore)
                break;
            if (status == wire::FrameDecoder::Status::Error) {
                std::string why = "the server sent an unreadable frame: " + decoder_->ErrorText();
                if (phase_ == Phase::Ready)
                    LoseSession(why);
                else
                    FailAttempt(ConnectFailure::Other, why);
                return;
            }
            Dispatch(frame);
            // The listener may have closed the session or started another one.
            if (generation != generation_ || !decoder_)
                return;
        }
    }
}

void NetworkSession::Dispatch(const wire::Frame& frame) {
    using wire::FrameType;
    if (phase_ == Phase::Greeting) {
        if (frame.Type() == FrameType::HelloReply) {
            HandleHelloReply(frame);
            return;
        }
        std::string why =
            "the server answered the greeting with " + wire::FrameTypeName(frame.type);
        if (frame.Type() == FrameType::ErrorReply || frame.Type() == FrameType::Goodbye) {
            pelora::wire::ErrorReply error;
            pelora::wire::Goodbye goodbye;
            std::string problem;
            if (frame.Type() == FrameType::ErrorReply && wire::ParseFrame(frame, error, problem))
                why += ": " + error.message();
            else if (wire::ParseFrame(frame, goodbye, problem))
                why += ": " + goodbye.reason();
        }
        FailAttempt(ConnectFailure::Other, why);
        return;
    }
    if (phase_ != Phase::Ready)
        return;
    switch (frame.Type()) {
    case FrameType::Pong:
        return;
    case FrameType::Goodbye: {
        pelora::wire::Goodbye goodbye;
        std::string problem;
        wire::ParseFrame(frame, goodbye, problem);
        LoseSession(goodbye.reason().empty() ? "the server said goodbye"
                                             : "the server said goodbye: " + goodbye.reason());
        return;
    }
    case FrameType::ErrorReply: {
        pelora::wire::ErrorReply error;
        std::string problem;
        if (wire::ParseFrame(frame, error, problem) && error.closing()) {
            LoseSession("the server ended the connection: " + error.message());
            return;
        }
        break;
    }
    default:
        break;
    }
    listener_.OnSessionFrame(frame);
}

void NetworkSession::HandleHelloReply(const wire::Frame& frame) {
    pelora::wire::HelloReply reply;
    std::string problem;
    if (!wire::ParseFrame(frame, reply, problem)) {
        FailAttempt(ConnectFailure::Other, "the server's greeting could not be read: " + problem);
        return;
    }
    if (reply.result() != pelora::wire::HelloReply::WELCOME) {
        std::string message =
            reply.message().empty() ? "The server refused the connection." : reply.message();
        FailAttempt(ConnectFailure::ServerRefused, "the server refused: " + message, message);
        return;
    }
    if (!TakeSealKey(reply.seal_public_key()))
        return;
    welcome_ = reply;
    phase_ = Phase::Ready;
    n_printf("Network: connected to server %s (%s, protocol %u)\n", serverName_.c_str(),
             reply.server().empty() ? "server" : reply.server().c_str(), reply.protocol_version());

    unsigned seconds =
        reply.ping_interval_seconds() ? reply.ping_interval_seconds() : kDefaultPingSeconds;
    pingTimer_ = new QTimer(context_.get());
    QObject::connect(pingTimer_, &QTimer::timeout, context_.get(), [this] { OnPingTick(); });
    pingTimer_->start(int(seconds * 1000));
    sinceReceived_.start();
    listener_.OnSessionReady();
}

bool NetworkSession::TakeSealKey(const std::string& key) {
    // An older server gives none: data files are sealed for a key the site installed.
    if (key.empty())
        return true;
    const auto judged = trust_->JudgeSealKey(serverName_, key, decision_.firstUse);
    if (!judged.accepted) {
        FailAttempt(ConnectFailure::NotTrusted, "sealing key not trusted: " + judged.reason);
        return false;
    }
    if (!judged.store)
        return true;
    std::string error;
    if (!trust_->StoreSealKey(key, error)) {
        n_printf("WARN: Network: the sealing key of server %s could not be kept: %s\n",
                 serverName_.c_str(), error.c_str());
        return true;
    }
    n_printf("Network: learnt the sealing key of server %s over its trusted connection; data "
             "files are sealed for it (%s)%s%s\n",
             serverName_.c_str(), trust_->SealKeyPath().c_str(), judged.reason.empty() ? "" : "; ",
             judged.reason.c_str());
    return true;
}

void NetworkSession::OnPingTick() {
    if (phase_ != Phase::Ready || !pingTimer_)
        return;
    // Nothing at all from the server for two intervals after a ping: it is gone, even when
    // the system has not noticed yet (a machine switched off, a cable pulled).
    if (pingOutstanding_ && sinceReceived_.elapsed() >= 2 * qint64(pingTimer_->interval())) {
        LoseSession("the server stopped answering");
        return;
    }
    pelora::wire::Ping ping;
    ping.set_token(++pingToken_);
    if (Send(wire::FrameType::Ping, ping) && !pingOutstanding_) {
        pingOutstanding_ = true;
        sinceReceived_.start();
    }
}

void NetworkSession::FailAttempt(ConnectFailure failure, const std::string& reason,
                                 const std::string& serverMessage) {
    n_printf("Network: could not connect to server %s: %s\n", serverName_.c_str(), reason.c_str());
    // Noted for the site's IT, who can look at it and accept it with plconfig.
    if (failure == ConnectFailure::NotTrusted && trust_)
        trust_->RememberRefused(serverName_, decision_.fingerprint);
    DropSocket();
    listener_.OnSessionFailed(failure, reason, serverMessage);
}

void NetworkSession::LoseSession(const std::string& reason) {
    n_printf("Network: lost the connection to server %s: %s\n", serverName_.c_str(),
             reason.c_str());
    DropSocket();
    listener_.OnSessionLost(reason);
}
