// The network object: the server's address, its script methods, the connection's events and
// the bookkeeping of requests and answers. Accounts and the online-user list are in
// network_accounts.cpp, the shared world in network_world.cpp, data files in
// network_files.cpp.
#include "network_object.h"

#include "engine/user_files.h"
#include "runtime_classes.h"

#include "protocol/message_checks.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

const char* VarFor(plNetworkObject::Request kind) {
    using R = plNetworkObject::Request;
    switch (kind) {
    case R::Create:
    case R::Login:
        return "::net::ack_login";
    case R::Logout:
        return "::net::ack_logout";
    case R::Users:
        return "::net::ack_users";
    case R::Join:
        return "::net::ack_join";
    case R::Leave:
        return "::net::ack_leave";
    case R::File:
        return "::net::ack_file";
    }
    return "::net::ack_unknown";
}

bool RequestByName(const std::string& name, plNetworkObject::Request& kind) {
    using R = plNetworkObject::Request;
    static const std::map<std::string, R> names = {
        {"create", R::Create}, {"login", R::Login}, {"logout", R::Logout}, {"users", R::Users},
        {"join", R::Join},     {"leave", R::Leave}, {"file", R::File}};
    auto it = names.find(name);
    if (it == names.end())
        return false;
    kind = it->second;
    return true;
}

bool RequestForFrame(std::uint32_t type, plNetworkObject::Request& kind) {
    using R = plNetworkObject::Request;
    using F = wire::FrameType;
    switch (F(type)) {
    case F::CreateAccount:
        kind = R::Create;
        return true;
    case F::Login:
        kind = R::Login;
        return true;
    case F::Logout:
        kind = R::Logout;
        return true;
    case F::UsersRequest:
        kind = R::Users;
        return true;
    case F::Join:
        kind = R::Join;
        return true;
    case F::Leave:
        kind = R::Leave;
        return true;
    case F::FileOffer:
    case F::FileChunk:
    case F::FileCancel:
        kind = R::File;
        return true;
    default:
        return false;
    }
}

bool ParsePort(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = std::uint16_t(value);
    return true;
}

} // namespace

// A sentence from the server as an answer: never empty, and never starting with a digit that
// the launcher would read as a reply code.
std::string plNetworkObject::Sentence(const std::string& text, const char* fallback) {
    std::string sentence = text.empty() ? fallback : text;
    if (std::isdigit(static_cast<unsigned char>(sentence[0])) || sentence[0] == ' ')
        sentence = "The server says: " + sentence;
    return sentence;
}

bool plNetworkObject::ReadFrame(const wire::Frame& frame, google::protobuf::MessageLite& message) {
    std::string problem;
    if (wire::ParseFrame(frame, message, problem))
        return true;
    n_printf("ERROR: Network: could not read the server's %s: %s\n",
             wire::FrameTypeName(frame.type).c_str(), problem.c_str());
    return false;
}

// ---- plnTlsSocket -------------------------------------------------------------------------

bool plnTlsSocket::SetHostAndPort(const std::string& host, const std::string& port) {
    std::string bare = host;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    std::uint16_t number = 0;
    if (bare.empty() || !ParsePort(port, number)) {
        n_printf("ERROR: Network: '%s' and '%s' do not make a server address (a host name and a "
                 "port from 1 to 65535)\n",
                 host.c_str(), port.c_str());
        host_.clear();
        port_ = 0;
        return false;
    }
    host_ = bare;
    port_ = number;
    return true;
}

bool plnTlsSocket::setAddress(const char* address) {
    std::string text = address ? address : "";
    size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        n_printf("ERROR: Network: the server address '%s' has no port (host:port)\n", text.c_str());
        host_.clear();
        port_ = 0;
        return false;
    }
    return SetHostAndPort(text.substr(0, colon), text.substr(colon + 1));
}

// ---- plNetworkObject: script methods ------------------------------------------------------

plNetworkObject::plNetworkObject() : session_(*this) {
    usersChanged_.setSingleShot(true);
    usersChanged_.setInterval(0);
    QObject::connect(&usersChanged_, &QTimer::timeout, [this] {
        if (LoggedIn() && usersChangedCallback)
            usersChangedCallback();
    });
    fileStall_.setSingleShot(true);
    QObject::connect(&fileStall_, &QTimer::timeout, [this] {
        CancelFile("timed out: the server took no data for " +
                   std::to_string(fileStall_.interval()) + " ms");
    });
}

plNetworkObject::~plNetworkObject() {
    usersChanged_.stop();
    fileStall_.stop();
    session_.Close("the network object was released");
}

nCallStatus plNetworkObject::Call(const std::string& method, const std::vector<std::string>& args,
                                  std::string& result) {
    auto usage = [&](const char* words) {
        result = "wrong # args: should be \"" + method + (*words ? " " : "") + words + "\"";
        return nCallStatus::Error;
    };
    result.clear();
    if (method == "setaddress") {
        if (args.size() == 1)
            result = socket_.setAddress(args[0].c_str()) ? "1" : "0";
        else if (args.size() == 2)
            result = socket_.SetHostAndPort(args[0], args[1]) ? "1" : "0";
        else
            return usage("host:port | host port");
    } else if (method == "getaddress" && args.empty()) {
        result = socket_.Port() ? trust::ServerKey(socket_.Host(), socket_.Port()) : "";
    } else if (method == "connect" && args.empty()) {
        result = Connect();
    } else if (method == "disconnect") {
        if (args.size() > 1)
            return usage("?reason?");
        std::string why = args.empty() ? "disconnected" : args[0];
        session_.Close(why);
        OnSessionLostOrClosed("The connection was closed (" + why + ").", Link::NotConnected);
    } else if (method == "login" || method == "createuser") {
        if (args.size() != 2)
            return usage("name password");
        result = Login(method == "login" ? Request::Login : Request::Create, args[0], args[1]);
    } else if (method == "logout" && args.empty()) {
        result = Logout();
    } else if (method == "users" && args.empty()) {
        result = Users();
    } else if (method == "setjoin") {
        if (args.size() != 4)
            return usage("world vehicle colour gender");
        join_ = JoinFields{args[0], args[1], args[2], args[3]};
    } else if (method == "start" && args.empty()) {
        result = Start();
    } else if (method == "stop" && args.empty()) {
        result = Stop();
    } else if (method == "leave" && args.empty()) {
        result = Leave();
    } else if (method == "positions" && args.empty()) {
        result = Positions();
    } else if (method == "setposition") {
        PeerPose pose;
        if (args.size() != 3 || !ParsePose(args, pose)) {
            result = "setposition: expected x y heading (numbers)";
            return nCallStatus::Error;
        }
        ownPose_ = pose;
        SendPosition(pose);
    } else if (method == "getposition" && args.empty()) {
        if (ownPose_) {
            char text[96];
            std::snprintf(text, sizeof text, "%.3f %.3f %.1f", ownPose_->x, ownPose_->y,
                          ownPose_->heading);
            result = text;
        }
    } else if (method == "sendfile") {
        if (args.size() != 2 && args.size() != 3)
            return usage("user file ?stall-ms?");
        int stallMs = args.size() == 3 ? std::atoi(args[2].c_str()) : 0;
        result = SendFile(args[0], args[1], stallMs > 0 ? stallMs : 10000);
    } else if (method == "abandon") {
        Request kind;
        if (args.size() != 1 || !RequestByName(args[0], kind))
            return usage("create|login|logout|users|join|leave|file");
        Abandon(kind);
    } else if (method == "getstate" && args.empty()) {
        result = LinkText(link_);
    } else if (method == "getuser" && args.empty()) {
        result = userName_;
    } else {
        return plNetwork::Call(method, args, result);
    }
    return nCallStatus::Ok;
}

std::string plNetworkObject::Connect() {
    if (Ready()) {
        SetVar("::net::wv_connect", "0 already connected");
        return "0 already connected";
    }
    refusal_.clear();
    SetVar("::net::wv_connect", "");
    SetLink(Link::Connecting);
    // The session answers through OnSessionReady or OnSessionFailed, possibly at once.
    session_.Connect(socket_.Host(), socket_.Port(), KeysFolder());
    return "";
}

void plNetworkObject::Abandon(Request kind) {
    if (kind == Request::File) {
        CancelFile("the wait for the server ended");
        return;
    }
    pending_.AbandonAll(kind);
}

// ---- requests and answers -----------------------------------------------------------------

bool plNetworkObject::SendRequest(Request kind, wire::FrameType type,
                                  const google::protobuf::MessageLite& message) {
    SetVar(VarFor(kind), "");
    const std::uint32_t id = pending_.NextId();
    if (!session_.Send(type, message, id))
        return false;
    pending_.Add(kind, id);
    return true;
}

bool plNetworkObject::TakePending(Request kind, const wire::Frame& reply, bool& abandoned) {
    const std::uint32_t id = wire::RequestIdOf(reply);
    if (!pending_.Take(kind, id, abandoned)) {
        if (id != 0)
            n_printf("WARN: Network: the server answered request %u, which was not asked\n", id);
        return false;
    }
    if (kind == Request::Login && undoneLogins_ > 0)
        --undoneLogins_;
    return true;
}

void plNetworkObject::Answer(Request kind, const std::string& text) {
    SetVar(VarFor(kind), text);
}

// ---- the connection's events --------------------------------------------------------------

void plNetworkObject::OnSessionReady() {
    SetLink(Link::Connected);
    SetVar("::net::wv_connect", "0 connected");
}

void plNetworkObject::OnSessionFailed(ConnectFailure failure, const std::string& reason,
                                      const std::string& serverMessage) {
    if (failure == ConnectFailure::ServerRefused) {
        // The launcher goes on to log in when the state reads connected; that login then
        // answers with the server's sentence, so the user learns what to do.
        refusal_ = serverMessage;
        SetLink(Link::Refused);
        SetVar("::net::wv_connect", "0 the server refused: " + serverMessage);
        return;
    }
    SetLink(Link::NotConnected);
    // 2: the server is not the one this computer knows; the launcher says so in words.
    SetVar("::net::wv_connect", (failure == ConnectFailure::NotTrusted ? "2 " : "1 ") + reason);
}

void plNetworkObject::OnSessionLost(const std::string& reason) {
    OnSessionLostOrClosed("The connection to the server was lost (" + reason + ").", Link::Lost);
}

void plNetworkObject::OnSessionLostOrClosed(const std::string& why, Link link) {
    userName_.clear();
    refusal_.clear();
    ClearWorld();
    // Every procedure still waiting gets the reason at once instead of its time-out.
    auto pending = pending_.TakeAll();
    undoneLogins_ = 0;
    for (auto& [kind, queue] : pending) {
        bool waiting = false;
        for (const auto& request : queue)
            waiting = waiting || !request.abandoned;
        if (waiting)
            Answer(kind, kind == Request::Login || kind == Request::Create ? why : "1 " + why);
    }
    if (fileStage_ != FileStage::None) {
        bool waited = fileStage_ != FileStage::Cancelling;
        fileStall_.stop();
        fileStage_ = FileStage::None;
        upload_.reset(); // the file stays where it is, for the next upload
        if (waited)
            Answer(Request::File, "1 " + why);
    }
    SetLink(link);
}

void plNetworkObject::OnSessionFrame(const wire::Frame& frame) {
    using F = wire::FrameType;
    switch (frame.Type()) {
    case F::LoginReply:
        HandleLoginReply(frame);
        break;
    case F::CreateReply:
        HandleCreateReply(frame);
        break;
    case F::LogoutReply: {
        bool abandoned = false;
        if (!TakePending(Request::Logout, frame, abandoned))
            break;
        userName_.clear();
        ClearWorld();
        SetLink(Link::Connected);
        if (!abandoned)
            Answer(Request::Logout, "0 logged out");
        break;
    }
    case F::UsersReply:
        HandleUsersReply(frame);
        break;
    case F::JoinReply:
        HandleJoinReply(frame);
        break;
    case F::LeaveReply: {
        bool abandoned = false;
        if (!TakePending(Request::Leave, frame, abandoned))
            break;
        ClearWorld();
        if (!abandoned)
            Answer(Request::Leave, "0 left the world");
        break;
    }
    case F::MemberJoined: {
        pelora::wire::MemberJoined joined;
        if (InWorld() && ReadFrame(frame, joined))
            AddPeer(joined.member());
        break;
    }
    case F::MemberLeft: {
        pelora::wire::MemberLeft left;
        if (ReadFrame(frame, left))
            RemovePeer(left.id());
        break;
    }
    case F::Positions:
        HandlePositions(frame);
        break;
    case F::UsersChanged:
        HandleUsersChanged();
        break;
    case F::FileReply:
        HandleFileReply(frame);
        break;
    case F::ErrorReply:
        HandleErrorReply(frame);
        break;
    default:
        n_printf("WARN: Network: ignored a %s from the server\n",
                 wire::FrameTypeName(frame.type).c_str());
        break;
    }
}

void plNetworkObject::HandleErrorReply(const wire::Frame& frame) {
    pelora::wire::ErrorReply error;
    if (!ReadFrame(frame, error))
        return;
    Request kind;
    if (!RequestForFrame(error.frame_type(), kind)) {
        n_printf("WARN: Network: the server reported a problem with a %s: %s\n",
                 wire::FrameTypeName(std::uint16_t(error.frame_type())).c_str(),
                 error.message().c_str());
        return;
    }
    std::string text = Sentence(error.message(), "The server refused the request.");
    if (kind == Request::File) {
        if (fileStage_ == FileStage::Cancelling) {
            fileStage_ = FileStage::None;
            upload_.reset();
        } else if (fileStage_ != FileStage::None) {
            FinishFile(false, "1 " + text);
        }
        return;
    }
    bool abandoned = false;
    if (!TakePending(kind, frame, abandoned) || abandoned)
        return;
    Answer(kind, kind == Request::Login || kind == Request::Create ? text : "1 " + text);
}

// ---- script variables and folders ---------------------------------------------------------

const char* plNetworkObject::LinkText(Link link) {
    switch (link) {
    case Link::NotConnected:
        return "not connected";
    case Link::Connecting:
        return "connecting";
    case Link::Connected:
    case Link::Refused:
        return "connected";
    case Link::Online:
    case Link::InWorld:
        return "online";
    case Link::Lost:
        return "lost";
    }
    return "not connected";
}

void plNetworkObject::SetLink(Link link) {
    link_ = link;
    if (link != Link::Refused)
        refusal_.clear();
    if (!LoggedIn())
        userName_.clear();
    SetVar("::net::state", LinkText(link));
}

void plNetworkObject::SetVar(const char* name, const std::string& value) {
    nKernelServer* kernel = GetKernel();
    auto* script =
        kernel ? dynamic_cast<nScriptServer*>(kernel->Lookup("/sys/servers/script")) : nullptr;
    if (script)
        script->SetVariable(name, value);
}

std::string plNetworkObject::KeysFolder() const {
    return GetKernel() ? pathate(GetKernel(), "home:keys/") : std::string("keys/");
}

std::string plNetworkObject::UserFolder(const std::string& user) const {
    std::string folder = UserFolderName(user);
    if (folder.empty() || !GetKernel())
        return {};
    return pathate(GetKernel(), "users:%s/", folder.c_str());
}

void RegisterNetworkClasses(nKernelServer* kernel) {
    kernel->AddClass("plnetwork", [] { return new plNetworkObject; });
    RegisterPeerClasses(kernel);
}
