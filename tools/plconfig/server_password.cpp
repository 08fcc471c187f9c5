// The password change on the server (see server_password.h): a blocking OpenSSL client, since
// the tool has no event loop of its own for a network object.
#include "server_password.h"

#include "server_identity.h"
#include "server_setting.h"

#include "accounts/password_file.h"
#include "platform/file_system.h"
#include "protocol/framing.h"
#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace plconfig {

namespace {

namespace pb = pelora::wire;

constexpr std::uint32_t kRequestId = 1;

struct SslFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    void operator()(SSL* ssl) const { SSL_free(ssl); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(BIO* bio) const { BIO_free(bio); }
};
template <typename T> using Owned = std::unique_ptr<T, SslFree>;

class Socket {
public:
    ~Socket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd_ = -1;
};

// SHA-256 of the certificate's DER bytes as upper-case hex pairs joined by colons, as the
// launcher writes it.
std::string Fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(certificate, EVP_sha256(), digest, &length))
        return "";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

// "" when the certificate is the one the launchers here trust, else why not.
std::string JudgeCertificate(const ServerEndpoint& server, X509* presented) {
    const std::string fingerprint = Fingerprint(presented);
    std::string pem;
    if (platform::ReadWholeFile(server.keysFolder + "/server.pem", pem)) {
        Owned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        while (Owned<X509> pinned{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
            if (Fingerprint(pinned.get()) == fingerprint)
                return "";
        return "its certificate (SHA-256 " + fingerprint +
               ") is not the one installed in keys/server.pem";
    }
    const ServerIdentity identity =
        ReadServerIdentity(server.keysFolder, ServerKeyOf(server.host, server.port));
    if (identity.remembered.empty() || identity.remembered == fingerprint)
        return "";
    return "its certificate changed (SHA-256 " + fingerprint + ", remembered " +
           identity.remembered + "); see plconfig --show-server";
}

// Reads frames until one of `type` arrives; false at the time limit, a close or an error.
bool ReadFrame(SSL* ssl, wire::FrameDecoder& decoder, wire::FrameType type, wire::Frame& frame) {
    for (;;) {
        switch (decoder.Next(frame)) {
        case wire::FrameDecoder::Status::Ready:
            if (frame.Type() == type)
                return true;
            continue;
        case wire::FrameDecoder::Status::Error:
            return false;
        case wire::FrameDecoder::Status::NeedMore:
            break;
        }
        char buffer[4096];
        const int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        decoder.Feed(buffer, static_cast<std::size_t>(got));
    }
}

bool Write(SSL* ssl, wire::FrameType type, const google::protobuf::MessageLite& message,
           std::uint32_t requestId = 0) {
    std::string bytes;
    return wire::AppendMessage(bytes, type, message, requestId) &&
           SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size())) ==
               static_cast<int>(bytes.size());
}

ServerChangeResult Fail(ServerChange outcome, std::string why) {
    return ServerChangeResult{outcome, std::move(why)};
}

} // namespace

ServerChangeResult ChangePasswordOnServer(const ServerEndpoint& server, const std::string& name,
                                          const std::string& oldPassword,
                                          const std::string& newPassword, int timeoutMs) {
    const std::string where = server.host + ":" + server.port;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(server.host.c_str(), server.port.c_str(), &hints, &found) != 0 || !found)
        return Fail(ServerChange::NotReached, "the server " + where + " could not be found");
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, ::freeaddrinfo);

    // Every step is bounded: connect, the handshake and each read.
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    Socket socket;
    for (addrinfo* address = found; address && socket.fd_ < 0; address = address->ai_next) {
        int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
        if (fd < 0)
            continue;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (::connect(fd, address->ai_addr, address->ai_addrlen) == 0)
            socket.fd_ = fd;
        else
            ::close(fd);
    }
    if (socket.fd_ < 0)
        return Fail(ServerChange::NotReached, "the server " + where + " could not be reached");

    Owned<SSL_CTX> context(SSL_CTX_new(TLS_client_method()));
    if (!context)
        return Fail(ServerChange::NotReached, "TLS could not be set up");
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    // No authority vouches for a Pelora server: its certificate is judged below, as the
    // launcher judges it.
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_NONE, nullptr);
    Owned<SSL> ssl(SSL_new(context.get()));
    SSL_set_fd(ssl.get(), socket.fd_);
    SSL_set_tlsext_host_name(ssl.get(), server.host.c_str());
    if (SSL_connect(ssl.get()) != 1)
        return Fail(ServerChange::NotReached,
                    "the TLS handshake with the server " + where + " failed");
    Owned<X509> presented(SSL_get1_peer_certificate(ssl.get()));
    if (!presented)
        return Fail(ServerChange::NotTrusted, "the server " + where + " showed no certificate");
    if (std::string why = JudgeCertificate(server, presented.get()); !why.empty())
        return Fail(ServerChange::NotTrusted, "the server " + where + " is not trusted: " + why);

    wire::FrameDecoder decoder(wire::Sender::Server);
    wire::Frame frame;
    pb::Hello hello;
    hello.set_protocol_version(wire::kProtocolVersion);
    hello.set_client("plconfig " PELORA_VERSION);
    pb::HelloReply welcome;
    if (!Write(ssl.get(), wire::FrameType::Hello, hello) ||
        !ReadFrame(ssl.get(), decoder, wire::FrameType::HelloReply, frame) ||
        !welcome.ParseFromString(frame.payload))
        return Fail(ServerChange::NotReached, "the server " + where + " did not answer");
    if (welcome.result() != pb::HelloReply::WELCOME)
        return Fail(ServerChange::NotReached,
                    "the server " + where + " refused the connection: " + welcome.message());

    pb::ChangePassword change;
    change.set_name(name);
    change.set_old_password(oldPassword);
    change.set_new_password(newPassword);
    pb::ChangePasswordReply reply;
    bool sent = Write(ssl.get(), wire::FrameType::ChangePassword, change, kRequestId);
    change.Clear();
    if (!sent)
        return Fail(ServerChange::NotReached, "the request could not be sent to " + where);
    // An older server does not know the request: it answers with an error, not a reply.
    if (!ReadFrame(ssl.get(), decoder, wire::FrameType::ChangePasswordReply, frame))
        return Fail(ServerChange::NotReached,
                    "the server " + where +
                        " did not answer the change (an older server cannot change passwords)");
    if (!reply.ParseFromString(frame.payload))
        return Fail(ServerChange::NotReached, "the server's answer could not be read");
    SSL_shutdown(ssl.get());
    switch (reply.result()) {
    case pb::ChangePasswordReply::CHANGED:
        return ServerChangeResult{ServerChange::Changed, ""};
    case pb::ChangePasswordReply::UNKNOWN_USER:
        return Fail(ServerChange::NoAccount, reply.message());
    default:
        return Fail(ServerChange::NotChanged,
                    reply.message().empty() ? "the server refused the change" : reply.message());
    }
}

Result ChangePasswordEverywhere(UserStore& store, const std::string& homeFolder,
                                const std::string& name, const std::string& password) {
    std::string oldPassword;
    const std::string folder = homeFolder + "/users/" + name;
    const bool knewOld = accounts::ReadColorsFile(folder, oldPassword);
    Result local = store.ChangePassword(name, password);
    if (!local.Ok())
        return local;
    ServerAddress address;
    std::string problem;
    if (!LoadServerAddress(homeFolder + "/globalSettings", address, problem))
        return Result::Failure(Outcome::ServerNotChanged,
                               local.message + " The server's address could not be read (" +
                                   problem + "), so the server was not told.");
    const std::string who = "\"" + names::PrintableName(name) + "\"";
    const std::string where = address.host + ":" + address.port;
    ServerChangeResult server;
    if (knewOld)
        server = ChangePasswordOnServer({address.host, address.port, homeFolder + "/keys"}, name,
                                        oldPassword, password);
    else
        server.why = "the old password could not be read here, so the server cannot be asked";
    switch (server.outcome) {
    case ServerChange::Changed:
        return Result::Success(local.message + " It is changed on the server " + where + " too.");
    case ServerChange::NoAccount:
        return Result::Success(local.message + " The server " + where + " has no account " + who +
                               " yet; the next Drive Online makes it with this password.");
    default:
        return Result::Failure(
            Outcome::ServerNotChanged,
            local.message + " It could NOT be changed on the server " + where + ": " + server.why +
                ". The next Drive Online of " + who +
                " will fail until the server has it too: run plconfig --passwd again when the "
                "server can be reached, or ask the site's staff to run pelora-server "
                "--set-password " +
                names::PrintableName(name) + ".");
    }
}

} // namespace plconfig
