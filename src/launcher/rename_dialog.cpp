// The Rename-user dialog: when the server says the user's name belongs to someone else, the
// user picks another one, the user's folder under users: is moved to it and the login is tried
// again under the new name. Names are checked before anything moves, and a move never
// replaces what is already there.
#include "launcher.h"

#include "engine/kernel.h"
#include "platform/file_system.h"
#include "protocol/user_name.h"
#include "resource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace {

// The edit is read as a name buffer holds it; anything longer than a user name may be is
// refused by the name check, not cut to fit.
constexpr int kMaxTypedName = kNameSize - 1;

enum class MoveResult { Moved, TargetExists, Failed };

// Moves a folder to a path that must not exist yet. A plain rename would silently replace an
// empty folder standing at the target; the kernel's no-replace rename refuses instead, and
// where the file system cannot do that the target is looked at first.
MoveResult MoveFolder(const std::string& from, const std::string& to, int& error) {
    error = 0;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return MoveResult::Moved;
    error = errno;
    if (error == EEXIST || error == ENOTEMPTY)
        return MoveResult::TargetExists;
    if (error != EINVAL && error != ENOSYS)
        return MoveResult::Failed;
    struct stat target;
    if (::lstat(to.c_str(), &target) == 0)
        return MoveResult::TargetExists;
    if (::rename(from.c_str(), to.c_str()) == 0)
        return MoveResult::Moved;
    error = errno;
    return MoveResult::Failed;
}

void ShowNameRefused(platform::HWND dialog, const std::string& problem) {
    platform::MessageBox(dialog, problem + "  Please enter another name.", "Error",
                         platform::MB_ICONERROR);
}

void OnRenameCommand(platform::HWND dialog, int controlId) {
    switch (controlId) {
    case IDC_RENAME_CANCEL:
        platform::EndDialog(dialog, 1);
        break;
    case IDC_RENAME_OK: {
        const std::string name = platform::GetDlgItemText(dialog, IDC_RENAME_EDIT, kMaxTypedName);
        if (const std::string problem = NewNameProblem(name); !problem.empty()) {
            ShowNameRefused(dialog, problem);
            break; // the dialog stays open with the name as typed
        }
        switch (RenameUserFolder(name)) {
        case 0:
            platform::EndDialog(dialog, 0);
            break;
        case 1:
            g_state.renameRetry = 1;
            SetRenamePrompt(dialog);
            break;
        default:
            platform::MessageBox(dialog, "Error renaming directory.  User was not renamed.",
                                 "Error", platform::MB_ICONERROR);
            platform::EndDialog(dialog, 2);
            break;
        }
        break;
    }
    default:
        // Escape (IDCANCEL) and the edit's notifications: the dialog is left only by its two
        // buttons.
        break;
    }
}

} // namespace

std::string NewNameProblem(const std::string& name) {
    const names::NameProblem problem = names::CheckUserName(name);
    if (problem != names::NameProblem::None)
        return names::DescribeNameProblem(problem);
    if (names::IsGuestName(name))
        return "\"" + name + "\" is the name of the shared guest account.";
    return "";
}

int AskForNewName() {
    const std::string before = g_state.userName;
    int code = platform::DialogBoxParam(g_state.instance, IDD_RENAME, g_state.loginWindow,
                                        RenameUserDialogProc, 0);
    if (code == -1) {
        platform::MessageBox(nullptr, platform::GetLastErrorText(), "Error",
                             platform::MB_ICONEXCLAMATION);
        platform::PostQuitMessage(0);
        return -1;
    }
    // A dialog that the quit message ended also gives 0; only a move changes the name, so the
    // login is not tried again under a name that was never taken.
    if (code == 0 && before == g_state.userName)
        return 1;
    return code;
}

bool RenameUserDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                          platform::LPARAM) {
    switch (message) {
    case platform::WM_INITDIALOG:
        SetRenamePrompt(window);
        platform::SetDlgItemText(window, IDC_RENAME_EDIT, g_state.userName);
        return true;
    case platform::WM_COMMAND:
        OnRenameCommand(window, int(platform::LOWORD(wParam)));
        return true;
    default:
        return false;
    }
}

void SetRenamePrompt(platform::HWND window) {
    const char* format = g_state.renameRetry
                             ? "Sorry, the new name you just entered is also in use.  Please "
                               "enter another name for \"%s\""
                             : "The user name you have chosen is already in use by another "
                               "user.  Please enter a new name for \"%s\"";
    char prompt[512];
    std::snprintf(prompt, sizeof prompt, format, g_state.userName);
    platform::SetDlgItemText(window, IDC_RENAME_PROMPT, prompt);
}

int RenameUserFolder(const std::string& newName) {
    const std::string oldName = g_state.userName;
    // Both names must be plain folder names of users: before anything is touched, so that
    // nothing outside users: can be moved or made; the guest's folder is never moved.
    if (!NewNameProblem(newName).empty() || !NewNameProblem(oldName).empty()) {
        n_printf("WARN %s/%d: user folder not renamed: \"%s\" to \"%s\"\n", __FILE__, __LINE__,
                 names::PrintableName(oldName).c_str(), names::PrintableName(newName).c_str());
        return 2;
    }

    // The users folder as an absolute path; the working directory ends at home: either way.
    nKernelServer* kernel = g_state.kernelServer;
    std::string usersFolder;
    if (platform::SetCurrentDirectory(pathate(kernel, "users:")))
        usersFolder = platform::GetCurrentDirectory();
    platform::SetCurrentDirectory(pathate(kernel, "home:"));
    if (usersFolder.empty()) {
        n_printf("WARN %s/%d: the users folder cannot be entered\n", __FILE__, __LINE__);
        return 2;
    }
    const std::string oldPath = usersFolder + platform::kPathSeparator + oldName;
    const std::string newPath = usersFolder + platform::kPathSeparator + newName;

    // Logins look folders up ignoring letter case: a folder that differs from the new name
    // only in case is another user's and would make both names ambiguous. A change of case of
    // the user's own folder is a rename like any other.
    const std::string clash = platform::StoredName(newPath);
    if (!clash.empty() && clash != oldName)
        return 1;

    int error = 0;
    switch (MoveFolder(oldPath, newPath, error)) {
    case MoveResult::Moved:
        break;
    case MoveResult::TargetExists:
        return 1;
    case MoveResult::Failed:
        n_printf("WARN %s/%d: renaming user folder %s to %s failed: %s\n", __FILE__, __LINE__,
                 names::PrintableName(oldPath).c_str(), names::PrintableName(newPath).c_str(),
                 std::strerror(error));
        return 2;
    }
    n_printf("Renamed user folder %s to %s\n", names::PrintableName(oldName).c_str(),
             names::PrintableName(newName).c_str());
    CopyName(g_state.userName, newName);
    platform::SetDlgItemText(g_state.loginWindow, IDC_LOGIN_USERNAME, g_state.userName);
    return 0;
}
