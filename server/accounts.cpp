// The account rules (see accounts.h).
#include "accounts.h"

#include <sodium.h>

#include <ctime>

namespace server {

namespace {

// Clears the password's bytes as it goes out of scope.
struct Wipe {
    std::string& text;
    ~Wipe() { sodium_memzero(text.data(), text.size()); }
};

} // namespace

Accounts::CreationCheck Accounts::CheckCreation(const std::string& name,
                                                const std::string& password,
                                                const std::string& address) {
    CreationCheck check;
    check.problem = names::CheckUserName(name);
    if (check.problem != names::NameProblem::None)
        check.outcome = Creation::BadName;
    else if (names::IsGuestName(name))
        check.outcome = Creation::ReservedName;
    else if (password.empty())
        check.outcome = Creation::NoPassword;
    else if (double wait = creations_.Take(address, now_()); wait > 0) {
        check.outcome = Creation::Throttled;
        check.retryAfter = wait;
    }
    return check;
}

Accounts::Creation Accounts::Create(const std::string& name, std::string password) {
    Wipe wipe{password};
    // A taken name is found before the slow hash; the insert's key settles a race.
    AccountRecord existing;
    switch (store_.Find(name, existing)) {
    case StoreResult::Ok:
        return Creation::NameTaken;
    case StoreResult::NotFound:
        break;
    default:
        return Creation::Unavailable;
    }
    AccountRecord account;
    account.name = name;
    account.createdAt = std::time(nullptr);
    if (!hasher_.Hash(password, account.passwordHash))
        return Creation::Unavailable;
    switch (store_.Add(account)) {
    case StoreResult::Ok:
        return Creation::Created;
    case StoreResult::Exists:
        return Creation::NameTaken;
    default:
        return Creation::Unavailable;
    }
}

Accounts::Attempt::Attempt(Attempt&& other) noexcept
    : throttle_(other.throttle_), name_(std::move(other.name_)),
      address_(std::move(other.address_)) {
    other.throttle_ = nullptr;
}

Accounts::Attempt::~Attempt() {
    if (throttle_)
        throttle_->Abandoned(name_, address_);
}

Accounts::LoginCheck Accounts::CheckLogin(const std::string& name, const std::string& address) {
    LoginCheck check;
    check.problem = names::CheckUserName(name);
    if (check.problem != names::NameProblem::None) {
        check.outcome = Login::BadName;
        return check;
    }
    if (names::IsGuestName(name)) {
        check.outcome = Login::Guest;
        return check;
    }
    if (double wait = throttle_.Begin(name, address, now_()); wait > 0) {
        check.outcome = Login::Throttled;
        check.retryAfter = wait;
        return check;
    }
    check.attempt.throttle_ = &throttle_;
    check.attempt.name_ = name;
    check.attempt.address_ = address;
    return check;
}

StoreResult Accounts::SetPassword(const std::string& name, std::string password) {
    Wipe wipe{password};
    std::string hash;
    if (!hasher_.Hash(password, hash))
        return StoreResult::Failed;
    return store_.UpdateHash(name, hash);
}

Accounts::Login Accounts::Verify(Attempt& attempt, std::string password) {
    Wipe wipe{password};
    if (!attempt.throttle_)
        return Login::Unavailable; // not begun by CheckLogin
    const std::string& name = attempt.name_;
    AccountRecord account;
    Login verdict = Login::Unavailable;
    switch (store_.Find(name, account)) {
    case StoreResult::Ok:
        verdict = hasher_.Verify(account.passwordHash, password) == PasswordHasher::Check::Match
                      ? Login::LoggedIn
                      : Login::WrongPassword;
        break;
    case StoreResult::NotFound:
        verdict = Login::UnknownName;
        break;
    default:
        break;
    }
    switch (verdict) {
    case Login::LoggedIn: {
        throttle_.Succeeded(name, attempt.address_);
        // Hashes made with older settings are renewed while the password is at hand.
        std::string fresh;
        if (hasher_.NeedsRehash(account.passwordHash) && hasher_.Hash(password, fresh))
            store_.UpdateHash(name, fresh);
        break;
    }
    case Login::UnknownName:
    case Login::WrongPassword:
        throttle_.Failed(name, attempt.address_, now_());
        break;
    default:
        throttle_.Abandoned(name, attempt.address_);
        break;
    }
    attempt.throttle_ = nullptr;
    return verdict;
}

} // namespace server
