// The data server (class "pldata", at /sys/servers/data): each user's level and driving time,
// kept in users/<name>/progress, and each drive's data file in the user's folder, sealed to
// the server's public key before it is sent.
#pragma once

#include "drive_figures.h"
#include "engine/services.h"
#include "engine/user_files.h"

#include <cstdint>
#include <string>

// The drive whose data file was being written when the progress was saved: it counts once
// that file is on disk (plain or sealed), and not before.
struct PendingDrive {
    std::string dataFile; // a file name in the user's folder; "" when there is none
    std::int64_t seconds = 0;
};

// A user's progress as kept in users/<name>/progress.
struct UserProgress {
    int level = 1;
    std::int64_t seconds = 0;
    int drives = 0;
    PendingDrive pending;
};

// Level 1, plus one level for every full 10 minutes driven, at most 10. A level once reached
// is kept: collisions and a later change of the rule never lower it.
int LevelForSeconds(std::int64_t seconds);

// Reads "level=N\nseconds=N\ndrives=N\n", with "pending-file=<name>\npending-seconds=N\n"
// when a drive was being saved; false with the reason for anything else.
bool ParseProgress(const std::string& text, UserProgress& progress, std::string& error);
std::string FormatProgress(const UserProgress& progress);
// The progress with its pending drive counted (when `dataFileExists`) or dropped.
UserProgress SettlePending(UserProgress progress, bool dataFileExists);

class plDataServer : public plData {
public:
    void BeginDrive() override;
    void SaveDriveData() override;
    void EncryptData() override;
    void SetOnline(bool online) override;
    void SendData() override;
    void SetSiteInfo(const char* state, const char* organization, const char* dataId) override;
    void SetUserName(const char* userName) override;
    void RefreshUser() override;
    int GetTime() override;
    void SetDriveWorld(const char* world) override;
    void EndDrive() override;
    int GetLevel() override;
    // The drive object hands each finished drive's figures here; EndDrive keeps the last one
    // handed since BeginDrive.
    void DriveFinished(const DriveFigures& figures);

    const UserProgress& Progress() const { return progress_; }
    // The user's folder (ending in a separator), "" when no usable user is set.
    std::string UserFolder() const;
    // The data file written by the last SaveDriveData ("" when none).
    const std::string& LastDataFile() const { return lastDataFile_; }

private:
    bool WriteProgress(const UserProgress& progress);
    void SendDriveFile(const std::string& path);
    bool DataFileExists(const std::string& folder, const std::string& name) const;
    std::string FreeDataFileName(const std::string& folder) const;
    std::string FormatDriveData() const;

    std::string userName_;
    std::string state_, organization_, dataId_;
    std::string world_;
    bool online_ = false;
    UserProgress progress_;        // as counted: never holds a pending drive
    bool progressRead_ = false;    // RefreshUser has read the user's file
    bool progressUnsaved_ = false; // the last rewrite failed; retried at the next step
    std::int64_t driveStart_ = 0;
    bool driveBegun_ = false;  // BeginDrive ran and EndDrive has not yet
    bool haveFigures_ = false; // a drive finished since BeginDrive
    DriveFigures figures_;     // the last one

    struct DriveRecord {
        bool valid = false;
        bool endedWithoutDrive = false; // EndDrive found nothing driven (and said so)
        std::string world;
        std::int64_t start = 0, end = 0;
        int duration = 0;
        double distance = 0;
        int collisions = 0;
        std::vector<std::string> landmarks;
        std::vector<std::string> others; // who else was in the shared world
    } drive_;
    std::string lastDataFile_;
};
