// A small blocking TLS client for the server's tests: connects to 127.0.0.1 from a loopback
// address of the test's choosing (127.0.0.2 plays another machine), speaks frames,
// waits for a frame of a given type with a time limit (keeping the frames it passed over), and
// can misbehave on purpose (raw bytes, no handshake, an abrupt close).
#pragma once

#include "protocol/framing.h"
#include "protocol/messages.pb.h"

#include <deque>
#include <openssl/ssl.h>
#include <string>

namespace pelora_test {

namespace pb = pelora::wire;

class WireClient {
public:
    explicit WireClient(int port, std::string from = "127.0.0.1")
        : port_(port), from_(std::move(from)) {}
    ~WireClient();
    WireClient(const WireClient&) = delete;
    WireClient& operator=(const WireClient&) = delete;

    // TCP only (for tests that never shake hands); `receiveBuffer` > 0 sets SO_RCVBUF first.
    bool ConnectTcp(int receiveBuffer = 0);
    // TCP and the TLS handshake. With `caFile`, the server's certificate must verify against
    // it for the name "localhost".
    bool Connect(const std::string& caFile = "", int receiveBuffer = 0);
    // Connect, Hello, and a WELCOME.
    bool ConnectAndGreet();
    // ConnectAndGreet, then log in (creating the account when unknown).
    bool ConnectAs(const std::string& name, const std::string& password);

    bool SendRaw(const std::string& bytes);
    bool Send(wire::FrameType type, const google::protobuf::MessageLite& message);

    // The next frame, from those passed over first; false at the time limit or a close.
    bool Receive(wire::Frame& frame, double seconds = 5);
    // The first frame of the type (earlier ones passed over are kept for later).
    bool ReceiveType(wire::FrameType type, wire::Frame& frame, double seconds = 5);
    template <typename Message>
    bool Expect(wire::FrameType type, Message& message, double seconds = 5) {
        wire::Frame frame;
        return ReceiveType(type, frame, seconds) && message.ParseFromString(frame.payload);
    }
    // True when the server closes the connection within the time (frames before are kept).
    bool WaitForClose(double seconds = 5);

    pb::LoginReply Login(const std::string& name, const std::string& password);
    pb::CreateReply Create(const std::string& name, const std::string& password);
    // All pages of the users list, as their lines.
    std::vector<std::string> UserLines();

    // Closes the socket without a TLS goodbye or logout, as a machine that loses power.
    void Abort();
    int Fd() const { return fd_; }
    std::deque<wire::Frame>& PassedOver() { return passedOver_; }

private:
    bool ReadSome(double seconds);
    bool ReceiveNew(wire::Frame& frame, double seconds);

    int port_;
    std::string from_;
    int fd_ = -1;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    bool closed_ = false;
    wire::FrameDecoder decoder_{wire::Sender::Server};
    std::deque<wire::Frame> passedOver_;
};

// The SHA-256 of the bytes, raw.
std::string Sha256(const std::string& bytes);

} // namespace pelora_test
