// The staff accounts' command-line actions (see staff_accounts.h).
#include "staff_accounts.h"

#include "drive_store.h"

#include "protocol/user_name.h"
#include "server/disk.h"
#include "server/password_hasher.h"
#include "server/storage_backend.h"

#include <ctime>
#include <termios.h>
#include <unistd.h>

namespace server {

namespace {

constexpr std::size_t kLeastPassword = 8;

// The database the server of these options uses: --database, else the data folder's SQLite
// file. Null when it does not open (said on `err`).
std::unique_ptr<StorageBackend> OpenStores(const ServerOptions& options, std::FILE* err) {
    std::string error;
    auto storage = MakeStorage(options.database, JoinPath(options.dataDir, "pelora-server.db"), 1);
    if ((options.database.empty() && !MakeFolders(options.dataDir, 0700, error)) ||
        !storage->Open(error)) {
        std::fprintf(err, "pelora-server: %s\n", error.c_str());
        return nullptr;
    }
    return storage;
}

// One line without its line break; false at the end of the input.
bool ReadLine(std::FILE* in, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(in)) != EOF && c != '\n')
        line += char(c);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return c != EOF || !line.empty();
}

// On a terminal: asks with the echo off.
bool AskPassword(std::FILE* in, std::FILE* out, const char* prompt, std::string& password) {
    int fd = ::fileno(in);
    bool terminal = ::isatty(fd);
    termios saved{};
    if (terminal) {
        std::fputs(prompt, out);
        std::fflush(out);
        ::tcgetattr(fd, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    bool read = ReadLine(in, password);
    if (terminal) {
        ::tcsetattr(fd, TCSAFLUSH, &saved);
        std::fputs("\n", out);
    }
    return read;
}

} // namespace

int AddStaffAccount(const ServerOptions& options, const std::string& name, std::FILE* in,
                    std::FILE* out, std::FILE* err) {
    auto problem = names::CheckUserName(name);
    if (problem != names::NameProblem::None) {
        std::fprintf(err, "pelora-server: \"%s\" cannot be a staff name: %s\n",
                     names::PrintableName(name).c_str(),
                     names::DescribeNameProblem(problem).c_str());
        return 2;
    }
    std::string password, again;
    if (!AskPassword(in, out, "Password: ", password)) {
        std::fprintf(err, "pelora-server: no password given on standard input\n");
        return 2;
    }
    if (::isatty(::fileno(in)) &&
        (!AskPassword(in, out, "The same password again: ", again) || again != password)) {
        std::fprintf(err, "pelora-server: the two passwords differ; no account was added\n");
        return 2;
    }
    if (password.size() < kLeastPassword) {
        std::fprintf(err, "pelora-server: a staff password needs at least %zu characters\n",
                     kLeastPassword);
        return 2;
    }
    auto storage = OpenStores(options, err);
    if (!storage)
        return 1;
    PasswordHasher hasher(options.argon2Ops, options.argon2MemoryKiB);
    StaffRecord record{name, "", std::int64_t(std::time(nullptr))};
    if (!hasher.Hash(password, record.passwordHash)) {
        std::fprintf(err, "pelora-server: not enough memory to hash the password\n");
        return 1;
    }
    switch (storage->Staff().Add(record)) {
    case StoreResult::Ok:
        std::fprintf(out, "Added the staff account %s.\n", name.c_str());
        return 0;
    case StoreResult::Exists:
        std::fprintf(err, "pelora-server: there is a staff account %s already\n", name.c_str());
        return 1;
    default:
        std::fprintf(err, "pelora-server: could not write the staff account: %s\n",
                     TakeStoreFailure().c_str());
        return 1;
    }
}

int RemoveStaffAccount(const ServerOptions& options, const std::string& name, std::FILE* out,
                       std::FILE* err) {
    auto storage = OpenStores(options, err);
    if (!storage)
        return 1;
    switch (storage->Staff().Remove(name)) {
    case StoreResult::Ok:
        std::fprintf(out, "Removed the staff account %s.\n", name.c_str());
        return 0;
    case StoreResult::NotFound:
        std::fprintf(err, "pelora-server: there is no staff account %s\n",
                     names::PrintableName(name).c_str());
        return 1;
    default:
        std::fprintf(err, "pelora-server: could not remove the staff account: %s\n",
                     TakeStoreFailure().c_str());
        return 1;
    }
}

int ListStaffAccounts(const ServerOptions& options, std::FILE* out, std::FILE* err) {
    auto storage = OpenStores(options, err);
    if (!storage)
        return 1;
    std::vector<StaffRecord> list;
    if (storage->Staff().List(list) != StoreResult::Ok) {
        std::fprintf(err, "pelora-server: could not read the staff accounts\n");
        return 1;
    }
    for (const StaffRecord& record : list) {
        std::time_t t = std::time_t(record.createdAt);
        std::tm tm{};
        gmtime_r(&t, &tm);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", &tm);
        std::fprintf(out, "%s\tadded %s\n", record.name.c_str(), when);
    }
    if (list.empty())
        std::fprintf(out, "No staff accounts. Add one with --add-staff NAME.\n");
    return 0;
}

} // namespace server
