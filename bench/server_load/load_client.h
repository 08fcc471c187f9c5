// One simulated launcher of the load tool: a TLS connection to the server on its own strand,
// a reader that takes every frame (positions are timed as they arrive, replies are handed to
// the step waiting for them), a bounded write queue, a keep-alive ping, and the steps of a
// launcher's session as coroutines, each timing its request.
#pragma once

#include "protocol/framing.h"
#include "protocol/messages.pb.h"

#include <asio/awaitable.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace load {

struct Settings {
    int clients = 1000;
    int worldSize = 10;
    int positions = 50; // per client
    double rate = 5;    // positions per second per client
    std::size_t fileBytes = 64 * 1024;
    // Server instances the clients are spread over, client i on instance i % instances.
    int instances = 1;
};

// What one client measured; merged by the tool at the end.
struct Samples {
    std::map<std::string, std::vector<double>> latency; // seconds, by request kind
    std::vector<double> relay;                          // seconds, send to receipt
    std::vector<double> relayWithin; // of those, the ones from a client on the same instance
    std::vector<double> relayAcross; // and the ones from a client on another instance
};

// Seconds on the steady clock, the time base positions carry (one process, one clock).
double Now();

class LoadClient : public std::enable_shared_from_this<LoadClient> {
public:
    LoadClient(asio::any_io_executor strand, asio::ssl::context& tls, int index,
               const Settings& settings, std::string fileBytes);

    asio::any_io_executor Executor() const { return strand_; }
    const std::string& Name() const { return name_; }

    asio::awaitable<bool> Connect(asio::ip::tcp::endpoint server);
    asio::awaitable<bool> Create();
    asio::awaitable<bool> Login();
    asio::awaitable<bool> Users();
    asio::awaitable<bool> Join();
    asio::awaitable<bool> Drive();
    asio::awaitable<bool> Leave();
    asio::awaitable<bool> SendFile();
    asio::awaitable<bool> Logout();
    void Close();

    Samples samples;
    std::string failure;

private:
    asio::awaitable<void> ReadLoop();
    asio::awaitable<void> PingLoop();
    void Send(wire::FrameType type, const google::protobuf::MessageLite& message);
    void Write();
    asio::awaitable<std::optional<wire::Frame>> Await(wire::FrameType type, double seconds = 600);
    template <typename Message>
    asio::awaitable<bool> Request(const char* kind, wire::FrameType type,
                                  const google::protobuf::MessageLite& request,
                                  wire::FrameType replyType, Message& reply);
    bool Fail(const std::string& why);

    asio::any_io_executor strand_;
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
    asio::steady_timer signal_;
    asio::steady_timer pinger_;
    int index_;
    Settings settings_;
    std::string name_;
    std::string file_;
    wire::FrameDecoder decoder_{wire::Sender::Server};
    std::deque<wire::Frame> replies_;
    std::deque<std::string> out_;
    bool writing_ = false;
    bool closed_ = false;
    bool driving_ = false;
    double pingInterval_ = 10;
    std::map<std::uint32_t, int> memberIndex_; // world member id -> the sending client's index
    void NoteMember(const pelora::wire::Member& member);
};

} // namespace load
