// The User Setup window, its catalogues and the Adjust-wheelchair dialog; the world run below
// them is declared in world_run.h.
#pragma once

#include "config/launcher_state.h"
#include "config/world_run.h"

#include <string>

// ---- User Setup window (user_setup.cpp) ----
void ShowUserSetup(bool online);
bool SetupDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                     platform::LPARAM lParam);
void InitSetupWindow();
void OnSetupCommand(platform::HWND window, int controlId, int notificationCode);
void ShowUserTime();
// "%2.2d:%2.2d:%2.2d" of hours, minutes and seconds.
std::string FormatUserTime(int seconds);

// ---- the Online Users list of the User Setup window (online_users.cpp) ----
void AddOnlineUser(const char* line);
// Empties the list and asks for it again (Update, and after a drive's leave).
void RefreshOnlineUsers();
// Asks for the list again and changes only the lines that changed, without emptying it first:
// the server's news that the users online changed. Nothing while no online User Setup window
// is open or a drive runs (the leave after it refreshes the list).
void UpdateOnlineUsers();
// ---- vehicle and colour catalogues (vehicle_catalogue.cpp) ----
constexpr int kMaxVehicles = 100;
extern const char* const kColorNames[6];
void FillColorList();
void FillVehicleList();
void UpdateVehicleChoice();

// ---- world catalogue (world_catalogue.cpp) ----
void FillWorldList();
void UpdateWorldChoice();
const char* DifficultyLabel(int difficulty);
// Reads the difficulty file of a world folder; 1 when it does not open or holds no number
// that fits 32 bits (logged).
int ReadDifficulty(const std::string& path);
// Byte order of names: unsigned bytes, a prefix first.
bool WorldEntryBefore(const WorldEntry& a, const WorldEntry& b);
// Scans the worlds folder into `catalogue` in catalogue order (O(n log n)).
void BuildWorldCatalogue(const std::string& worldsFolder, std::list<WorldEntry>& catalogue);

// ---- Adjust-wheelchair dialog (adjust_dialog.cpp) ----
void ShowAdjustDialog();
bool AdjustDialogProc(platform::HWND window, unsigned message, platform::WPARAM wParam,
                      platform::LPARAM lParam);
void InitAdjustDialog(platform::HWND dialog);
void SnapSlider(platform::HWND dialog, int sliderId);
void ApplySpeedSlider(platform::HWND dialog, int position);
void ApplyAxisSlider(platform::HWND dialog, int position);
void ApplyWheelchairAdjustments();
// The snapped position: p - r, or p + (step - r) when the remainder r reaches the threshold.
int SnapPosition(int position, int step, int threshold);
// The label texts of the two sliders for a position.
std::string SpeedLabel(int position);
std::string AxisLabel(int position);
// The slider position for a stored value, rounded to the nearest (not clamped).
int SpeedPositionFor(float speedScale);
int AxisPositionFor(float axisOffset);
