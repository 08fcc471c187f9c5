// One client connection: its TLS stream, its buffers and its state, on its own strand. What the
// session accepts next depends on its state (handshake, hello, logged in or not, in a world,
// sending a file); anything else is answered with an error, never guessed at. Slow work
// (password hashes, disk) goes to the worker pool while the session stops reading, and its
// result comes back to the strand. Outgoing frames wait in a queue bounded in bytes; the
// changes of the world's membership and the positions of other members wait apart and go out
// together at most once per relay interval (a member that came and went within one is never
// announced; positions newest first, one per member), so a slow reader holds at most one entry
// per member and never a growing backlog. Each kind of request has a budget over time.
#pragma once

#include "request_budget.h"
#include "server_context.h"

#include "protocol/framing.h"
#include "protocol/messages.pb.h"

#include <asio/ip/tcp.hpp>
#include <asio/ssl.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace server {

class Session : public WorldListener, public std::enable_shared_from_this<Session> {
public:
    using Stream = asio::ssl::stream<asio::ip::tcp::socket>;
    using Clock = std::chrono::steady_clock;

    // `overCapacity`: the server has its most connections; the session only tells the client
    // so and closes.
    Session(ServerContext& context, asio::ip::tcp::socket socket, asio::ssl::context& tls,
            std::uint64_t id, bool overCapacity);
    ~Session() override;

    void Start();
    // From any thread: says goodbye with the reason and closes.
    void Shutdown(const std::string& reason);

    std::uint64_t Id() const { return id_; }

    // From any thread: the users online changed (`cause`: the session whose change alone it
    // was, 0 for several). Told to the client when it watches the list and is not the cause.
    void UsersChanged(std::uint64_t cause);

    // WorldListener: from any thread; posted to the strand.
    void MemberJoined(std::uint32_t to, const pelora::wire::Member& member) override;
    void MemberLeft(std::uint32_t to, std::uint32_t id, const std::string& name) override;
    void PositionOf(std::uint32_t to, std::uint32_t id,
                    const pelora::wire::Position& position) override;

private:
    enum class Phase { Handshake, AwaitHello, Ready, Closing, Closed };

    // I/O (session.cpp)
    void OnHandshake(const asio::error_code& error);
    void Read();
    void OnRead(const asio::error_code& error, std::size_t bytes);
    void ProcessFrames();
    void TimeFrame(bool tookFrame);
    void SizeReadBuffer();
    void ReleaseBuffers();
    bool Send(wire::FrameType type, const google::protobuf::MessageLite& message);
    void Flush();
    void OnWritten(const asio::error_code& error);
    void ArmTimer();
    void OnTimer(const asio::error_code& error);
    void Close(const std::string& why, const std::string& goodbye);
    void Drop(const std::string& why);
    void Terminate();
    void Drain();

    // Relay of other members' arrivals, departures and positions (session_relay.cpp)
    void TakePositions();
    void ScheduleRelay();
    bool RelayDue() const;
    bool RelayWaiting() const;
    void AppendRelay(std::string& out);
    void ForgetPositions(std::uint32_t member);
    void ForgetRelay();

    // Requests (session_requests.cpp, session_files.cpp)
    void Handle(const wire::Frame& frame);
    template <typename Message> bool Parse(const wire::Frame& frame, Message& message);
    template <typename Work, typename Done>
    void Offload(Work work, Done done, asio::thread_pool* pool = nullptr);
    void OnHello(const wire::Frame& frame);
    void OnCreateAccount(const wire::Frame& frame);
    void OnLogin(const wire::Frame& frame);
    void OnChangePassword(const wire::Frame& frame);
    void FinishLogin(const std::string& name, bool guest);
    void OnLogout();
    void OnUsers(const wire::Frame& frame);
    void OnJoin(const wire::Frame& frame);
    void OnPosition(const wire::Frame& frame);
    void OnLeave();
    void OnFileOffer(const wire::Frame& frame);
    void OnFileChunk(const wire::Frame& frame);
    void OnFileCancel();
    bool NeedLogin(const wire::Frame& frame);
    void LeaveWorld();
    void EndLogin(const std::string& how);
    void Fault(pelora::wire::ErrorReply::Code code, std::uint16_t frameType,
               const std::string& message);
    // Logs a refusal the first time its kind occurs on this connection, then only counts it.
    void Refusal(const std::string& kind, const std::string& text);
    void SummariseRefusals();
    // Logs an event one session may repeat (joins, leaves): a few of each kind a minute, the
    // rest counted and summed up in one line.
    void Note(const std::string& kind, const std::string& text);
    void SummariseNotes(bool all);
    // False, with a refusal sent, when the request is past its budget.
    bool WithinBudget(RequestBudget& budget, const char* what, std::uint16_t frameType);
    std::string Who() const;

    ServerContext& context_;
    Stream stream_;
    asio::steady_timer timer_;      // handshake, hello, idle and linger deadlines
    asio::steady_timer relayTimer_; // the next batch of positions
    std::uint64_t id_;
    bool overCapacity_;
    std::string peer_;    // "address:port"
    std::string address_; // for throttling
    Phase phase_ = Phase::Handshake;
    Clock::time_point connectedAt_;
    Clock::time_point phaseStart_;
    Clock::time_point lastReceive_;
    bool loggedInOnce_ = false;    // the login deadline is met
    bool framePending_ = false;    // part of a frame has come
    Clock::time_point frameStart_; // when its first bytes came

    // reading
    wire::FrameDecoder decoder_{wire::Sender::Client};
    // Small until the login (a hello and a login are small), then a TLS record's size; given
    // back when the connection closes.
    std::vector<char> readBuffer_;
    bool reading_ = false;
    bool busy_ = false;           // a worker has this session's request; frames wait
    std::uint32_t requestId_ = 0; // of the request being answered; its replies echo it
    unsigned faults_ = 0;

    // writing
    std::deque<std::string> queue_;
    std::size_t queuedBytes_ = 0;
    std::string writing_; // the bytes of the write under way; empty when none
    bool flushThenEnd_ = false;
    bool slowReader_ = false; // closed for reading too slowly: a longer linger
    // Arrivals, departures and positions wait here, newest of each member only, until they
    // are due (at most one batch per relay interval) and the connection can take them.
    std::map<std::uint32_t, pelora::wire::Member> pendingJoins_;
    std::map<std::uint32_t, std::string> pendingLeaves_;
    std::map<std::uint32_t, pelora::wire::Position> pendingPositions_;
    bool relayTimerArmed_ = false;
    Clock::time_point lastRelaySent_{};
    // Positions handed over by other sessions' threads, newest of each member, with the
    // membership they were meant for; the strand takes them with one posted handler at a time,
    // so a busy world never piles up handlers.
    struct Arrived {
        std::uint32_t to;
        pelora::wire::Position position;
    };
    std::mutex relayMutex_;
    std::map<std::uint32_t, Arrived> arrivedPositions_; // guarded by relayMutex_
    bool takeScheduled_ = false;                        // guarded by relayMutex_

    // login and world
    std::string account_; // empty when not logged in
    bool guest_ = false;
    bool watchingUsers_ = false; // asked to be told of changes of the users online
    std::uint32_t memberId_ = 0; // 0 when in no world
    std::string world_;
    std::set<std::uint32_t> knownMembers_;

    // file transfer
    std::shared_ptr<IncomingFile> incoming_;
    std::uint64_t discardBytes_ = 0; // chunks of a refused transfer still on the way

    std::map<std::string, unsigned> refusals_;
    struct Repeats {
        Clock::time_point since;
        unsigned logged = 0;
        unsigned unlogged = 0;
    };
    std::map<std::string, Repeats> notes_;

    // budgets of requests; a launcher's use stays far inside them
    RequestBudget membershipBudget_{20, 2}; // joins and leaves
    RequestBudget usersBudget_{10, 2};
    RequestBudget offersBudget_{100, 20};
};

} // namespace server
