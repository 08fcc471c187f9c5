// Local accounts: each user's scrambled password file "colors" (and the older passwd.txt it
// replaces) in the user's folder, and the local check of the Login window's name and
// password.
#include "launcher.h"

#include "engine/kernel.h"
#include "platform/file_system.h"
#include "resource.h"
#include "settings/global_settings.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

constexpr unsigned char kScrambleMask = 0xE7;
constexpr int kMaxStoredPassword = kNameSize - 1;
constexpr int kMaxTypedText = 119;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string ColorsPath(const std::string& folder) {
    return folder + "/colors";
}
std::string LegacyPath(const std::string& folder) {
    return folder + "/passwd.txt";
}

void SetStatus(const std::string& text) {
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_STATUS, text);
}

void ShowLoginError(const std::string& text) {
    platform::MessageBox(g_state.loginWindow, text, "Login Error", platform::MB_ICONERROR);
}

bool Refuse(const std::string& text) {
    SetStatus(text);
    ShowLoginError(text);
    return false;
}

std::string Format(const char* format, const char* name) {
    char text[512];
    std::snprintf(text, sizeof text, format, name);
    return text;
}

// A typed name that would reach outside the users folder names no user.
bool IsPlainName(const std::string& name) {
    return name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name != "." && name != "..";
}

} // namespace

bool ReadPasswordFile(const std::string& folder, char (&out)[kNameSize]) {
    File file(std::fopen(ColorsPath(folder).c_str(), "rb"));
    if (!file)
        return false;
    int length = std::fgetc(file.get());
    // A length the buffer cannot hold is refused like a file that ends too early.
    if (length == EOF || length > kMaxStoredPassword)
        return false;
    if (std::fread(out, 1, std::size_t(length), file.get()) != std::size_t(length))
        return false;
    for (int i = 0; i < length; ++i)
        out[i] = char(static_cast<unsigned char>(out[i]) ^ kScrambleMask);
    out[length] = '\0';
    return true;
}

bool WritePasswordFile(const std::string& folder, const std::string& password) {
    // The reader takes at most 127 bytes; a longer password would be stored unreadable.
    if (password.size() > std::size_t(kMaxStoredPassword))
        return false;
    std::string bytes(1, char(password.size()));
    for (char c : password)
        bytes += char(static_cast<unsigned char>(c) ^ kScrambleMask);
    // Written whole or not at all: a conversion that dies half-way keeps passwd.txt usable.
    return platform::WriteFileAtomically(ColorsPath(folder), bytes);
}

bool MigrateLegacyPassword(const std::string& folder) {
    const std::string path = LegacyPath(folder);
    char password[kNameSize] = {};
    {
        File file(std::fopen(path.c_str(), "r"));
        if (!file)
            return false;
        // A file without a password in the expected form is kept for whoever can repair it.
        if (std::fscanf(file.get(), "<Password>\t%127s\n", password) != 1)
            return false;
    }
    if (!WritePasswordFile(folder, password))
        return false;
    std::remove(path.c_str());
    return true;
}

bool LoadUserPassword(const std::string& usersFolder, const std::string& name,
                      char (&out)[kNameSize]) {
    const std::string folder = usersFolder + name;
    if (ReadPasswordFile(folder, out))
        return true;
    if (MigrateLegacyPassword(folder) && ReadPasswordFile(folder, out))
        return true;
    ShowLoginError(
        Format("ERROR:  Password file corrupted or missing for user \"%s\".", name.c_str()));
    return false;
}

bool VerifyUser() {
    platform::HWND window = g_state.loginWindow;
    platform::SetCursor(platform::LoadSystemCursor(platform::IDC_WAIT));
    SetStatus("Verifying username and password...");

    CopyName(g_state.userName, platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, kMaxTypedText));
    const std::string userName = g_state.userName;

    if (strcasecmp(g_state.userName, "guest") == 0) {
        if (g_state.globalSettings)
            g_state.globalSettings->setUserName("");
        return true;
    }
    if (userName.empty())
        return Refuse("Please enter a user name.");

    // The stored spelling is looked up ignoring case, so that a name in the wrong case is
    // told apart from one that does not exist also on a case-sensitive disk.
    const std::string folder = pathate(g_state.kernelServer, "users:%s", g_state.userName);
    const std::string storedName = IsPlainName(userName) ? platform::StoredName(folder) : "";
    const std::string usersFolder = pathate(g_state.kernelServer, "users:");
    if (storedName.empty() || !platform::IsDirectory(usersFolder + storedName))
        return Refuse(Format("User \"%s\" does not exist.  Please try again.", g_state.userName));
    if (storedName != userName)
        return Refuse("User Name and Password are case-sensitive.  Please try again.");

    if (g_state.globalSettings)
        g_state.globalSettings->setUserName(userName);

    char stored[kNameSize] = {};
    if (g_state.quickStart) {
        // A quick start sends the stored password on without comparing it.
        if (!LoadUserPassword(usersFolder, userName, stored))
            return false;
        platform::SetDlgItemText(window, IDC_LOGIN_PASSWORD, stored);
        return true;
    }

    const std::string typed = platform::GetDlgItemText(window, IDC_LOGIN_PASSWORD, kMaxTypedText);
    if (typed.empty())
        return Refuse("Please enter a password.");
    if (!LoadUserPassword(usersFolder, userName, stored))
        return false;
    if (std::strcmp(typed.c_str(), stored) == 0)
        return true;
    return Refuse(Format("Password invalid for user \"%s\".  Please try again.", g_state.userName));
}
