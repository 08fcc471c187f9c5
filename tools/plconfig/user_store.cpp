// The users of a home folder: listing, adding (built aside and renamed into place), new
// passwords, removal by moving aside, and the clearing of interrupted adds.
#include "user_store.h"

#include "accounts/password_file.h"
#include "platform/file_system.h"
#include "protocol/user_name.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plconfig {

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& name) {
    return "\"" + names::PrintableName(name) + "\"";
}

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

// Flushes a folder's entries to disk, so that a rename in it survives a power cut.
void SyncFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// A folder made under `path` unless it is there already; 0 or the error.
int MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0)
        return 0;
    const int error = errno;
    if (error == EEXIST)
        return platform::IsDirectory(path) ? 0 : ENOTDIR;
    return error;
}

// Renames `from` to `to` unless something of that name exists (a plain rename would replace
// an empty folder made meanwhile); 0 or the error (EEXIST when the name is taken).
int MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the no-replace rename: look, then rename.
    if (platform::FileExists(to))
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

// Whether the process that made a staging folder "<pid>-XXXXXX" is still at work.
bool MakerIsAlive(const std::string& entry) {
    char* end = nullptr;
    long pid = std::strtol(entry.c_str(), &end, 10);
    if (pid <= 0 || end == entry.c_str() || *end != '-')
        return true; // not a name the tool makes: left alone
    if (pid == long(::getpid()))
        return true;
    return !(::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

std::string TimeStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

} // namespace

std::string DescribePasswordProblem(const std::string& password) {
    if (password.empty())
        return "A password cannot be empty: the Login window does not accept an empty password.";
    if (password.size() > kMaxTypedPasswordBytes)
        return "A password can hold at most " + std::to_string(kMaxTypedPasswordBytes) +
               " bytes (letters with accents take two or more): the Login window takes no more.";
    for (std::size_t i = 0; i < password.size(); ++i) {
        auto byte = static_cast<unsigned char>(password[i]);
        // U+0080 to U+009F, the C1 controls, are 0xC2 0x80 to 0xC2 0x9F in UTF-8.
        bool c1 = byte == 0xC2 && i + 1 < password.size() &&
                  static_cast<unsigned char>(password[i + 1]) <= 0x9F &&
                  static_cast<unsigned char>(password[i + 1]) >= 0x80;
        if (IsControlByte(byte) || c1)
            return "A password cannot hold control characters such as a tab or a line break.";
    }
    if (!names::IsValidUtf8(password))
        return "A password must be valid UTF-8 text, as a keyboard types it.";
    return "";
}

bool IsReservedFolderName(const std::string& name) {
    const std::string lower = Lower(name);
    return lower == kAddingFolder || lower == kRemovedFolder;
}

UserStore::UserStore(std::string usersFolder) : folder_(std::move(usersFolder)) {
    while (folder_.size() > 1 && folder_.back() == platform::kPathSeparator)
        folder_.pop_back();
}

std::string UserStore::PathOf(const std::string& name) const {
    return folder_ + platform::kPathSeparator + name;
}

std::vector<std::string> UserStore::ListUsers() const {
    std::vector<std::string> users;
    platform::FolderSearch search(folder_);
    platform::FolderEntry entry;
    while (search.Next(entry))
        if (entry.isDirectory && !IsReservedFolderName(entry.name))
            users.push_back(entry.name);
    std::sort(users.begin(), users.end(), [](const std::string& a, const std::string& b) {
        const std::string la = Lower(a), lb = Lower(b);
        return la != lb ? la < lb : a < b;
    });
    return users;
}

bool UserStore::HasUser(const std::string& name) const {
    return names::CheckUserName(name) == names::NameProblem::None && !IsReservedFolderName(name) &&
           platform::IsDirectory(PathOf(name));
}

std::string UserStore::SimilarUser(const std::string& name) const {
    const std::string lower = Lower(name);
    std::string similar;
    platform::FolderSearch search(folder_);
    platform::FolderEntry entry;
    while (search.Next(entry)) {
        if (!entry.isDirectory || IsReservedFolderName(entry.name))
            continue;
        if (entry.name == name)
            return entry.name;
        if (similar.empty() && Lower(entry.name) == lower)
            similar = entry.name;
    }
    return similar;
}

Result UserStore::CheckNewUserName(const std::string& name) const {
    if (names::IsGuestName(name)) {
        if (platform::FileExists(PathOf(kGuestFolder)))
            return Result::Failure(Outcome::UserExists, "The guest account exists already.");
        return Result::Success("");
    }
    if (names::NameProblem problem = names::CheckUserName(name);
        problem != names::NameProblem::None)
        return Result::Failure(Outcome::NameRefused, names::DescribeNameProblem(problem));
    if (IsReservedFolderName(name))
        return Result::Failure(Outcome::NameRefused,
                               Quoted(name) + " is the name of a folder the tool keeps for " +
                                   "itself under users:; please choose another name.");
    if (std::string similar = SimilarUser(name); !similar.empty()) {
        if (similar == name)
            return Result::Failure(Outcome::UserExists,
                                   "A user " + Quoted(name) + " exists already.");
        return Result::Failure(Outcome::UserExists, "A user " + Quoted(similar) +
                                                        " exists already; names that differ " +
                                                        "only in letter case would be mixed up.");
    }
    if (platform::FileExists(PathOf(name)))
        return Result::Failure(Outcome::UserExists,
                               "users/" + names::PrintableName(name) +
                                   " exists already and is not a user folder.");
    return Result::Success("");
}

Result UserStore::RefuseMissingUser(const std::string& name) const {
    std::string similar = SimilarUser(name);
    if (!similar.empty() && similar != name)
        return Result::Failure(Outcome::NoSuchUser, "There is no user " + Quoted(name) +
                                                        "; there is " + Quoted(similar) +
                                                        " (user names are case-sensitive).");
    return Result::Failure(Outcome::NoSuchUser, "There is no user " + Quoted(name) + ".");
}

Result UserStore::CheckExistingUser(const std::string& name) const {
    if (names::IsGuestName(name))
        return Result::Failure(Outcome::NameRefused, "The guest account has no password.");
    if (names::NameProblem problem = names::CheckUserName(name);
        problem != names::NameProblem::None)
        return Result::Failure(Outcome::NameRefused, names::DescribeNameProblem(problem));
    if (!HasUser(name))
        return RefuseMissingUser(name);
    return Result::Success("");
}

Result UserStore::AddUser(const std::string& name, const std::string& password) {
    if (Result check = CheckNewUserName(name); !check.Ok())
        return check;
    if (names::IsGuestName(name))
        return MakeUserFolder(kGuestFolder, nullptr);
    if (std::string problem = DescribePasswordProblem(password); !problem.empty())
        return Result::Failure(Outcome::PasswordRefused, problem);
    return MakeUserFolder(name, &password);
}

Result UserStore::EnsureGuest() {
    if (platform::IsDirectory(PathOf(kGuestFolder)))
        return Result::Success("The guest account is ready.");
    return MakeUserFolder(kGuestFolder, nullptr);
}

Result UserStore::MakeUserFolder(const std::string& name, const std::string* password) {
    const std::string target = PathOf(name);
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec)
        return Result::Failure(Outcome::IoFailure,
                               "Could not make the users folder " + folder_ + ": " + ec.message());
    CleanLeftovers();

    const std::string stagingRoot = PathOf(kAddingFolder);
    if (int error = MakeFolder(stagingRoot))
        return Result::Failure(Outcome::IoFailure, "Could not make the folder " + stagingRoot +
                                                       ": " + ErrorText(error));
    std::string staging =
        stagingRoot + platform::kPathSeparator + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(staging.data()))
        return Result::Failure(Outcome::IoFailure, "Could not make a folder in " + stagingRoot +
                                                       ": " + ErrorText(errno));
    // mkdtemp makes the folder 0700, as a user folder is kept (its password file is private).
    ::chmod(staging.c_str(), accounts::kUserFolderMode);

    if (password && !accounts::WriteColorsFile(staging, *password)) {
        int error = errno;
        RemoveTree(staging);
        return Result::Failure(Outcome::IoFailure, "Could not write the password file of " +
                                                       Quoted(name) + ": " + ErrorText(error));
    }
    SyncFolder(staging);
    if (beforeRename)
        beforeRename();

    if (int error = MoveWithoutReplacing(staging, target)) {
        RemoveTree(staging);
        if (error == EEXIST || error == ENOTEMPTY)
            return Result::Failure(Outcome::UserExists,
                                   "A user " + Quoted(name) + " exists already.");
        return Result::Failure(Outcome::IoFailure,
                               "Could not make the folder " + target + ": " + ErrorText(error));
    }
    SyncFolder(folder_);
    SyncFolder(stagingRoot);
    if (name == kGuestFolder && !password)
        return Result::Success("The guest account is ready.");
    return Result::Success("User " + Quoted(name) + " added.");
}

Result UserStore::ChangePassword(const std::string& name, const std::string& password) {
    if (Result check = CheckExistingUser(name); !check.Ok())
        return check;
    if (std::string problem = DescribePasswordProblem(password); !problem.empty())
        return Result::Failure(Outcome::PasswordRefused, problem);
    const std::string folder = PathOf(name);
    if (!accounts::WriteColorsFile(folder, password))
        return Result::Failure(Outcome::IoFailure, "Could not write the password file of " +
                                                       Quoted(name) + ": " + ErrorText(errno));
    // The launcher reads "colors" first, so an old plain-text password would only lie about.
    const std::string legacy = folder + platform::kPathSeparator + accounts::kLegacyFileName;
    if (::unlink(legacy.c_str()) != 0 && errno != ENOENT)
        return Result::Failure(Outcome::IoFailure,
                               "The new password of " + Quoted(name) + " is stored, but the old " +
                                   accounts::kLegacyFileName +
                                   " could not be removed: " + ErrorText(errno));
    return Result::Success("The password of " + Quoted(name) + " is changed.");
}

Result UserStore::RemoveUser(const std::string& name) {
    if (names::IsGuestName(name))
        return Result::Failure(Outcome::NameRefused,
                               "The guest account cannot be removed: without users/guest every "
                               "start of the launcher counts as a first run.");
    if (Result check = CheckExistingUser(name); !check.Ok())
        return check;
    const std::string removedRoot = PathOf(kRemovedFolder);
    if (int error = MakeFolder(removedRoot))
        return Result::Failure(Outcome::IoFailure, "Could not make the folder " + removedRoot +
                                                       ": " + ErrorText(error));
    const std::string base = name + "-" + TimeStamp();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string aside = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        int error =
            MoveWithoutReplacing(PathOf(name), removedRoot + platform::kPathSeparator + aside);
        if (error == EEXIST || error == ENOTEMPTY)
            continue;
        if (error)
            return Result::Failure(Outcome::IoFailure, "Could not move the folder of " +
                                                           Quoted(name) + ": " + ErrorText(error));
        SyncFolder(folder_);
        SyncFolder(removedRoot);
        return Result::Success("User " + Quoted(name) + " removed; the folder is kept as users/" +
                               kRemovedFolder + "/" + names::PrintableName(aside) + ".");
    }
    return Result::Failure(Outcome::IoFailure, "Could not move the folder of " + Quoted(name) +
                                                   ": too many removed folders of that name.");
}

void UserStore::CleanLeftovers() const {
    const std::string stagingRoot = PathOf(kAddingFolder);
    std::vector<std::string> stale;
    {
        platform::FolderSearch search(stagingRoot);
        platform::FolderEntry entry;
        while (search.Next(entry))
            if (!MakerIsAlive(entry.name))
                stale.push_back(stagingRoot + platform::kPathSeparator + entry.name);
    }
    for (const std::string& path : stale)
        RemoveTree(path);
}

} // namespace plconfig
