// What a session does with each request, by state: hello, accounts, presence, worlds and
// files. Replies and log lines are made here from the typed outcomes of the stores and
// registries (see session.h).
#include "session.h"
#include "session_work.h"

#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <cmath>

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
    case FrameType::ChangePassword:
        return OnChangePassword(frame);
    case FrameType::Logout:
        return OnLogout();
    case FrameType::UsersRequest:
        return OnUsers(frame);
    case FrameType::Join:
        return OnJoin(frame);
    case FrameType::Position:
        return OnPosition(frame);
    case FrameType::Leave:
        if (NeedLogin(frame) && WithinBudget(membershipBudget_, "join and leave", frame.type))
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
    std::string problem;
    if (!wire::ParseFrame(frame, hello, problem)) {
        // The connection ends here, and the reply says so.
        Refusal("hello", "malformed hello from " + peer_ + ": " + problem + "; connection closed");
        pb::ErrorReply reply;
        reply.set_code(pb::ErrorReply::MALFORMED);
        reply.set_frame_type(frame.type);
        reply.set_message("The server could not take the hello: " + problem + ".");
        reply.set_closing(true);
        Send(FrameType::ErrorReply, reply);
        Close("malformed hello", "");
        return;
    }
    pb::HelloReply reply;
    reply.set_protocol_version(wire::kProtocolVersion);
    reply.set_oldest_protocol_version(wire::kOldestProtocolVersion);
    reply.set_server(kServerName);
    std::uint32_t version = hello.protocol_version();
    std::string client = LogQuoted(hello.client());
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
    reply.set_seal_public_key(context_.sealPublicKey);
    phase_ = Phase::Ready;
    lastReceive_ = Clock::now();
    context_.log.Debug("hello from " + peer_ + " (" + client + ", protocol " +
                       std::to_string(version) + ")");
    Send(FrameType::HelloReply, reply);
    timer_.cancel(); // re-armed for the idle time-out
    ArmTimer();
}

namespace {

std::uint32_t WholeSeconds(double seconds) {
    return static_cast<std::uint32_t>(std::ceil(seconds));
}

// A login or a new account that the database could not answer for (down, or every pooled
// connection busy past the wait): the user is told so, the log names the database's failure.
const char* const kDatabaseDown =
    "The server cannot reach its database right now. Please try again later.";

} // namespace

void Session::OnCreateAccount(const wire::Frame& frame) {
    pb::CreateAccount request;
    if (!Parse(frame, request))
        return;
    std::string name = request.name();
    Accounts::CreationCheck check =
        context_.accounts.CheckCreation(name, request.password(), address_);
    if (check.outcome != Accounts::Creation::Created) {
        pb::CreateReply reply;
        switch (check.outcome) {
        case Accounts::Creation::BadName:
            reply.set_result(pb::CreateReply::BAD_NAME);
            reply.set_message(names::DescribeNameProblem(check.problem));
            break;
        case Accounts::Creation::ReservedName:
            reply.set_result(pb::CreateReply::NAME_TAKEN);
            reply.set_message("The name \"guest\" is kept for the shared guest account.");
            break;
        case Accounts::Creation::NoPassword:
            reply.set_result(pb::CreateReply::BAD_PASSWORD);
            reply.set_message("An account needs a password.");
            break;
        default: {
            std::uint32_t seconds = WholeSeconds(check.retryAfter);
            reply.set_result(pb::CreateReply::THROTTLED);
            reply.set_retry_after_seconds(seconds);
            reply.set_message("Too many accounts were made from this machine. Please try again "
                              "in " +
                              std::to_string(seconds) + " seconds.");
            break;
        }
        }
        Refusal("create",
                "account " + Quoted(name) + " from " + peer_ + " not created: " + reply.message());
        Send(FrameType::CreateReply, reply);
        return;
    }
    auto work = [&accounts = context_.accounts, name, password = request.password()]() mutable {
        TakeStoreFailure();
        Accounts::Creation outcome = accounts.Create(name, std::move(password));
        return std::make_pair(outcome, TakeStoreFailure());
    };
    Offload(std::move(work), [this, name](std::pair<Accounts::Creation, std::string> done) {
        auto [outcome, failure] = std::move(done);
        pb::CreateReply reply;
        switch (outcome) {
        case Accounts::Creation::Created:
            reply.set_result(pb::CreateReply::CREATED);
            context_.log.Info("account " + Quoted(name) + " created from " + peer_);
            break;
        case Accounts::Creation::NameTaken:
            reply.set_result(pb::CreateReply::NAME_TAKEN);
            reply.set_message("An account named \"" + name + "\" exists already.");
            Refusal("create", "account " + Quoted(name) + " from " + peer_ +
                                  " not created: the name is taken");
            break;
        default:
            reply.set_result(pb::CreateReply::UNAVAILABLE);
            reply.set_message(
                failure.empty() ? "The server could not store the account. Please try again later."
                                : kDatabaseDown);
            context_.log.Error("account " + Quoted(name) + " from " + peer_ +
                               " not created: the database failed" +
                               (failure.empty() ? "" : " (" + failure + ")"));
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
    Accounts::LoginCheck check = context_.accounts.CheckLogin(name, address_);
    switch (check.outcome) {
    case Accounts::Login::Guest:
        FinishLogin("guest", true);
        return;
    case Accounts::Login::CheckPassword:
        break;
    default: {
        pb::LoginReply reply;
        if (check.outcome == Accounts::Login::BadName) {
            reply.set_result(pb::LoginReply::BAD_NAME);
            reply.set_message(names::DescribeNameProblem(check.problem));
            Refusal("login", "login " + Quoted(name) + " from " + peer_ + ": refused, bad name");
        } else {
            std::uint32_t seconds = WholeSeconds(check.retryAfter);
            reply.set_result(pb::LoginReply::THROTTLED);
            reply.set_retry_after_seconds(seconds);
            reply.set_message("Too many failed logins for this name or from this machine. "
                              "Please wait " +
                              std::to_string(seconds) + " seconds and try again.");
            Refusal("throttled", "login " + Quoted(name) + " from " + peer_ +
                                     ": refused, throttled for " + std::to_string(seconds) + " s");
        }
        Send(FrameType::LoginReply, reply);
        return;
    }
    }
    // The attempt travels with the work: whatever becomes of the connection, it is counted.
    auto attempt = std::make_shared<Accounts::Attempt>(std::move(check.attempt));
    auto work = [&accounts = context_.accounts, attempt, password = request.password()]() mutable {
        TakeStoreFailure();
        Accounts::Login verdict = accounts.Verify(*attempt, std::move(password));
        return std::make_pair(verdict, TakeStoreFailure());
    };
    Offload(std::move(work), [this, name](std::pair<Accounts::Login, std::string> done) {
        auto [verdict, failure] = std::move(done);
        pb::LoginReply reply;
        switch (verdict) {
        case Accounts::Login::LoggedIn:
            FinishLogin(name, false);
            return;
        case Accounts::Login::UnknownName:
            reply.set_result(pb::LoginReply::UNKNOWN_USER);
            reply.set_message("There is no account named \"" + name + "\" on the server.");
            Refusal("login-unknown", "login " + Quoted(name) + " from " + peer_ + ": unknown user");
            break;
        case Accounts::Login::WrongPassword:
            reply.set_result(pb::LoginReply::NAME_IN_USE);
            reply.set_message("The name \"" + name +
                              "\" is in use by another user (the password does not match).");
            Refusal("login-password", "login " + Quoted(name) + " from " + peer_ +
                                          ": refused, wrong password (name in use)");
            break;
        default:
            reply.set_result(pb::LoginReply::UNAVAILABLE);
            reply.set_message(
                failure.empty() ? "The server could not read its accounts. Please try again later."
                                : kDatabaseDown);
            context_.log.Error("login " + Quoted(name) + " from " + peer_ +
                               ": refused, the database failed" +
                               (failure.empty() ? "" : " (" + failure + ")"));
            break;
        }
        Send(FrameType::LoginReply, reply);
    });
}

// Checked as a login is (throttled by name and address, the present password verified on a
// worker), then the new password's hash replaces the old one. A session logged in as the
// account stays logged in.
void Session::OnChangePassword(const wire::Frame& frame) {
    pb::ChangePassword request;
    if (!Parse(frame, request))
        return;
    const std::string name = request.name().empty() ? account_ : request.name();
    pb::ChangePasswordReply reply;
    auto refuse = [&](pb::ChangePasswordReply::Result result, const std::string& message,
                      const std::string& why) {
        reply.set_result(result);
        reply.set_message(message);
        Refusal("password",
                "password change for " + Quoted(name) + " from " + peer_ + ": refused, " + why);
        Send(FrameType::ChangePasswordReply, reply);
    };
    if (name.empty() || names::IsGuestName(name)) {
        refuse(pb::ChangePasswordReply::BAD_NAME,
               name.empty() ? "Name the account whose password is to change."
                            : "The guest account has no password.",
               "no account named");
        return;
    }
    if (request.new_password().empty() || request.new_password().size() > wire::kMaxPasswordBytes) {
        refuse(pb::ChangePasswordReply::BAD_PASSWORD,
               "A password is 1 to " + std::to_string(wire::kMaxPasswordBytes) + " bytes.",
               "unusable new password");
        return;
    }
    Accounts::LoginCheck check = context_.accounts.CheckLogin(name, address_);
    if (check.outcome == Accounts::Login::BadName) {
        refuse(pb::ChangePasswordReply::BAD_NAME, names::DescribeNameProblem(check.problem),
               "bad name");
        return;
    }
    if (check.outcome != Accounts::Login::CheckPassword) {
        std::uint32_t seconds = WholeSeconds(check.retryAfter);
        reply.set_retry_after_seconds(seconds);
        refuse(pb::ChangePasswordReply::THROTTLED,
               "Too many failed attempts for this name or from this machine. Please wait " +
                   std::to_string(seconds) + " seconds and try again.",
               "throttled");
        return;
    }
    auto attempt = std::make_shared<Accounts::Attempt>(std::move(check.attempt));
    auto work = [&accounts = context_.accounts, attempt, name, oldPassword = request.old_password(),
                 newPassword = request.new_password()]() mutable {
        Accounts::Login verdict = accounts.Verify(*attempt, std::move(oldPassword));
        if (verdict == Accounts::Login::LoggedIn &&
            accounts.SetPassword(name, std::move(newPassword)) != StoreResult::Ok)
            verdict = Accounts::Login::Unavailable;
        return verdict;
    };
    Offload(std::move(work), [this, name](Accounts::Login verdict) {
        pb::ChangePasswordReply reply;
        switch (verdict) {
        case Accounts::Login::LoggedIn:
            reply.set_result(pb::ChangePasswordReply::CHANGED);
            context_.log.Info("password of " + Quoted(name) + " changed from " + peer_);
            break;
        case Accounts::Login::UnknownName:
            reply.set_result(pb::ChangePasswordReply::UNKNOWN_USER);
            reply.set_message("There is no account named \"" + name + "\" on the server.");
            Refusal("password-unknown",
                    "password change for " + Quoted(name) + " from " + peer_ + ": unknown user");
            break;
        case Accounts::Login::WrongPassword:
            reply.set_result(pb::ChangePasswordReply::WRONG_PASSWORD);
            reply.set_message("The present password of \"" + name + "\" is not the one given.");
            Refusal("password-wrong", "password change for " + Quoted(name) + " from " + peer_ +
                                          ": refused, wrong present password");
            break;
        default:
            reply.set_result(pb::ChangePasswordReply::UNAVAILABLE);
            reply.set_message("The server could not store the password. Please try again later.");
            context_.log.Error("password change for " + Quoted(name) + " from " + peer_ +
                               ": the database failed");
            break;
        }
        Send(FrameType::ChangePasswordReply, reply);
    });
}

void Session::FinishLogin(const std::string& name, bool guest) {
    pb::LoginReply reply;
    switch (context_.presence.Enter(id_, name, guest)) {
    case Presence::Claim::Granted:
        account_ = name;
        guest_ = guest;
        loggedInOnce_ = true;
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
    case Presence::Claim::Unavailable:
        reply.set_result(pb::LoginReply::UNAVAILABLE);
        reply.set_message(kDatabaseDown);
        context_.log.Error("login " + Quoted(name) + " from " + peer_ +
                           ": refused, the database failed (" + TakeStoreFailure() + ")");
        break;
    }
    Send(FrameType::LoginReply, reply);
}

void Session::EndLogin(const std::string& how) {
    if (account_.empty())
        return;
    // Off the list before the world's members are told: one who hears "left" and asks for
    // the list at once must not find the leaver still in it.
    context_.presence.Leave(id_);
    LeaveWorld();
    if (incoming_) {
        context_.log.Info("file " + Quoted(incoming_->Name()) + " from " + Who() +
                          ": dropped unfinished (" + how + ")");
        incoming_.reset();
    }
    discardBytes_ = 0;
    context_.log.Info("logout " + Quoted(account_) + " (" + peer_ + "): " + how);
    account_.clear();
    guest_ = false;
    watchingUsers_ = false;
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

void Session::OnUsers(const wire::Frame& frame) {
    pb::UsersRequest request;
    if (!Parse(frame, request) || !NeedLogin(frame) ||
        !WithinBudget(usersBudget_, "user list", frame.type))
        return;
    // Set before the list is read: a change after the reading is then always told.
    if (request.watch())
        watchingUsers_ = true;
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
    if (!Parse(frame, request) || !NeedLogin(frame) ||
        !WithinBudget(membershipBudget_, "join and leave", frame.type))
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
    Note("join", "join " + Who() + ": world " + Quoted(world_) + " (" +
                     LogQuoted(request.vehicle()) + ", " + LogQuoted(request.colour()) + ", " +
                     LogQuoted(request.gender()) + ")");
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
    // The list first, then the members' notice (see EndLogin).
    context_.presence.SetWorld(id_, "");
    context_.worlds.Leave(memberId_);
    Note("leave", "leave " + Who() + ": world " + Quoted(world_));
    memberId_ = 0;
    world_.clear();
    knownMembers_.clear();
    ForgetRelay();
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
