// The network object's account requests: login, new accounts, logout, and the list of the
// users online with the server's news of its changes, with the launcher's reply codes for the
// server's answers.
#include "network_object.h"

#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <algorithm>

std::string plNetworkObject::Login(Request kind, const std::string& name,
                                   const std::string& password) {
    std::string now;
    if (link_ == Link::Refused) {
        // The greeting was refused: this answer is the server's reason.
        now = Sentence(refusal_, "The server refused the connection.");
        SetLink(Link::NotConnected);
    } else if (!Ready()) {
        now = "Not connected to the server.";
    } else if (!names::IsValidUtf8(name) || !names::IsValidUtf8(password)) {
        now = "The user name or the password is not valid UTF-8 text, which the server cannot "
              "take.";
    } else {
        pelora::wire::Login login;
        login.set_name(name);
        login.set_password(password);
        pelora::wire::CreateAccount create;
        create.set_name(name);
        create.set_password(password);
        UndoAbandonedLogins();
        bool sent = kind == Request::Login
                        ? SendRequest(kind, wire::FrameType::Login, login)
                        : SendRequest(kind, wire::FrameType::CreateAccount, create);
        if (sent)
            return "";
        now = "The request could not be sent to the server.";
    }
    Answer(kind, now);
    return now;
}

// A login that nobody waits for any more (cancelled, timed out) may still succeed when the
// server gets to it, and the server refuses a login on a connection that is logged in. So a
// new request sent while such a login is unanswered goes after a logout, which leaves the
// connection plain whatever the old answer is (the server answers a logout without a login
// all the same); the old login's success then needs no logout of its own.
void plNetworkObject::UndoAbandonedLogins() {
    const auto& logins = pending_.Of(Request::Login);
    if (logins.size() <= undoneLogins_ ||
        std::any_of(logins.begin(), logins.end(),
                    [](const auto& login) { return !login.abandoned; }))
        return;
    const std::size_t undone = logins.size();
    if (SendRequest(Request::Logout, wire::FrameType::Logout, pelora::wire::Logout())) {
        pending_.Of(Request::Logout).back().abandoned = true;
        undoneLogins_ = undone;
    }
}

std::string plNetworkObject::Logout() {
    std::string now;
    if (!Ready())
        now = "1 not connected to the server";
    else if (!LoggedIn())
        now = "0 not logged in";
    else if (SendRequest(Request::Logout, wire::FrameType::Logout, pelora::wire::Logout()))
        return "";
    else
        now = "1 the request could not be sent";
    Answer(Request::Logout, now);
    return now;
}

std::string plNetworkObject::Users() {
    std::string now;
    pelora::wire::UsersRequest request;
    request.set_watch(usersChangedCallback != nullptr);
    if (!Ready() || !LoggedIn())
        now = "1 not logged in to the server";
    else if (SendRequest(Request::Users, wire::FrameType::UsersRequest, request))
        return "";
    else
        now = "1 the request could not be sent";
    Answer(Request::Users, now);
    return now;
}

void plNetworkObject::HandleLoginReply(const wire::Frame& frame) {
    bool abandoned = false;
    const bool undone = undoneLogins_ > 0;
    if (!TakePending(Request::Login, frame, abandoned))
        return;
    pelora::wire::LoginReply reply;
    if (!ReadFrame(frame, reply)) {
        if (!abandoned)
            Answer(Request::Login, "The server's answer to the login could not be read.");
        return;
    }
    using R = pelora::wire::LoginReply;
    std::string text;
    switch (reply.result()) {
    case R::LOGGED_IN:
        if (abandoned) {
            // Nobody waits for this login any more: undo it, so that the next attempt
            // starts from a plain connection (a logout follows it already when a newer
            // request was sent meanwhile).
            n_printf("Network: a login that was no longer awaited succeeded; logging out\n");
            if (!undone &&
                SendRequest(Request::Logout, wire::FrameType::Logout, pelora::wire::Logout()))
                pending_.Of(Request::Logout).back().abandoned = true;
            return;
        }
        userName_ = reply.name();
        SetLink(Link::Online);
        text = "0 logged in";
        break;
    case R::UNKNOWN_USER:
        text = "2 unknown user";
        break;
    case R::NAME_IN_USE:
        text = "3 name in use";
        break;
    case R::ALREADY_LOGGED_IN:
        text = "4 already logged in";
        break;
    default:
        text = Sentence(reply.message(), "The server did not accept the login.");
        break;
    }
    if (!abandoned)
        Answer(Request::Login, text);
}

void plNetworkObject::HandleCreateReply(const wire::Frame& frame) {
    bool abandoned = false;
    if (!TakePending(Request::Create, frame, abandoned) || abandoned)
        return;
    pelora::wire::CreateReply reply;
    if (!ReadFrame(frame, reply)) {
        Answer(Request::Create, "The server's answer to the new account could not be read.");
        return;
    }
    if (reply.result() == pelora::wire::CreateReply::CREATED)
        Answer(Request::Create, "0 created");
    else
        Answer(Request::Create,
               Sentence(reply.message(), "The server did not create the account."));
}

void plNetworkObject::HandleUsersReply(const wire::Frame& frame) {
    auto* request = pending_.Find(Request::Users, wire::RequestIdOf(frame));
    if (!request)
        return;
    const bool abandoned = request->abandoned;
    bool ignored = false;
    pelora::wire::UsersReply reply;
    if (!ReadFrame(frame, reply)) {
        pending_.Take(Request::Users, wire::RequestIdOf(frame), ignored);
        if (!abandoned)
            Answer(Request::Users, "1 the list of users could not be read");
        return;
    }
    if (!abandoned && userInfoCallback) {
        for (const auto& user : reply.users())
            userInfoCallback(user.line().c_str());
    }
    if (!reply.last())
        return;
    pending_.Take(Request::Users, wire::RequestIdOf(frame), ignored);
    if (!abandoned)
        Answer(Request::Users, "0 " + std::to_string(reply.total()) + " users online");
}

// News that come while another is still to be passed on are passed on with it.
void plNetworkObject::HandleUsersChanged() {
    if (LoggedIn() && usersChangedCallback && !usersChanged_.isActive())
        usersChanged_.start();
}
