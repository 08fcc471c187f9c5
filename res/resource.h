// Ids of the program's resources: dialog templates, bitmaps, icon, cursor, and the controls
// of each dialog.
#pragma once

// Dialog templates.
constexpr int IDD_LOGIN = 102;
constexpr int IDD_SETUP = 108;
constexpr int IDD_RENAME = 109;
constexpr int IDD_PROGRESS = 110;
constexpr int IDD_STARTUP = 118;
constexpr int IDD_ADJUST = 119;

// Pictures.
constexpr int IDB_BANNER = 107;
constexpr int IDI_PELORA = 104;
constexpr int IDC_LINK_HAND = 113;

// Login window (102).
constexpr int IDC_LOGIN_USERNAME = 1016;
constexpr int IDC_LOGIN_PASSWORD = 1017;
constexpr int IDC_DRIVE_ONLINE = 1001;
constexpr int IDC_DRIVE_OFFLINE = 1003;
constexpr int IDC_QUIT = 1002;
constexpr int IDC_LOGIN_BANNER = 1033;
constexpr int IDC_LOGIN_STATUS = 1024;
constexpr int IDC_CANCEL_LOGIN = 1021;

// Start-up window (118) and progress window (110).
constexpr int IDC_STARTUP_STATUS = 1035;
constexpr int IDC_PROGRESS_HEADLINE = 1024;
constexpr int IDC_PROGRESS_DETAIL = 1031;

// Rename-user dialog (109).
constexpr int IDC_RENAME_EDIT = 1030;
constexpr int IDC_RENAME_OK = 1022;
constexpr int IDC_RENAME_CANCEL = 1021;
constexpr int IDC_RENAME_PROMPT = 1023;

// User Setup window (108).
constexpr int IDC_SETUP_VEHICLE = 1020;
constexpr int IDC_SETUP_COLOR = 1021;
constexpr int IDC_SETUP_MALE = 1025;
constexpr int IDC_SETUP_FEMALE = 1026;
constexpr int IDC_SETUP_WORLD = 1022;
constexpr int IDC_SETUP_DRIVE = 1018;
constexpr int IDC_SETUP_LOGOUT = 1017;
constexpr int IDC_SETUP_UPDATE = 1000;
constexpr int IDC_SETUP_ONLINE_USERS = 1019;
constexpr int IDC_SETUP_WORLD_THUMB = 1027;
constexpr int IDC_SETUP_VEHICLE_THUMB = 1028;
constexpr int IDC_SETUP_NAME = 1029;
constexpr int IDC_SETUP_LEVEL = 1030;
constexpr int IDC_SETUP_DIFFICULTY = 1037;
constexpr int IDC_SETUP_TIME = 1031;
constexpr int IDC_SETUP_ADJUST = 1041;

// Adjust Wheelchair Characteristics (119).
constexpr int IDC_ADJUST_SPEED = 1042;
constexpr int IDC_ADJUST_AXIS = 1043;
constexpr int IDC_ADJUST_SPEED_LABEL = 1044;
constexpr int IDC_ADJUST_AXIS_LABEL = 1045;

// Registers every template, bitmap, icon and cursor with the window system.
void RegisterPeloraResources();
