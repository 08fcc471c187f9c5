// A connection's I/O: handshake, reading frames, the bounded send queue with its newest-wins
// positions, the deadlines, and closing (see session.h).
#include "session.h"

#include <asio/bind_executor.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>

#include <cmath>

#include "protocol/user_name.h"

namespace server {

namespace pb = pelora::wire;

namespace {

// How long a closing connection waits for its goodbye to leave and the client to hang up.
constexpr auto kLingerTime = std::chrono::seconds(1);
// ...and when it was closed for reading too slowly: its goodbye waits behind what the system
// holds for it already.
constexpr auto kSlowLingerTime = std::chrono::seconds(5);
// Frames gathered into one write.
constexpr std::size_t kWriteBatchBytes = 64 * 1024;
// Reads before and after the login; the largest frame a client may send before its login
// (a Login, CreateAccount and Hello are at most 1 KiB, and a few may come at once).
constexpr std::size_t kPreLoginReadBytes = 2 * 1024;
constexpr std::size_t kReadBytes = 16 * 1024;
constexpr std::size_t kPreLoginFrameBytes = 4 * 1024;
// A write batch's memory kept for the next one.
constexpr std::size_t kKeptWriteBytes = 4 * 1024;
// Events of one kind one session may repeat, logged one by one within a window.
constexpr unsigned kNotesPerWindow = 5;
constexpr auto kNoteWindow = std::chrono::seconds(60);

std::chrono::steady_clock::duration Seconds(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

std::string WholeSeconds(double seconds) {
    return std::to_string(static_cast<long long>(std::ceil(seconds)));
}

} // namespace

Session::Session(ServerContext& context, asio::ip::tcp::socket socket, asio::ssl::context& tls,
                 std::uint64_t id, bool overCapacity)
    : context_(context), stream_(std::move(socket), tls), timer_(stream_.get_executor()),
      relayTimer_(stream_.get_executor()), id_(id), overCapacity_(overCapacity) {
    asio::error_code error;
    auto remote = stream_.lowest_layer().remote_endpoint(error);
    if (!error) {
        address_ = remote.address().to_string();
        peer_ = (remote.address().is_v6() ? "[" + address_ + "]" : address_) + ":" +
                std::to_string(remote.port());
    } else {
        address_ = peer_ = "unknown address";
    }
    stream_.lowest_layer().set_option(asio::ip::tcp::no_delay(true), error);
}

Session::~Session() {
    context_.sessions.Remove(id_);
}

void Session::Start() {
    auto self = shared_from_this();
    asio::post(stream_.get_executor(), [self] {
        self->connectedAt_ = self->phaseStart_ = Clock::now();
        self->context_.log.Debug("connection " + std::to_string(self->id_) + " from " +
                                 self->peer_);
        self->ArmTimer();
        self->stream_.async_handshake(
            asio::ssl::stream_base::server,
            [self](const asio::error_code& error) { self->OnHandshake(error); });
    });
}

void Session::Shutdown(const std::string& reason) {
    auto self = shared_from_this();
    asio::post(stream_.get_executor(), [self, reason] { self->Close("server shutdown", reason); });
}

void Session::OnHandshake(const asio::error_code& error) {
    if (phase_ != Phase::Handshake)
        return;
    if (error) {
        context_.log.Debug("connection " + std::to_string(id_) + " from " + peer_ +
                           ": TLS handshake failed: " + error.message());
        Drop("handshake failed");
        return;
    }
    // The hello's deadline runs from the connection, not from the handshake's end.
    phase_ = Phase::AwaitHello;
    lastReceive_ = Clock::now();
    Read();
}

void Session::Read() {
    if (reading_ || busy_ || phase_ >= Phase::Closing)
        return;
    SizeReadBuffer();
    reading_ = true;
    auto self = shared_from_this();
    stream_.async_read_some(
        asio::buffer(readBuffer_),
        [self](const asio::error_code& error, std::size_t bytes) { self->OnRead(error, bytes); });
}

void Session::OnRead(const asio::error_code& error, std::size_t bytes) {
    reading_ = false;
    if (phase_ == Phase::Closing) {
        // Waiting for the client to hang up after a goodbye: its bytes no longer count.
        if (error)
            Terminate();
        else
            Drain();
        return;
    }
    if (phase_ == Phase::Closed)
        return;
    if (error) {
        Drop(error == asio::error::eof || error == asio::ssl::error::stream_truncated
                 ? "connection closed by the client"
                 : "connection lost (" + error.message() + ")");
        return;
    }
    lastReceive_ = Clock::now();
    decoder_.Feed(readBuffer_.data(), bytes);
    ProcessFrames();
}

void Session::SizeReadBuffer() {
    std::size_t size = loggedInOnce_ ? kReadBytes : kPreLoginReadBytes;
    if (readBuffer_.size() != size) {
        readBuffer_.assign(size, '\0');
        readBuffer_.shrink_to_fit();
    }
}

// Gives back what the connection held: the session object may live on a little while the
// last handlers run, its buffers need not.
void Session::ReleaseBuffers() {
    decoder_ = wire::FrameDecoder(wire::Sender::Client);
    std::deque<std::string>().swap(queue_);
    queuedBytes_ = 0;
    if (!reading_)
        std::vector<char>().swap(readBuffer_);
}

// Takes whole frames until one needs a worker, the bytes run out, or the session closes.
void Session::ProcessFrames() {
    bool tookFrame = false;
    while (!busy_ && phase_ < Phase::Closing) {
        wire::Frame frame;
        switch (decoder_.Next(frame)) {
        case wire::FrameDecoder::Status::NeedMore:
            TimeFrame(tookFrame);
            Read();
            return;
        case wire::FrameDecoder::Status::Error: {
            std::string text = decoder_.ErrorText();
            requestId_ = 0;
            Refusal("frame", "bad frame from " + Who() + ": " + text + "; connection closed");
            pb::ErrorReply reply;
            reply.set_code(pb::ErrorReply::FRAME_ERROR);
            reply.set_message("The server could not read the data sent (" + text + ").");
            reply.set_closing(true);
            Send(wire::FrameType::ErrorReply, reply);
            Close("bad frame", "");
            return;
        }
        case wire::FrameDecoder::Status::Ready:
            tookFrame = true;
            requestId_ = wire::RequestIdOf(frame);
            Handle(frame);
            break;
        }
    }
}

// Starts the clock of a frame whose first bytes have come (a new one when a frame was just
// taken), or stops it when no part of a frame waits.
void Session::TimeFrame(bool tookFrame) {
    if (!loggedInOnce_ && decoder_.Buffered() > kPreLoginFrameBytes) {
        // Nothing a client sends before its login is this large: not worth buffering.
        Refusal("frame", "a large frame from " + peer_ + " before a login; connection closed");
        pb::ErrorReply reply;
        reply.set_code(pb::ErrorReply::FRAME_ERROR);
        reply.set_message("The server takes no message this large before a login.");
        reply.set_closing(true);
        Send(wire::FrameType::ErrorReply, reply);
        Close("large frame before login", "");
        return;
    }
    bool pending = decoder_.Buffered() > 0;
    if (pending && (!framePending_ || tookFrame)) {
        framePending_ = true;
        frameStart_ = lastReceive_;
        if (phase_ == Phase::Ready)
            ArmTimer();
    } else if (!pending) {
        framePending_ = false;
    }
}

bool Session::Send(wire::FrameType type, const google::protobuf::MessageLite& message) {
    if (phase_ == Phase::Closed || flushThenEnd_)
        return false;
    std::string frame;
    // A reply echoes the id of the request it answers: frames wait while a request is
    // worked on, so the request being answered is always the last one taken.
    if (!wire::AppendMessage(frame, type, message, requestId_)) {
        context_.log.Error("could not encode a " +
                           wire::FrameTypeName(static_cast<std::uint16_t>(type)) + " for " + Who());
        return false;
    }
    if (queuedBytes_ + frame.size() > context_.options.maxSendQueueBytes) {
        Refusal("slow", Who() + " does not read fast enough; connection closed");
        // What waits is lost with the connection anyway: the goodbye goes next, so a reader
        // that is merely slow still gets it before the linger time ends.
        queue_.clear();
        queuedBytes_ = 0;
        slowReader_ = true;
        Close("too slow", "The connection did not take the server's messages fast enough.");
        return false;
    }
    queuedBytes_ += frame.size();
    queue_.push_back(std::move(frame));
    Flush();
    return true;
}

// Starts a write of the queued frames and then of what waits for the relay, when none is under
// way. The relay goes after the queue, so the reply to a join precedes the members' news.
void Session::Flush() {
    if (!writing_.empty() || phase_ == Phase::Closed)
        return;
    while (!queue_.empty() && writing_.size() < kWriteBatchBytes) {
        queuedBytes_ -= queue_.front().size();
        writing_ += queue_.front();
        queue_.pop_front();
    }
    if (RelayWaiting() && !flushThenEnd_ && RelayDue())
        AppendRelay(writing_);
    if (writing_.empty()) {
        ScheduleRelay(); // what waits for its turn
        if (flushThenEnd_ && phase_ == Phase::Closing) {
            // The goodbye is out: hang up our side and wait for the client's.
            asio::error_code ignored;
            stream_.lowest_layer().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
            Drain();
        }
        return;
    }
    auto self = shared_from_this();
    asio::async_write(
        stream_, asio::buffer(writing_),
        [self](const asio::error_code& error, std::size_t) { self->OnWritten(error); });
}

void Session::OnWritten(const asio::error_code& error) {
    // A large batch's memory goes back; a small one's is kept for the next.
    if (writing_.capacity() > kKeptWriteBytes || phase_ == Phase::Closed)
        std::string().swap(writing_);
    else
        writing_.clear();
    if (phase_ == Phase::Closed)
        return;
    if (error) {
        if (phase_ == Phase::Closing)
            Terminate();
        else
            Drop("connection lost while sending (" + error.message() + ")");
        return;
    }
    Flush();
}

void Session::ArmTimer() {
    Clock::time_point deadline;
    switch (phase_) {
    case Phase::Handshake:
    case Phase::AwaitHello:
        deadline = connectedAt_ + Seconds(context_.options.handshakeTimeout);
        break;
    case Phase::Ready:
        deadline = lastReceive_ + Seconds(context_.options.idleTimeout);
        if (!loggedInOnce_)
            deadline = std::min(deadline, connectedAt_ + Seconds(context_.options.loginTimeout));
        if (framePending_)
            deadline = std::min(deadline, frameStart_ + Seconds(context_.options.frameTimeout));
        break;
    case Phase::Closing:
        deadline = phaseStart_ + (slowReader_ ? kSlowLingerTime : kLingerTime);
        break;
    case Phase::Closed:
        return;
    }
    timer_.expires_at(deadline);
    auto self = shared_from_this();
    timer_.async_wait([self](const asio::error_code& error) { self->OnTimer(error); });
}

void Session::OnTimer(const asio::error_code& error) {
    if (error == asio::error::operation_aborted || phase_ == Phase::Closed)
        return;
    Clock::time_point now = Clock::now();
    switch (phase_) {
    case Phase::Handshake:
        if (now - connectedAt_ >= Seconds(context_.options.handshakeTimeout)) {
            Refusal("handshake", "no TLS handshake from " + peer_ + " in time; connection closed");
            Drop("handshake not finished in time");
            return;
        }
        break;
    case Phase::AwaitHello:
        if (now - connectedAt_ >= Seconds(context_.options.handshakeTimeout)) {
            Refusal("hello", "no hello from " + peer_ + " in time; connection closed");
            Drop("no hello in time");
            return;
        }
        break;
    case Phase::Ready:
        // The clocks do not run while a worker has the session's request.
        if (busy_) {
            lastReceive_ = now;
            if (framePending_)
                frameStart_ = now;
        } else if (!loggedInOnce_ && now - connectedAt_ >= Seconds(context_.options.loginTimeout)) {
            Refusal("login-time", "no login from " + peer_ + " in time; connection closed");
            Close("no login in time", "No login arrived within " +
                                          WholeSeconds(context_.options.loginTimeout) +
                                          " seconds of connecting: timed out.");
            return;
        } else if (framePending_ && now - frameStart_ >= Seconds(context_.options.frameTimeout)) {
            Refusal("frame-time",
                    "a message from " + Who() + " did not arrive whole in time; connection closed");
            Close("message not finished in time", "A message did not arrive whole within " +
                                                      WholeSeconds(context_.options.frameTimeout) +
                                                      " seconds: timed out.");
            return;
        } else if (now - lastReceive_ >= Seconds(context_.options.idleTimeout)) {
            Close("idle time-out", "Nothing arrived from the client for " +
                                       WholeSeconds(context_.options.idleTimeout) +
                                       " seconds: timed out.");
            return;
        }
        break;
    case Phase::Closing:
        Terminate();
        return;
    case Phase::Closed:
        return;
    }
    ArmTimer();
}

// Ends the session: leaves its world, ends its login, drops a transfer, then says goodbye (when
// `goodbye` is not empty) and closes once that is sent or the linger time is over.
void Session::Close(const std::string& why, const std::string& goodbye) {
    if (phase_ >= Phase::Closing)
        return;
    EndLogin(why);
    incoming_.reset();
    ForgetRelay();
    if (!goodbye.empty()) {
        // Past the queue's bound if need be: it is the last frame, and a small one.
        pb::Goodbye message;
        message.set_reason(goodbye);
        std::string frame;
        if (wire::AppendMessage(frame, wire::FrameType::Goodbye, message)) {
            queuedBytes_ += frame.size();
            queue_.push_back(std::move(frame));
        }
    }
    SummariseRefusals();
    phase_ = Phase::Closing;
    phaseStart_ = Clock::now();
    flushThenEnd_ = true;
    timer_.cancel();
    ArmTimer();
    Flush();
    // What still comes is read and dropped meanwhile: a client blocked sending reaches its
    // reading, and so the goodbye.
    Drain();
}

// Closes at once, without a goodbye: the client is gone or not worth waiting for.
void Session::Drop(const std::string& why) {
    if (phase_ == Phase::Closed)
        return;
    if (phase_ < Phase::Closing)
        EndLogin(why);
    incoming_.reset();
    Terminate();
}

void Session::Terminate() {
    if (phase_ == Phase::Closed)
        return;
    phase_ = Phase::Closed;
    queue_.clear();
    ForgetRelay();
    timer_.cancel();
    relayTimer_.cancel();
    asio::error_code ignored;
    stream_.lowest_layer().close(ignored);
    ReleaseBuffers();
    SummariseRefusals();
    context_.log.Debug("connection " + std::to_string(id_) + " from " + peer_ + " closed");
}

// Reads and discards until the client hangs up (or the linger timer ends it).
void Session::Drain() {
    if (reading_ || phase_ != Phase::Closing)
        return;
    SizeReadBuffer();
    reading_ = true;
    auto self = shared_from_this();
    stream_.next_layer().async_read_some(
        asio::buffer(readBuffer_),
        [self](const asio::error_code& error, std::size_t bytes) { self->OnRead(error, bytes); });
}

std::string Session::Who() const {
    if (account_.empty())
        return peer_;
    return LogQuoted(account_) + " (" + peer_ + ")";
}

void Session::Refusal(const std::string& kind, const std::string& text) {
    if (++refusals_[kind] == 1)
        context_.log.Info(text);
}

void Session::Note(const std::string& kind, const std::string& text) {
    Clock::time_point now = Clock::now();
    auto [at, added] = notes_.try_emplace(kind);
    Repeats& repeats = at->second;
    if (added || now - repeats.since >= kNoteWindow) {
        SummariseNotes(false);
        repeats.since = now;
        repeats.logged = 0;
    }
    if (repeats.logged < kNotesPerWindow) {
        ++repeats.logged;
        context_.log.Info(text);
    } else {
        ++repeats.unlogged;
    }
}

// The counts of events not logged: those of windows that are over, or all as the session ends.
void Session::SummariseNotes(bool all) {
    Clock::time_point now = Clock::now();
    for (auto& [kind, repeats] : notes_) {
        if (repeats.unlogged == 0 || (!all && now - repeats.since < kNoteWindow))
            continue;
        context_.log.Info("connection " + std::to_string(id_) + " from " + Who() + ": " +
                          std::to_string(repeats.unlogged) + " more events of the kind \"" + kind +
                          "\" were not logged");
        repeats.unlogged = 0;
    }
}

bool Session::WithinBudget(RequestBudget& budget, const char* what, std::uint16_t frameType) {
    double wait = budget.Take(Clock::now());
    if (wait <= 0)
        return true;
    auto seconds = std::max(1, static_cast<int>(std::ceil(wait)));
    // Counted as a fault: a client that keeps asking past its budget is closed.
    Fault(pb::ErrorReply::BUSY, frameType,
          std::string("Too many ") + what + " requests on this connection; please wait " +
              std::to_string(seconds) + (seconds == 1 ? " second." : " seconds."));
    return false;
}

// Once, as the connection ends: how many refusals were counted but not logged.
void Session::SummariseRefusals() {
    SummariseNotes(true);
    notes_.clear();
    for (const auto& [kind, count] : refusals_)
        if (count > 1)
            context_.log.Info("connection " + std::to_string(id_) + " from " + peer_ + ": " +
                              std::to_string(count - 1) + " more refusals of the kind \"" + kind +
                              "\" were not logged");
    refusals_.clear();
}

} // namespace server
