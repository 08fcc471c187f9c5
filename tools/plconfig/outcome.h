// What one of the tool's operations came to: done, or the kind of refusal or failure with a
// sentence for the person at the keyboard. The command line turns the kind into its exit code,
// the window shows the sentence.
#pragma once

#include <string>

namespace plconfig {

enum class Outcome {
    Done,
    NameRefused,      // the name breaks the user-name rules, or is kept for the tool itself
    NoSuchUser,       // no user folder of exactly that name
    UserExists,       // a user of that name (in any letter case) is there already
    PasswordRefused,  // empty, too long, not typeable, or the two entries differ
    ValueRefused,     // a server host name or port that cannot be used
    IoFailure,        // a file or folder could not be read, made, written or moved
    ServerNotChanged, // changed on this machine, but the server could not be told
};

struct Result {
    Outcome outcome = Outcome::Done;
    std::string message;

    bool Ok() const { return outcome == Outcome::Done; }
    static Result Success(std::string text) { return {Outcome::Done, std::move(text)}; }
    static Result Failure(Outcome kind, std::string text) { return {kind, std::move(text)}; }
};

} // namespace plconfig
