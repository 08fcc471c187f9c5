// The tests' blocking TLS client (see wire_client.h).
#include "wire_client.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pelora_test {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsLeft(Clock::time_point deadline) {
    return std::chrono::duration<double>(deadline - Clock::now()).count();
}

} // namespace

std::string Sha256(const std::string& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    EVP_Digest(bytes.data(), bytes.size(), digest, nullptr, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

WireClient::~WireClient() {
    if (ssl_)
        SSL_free(ssl_);
    if (context_)
        SSL_CTX_free(context_);
    if (fd_ >= 0)
        ::close(fd_);
}

bool WireClient::ConnectTcp(int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return false;
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A backstop: no blocking call of a test waits for ever.
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    if (::inet_pton(AF_INET, from_.c_str(), &source.sin_addr) != 1 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool WireClient::Connect(const std::string& caFile, int receiveBuffer) {
    if (!ConnectTcp(receiveBuffer))
        return false;
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_)
        return false;
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    if (!caFile.empty()) {
        if (SSL_CTX_load_verify_locations(context_, caFile.c_str(), nullptr) != 1)
            return false;
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    }
    ssl_ = SSL_new(context_);
    if (!ssl_)
        return false;
    if (!caFile.empty()) {
        SSL_set_tlsext_host_name(ssl_, "localhost");
        SSL_set1_host(ssl_, "localhost");
    }
    SSL_set_fd(ssl_, fd_);
    bool ok = SSL_connect(ssl_) == 1;
    ERR_clear_error();
    return ok;
}

bool WireClient::ConnectAndGreet() {
    if (!Connect())
        return false;
    pb::Hello hello;
    hello.set_protocol_version(wire::kProtocolVersion);
    hello.set_client("server tests");
    pb::HelloReply reply;
    return Send(wire::FrameType::Hello, hello) && Expect(wire::FrameType::HelloReply, reply) &&
           reply.result() == pb::HelloReply::WELCOME;
}

bool WireClient::ConnectAs(const std::string& name, const std::string& password) {
    if (!ConnectAndGreet())
        return false;
    pb::LoginReply reply = Login(name, password);
    if (reply.result() == pb::LoginReply::UNKNOWN_USER) {
        if (Create(name, password).result() != pb::CreateReply::CREATED)
            return false;
        reply = Login(name, password);
    }
    return reply.result() == pb::LoginReply::LOGGED_IN;
}

bool WireClient::SendRaw(const std::string& bytes) {
    if (closed_)
        return false;
    std::size_t at = 0;
    while (at < bytes.size()) {
        int wrote =
            ssl_
                ? SSL_write(ssl_, bytes.data() + at, static_cast<int>(bytes.size() - at))
                : static_cast<int>(::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL));
        if (wrote <= 0) {
            ERR_clear_error();
            return false;
        }
        at += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool WireClient::Send(wire::FrameType type, const google::protobuf::MessageLite& message) {
    std::string bytes;
    return wire::AppendMessage(bytes, type, message) && SendRaw(bytes);
}

// Reads what is there (waiting up to `seconds` for something); false at a close or error.
bool WireClient::ReadSome(double seconds) {
    if (closed_)
        return false;
    if (!ssl_ || SSL_pending(ssl_) == 0) {
        pollfd wait{fd_, POLLIN, 0};
        int timeout = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000) + 1;
        if (::poll(&wait, 1, timeout) <= 0)
            return true; // nothing yet
    }
    char buffer[16 * 1024];
    int got = ssl_ ? SSL_read(ssl_, buffer, sizeof buffer)
                   : static_cast<int>(::recv(fd_, buffer, sizeof buffer, 0));
    if (got <= 0) {
        ERR_clear_error();
        closed_ = true;
        return false;
    }
    decoder_.Feed(buffer, static_cast<std::size_t>(got));
    return true;
}

bool WireClient::Receive(wire::Frame& frame, double seconds) {
    if (!passedOver_.empty()) {
        frame = std::move(passedOver_.front());
        passedOver_.pop_front();
        return true;
    }
    return ReceiveNew(frame, seconds);
}

bool WireClient::ReceiveNew(wire::Frame& frame, double seconds) {
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
    for (;;) {
        auto status = decoder_.Next(frame);
        if (status == wire::FrameDecoder::Status::Ready)
            return true;
        if (status == wire::FrameDecoder::Status::Error)
            return false;
        double left = SecondsLeft(deadline);
        if (left <= 0 || !ReadSome(left))
            return false;
    }
}

bool WireClient::ReceiveType(wire::FrameType type, wire::Frame& frame, double seconds) {
    for (auto it = passedOver_.begin(); it != passedOver_.end(); ++it) {
        if (it->Type() == type) {
            frame = std::move(*it);
            passedOver_.erase(it);
            return true;
        }
    }
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
    for (;;) {
        double left = SecondsLeft(deadline);
        wire::Frame next;
        if (left <= 0 || !ReceiveNew(next, left))
            return false;
        if (next.Type() == type) {
            frame = std::move(next);
            return true;
        }
        passedOver_.push_back(std::move(next));
    }
}

bool WireClient::WaitForClose(double seconds) {
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
    while (!closed_) {
        double left = SecondsLeft(deadline);
        if (left <= 0)
            return false;
        if (!ReadSome(left))
            break;
        wire::Frame frame;
        while (decoder_.Next(frame) == wire::FrameDecoder::Status::Ready)
            passedOver_.push_back(std::move(frame));
    }
    return true;
}

pb::LoginReply WireClient::Login(const std::string& name, const std::string& password) {
    pb::Login login;
    login.set_name(name);
    login.set_password(password);
    pb::LoginReply reply;
    if (!Send(wire::FrameType::Login, login) || !Expect(wire::FrameType::LoginReply, reply))
        reply.Clear();
    return reply;
}

pb::CreateReply WireClient::Create(const std::string& name, const std::string& password) {
    pb::CreateAccount create;
    create.set_name(name);
    create.set_password(password);
    pb::CreateReply reply;
    if (!Send(wire::FrameType::CreateAccount, create) ||
        !Expect(wire::FrameType::CreateReply, reply))
        reply.Clear();
    return reply;
}

std::vector<std::string> WireClient::UserLines() {
    std::vector<std::string> lines;
    if (!Send(wire::FrameType::UsersRequest, pb::UsersRequest()))
        return lines;
    for (;;) {
        pb::UsersReply page;
        if (!Expect(wire::FrameType::UsersReply, page))
            return lines;
        for (const auto& user : page.users())
            lines.push_back(user.line());
        if (page.last())
            return lines;
    }
}

void WireClient::Abort() {
    if (fd_ >= 0) {
        linger hard{1, 0}; // a reset, no orderly close
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd_);
        fd_ = -1;
    }
    closed_ = true;
}

} // namespace pelora_test
