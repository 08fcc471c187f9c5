// The command line: parsing one action, the help text, exit codes, and the windowless commands.
#include "command_line.h"

#include "password_input.h"
#include "platform/file_system.h"
#include "protocol/user_name.h"
#include "server_identity.h"
#include "server_password.h"
#include "server_setting.h"
#include "user_store.h"

namespace plconfig {

namespace {

constexpr const char* kUsersFolder = "users";
constexpr const char* kSettingsFile = "globalSettings";

struct OptionName {
    const char* name;
    Action action;
    const char* valueName; // null when the option takes no value
};

constexpr OptionName kOptions[] = {
    {"-add", Action::FirstRunAdd, nullptr},
    {"--add", Action::FirstRunAdd, nullptr},
    {"--add-user", Action::AddUser, "a user name"},
    {"--passwd", Action::ChangePassword, "a user name"},
    {"--remove", Action::RemoveUser, "a user name"},
    {"--list", Action::ListUsers, nullptr},
    {"--server", Action::SetServer, "HOST:PORT"},
    {"--show-server", Action::ShowServer, nullptr},
    {"--accept-server", Action::AcceptServer, nullptr},
    {"--help", Action::Help, nullptr},
    {"-h", Action::Help, nullptr},
    {"--version", Action::Version, nullptr},
};

Options Invalid(std::string problem) {
    return Options{Action::Invalid, "", std::move(problem) + " See plconfig --help."};
}

int Report(std::ostream& err, const std::string& message, int code) {
    err << "plconfig: " << message << '\n';
    return code;
}

int Finish(const Result& result, CommandStreams& streams) {
    if (!result.Ok())
        return Report(streams.err, result.message, ExitCodeFor(result.outcome));
    if (!result.message.empty())
        streams.out << result.message << '\n';
    return kExitOk;
}

bool AskPassword(const std::string& name, CommandStreams& streams, std::string& password,
                 std::string& problem) {
    return ReadPassword(streams.passwordIn, streams.promptOut,
                        "Password for " + names::PrintableName(name) + ": ", password, problem);
}

} // namespace

Options ParseArguments(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return Options{};
    std::string option = arguments[0];
    std::string value;
    bool hasValue = false;
    // "--option=value" as well as "--option value".
    if (option.compare(0, 2, "--") == 0) {
        if (std::string::size_type equals = option.find('='); equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
    }
    for (const OptionName& known : kOptions) {
        if (option != known.name)
            continue;
        std::size_t used = 1;
        if (known.valueName && !hasValue) {
            if (arguments.size() < 2)
                return Invalid(option + " needs " + known.valueName + ".");
            value = arguments[1];
            used = 2;
        } else if (!known.valueName && hasValue) {
            return Invalid(option + " takes no value.");
        }
        if (arguments.size() > used)
            return Invalid("One option at a time; \"" + names::PrintableName(arguments[used]) +
                           "\" is one too many.");
        return Options{known.action, value, ""};
    }
    return Invalid("Unknown option \"" + names::PrintableName(arguments[0]) + "\".");
}

int ExitCodeFor(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return kExitOk;
    case Outcome::NameRefused:
        return kExitNameRefused;
    case Outcome::NoSuchUser:
        return kExitNoSuchUser;
    case Outcome::UserExists:
        return kExitUserExists;
    case Outcome::PasswordRefused:
        return kExitPasswordRefused;
    case Outcome::ValueRefused:
        return kExitUsage;
    case Outcome::IoFailure:
        return kExitIoFailure;
    case Outcome::ServerNotChanged:
        return kExitServerNotChanged;
    }
    return kExitIoFailure;
}

std::string HelpText() {
    return R"(Usage: plconfig [OPTION]
Adds and removes the users of Pelora and sets the server its launchers connect to.
Without an option it opens the configuration window.

  -add                  open the window on Add User (the launcher's first run starts
                        this); when the window closes, the guest account exists. Without
                        a display it makes the guest account, says how to add users from
                        the command line, and ends with success
  --add-user NAME       add a user; the password is read from standard input
  --passwd NAME         give a user a new password, read from standard input; the
                        configured server is told too (exit code 8 when it could not be)
  --remove NAME         remove a user: the folder is moved to users/.removed/, not deleted
  --list                list the users, one name a line
  --server HOST[:PORT]  set the server that Drive Online connects to (HOST alone keeps the
                        port); HOST is a host name or an IPv4 address, PORT 1 to 65535
  --show-server         show the certificate the launchers here remember for the server,
                        and the new one a launcher was refused when the server's
                        identity changed
  --accept-server       trust that new certificate from now on (only when the server was
                        replaced or set up again on purpose); the server's sealing key is
                        then learnt anew
  --help                show this help and end
  --version             show the version and end

Passwords are never given on the command line. On a terminal they are asked twice, not
shown; from a pipe or a file the first line is the password:
    printf '%s\n' "$PASSWORD" | plconfig --add-user alice
A password is 1 to 119 bytes of UTF-8 text without control characters (the Login window
takes no more). User names and passwords are case-sensitive.

User names follow the rules of the launcher and the server: at most 119 bytes of UTF-8
text, no slash or backslash, no control characters, not "." or "..". A name that differs
only in letter case from an existing user, and the tool's own folder names ".adding" and
".removed", are refused too. "guest" in any letter case is the guest account
(users/guest): it needs no password and cannot be removed.

A user is made all at once: the folder is built under users/.adding/ and renamed into place
only when its password file is written, so an interrupted add leaves no half-made user (and
the next run clears what it left).

The home folder is the launcher's: $PELORA_HOME, else $XDG_DATA_HOME/pelora/home (by
default ~/.local/share/pelora/home), made from the installed default home when missing.
Users are folders in its users/ folder; the server is kept in its globalSettings file.

Exit codes:
  0  done
  1  a file or folder could not be read, made, written or moved
  2  usage error: unknown option, missing or unusable value
  3  name refused
  4  no such user
  5  the user exists already
  6  password refused: empty, too long, not typeable, or the two entries differ
  7  the window cannot open: there is no display
  8  the password changed here, but the server could not be told: the user's next
     Drive Online fails until it is (pelora-server --set-password NAME on the server)
)";
}

bool IsHeadlessPlatform(const std::string& platformName) {
    // "offscreen:fontengine=..." and the like carry options after a colon.
    const std::string name = platformName.substr(0, platformName.find(':'));
    return name == "offscreen" || name == "minimal";
}

std::string ChooseWindowPlatform(const char* qpaPlatform, const char* display,
                                 const char* waylandDisplay) {
    auto set = [](const char* value) { return value && *value; };
    if (set(qpaPlatform))
        return IsHeadlessPlatform(qpaPlatform) ? "" : qpaPlatform;
    if (set(waylandDisplay))
        return set(display) ? "wayland;xcb;offscreen" : "wayland;offscreen";
    if (set(display))
        return "xcb;offscreen";
    return "";
}

int RunCommand(const Options& options, const std::string& homeFolder, CommandStreams& streams) {
    UserStore store(homeFolder + "/" + kUsersFolder);
    const std::string& name = options.value;
    switch (options.action) {
    case Action::Help:
        streams.out << HelpText();
        return kExitOk;
    case Action::Version:
        streams.out << "plconfig (Pelora) " << PELORA_VERSION << '\n';
        return kExitOk;
    case Action::Invalid:
        return Report(streams.err, options.problem, kExitUsage);
    case Action::ListUsers:
        // No users folder yet means no users; one that cannot be read is a failure.
        if (platform::FileExists(store.Folder()) &&
            !platform::FolderSearch(store.Folder()).IsOpen())
            return Report(streams.err, "Could not read the users folder " + store.Folder() + ".",
                          kExitIoFailure);
        for (const std::string& user : store.ListUsers())
            streams.out << names::PrintableName(user) << '\n';
        return kExitOk;
    case Action::AddUser: {
        if (Result check = store.CheckNewUserName(name); !check.Ok())
            return Finish(check, streams);
        std::string password, problem;
        if (!names::IsGuestName(name) && !AskPassword(name, streams, password, problem))
            return Report(streams.err, problem, kExitPasswordRefused);
        return Finish(store.AddUser(name, password), streams);
    }
    case Action::ChangePassword: {
        if (Result check = store.CheckExistingUser(name); !check.Ok())
            return Finish(check, streams);
        std::string password, problem;
        if (!AskPassword(name, streams, password, problem))
            return Report(streams.err, problem, kExitPasswordRefused);
        return Finish(ChangePasswordEverywhere(store, homeFolder, name, password), streams);
    }
    case Action::RemoveUser:
        return Finish(store.RemoveUser(name), streams);
    case Action::SetServer: {
        ServerAddress address;
        std::string problem;
        if (!ParseServerAddress(name, address, problem))
            return Report(streams.err, problem, kExitUsage);
        return Finish(SaveServerAddress(homeFolder + "/" + kSettingsFile, address), streams);
    }
    case Action::ShowServer:
    case Action::AcceptServer: {
        ServerAddress address;
        std::string problem;
        if (!LoadServerAddress(homeFolder + "/" + kSettingsFile, address, problem))
            return Report(streams.err, problem, kExitIoFailure);
        const std::string keys = homeFolder + "/keys";
        const std::string server = ServerKeyOf(address.host, address.port);
        streams.out << DescribeServerIdentity(ReadServerIdentity(keys, server)) << '\n';
        if (options.action == Action::ShowServer)
            return kExitOk;
        return Finish(AcceptPresentedCertificate(keys, server), streams);
    }
    case Action::OpenWindow:
    case Action::FirstRunAdd:
        break;
    }
    return Report(streams.err, "This needs the window.", kExitUsage);
}

int RunHeadlessFirstRun(const std::string& homeFolder, std::ostream& err) {
    UserStore store(homeFolder + "/" + kUsersFolder);
    Result guest = store.EnsureGuest();
    if (!guest.Ok())
        return Report(err, guest.message, ExitCodeFor(guest.outcome));
    err << "plconfig: there is no display, so the user window cannot open. The guest account "
           "is ready.\n"
           "Add users from the command line (the password is read from standard input):\n"
           "    plconfig --add-user NAME\n"
           "    plconfig --list\n"
           "    plconfig --help\n";
    return kExitOk;
}

} // namespace plconfig
