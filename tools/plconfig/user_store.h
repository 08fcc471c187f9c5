// The users of a home folder as the configuration tool makes and keeps them: one folder per
// user under users:, named after the user and holding the password file "colors".
//
// A user is never half made: the new folder is built under users/.adding/ and renamed into
// place only once its "colors" is on disk, so an interrupted add leaves nothing that looks like
// a user (and the next run clears what it left). A removed user's folder is moved aside to
// users/.removed/<name>-<date>-<time>, never deleted, so it can be moved back by hand.
#pragma once

#include "outcome.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace plconfig {

// The guest account: users/guest, which needs no password. Its folder marks a home that has
// been set up, so the launcher does not start its first-run set-up again.
constexpr const char* kGuestFolder = "guest";
// Folders under users: that belong to the tool, never to a user.
constexpr const char* kAddingFolder = ".adding";
constexpr const char* kRemovedFolder = ".removed";

// The Login window takes at most 119 bytes of a typed password; a longer stored one (the
// password file itself holds up to 127) could never be typed again.
constexpr std::size_t kMaxTypedPasswordBytes = 119;

// "" when a password can be stored and typed in the Login window; otherwise why not.
std::string DescribePasswordProblem(const std::string& password);

// True for the tool's own folder names (in any letter case): no user can be called that.
bool IsReservedFolderName(const std::string& name);

class UserStore {
public:
    explicit UserStore(std::string usersFolder);

    const std::string& Folder() const { return folder_; }

    // The users, sorted for people (letter case ignored first): every folder under users:
    // except the tool's own.
    std::vector<std::string> ListUsers() const;
    // A user folder of exactly this name (letter case included).
    bool HasUser(const std::string& name) const;

    // Done when `name` can be added: it follows the name rules, is not one of the tool's own
    // folders and no user of that name in any letter case exists ("guest" in any letter case
    // names the guest account).
    Result CheckNewUserName(const std::string& name) const;
    // Done when a user folder of exactly this name exists and is not the guest account's.
    Result CheckExistingUser(const std::string& name) const;

    // Makes the user with the password. "guest" in any letter case makes the guest account,
    // which takes no password (the password is ignored).
    Result AddUser(const std::string& name, const std::string& password);
    // Makes users/guest when it is not there yet.
    Result EnsureGuest();
    // Writes a new "colors"; an old plain-text "passwd.txt" of the user goes with it.
    Result ChangePassword(const std::string& name, const std::string& password);
    // Moves the user's folder to users/.removed/. The guest account cannot be removed: without
    // it every start of the launcher would be a first run.
    Result RemoveUser(const std::string& name);
    // Clears folders under users/.adding/ left by adds that were interrupted (their process is
    // gone); those of an add still at work are left alone.
    void CleanLeftovers() const;

    // Called when a new user's folder is complete, just before it is renamed into place (tests
    // stop a process there, as a crash or a kill would).
    std::function<void()> beforeRename;

private:
    std::string PathOf(const std::string& name) const;
    // The stored spelling of a user folder whose name equals `name` ignoring letter case.
    std::string SimilarUser(const std::string& name) const;
    Result RefuseMissingUser(const std::string& name) const;
    Result MakeUserFolder(const std::string& name, const std::string* password);

    std::string folder_;
};

} // namespace plconfig
