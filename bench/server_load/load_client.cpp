// The load tool's simulated launcher (see load_client.h).
#include "load_client.h"

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>
#include <asio/write.hpp>
#include <cstdlib>
#include <openssl/evp.h>

namespace load {

namespace pb = pelora::wire;
using asio::awaitable;
using asio::use_awaitable;
using wire::FrameType;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

std::string Sha256(const std::string& bytes) {
    unsigned char digest[32];
    EVP_Digest(bytes.data(), bytes.size(), digest, nullptr, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

std::chrono::steady_clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

} // namespace

LoadClient::LoadClient(asio::any_io_executor strand, asio::ssl::context& tls, int index,
                       const Settings& settings, std::string fileBytes)
    : strand_(strand), stream_(strand, tls), signal_(strand), pinger_(strand), index_(index),
      settings_(settings), name_("load" + std::to_string(index)), file_(std::move(fileBytes)) {}

bool LoadClient::Fail(const std::string& why) {
    if (failure.empty())
        failure = name_ + ": " + why;
    Close();
    return false;
}

void LoadClient::Close() {
    if (closed_)
        return;
    closed_ = true;
    asio::error_code ignored;
    stream_.lowest_layer().close(ignored);
    signal_.cancel();
    pinger_.cancel();
}

void LoadClient::Send(FrameType type, const google::protobuf::MessageLite& message) {
    if (closed_)
        return;
    std::string frame;
    wire::AppendMessage(frame, type, message);
    out_.push_back(std::move(frame));
    Write();
}

void LoadClient::Write() {
    if (writing_ || out_.empty() || closed_)
        return;
    writing_ = true;
    auto self = shared_from_this();
    asio::async_write(stream_, asio::buffer(out_.front()),
                      [self](const asio::error_code& error, std::size_t) {
                          self->writing_ = false;
                          self->out_.pop_front();
                          if (error) {
                              self->Fail("write: " + error.message());
                              return;
                          }
                          self->Write();
                      });
}

awaitable<void> LoadClient::ReadLoop() {
    auto self = shared_from_this();
    char buffer[16 * 1024];
    while (!closed_) {
        asio::error_code error;
        std::size_t got = co_await stream_.async_read_some(
            asio::buffer(buffer), asio::redirect_error(use_awaitable, error));
        if (error) {
            if (!closed_)
                Fail("read: " + error.message());
            co_return;
        }
        double now = Now();
        decoder_.Feed(buffer, got);
        wire::Frame frame;
        wire::FrameDecoder::Status status;
        while ((status = decoder_.Next(frame)) == wire::FrameDecoder::Status::Ready) {
            switch (frame.Type()) {
            case FrameType::Positions: {
                pb::Positions positions;
                if (driving_ && positions.ParseFromString(frame.payload))
                    for (const auto& entry : positions.positions()) {
                        double took = now - entry.position().time();
                        samples.relay.push_back(took);
                        auto sender = memberIndex_.find(entry.id());
                        if (sender != memberIndex_.end() &&
                            sender->second % settings_.instances != index_ % settings_.instances)
                            samples.relayAcross.push_back(took);
                        else
                            samples.relayWithin.push_back(took);
                    }
                break;
            }
            case FrameType::MemberJoined: {
                pb::MemberJoined joined;
                if (joined.ParseFromString(frame.payload))
                    NoteMember(joined.member());
                break;
            }
            case FrameType::Pong:
            case FrameType::MemberLeft:
                break;
            case FrameType::Goodbye:
                Fail("the server said goodbye");
                co_return;
            default:
                replies_.push_back(std::move(frame));
                signal_.cancel();
            }
        }
        if (status == wire::FrameDecoder::Status::Error) {
            Fail("bad frame: " + decoder_.ErrorText());
            co_return;
        }
    }
}

awaitable<void> LoadClient::PingLoop() {
    auto self = shared_from_this();
    std::uint64_t token = 0;
    while (!closed_) {
        pinger_.expires_after(Seconds(pingInterval_));
        asio::error_code error;
        co_await pinger_.async_wait(asio::redirect_error(use_awaitable, error));
        if (error || closed_)
            co_return;
        pb::Ping ping;
        ping.set_token(++token);
        Send(FrameType::Ping, ping);
    }
}

awaitable<std::optional<wire::Frame>> LoadClient::Await(FrameType type, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + Seconds(seconds);
    for (;;) {
        if (!replies_.empty()) {
            wire::Frame frame = std::move(replies_.front());
            replies_.pop_front();
            if (frame.Type() != type) {
                Fail("expected " + wire::FrameTypeName(static_cast<std::uint16_t>(type)) +
                     ", got " + wire::FrameTypeName(frame.type));
                co_return std::nullopt;
            }
            co_return frame;
        }
        if (closed_ || std::chrono::steady_clock::now() >= deadline) {
            Fail("no " + wire::FrameTypeName(static_cast<std::uint16_t>(type)) + " in time");
            co_return std::nullopt;
        }
        signal_.expires_at(deadline);
        asio::error_code error;
        co_await signal_.async_wait(asio::redirect_error(use_awaitable, error));
    }
}

template <typename Message>
awaitable<bool> LoadClient::Request(const char* kind, FrameType type,
                                    const google::protobuf::MessageLite& request,
                                    FrameType replyType, Message& reply) {
    double start = Now();
    Send(type, request);
    auto frame = co_await Await(replyType);
    if (!frame || !reply.ParseFromString(frame->payload))
        co_return Fail(std::string(kind) + ": no reply");
    samples.latency[kind].push_back(Now() - start);
    co_return true;
}

awaitable<bool> LoadClient::Connect(asio::ip::tcp::endpoint server) {
    double start = Now();
    asio::error_code error;
    co_await stream_.lowest_layer().async_connect(server,
                                                  asio::redirect_error(use_awaitable, error));
    if (!error) {
        stream_.lowest_layer().set_option(asio::ip::tcp::no_delay(true), error);
        co_await stream_.async_handshake(asio::ssl::stream_base::client,
                                         asio::redirect_error(use_awaitable, error));
    }
    if (error)
        co_return Fail("connect: " + error.message());
    samples.latency["connect (TCP+TLS)"].push_back(Now() - start);
    asio::co_spawn(strand_, ReadLoop(), asio::detached);

    pb::Hello hello;
    hello.set_protocol_version(wire::kProtocolVersion);
    hello.set_client("pelora load tool");
    pb::HelloReply welcome;
    if (!co_await Request("hello", FrameType::Hello, hello, FrameType::HelloReply, welcome))
        co_return false;
    if (welcome.result() != pb::HelloReply::WELCOME)
        co_return Fail("hello refused: " + welcome.message());
    if (welcome.ping_interval_seconds() > 0)
        pingInterval_ = welcome.ping_interval_seconds();
    asio::co_spawn(strand_, PingLoop(), asio::detached);
    co_return true;
}

awaitable<bool> LoadClient::Create() {
    pb::CreateAccount create;
    create.set_name(name_);
    create.set_password("load-password-" + std::to_string(index_));
    pb::CreateReply reply;
    if (!co_await Request("create account", FrameType::CreateAccount, create,
                          FrameType::CreateReply, reply))
        co_return false;
    // A second run against the same server finds the accounts there.
    if (reply.result() != pb::CreateReply::CREATED && reply.result() != pb::CreateReply::NAME_TAKEN)
        co_return Fail("create refused: " + reply.message());
    co_return true;
}

awaitable<bool> LoadClient::Login() {
    pb::Login login;
    login.set_name(name_);
    login.set_password("load-password-" + std::to_string(index_));
    pb::LoginReply reply;
    if (!co_await Request("login", FrameType::Login, login, FrameType::LoginReply, reply))
        co_return false;
    if (reply.result() != pb::LoginReply::LOGGED_IN)
        co_return Fail("login refused: " + reply.message());
    co_return true;
}

awaitable<bool> LoadClient::Users() {
    double start = Now();
    Send(FrameType::UsersRequest, pb::UsersRequest());
    for (;;) {
        auto frame = co_await Await(FrameType::UsersReply);
        pb::UsersReply page;
        if (!frame || !page.ParseFromString(frame->payload))
            co_return Fail("users: no reply");
        if (page.last())
            break;
    }
    samples.latency["users (all pages)"].push_back(Now() - start);
    co_return true;
}

awaitable<bool> LoadClient::Join() {
    pb::Join join;
    join.set_world("Load world " + std::to_string(index_ / settings_.worldSize));
    join.set_vehicle("Wheelchair");
    join.set_colour(index_ % 2 ? "Red" : "Blue");
    join.set_gender(index_ % 2 ? "female" : "male");
    pb::JoinReply reply;
    if (!co_await Request("join", FrameType::Join, join, FrameType::JoinReply, reply))
        co_return false;
    if (reply.result() != pb::JoinReply::JOINED)
        co_return Fail("join refused: " + reply.message());
    for (const auto& member : reply.members())
        NoteMember(member);
    co_return true;
}

// Members are named "load<index>": the index tells which instance the member's client is on.
void LoadClient::NoteMember(const pb::Member& member) {
    if (member.name().rfind("load", 0) == 0)
        memberIndex_[member.id()] = std::atoi(member.name().c_str() + 4);
}

awaitable<bool> LoadClient::Drive() {
    driving_ = true;
    asio::steady_timer tick(strand_);
    double period = 1.0 / settings_.rate;
    // Spread the clients' ticks over one period, as launchers would be.
    auto next = std::chrono::steady_clock::now() + Seconds(period * (index_ % 97) / 97.0);
    for (int i = 0; i < settings_.positions && !closed_; ++i) {
        tick.expires_at(next);
        asio::error_code error;
        co_await tick.async_wait(asio::redirect_error(use_awaitable, error));
        pb::Position position;
        position.set_x(static_cast<float>(i));
        position.set_y(static_cast<float>(index_));
        position.set_heading(static_cast<float>(i % 360));
        position.set_time(Now());
        Send(FrameType::Position, position);
        next += Seconds(period);
    }
    // The last positions of the others are still on their way.
    tick.expires_after(std::chrono::seconds(1));
    asio::error_code error;
    co_await tick.async_wait(asio::redirect_error(use_awaitable, error));
    driving_ = false;
    co_return !closed_ || Fail("lost while driving");
}

awaitable<bool> LoadClient::Leave() {
    pb::LeaveReply reply;
    co_return co_await Request("leave", FrameType::Leave, pb::Leave(), FrameType::LeaveReply,
                               reply);
}

awaitable<bool> LoadClient::SendFile() {
    double start = Now();
    pb::FileOffer offer;
    offer.set_name("data-load-" + std::to_string(index_) + ".txt.sealed");
    offer.set_size(file_.size());
    offer.set_sha256(Sha256(file_));
    Send(FrameType::FileOffer, offer);
    auto frame = co_await Await(FrameType::FileReply);
    pb::FileReply reply;
    if (!frame || !reply.ParseFromString(frame->payload))
        co_return Fail("file: no reply to the offer");
    if (reply.result() == pb::FileReply::SEND) {
        std::size_t chunk = reply.max_chunk_bytes() ? reply.max_chunk_bytes() : 65536;
        for (std::size_t at = 0; at < file_.size(); at += chunk) {
            pb::FileChunk message;
            message.set_offset(at);
            message.set_data(file_.substr(at, chunk));
            Send(FrameType::FileChunk, message);
        }
        frame = co_await Await(FrameType::FileReply);
        if (!frame || !reply.ParseFromString(frame->payload))
            co_return Fail("file: no reply to the chunks");
    }
    if (reply.result() != pb::FileReply::STORED && reply.result() != pb::FileReply::ALREADY_STORED)
        co_return Fail("file refused: " + reply.message());
    samples.latency["file (offer to stored)"].push_back(Now() - start);
    co_return true;
}

awaitable<bool> LoadClient::Logout() {
    pb::LogoutReply reply;
    bool ok =
        co_await Request("logout", FrameType::Logout, pb::Logout(), FrameType::LogoutReply, reply);
    Close();
    co_return ok;
}

} // namespace load
