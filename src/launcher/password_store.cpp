// Local accounts: each user's scrambled password file "colors" (and the older passwd.txt it
// replaces) in the user's folder, and the local check of the Login window's name and
// password.
#include "launcher.h"

#include "accounts/password_file.h"
#include "engine/kernel.h"
#include "platform/file_system.h"
#include "protocol/user_name.h"
#include "resource.h"
#include "settings/global_settings.h"

#include <cstdio>
#include <cstring>

namespace {

// The edits are read whole: a name or password that does not fit is refused, never cut (a cut
// name would be another user's).
constexpr int kWholeEdit = 1 << 16;

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

// The refusal of a name that no user can have: too long for the name fields, or holding
// what the data server cannot keep (control characters, bytes that are not UTF-8). Empty
// when the name may name a user.
std::string NameRefusal(const std::string& name) {
    names::NameProblem problem = names::CheckUserName(name);
    switch (problem) {
    case names::NameProblem::TooLong:
        return "That user name is too long.  " + names::DescribeNameProblem(problem);
    case names::NameProblem::ControlCharacter:
    case names::NameProblem::NotUtf8:
        return "User \"" + names::PrintableName(name) + "\" cannot be used.  " +
               names::DescribeNameProblem(problem);
    default:
        return "";
    }
}

} // namespace

bool ReadPasswordFile(const std::string& folder, char (&out)[kNameSize]) {
    std::string password;
    if (!accounts::ReadColorsFile(folder, password))
        return false;
    std::memcpy(out, password.data(), password.size());
    out[password.size()] = '\0';
    return true;
}

bool WritePasswordFile(const std::string& folder, const std::string& password) {
    return accounts::WriteColorsFile(folder, password);
}

bool MigrateLegacyPassword(const std::string& folder) {
    return accounts::MigrateLegacyPassword(folder);
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

    const std::string userName = platform::GetDlgItemText(window, IDC_LOGIN_USERNAME, kWholeEdit);
    g_state.userName[0] = '\0'; // only a name that may name a user is taken
    if (names::IsGuestName(userName)) {
        CopyName(g_state.userName, userName);
        if (g_state.globalSettings)
            g_state.globalSettings->setUserName("");
        return true;
    }
    if (userName.empty())
        return Refuse("Please enter a user name.");
    if (std::string refusal = NameRefusal(userName); !refusal.empty())
        return Refuse(refusal);
    CopyName(g_state.userName, userName); // fits: at most kMaxUserNameBytes

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

    const std::string typed = platform::GetDlgItemText(window, IDC_LOGIN_PASSWORD, kWholeEdit);
    if (typed.empty())
        return Refuse("Please enter a password.");
    if (!LoadUserPassword(usersFolder, userName, stored))
        return false;
    if (typed == stored)
        return true;
    return Refuse(Format("Password invalid for user \"%s\".  Please try again.", g_state.userName));
}
