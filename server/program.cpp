// The actions of the pelora-server program (see program.h).
#include "program.h"

#include "disk.h"
#include "options.h"
#include "seal_keys.h"
#include "server.h"
#include "staff/staff_accounts.h"
#include "tls_identity.h"

#include "password_hasher.h"
#include "storage_backend.h"

#include "protocol/framing.h"
#include "protocol/message_checks.h"
#include "protocol/user_name.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace server {

namespace {

constexpr const char* kVersion = "pelora-server 2.1";

int Fail(const std::string& error) {
    std::fprintf(stderr, "pelora-server: %s\n", error.c_str());
    return 1;
}

// Many launchers mean many sockets: take every descriptor the system allows.
void RaiseDescriptorLimit() {
    rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int PrintPublicKey(const ServerOptions& options) {
    std::string error;
    DataLayout layout(options);
    SealKeys keys;
    bool created = false;
    if (!MakeFolders(options.dataDir, 0700, error) ||
        !LoadOrMakeSealKeys(layout.keys, keys, created, error))
        return Fail(error);
    std::printf("%s\n", PublicKeyHex(keys).c_str());
    return 0;
}

int PrintCertificate(const ServerOptions& options) {
    std::string error, pem;
    DataLayout layout(options);
    bool created = false;
    if (options.certPath.empty() && (!MakeFolders(JoinPath(options.dataDir, "tls"), 0700, error) ||
                                     !EnsureCertificate(layout.cert, layout.key, created, error)))
        return Fail(error);
    if (!ReadFile(layout.cert, pem, error))
        return Fail(error);
    std::fputs(pem.c_str(), stdout);
    return 0;
}

int OpenData(const ServerOptions& options, const std::string& target) {
    std::string error;
    DataLayout layout(options);
    if (!PathExists(layout.keys + "/seal.key"))
        return Fail("no sealing key in " + layout.keys +
                    ": has a server run with the data "
                    "folder " +
                    options.dataDir + "?");
    SealKeys keys;
    bool created = false;
    if (!LoadOrMakeSealKeys(layout.keys, keys, created, error))
        return Fail(error);
    if (!MakeFolders(target, 0700, error))
        return Fail(error);
    OpenDataReport report = OpenDataFiles(layout.users, keys, target);
    for (const std::string& problem : report.problems)
        std::fprintf(stderr, "pelora-server: %s\n", problem.c_str());
    std::printf("Opened %zu sealed files and copied %zu other files into %s.\n", report.opened,
                report.copied, target.c_str());
    for (const std::string& renamed : report.renamed)
        std::printf("%s.\n", renamed.c_str());
    if (report.unchanged > 0)
        std::printf("%zu files were there already with the same content and were left as they "
                    "are.\n",
                    report.unchanged);
    // Sent by a launcher that did not yet know the server's key: their content crossed the
    // network sealed only by TLS and lay on disk as it came.
    if (!report.unsealed.empty()) {
        std::printf("%zu files arrived unsealed:\n", report.unsealed.size());
        for (const std::string& name : report.unsealed)
            std::printf("  %s\n", name.c_str());
    }
    if (!report.problems.empty()) {
        std::printf("%zu files could not be opened (see above).\n", report.problems.size());
        return 1;
    }
    return 0;
}

int SetPassword(const ServerOptions& options, const std::string& name) {
    if (names::IsGuestName(name))
        return Fail("the guest account has no password");
    std::string password;
    if (!std::getline(std::cin, password))
        return Fail("no password on standard input (one line: the new password)");
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty() || password.size() > wire::kMaxPasswordBytes)
        return Fail("a password is 1 to " + std::to_string(wire::kMaxPasswordBytes) + " bytes");
    std::string error;
    DataLayout layout(options);
    if (options.database.empty() && !PathExists(layout.database))
        return Fail("no accounts in " + options.dataDir +
                    ": has a server run with this data folder?");
    // The accounts of the database the server uses: --database, else the data folder's.
    auto storage = MakeStorage(options.database, layout.database, 1);
    if (!storage->Open(error))
        return Fail(error);
    AccountStore& store = storage->Accounts();
    PasswordHasher hasher(options.argon2Ops, options.argon2MemoryKiB);
    std::string hash;
    const bool hashed = hasher.Hash(password, hash);
    std::fill(password.begin(), password.end(), '\0');
    if (!hashed)
        return Fail("the password could not be hashed");
    switch (store.UpdateHash(name, hash)) {
    case StoreResult::Ok:
        std::printf("The password of \"%s\" is changed on the server.\n", name.c_str());
        return 0;
    case StoreResult::NotFound:
        return Fail("there is no account named \"" + name + "\"");
    default:
        return Fail("the accounts in " + storage->Describe() +
                    " could not be written: " + TakeStoreFailure());
    }
}

int Serve(const ServerOptions& options, const std::string& configPath) {
    RaiseDescriptorLimit();
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN); // a file-size limit shows as a write error, not a crash
    Server server(options);
    std::string error;
    if (!server.Start(error))
        return Fail(error);
    // The readiness line: scripts and tests wait for it rather than sleep.
    std::printf("pelora-server: listening on %s\n", server.ListenAddress().c_str());
    std::printf("pelora-server: data folder %s%s%s\n", options.dataDir.c_str(),
                configPath.empty() ? "" : ", configuration ", configPath.c_str());
    std::fflush(stdout);
    return server.Run();
}

} // namespace

int RunServerProgram(int argc, char** argv) {
    // What the server writes is for its owner and the site's staff group only.
    ::umask(027);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLine commandLine;
    std::string error;
    if (!ParseCommandLine(arguments, commandLine, error)) {
        Fail(error);
        return 2;
    }
    switch (commandLine.action) {
    case Action::Help:
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    case Action::Version:
        std::printf("%s (protocol %u)\n", kVersion, wire::kProtocolVersion);
        return 0;
    case Action::PrintPublicKey:
        return PrintPublicKey(commandLine.options);
    case Action::PrintCertificate:
        return PrintCertificate(commandLine.options);
    case Action::OpenData:
        return OpenData(commandLine.options, commandLine.openDataTarget);
    case Action::AddStaff:
        return AddStaffAccount(commandLine.options, commandLine.staffName, stdin, stdout, stderr);
    case Action::RemoveStaff:
        return RemoveStaffAccount(commandLine.options, commandLine.staffName, stdout, stderr);
    case Action::ListStaff:
        return ListStaffAccounts(commandLine.options, stdout, stderr);
    case Action::SetPassword:
        return SetPassword(commandLine.options, commandLine.accountName);
    case Action::Serve:
        break;
    }
    return Serve(commandLine.options, commandLine.configPath);
}

} // namespace server
