// The launcher's start-up, Login window, local accounts and network login operations.
#pragma once

#include "launcher_state.h"

#include <string>

class GlobalSettings;

// ---- exit codes of pelox ----
constexpr int kExitOk = 0;            // Quit or the close box; a quick start that drove
constexpr int kExitCannotStart = 1;   // no graphics, or the Login window could not be made
constexpr int kExitLoginFailed = 2;   // a quick start whose login failed
constexpr int kExitDriveFailed = 3;   // a quick start that logged in but did not drive to the end
constexpr int kExitUnknownOption = 4; // the command line holds what the launcher does not take
constexpr int kExitLoopFailed = -1;   // the message loop failed

// ---- command line (command_line.cpp) ----
enum class CommandLineRequest { RunLauncher, PrintUsage, PrintVersion };
// Usage or version only when the whole command line is one of their words; every other
// command line is the launcher's own (WinMain reads "-quick" from it).
CommandLineRequest ReadCommandLineRequest(const std::string& commandLine);
// What the launcher says of a command line it does not take (anything but nothing or
// "-quick" in any letter case, once Qt has taken its own options); "" when it takes it.
std::string CommandLineProblem(const std::string& commandLine);
std::string UsageText();
std::string VersionText();
// The exit code of a quick start from how far it got.
int QuickStartExitCode(bool loggedIn, bool driveCompleted);

// ---- entry point, loop, shutdown (winmain.cpp, progress_windows.cpp, engine_release.cpp) ----
int WinMain(platform::HINSTANCE instance, platform::HINSTANCE previous, const char* commandLine,
            int showCommand);
platform::HWND CreateStartupWindow();
platform::HWND CreateProgressWindow();
bool SilentDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                      platform::LPARAM lParam);
void ReleaseEngine();
// Stands in for the graphics-runtime check of the support library.
bool assertDX8();

// ---- engine bootstrap (bootstrap.cpp) ----
constexpr const char* kVersionText = "2.1";
void BootstrapEngine();
// The first-run part of the bootstrap: the start-up window hidden, the notice, the
// configuration tool run and waited for, the windows brought back.
void RunFirstRunSetup(platform::HWND startupWindow);
// The display-mode string for the settings (or the defaults when there are none).
std::string BuildDisplayMode(const GlobalSettings* settings);

// ---- Login window (login_window.cpp) ----
constexpr const char* kMakerUrl = "https://www.pelora.example/";
bool LoginDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                     platform::LPARAM lParam);
void InitLoginWindow();
void OnLoginCommand(platform::HWND window, int controlId, int notificationCode);
void SetLoginBusy(bool busy);
void ShowWaitCursor();
void TrackBannerLink(int x, int y, bool clicked);
bool GotoURL(const char* address, int showCommand);
// True while a login sequence runs (close requests are refused meanwhile).
bool LoginBusy();

// ---- local password store and offline check (password_store.cpp) ----
bool ReadPasswordFile(const std::string& folder, char (&out)[kNameSize]);
bool WritePasswordFile(const std::string& folder, const std::string& password);
bool MigrateLegacyPassword(const std::string& folder);
bool LoadUserPassword(const std::string& usersFolder, const std::string& name,
                      char (&out)[kNameSize]);
bool VerifyUser();

// ---- network connection and login (network_login.cpp) ----
bool ConnectToServer();
bool LoginToServer();
bool LogoutFromServer();

// ---- Rename-user dialog (rename_dialog.cpp) ----
// Runs the dialog modally over the Login window. 0: the user's folder now carries the new
// name and `userName` holds it; 1: cancelled; 2: the folder could not be moved; -1: the
// dialog could not be made (the quit message is posted).
int AskForNewName();
bool RenameUserDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                          platform::LPARAM lParam);
void SetRenamePrompt(platform::HWND window);
// Moves the current user's folder under users: to `newName`. 0: moved, `userName` and the
// Login window's name field changed; 1: a file or folder of that name (in any letter case)
// is there already; 2: anything else, nothing moved.
int RenameUserFolder(const std::string& newName);
// Why `name` cannot be taken as a user's new name, as a sentence for the user; "" when it can.
std::string NewNameProblem(const std::string& name);

// A text as one script word: braces when that is safe, backslash escapes otherwise, so that
// blanks, brackets, braces, '$', quotes and backslashes arrive as themselves.
std::string ScriptWord(const std::string& text);
