// What a session does with each request, by state: hello, accounts, presence, worlds and
// files. Replies and log lines are made here from the typed outcomes of the stores and
// registries (see session.h).
#include "session.h"
#include "session_work.h"

#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <sodium.h>

#include <cmath>
#include <ctime>

namespace server {

namespace pb = pelora::wire;
using wire::FrameType;

namespace {

constexpr unsigned kMaxFaults = 32;
constexpr const char* kServerName = "pelora-server 2.1";

} // namespace

void Session::Handle(const wire::Frame& frame) {
    if (phase_ == Phase::AwaitHello && frame.Type() != FrameType::Hello) {
        Refusal("hello", "first frame from " + peer_ + " was " + wire::FrameTypeName(frame.type) +
                             ", not a hello; connection closed");
        pb::ErrorReply reply;
        reply.set_code(pb::ErrorReply::HELLO_EXPECTED);
        reply.set_frame_type(frame.type);
        reply.set_message("The first message must be a Hello with the protocol version.");
        reply.set_closing(true);
        Send(FrameType::ErrorReply, reply);
        Close("no hello", "");
        return;
    }
    switch (frame.Type()) {
    case FrameType::Hello:
        return OnHello(frame);
    case FrameType::Ping: {
        pb::Ping ping;
        if (!Parse(frame, ping))
            return;
        pb::Pong pong;
        pong.set_token(ping.token());
        Send(FrameType::Pong, pong);
        return;
    }
    case FrameType::CreateAccount:
        return OnCreateAccount(frame);
    case FrameType::Login:
        return OnLogin(frame);
    case FrameType::Logout:
        return OnLogout();
    case FrameType::UsersRequest:
        if (NeedLogin(frame))
            OnUsers();
        return;
    case FrameType::Join:
        return OnJoin(frame);
    case FrameType::Position:
        return OnPosition(frame);
    case FrameType::Leave:
        if (NeedLogin(frame))
            OnLeave();
        return;
    case FrameType::FileOffer:
        return OnFileOffer(frame);
    case FrameType::FileChunk:
        return OnFileChunk(frame);
    case FrameType::FileCancel:
        return OnFileCancel();
    default:
        // The decoder lets only client frames through; this is a type added on one side only.
        Fault(pb::ErrorReply::UNEXPECTED, frame.type,
              "The server does not take " + wire::FrameTypeName(frame.type) + " frames.");
    }
}

void Session::OnHello(const wire::Frame& frame) {
    if (phase_ != Phase::AwaitHello) {
        Fault(pb::ErrorReply::UNEXPECTED, frame.type, "The connection has said hello already.");
        return;
    }
    pb::Hello hello;
    if (!Parse(frame, hello)) {
        Close("malformed hello", "");
        return;
    }
    pb::HelloReply reply;
    reply.set_protocol_version(wire::kProtocolVersion);
    reply.set_oldest_protocol_version(wire::kOldestProtocolVersion);
    reply.set_server(kServerName);
    std::uint32_t version = hello.protocol_version();
    std::string client = names::PrintableName(hello.client());
    if (version < wire::kOldestProtocolVersion || version > wire::kProtocolVersion) {
        reply.set_result(pb::HelloReply::PLEASE_UPDATE);
        reply.set_message(version < wire::kOldestProtocolVersion
                              ? "This launcher is too old for the server. Please update the "
                                "launcher."
                              : "The server is older than this launcher. Please ask the site "
                                "to update the server.");
        Refusal("version", "hello from " + peer_ + " (" + client + ") with protocol version " +
                               std::to_string(version) + ": refused, please update");
        Send(FrameType::HelloReply, reply);
        Close("version mismatch", "");
        return;
    }
    if (overCapacity_) {
        reply.set_result(pb::HelloReply::SERVER_FULL);
        reply.set_message("The server has as many connections as it takes. Please try again "
                          "later.");
        Refusal("full", "hello from " + peer_ + ": refused, server full");
        Send(FrameType::HelloReply, reply);
        Close("server full", "");
        return;
    }
    reply.set_result(pb::HelloReply::WELCOME);
    reply.set_idle_timeout_seconds(
        static_cast<std::uint32_t>(std::ceil(context_.options.idleTimeout)));
    reply.set_ping_interval_seconds(
        static_cast<std::uint32_t>(std::ceil(context_.options.pingInterval)));
    reply.set_max_file_bytes(context_.options.maxFileBytes);
    phase_ = Phase::Ready;
    lastReceive_ = Clock::now();
    context_.log.Debug("hello from " + peer_ + " (" + client + ", protocol " +
                       std::to_string(version) + ")");
    Send(FrameType::HelloReply, reply);
    timer_.cancel(); // re-armed for the idle time-out
    ArmTimer();
}

void Session::OnCreateAccount(const wire::Frame& frame) {
    pb::CreateAccount request;
    if (!Parse(frame, request))
        return;
    pb::CreateReply reply;
    std::string name = request.name();
    auto problem = names::CheckUserName(name);
    if (problem != names::NameProblem::None) {
        reply.set_result(pb::CreateReply::BAD_NAME);
        reply.set_message(names::DescribeNameProblem(problem));
    } else if (names::IsGuestName(name)) {
        reply.set_result(pb::CreateReply::NAME_TAKEN);
        reply.set_message("The name \"guest\" is kept for the shared guest account.");
    } else if (request.password().empty()) {
        reply.set_result(pb::CreateReply::BAD_PASSWORD);
        reply.set_message("An account needs a password.");
    } else if (double wait = context_.creations.Take(address_, RateLimit::Clock::now()); wait > 0) {
        auto seconds = static_cast<std::uint32_t>(std::ceil(wait));
        reply.set_result(pb::CreateReply::THROTTLED);
        reply.set_retry_after_seconds(seconds);
        reply.set_message("Too many accounts were made from this machine. Please try again in " +
                          std::to_string(seconds) + " seconds.");
    }
    if (reply.result() != pb::CreateReply::RESULT_UNSPECIFIED) {
        Refusal("create",
                "account " + Quoted(name) + " from " + peer_ + " not created: " + reply.message());
        Send(FrameType::CreateReply, reply);
        return;
    }
    struct Outcome {
        StoreResult result;
    };
    auto work = [&context = context_, name, password = request.password()]() mutable {
        AccountRecord existing;
        Outcome outcome{context.accounts.Find(name, existing)};
        if (outcome.result == StoreResult::Ok) {
            outcome.result = StoreResult::Exists;
        } else if (outcome.result == StoreResult::NotFound) {
            AccountRecord account;
            account.name = name;
            account.createdAt = std::time(nullptr);
            outcome.result = context.hasher.Hash(password, account.passwordHash)
                                 ? context.accounts.Add(account)
                                 : StoreResult::Failed;
        }
        sodium_memzero(password.data(), password.size());
        return outcome;
    };
    Offload(std::move(work), [this, name](Outcome outcome) {
        pb::CreateReply reply;
        switch (outcome.result) {
        case StoreResult::Ok:
            reply.set_result(pb::CreateReply::CREATED);
            context_.log.Info("account " + Quoted(name) + " created from " + peer_);
            break;
        case StoreResult::Exists:
            reply.set_result(pb::CreateReply::NAME_TAKEN);
            reply.set_message("An account named \"" + name + "\" exists already.");
            Refusal("create", "account " + Quoted(name) + " from " + peer_ +
                                  " not created: the name is taken");
            break;
        default:
            reply.set_result(pb::CreateReply::UNAVAILABLE);
            reply.set_message("The server could not store the account. Please try again later.");
            context_.log.Error("account " + Quoted(name) + " from " + peer_ +
                               " not created: the database failed");
            break;
        }
        Send(FrameType::CreateReply, reply);
    });
}

void Session::OnLogin(const wire::Frame& frame) {
    pb::Login request;
    if (!Parse(frame, request))
        return;
    if (!account_.empty()) {
        Fault(pb::ErrorReply::UNEXPECTED, frame.type,
              "This connection is logged in already; log out first.");
        return;
    }
    std::string name = request.name();
    pb::LoginReply reply;
    auto problem = names::CheckUserName(name);
    if (problem != names::NameProblem::None) {
        reply.set_result(pb::LoginReply::BAD_NAME);
        reply.set_message(names::DescribeNameProblem(problem));
        Refusal("login", "login " + Quoted(name) + " from " + peer_ + ": refused, bad name");
        Send(FrameType::LoginReply, reply);
        return;
    }
    if (names::IsGuestName(name)) {
        FinishLogin("guest", true);
        return;
    }
    double wait = context_.throttle.Delay(name, address_, LoginThrottle::Clock::now());
    if (wait > 0) {
        auto seconds = static_cast<std::uint32_t>(std::ceil(wait));
        reply.set_result(pb::LoginReply::THROTTLED);
        reply.set_retry_after_seconds(seconds);
        reply.set_message("Too many failed logins for this name or from this machine. Please "
                          "wait " +
                          std::to_string(seconds) + " seconds and try again.");
        Refusal("throttled", "login " + Quoted(name) + " from " + peer_ +
                                 ": refused, throttled for " + std::to_string(seconds) + " s");
        Send(FrameType::LoginReply, reply);
        return;
    }
    enum class Check { Match, Mismatch, Unknown, Failed };
    auto work = [&context = context_, name, password = request.password()]() mutable {
        AccountRecord account;
        Check check = Check::Failed;
        switch (context.accounts.Find(name, account)) {
        case StoreResult::Ok:
            check = context.hasher.Verify(account.passwordHash, password) ==
                            PasswordHasher::Check::Match
                        ? Check::Match
                        : Check::Mismatch;
            break;
        case StoreResult::NotFound:
            check = Check::Unknown;
            break;
        default:
            break;
        }
        if (check == Check::Match) {
            // Hashes made with older parameters are renewed while the password is at hand.
            std::string fresh;
            if (context.hasher.NeedsRehash(account.passwordHash) &&
                context.hasher.Hash(password, fresh))
                context.accounts.UpdateHash(name, fresh);
        }
        sodium_memzero(password.data(), password.size());
        return check;
    };
    Offload(std::move(work), [this, name](Check check) {
        pb::LoginReply reply;
        switch (check) {
        case Check::Match:
            context_.throttle.Succeeded(name, address_);
            FinishLogin(name, false);
            return;
        case Check::Unknown:
            reply.set_result(pb::LoginReply::UNKNOWN_USER);
            reply.set_message("There is no account named \"" + name + "\" on the server.");
            Refusal("login-unknown", "login " + Quoted(name) + " from " + peer_ + ": unknown user");
            break;
        case Check::Mismatch:
            context_.throttle.Failed(name, address_, LoginThrottle::Clock::now());
            reply.set_result(pb::LoginReply::NAME_IN_USE);
            reply.set_message("The name \"" + name +
                              "\" is in use by another user (the password does not match).");
            Refusal("login-password", "login " + Quoted(name) + " from " + peer_ +
                                          ": refused, wrong password (name in use)");
            break;
        case Check::Failed:
            reply.set_result(pb::LoginReply::UNAVAILABLE);
            reply.set_message("The server could not read its accounts. Please try again later.");
            context_.log.Error("login " + Quoted(name) + " from " + peer_ +
                               ": the database failed");
            break;
        }
        Send(FrameType::LoginReply, reply);
    });
}

void Session::FinishLogin(const std::string& name, bool guest) {
    pb::LoginReply reply;
    switch (context_.presence.Enter(id_, name, guest)) {
    case Presence::Claim::Granted:
        account_ = name;
        guest_ = guest;
        reply.set_result(pb::LoginReply::LOGGED_IN);
        reply.set_name(name);
        context_.log.Info("login " + Quoted(name) + " from " + peer_ + ": logged in");
        break;
    case Presence::Claim::AlreadyLoggedIn:
        reply.set_result(pb::LoginReply::ALREADY_LOGGED_IN);
        reply.set_message("User \"" + name + "\" is already logged in on the server.");
        Refusal("login-twice", "login " + Quoted(name) + " from " + peer_ +
                                   ": refused, already logged in elsewhere");
        break;
    case Presence::Claim::Full:
        reply.set_result(pb::LoginReply::SERVER_FULL);
        reply.set_message("The server has as many users as it takes. Please try again later.");
        Refusal("full", "login " + Quoted(name) + " from " + peer_ + ": refused, server full");
        break;
    }
    Send(FrameType::LoginReply, reply);
}

void Session::EndLogin(const std::string& how) {
    if (account_.empty())
        return;
    LeaveWorld();
    if (incoming_) {
        context_.log.Info("file " + Quoted(incoming_->Name()) + " from " + Who() +
                          ": dropped unfinished (" + how + ")");
        incoming_.reset();
    }
    discardBytes_ = 0;
    context_.presence.Leave(id_);
    context_.log.Info("logout " + Quoted(account_) + " (" + peer_ + "): " + how);
    account_.clear();
    guest_ = false;
}

void Session::OnLogout() {
    EndLogin("logged out");
    Send(FrameType::LogoutReply, pb::LogoutReply());
}

bool Session::NeedLogin(const wire::Frame& frame) {
    if (!account_.empty())
        return true;
    Fault(pb::ErrorReply::NOT_LOGGED_IN, frame.type,
          wire::FrameTypeName(frame.type) + " needs a login first.");
    return false;
}

void Session::OnUsers() {
    std::vector<OnlineEntry> online = context_.presence.List();
    std::size_t at = 0;
    do {
        pb::UsersReply page;
        page.set_total(static_cast<std::uint32_t>(online.size()));
        for (std::size_t n = 0; n < wire::kUsersPerPage && at < online.size(); ++n, ++at) {
            auto* user = page.add_users();
            user->set_name(online[at].name);
            user->set_world(online[at].world);
            user->set_line(wire::OnlineUserLine(online[at].name, online[at].world));
        }
        page.set_last(at == online.size());
        if (!Send(FrameType::UsersReply, page))
            return;
    } while (at < online.size());
}

void Session::OnJoin(const wire::Frame& frame) {
    pb::Join request;
    if (!Parse(frame, request) || !NeedLogin(frame))
        return;
    pb::JoinReply reply;
    std::string problem;
    for (auto [value, field] : {std::pair{&request.world(), "world"},
                                {&request.vehicle(), "vehicle"},
                                {&request.colour(), "colour"},
                                {&request.gender(), "gender"}}) {
        problem = wire::CheckWorldField(*value, field);
        if (!problem.empty())
            break;
    }
    if (!problem.empty()) {
        reply.set_result(pb::JoinReply::BAD_FIELDS);
        reply.set_message(problem);
        Refusal("join", "join " + Who() + ": refused, " + problem);
        Send(FrameType::JoinReply, reply);
        return;
    }
    LeaveWorld();
    MemberLook look{account_, request.vehicle(), request.colour(), request.gender()};
    auto joined = context_.worlds.Join(
        request.world(), look,
        std::weak_ptr<WorldListener>(std::static_pointer_cast<WorldListener>(shared_from_this())));
    if (joined.full) {
        reply.set_result(pb::JoinReply::WORLD_FULL);
        reply.set_message("The world \"" + request.world() + "\" has as many drivers as it takes.");
        Refusal("join", "join " + Who() + ": refused, world " + Quoted(request.world()) + " full");
        Send(FrameType::JoinReply, reply);
        return;
    }
    memberId_ = joined.id;
    world_ = request.world();
    knownMembers_.clear();
    reply.set_result(pb::JoinReply::JOINED);
    reply.set_member_id(joined.id);
    for (auto& member : joined.others) {
        knownMembers_.insert(member.id());
        *reply.add_members() = std::move(member);
    }
    context_.presence.SetWorld(id_, world_);
    context_.log.Info("join " + Who() + ": world " + Quoted(world_) + " (" +
                      names::PrintableName(request.vehicle()) + ", " +
                      names::PrintableName(request.colour()) + ", " +
                      names::PrintableName(request.gender()) + ")");
    Send(FrameType::JoinReply, reply);
}

void Session::OnPosition(const wire::Frame& frame) {
    pb::Position position;
    if (!Parse(frame, position) || !NeedLogin(frame))
        return;
    // One may cross a leave on the wire; it is dropped without a word.
    if (memberId_ != 0)
        context_.worlds.Relay(memberId_, position);
}

void Session::LeaveWorld() {
    if (memberId_ == 0)
        return;
    context_.worlds.Leave(memberId_);
    context_.presence.SetWorld(id_, "");
    context_.log.Info("leave " + Who() + ": world " + Quoted(world_));
    memberId_ = 0;
    world_.clear();
    knownMembers_.clear();
    ForgetPositions(0);
}

void Session::OnLeave() {
    pb::LeaveReply reply;
    reply.set_was_in_world(memberId_ != 0);
    LeaveWorld();
    Send(FrameType::LeaveReply, reply);
}

void Session::Fault(pb::ErrorReply::Code code, std::uint16_t frameType,
                    const std::string& message) {
    Refusal("fault-" + std::to_string(code),
            "refused a " + wire::FrameTypeName(frameType) + " from " + Who() + ": " + message);
    pb::ErrorReply reply;
    reply.set_code(code);
    reply.set_frame_type(frameType);
    reply.set_message(message);
    if (++faults_ < kMaxFaults) {
        Send(FrameType::ErrorReply, reply);
        return;
    }
    reply.set_code(pb::ErrorReply::TOO_MANY_FAULTS);
    reply.set_message("Too many faulty messages; the server closes the connection.");
    reply.set_closing(true);
    context_.log.Info(Who() + ": too many faulty messages; connection closed");
    Send(FrameType::ErrorReply, reply);
    Close("too many faults", "");
}

} // namespace server
