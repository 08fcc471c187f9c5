// The account rules: which names may be made into accounts, how a login is checked, when a
// stored hash is renewed, and how attempts are counted against a name and an address. Each
// call gives a typed outcome; the session turns it into the reply's sentence and the log line.
// The quick checks (Check...) run on a connection's thread; Create and Verify hash a password
// and run on a worker.
#pragma once

#include "login_throttle.h"
#include "password_hasher.h"
#include "storage.h"

#include "protocol/user_name.h"

#include <chrono>
#include <string>

namespace server {

class Accounts {
public:
    using Clock = std::chrono::steady_clock;
    using Now = Clock::time_point (*)();

    // `now` is the clock the throttles read; tests give one of their own.
    Accounts(AccountStore& store, const PasswordHasher& hasher, LoginThrottle& throttle,
             RateLimit& creations, Now now = &Clock::now)
        : store_(store), hasher_(hasher), throttle_(throttle), creations_(creations), now_(now) {}

    enum class Creation {
        Created,
        BadName,      // see `problem`
        ReservedName, // the guest's name
        NoPassword,
        Throttled, // see `retryAfter`
        NameTaken,
        Unavailable, // the accounts could not be read or written
    };
    struct CreationCheck {
        Creation outcome = Creation::Created; // Created: go on to Create
        names::NameProblem problem = names::NameProblem::None;
        double retryAfter = 0; // seconds
    };
    // The rules that need no hash; counts the creation against the address when it may go on.
    CreationCheck CheckCreation(const std::string& name, const std::string& password,
                                const std::string& address);
    // Hashes and stores: Created, NameTaken or Unavailable. The database's key on the name
    // decides a race between two creations of one name. Wipes the password.
    Creation Create(const std::string& name, std::string password);

    enum class Login {
        CheckPassword, // from CheckLogin: go on to Verify
        LoggedIn,
        Guest, // the shared guest account: no password, no check
        BadName,
        Throttled,
        UnknownName,
        WrongPassword,
        Unavailable,
    };

    // A login whose check is under way: counted against its name and address from the start,
    // so that parallel attempts are held to the limit. Ended by Verify, or as abandoned when
    // dropped unverified.
    class Attempt {
    public:
        Attempt() = default;
        Attempt(Attempt&& other) noexcept;
        Attempt& operator=(Attempt&& other) = delete;
        Attempt(const Attempt&) = delete;
        ~Attempt();

    private:
        friend class Accounts;
        LoginThrottle* throttle_ = nullptr;
        std::string name_;
        std::string address_;
    };

    struct LoginCheck {
        Login outcome = Login::CheckPassword;
        names::NameProblem problem = names::NameProblem::None;
        double retryAfter = 0;
        Attempt attempt;
    };
    LoginCheck CheckLogin(const std::string& name, const std::string& address);
    // Checks the password: LoggedIn, UnknownName, WrongPassword or Unavailable; the attempt is
    // counted by its verdict (an unknown name counts like a wrong password, against the name
    // and the address). A hash made with older settings is renewed. Wipes the password.
    Login Verify(Attempt& attempt, std::string password);

    // Hashes and stores a new password for an existing account: Ok, NotFound or a failure.
    // Wipes the password. A change asked over the network is Verify'd first.
    StoreResult SetPassword(const std::string& name, std::string password);

private:
    AccountStore& store_;
    const PasswordHasher& hasher_;
    LoginThrottle& throttle_;
    RateLimit& creations_;
    Now now_;
};

} // namespace server
