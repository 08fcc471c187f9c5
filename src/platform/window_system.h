// The window system the launcher is written against: dialogs built from templates
// (data), dialog procedures receiving messages, modal and modeless runs, controls
// addressed by id, message boxes, timers, cursors, mouse capture and the quit message.
// It is implemented on Qt Widgets; the launcher never touches Qt directly.
#pragma once

#include "dialog_template.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct WindowObject; // opaque; a dialog built from a template
struct CursorObject;
struct IconObject;
struct BitmapObject;

// Handles stay valid as values after the window is gone: every call on a destroyed
// window does nothing (and gives the empty result), as on the classic platform.
using HWND = WindowObject*;
using HCURSOR = const CursorObject*;
using HICON = const IconObject*;
using HBITMAP = const BitmapObject*;
using HINSTANCE = void*; // the program's resources; there is one set, so any value serves

// ---- messages ---------------------------------------------------------------------------

enum Message : unsigned {
    WM_INITDIALOG = 0x0110,
    WM_COMMAND = 0x0111,
    WM_TIMER = 0x0113,
    WM_HSCROLL = 0x0114,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_CLOSE = 0x0010,
    WM_DESTROY = 0x0002,
};

// WM_COMMAND: wParam = MAKEWPARAM(control id, notification code), lParam = 0.
// WM_TIMER: wParam = timer id. WM_HSCROLL: wParam = scroll code, lParam = control id.
// WM_MOUSEMOVE / WM_LBUTTONDOWN: lParam = MAKELPARAM(x, y), client pixels cut to 16 bits.
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using DialogProc = bool (*)(HWND window, unsigned message, WPARAM wParam, LPARAM lParam);

constexpr WPARAM MAKEWPARAM(unsigned low, unsigned high) {
    return (WPARAM(high & 0xFFFF) << 16) | (low & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(int low, int high) {
    return LPARAM((std::uint32_t(high & 0xFFFF) << 16) | std::uint32_t(low & 0xFFFF));
}
constexpr unsigned LOWORD(std::uintptr_t v) {
    return unsigned(v & 0xFFFF);
}
constexpr unsigned HIWORD(std::uintptr_t v) {
    return unsigned((v >> 16) & 0xFFFF);
}

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;

// ---- resources ---------------------------------------------------------------------------

// Resources are registered once at start (res/ does it for the program's own set).
void RegisterDialogTemplate(const DialogTemplate& dialogTemplate);
const DialogTemplate* FindDialogTemplate(int id);
void RegisterBitmapResource(int id, const std::string& qtResourcePath);
void RegisterIconResource(int id, const std::string& qtResourcePath);
void RegisterCursorResource(int id, const std::string& qtResourcePath, int hotX, int hotY);

// Dialog units to pixels. As on the classic platform the base units come from the dialogs'
// font, which here is the platform's own UI font at the user's size: a horizontal unit is a
// quarter of the average letter width and a vertical one an eighth of the line height, each
// with room added, because the templates were laid out close around the texts in a narrower
// 8-point font and every text must show in full. Without an application the classic 6 x 13
// base units serve.
struct DialogBaseUnits {
    int x = 6;  // pixels per 4 horizontal dialog units
    int y = 13; // pixels per 8 vertical dialog units
};
DialogBaseUnits GetDialogBaseUnits();
int DialogUnitsToPixelsX(int du);
int DialogUnitsToPixelsY(int du);

// ---- dialogs -----------------------------------------------------------------------------

// Modeless: builds the dialog, sends WM_INITDIALOG and returns. Gives null when the template
// is unknown or the dialog was destroyed during its own initialisation.
HWND CreateDialogParam(HINSTANCE instance, int templateId, HWND owner, DialogProc proc,
                       LPARAM param);
// Modal: builds the dialog, sends WM_INITDIALOG, runs a nested loop until EndDialog, destroys
// the dialog and gives the end code; -1 when the dialog could not be created.
int DialogBoxParam(HINSTANCE instance, int templateId, HWND owner, DialogProc proc, LPARAM param);
bool EndDialog(HWND dialog, int result);
bool DestroyWindow(HWND window);
bool IsWindow(HWND window);
// Sends a message to the dialog's procedure at once (nested), as SendMessage does.
bool SendMessage(HWND window, unsigned message, WPARAM wParam, LPARAM lParam);
// WM_COMMAND shorthand.
bool SendCommand(HWND window, int controlId, int notificationCode);

enum ShowCommand { SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINNOACTIVE = 7, SW_RESTORE = 9 };
bool ShowWindow(HWND window, int command); // window or control handle
bool IsWindowVisible(HWND window);
bool IsIconic(HWND window);
bool SetForegroundWindow(HWND window);

// Controls: a control is reached by its dialog and id; GetDlgItem gives a handle that the
// window calls above (show, enable) accept.
HWND GetDlgItem(HWND dialog, int controlId);
bool EnableWindow(HWND window, bool enable);
// The keyboard focus: a control handle (as GetDlgItem gives) or null. SetFocus gives the
// control that had the focus before; GetFocus looks in the active dialog, or else in the
// most recently made dialog that has a focused control.
HWND SetFocus(HWND control);
HWND GetFocus();
bool IsWindowEnabled(HWND window);
bool SetDlgItemText(HWND dialog, int controlId, const std::string& text);
// Reads at most maxChars characters (the buffer size less the terminator). Texts are UTF-8; the
// bound is kept in bytes and never splits a character, so the result always fits the buffer.
std::string GetDlgItemText(HWND dialog, int controlId, int maxChars);
std::string GetWindowText(HWND window);

enum CheckState { BST_UNCHECKED = 0, BST_CHECKED = 1 };
bool CheckDlgButton(HWND dialog, int controlId, int check);
int IsDlgButtonChecked(HWND dialog, int controlId);

// Combo boxes (drop-down lists) and list boxes. Unsorted lists add at the end; sorted ones
// (style CBS_SORT / LBS_SORT) insert in case-insensitive order. Indices from 0; -1 = none.
int ComboBoxAddString(HWND dialog, int controlId, const std::string& text);
bool ComboBoxSetCurSel(HWND dialog, int controlId, int index);
int ComboBoxGetCurSel(HWND dialog, int controlId);
int ComboBoxGetCount(HWND dialog, int controlId);
std::string ComboBoxGetText(HWND dialog, int controlId, int index);
bool ComboBoxResetContent(HWND dialog, int controlId);
int ListBoxAddString(HWND dialog, int controlId, const std::string& text);
bool ListBoxResetContent(HWND dialog, int controlId);
int ListBoxGetCount(HWND dialog, int controlId);
std::string ListBoxGetText(HWND dialog, int controlId, int index);
// Removes one item; gives the count of those left, or -1 for no such item.
int ListBoxDeleteString(HWND dialog, int controlId, int index);

// Trackbars (sliders); positions are whole numbers. Moving a trackbar by keyboard or mouse
// sends WM_HSCROLL to its dialog.
bool TrackbarSetRange(HWND dialog, int controlId, int low, int high, bool redraw);
bool TrackbarSetPageSize(HWND dialog, int controlId, int pageSize);
bool TrackbarSetTick(HWND dialog, int controlId, int position);
bool TrackbarSetPos(HWND dialog, int controlId, int position, bool redraw);
int TrackbarGetPos(HWND dialog, int controlId);
std::vector<int> TrackbarGetTicks(HWND dialog, int controlId);
int TrackbarGetPageSize(HWND dialog, int controlId);
std::pair<int, int> TrackbarGetRange(HWND dialog, int controlId);

// Bitmaps: loaded at the size the file gives; null when the file does not load.
HBITMAP LoadBitmapFile(const std::string& path);
HBITMAP LoadBitmapResource(int id);
// Makes the bitmap the picture of a static bitmap control (sized to the bitmap).
bool SetStaticBitmap(HWND dialog, int controlId, HBITMAP bitmap);
HBITMAP GetStaticBitmap(HWND dialog, int controlId);
int BitmapWidth(HBITMAP bitmap);
int BitmapHeight(HBITMAP bitmap);

HICON LoadIconResource(int id);
bool SetBigIcon(HWND window, HICON icon);
HICON GetBigIcon(HWND window);

// ---- cursors and mouse ----------------------------------------------------------------------

enum SystemCursor { IDC_ARROW = 32512, IDC_WAIT = 32514 };
HCURSOR LoadSystemCursor(int systemCursor);
HCURSOR LoadCursorResource(int id);
// Sets the cursor and gives the one in effect before (null = the ordinary arrow). A cursor
// set this way lasts until it is set again or the pointer next moves over a window while no
// window has captured the mouse.
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();
HWND SetCapture(HWND window);
bool ReleaseCapture();
HWND GetCapture();

// ---- geometry ------------------------------------------------------------------------------

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
// The window's rectangle in screen pixels.
bool GetWindowRect(HWND window, Rect* rect);
bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint);
// A control's rectangle in its dialog's client pixels.
bool GetControlRect(HWND dialog, int controlId, Rect* rect);

// ---- timers --------------------------------------------------------------------------------

// Gives the timer id (non-zero) or 0 on failure; WM_TIMER reaches the window's procedure.
std::uintptr_t SetTimer(HWND window, std::uintptr_t id, unsigned milliseconds);
bool KillTimer(HWND window, std::uintptr_t id);

// ---- message boxes ---------------------------------------------------------------------------

enum MessageBoxFlags : unsigned {
    MB_OK = 0x0,
    MB_ICONERROR = 0x10,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONINFORMATION = 0x40,
};
struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    unsigned flags;
};
// Every box goes through here. A hook, when installed, gets the box instead of the user
// and gives the answer; tests install one so that no test blocks on a modal box. Without a
// display (offscreen platform) and without a hook, the box is written to standard error.
int MessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags);
using MessageBoxHook = std::function<int(const MessageBoxRecord&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// ---- errors, loop, desktop ------------------------------------------------------------------

// The system's text for the last error that a platform call recorded (or errno).
std::string GetLastErrorText();
void SetLastErrorText(const std::string& text);

// Ends the main loop with the code, also when posted before the loop starts.
void PostQuitMessage(int exitCode);
bool QuitPosted();
int QuitCode();
void ClearQuit(); // tests
// Waits for and handles the next events; gives 0 once the quit message is posted (its code
// from QuitCode), 1 otherwise.
int GetMessage();

// Opens a web address with the desktop's URL handler.
bool OpenUrl(const std::string& url);
using OpenUrlHook = std::function<bool(const std::string&)>;
void SetOpenUrlHook(OpenUrlHook hook);

// The graphics runtime: true when a display (or the offscreen platform) is usable.
bool GraphicsRuntimeAvailable();
using GraphicsCheckHook = std::function<bool()>;
void SetGraphicsCheckHook(GraphicsCheckHook hook);
// True when running without a display (Qt's offscreen platform).
bool Headless();

// Test support: destroys every window still open and resets cursors, capture and hooks.
void ResetForTesting();

} // namespace platform
