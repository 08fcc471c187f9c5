// Reads the data files the server receives into its drive store: every file stored (and, at
// start-up, every file already in the users' folders that is not recorded yet) is opened
// (sealed ones with the server's key), its summary and trajectory read and recorded. A file
// that cannot be read stays on disk as it is, is logged once and recorded as unreadable, with
// the reason; nothing here stops the server or the upload. Blocking disk work: call it from a
// worker thread (or at start-up).
#pragma once

#include "drive_store.h"
#include "world_catalog.h"

#include "server/seal_keys.h"
#include "server/server_log.h"

#include <string>

namespace server {

class DriveIngest {
public:
    DriveIngest(std::string usersFolder, const SealKeys& keys, DriveStore& drives,
                const WorldCatalog& worlds, Log& log)
        : usersFolder_(std::move(usersFolder)), keys_(keys), drives_(drives), worlds_(worlds),
          log_(log) {}

    // Records one stored file of the user: Ok, Exists when it is recorded already (another
    // instance was first), Failed when the store could not be written.
    StoreResult Ingest(const std::string& user, const std::string& storedName);
    // Records every file not recorded yet; gives how many were recorded.
    std::size_t Scan();

private:
    std::string usersFolder_;
    const SealKeys& keys_;
    DriveStore& drives_;
    const WorldCatalog& worlds_;
    Log& log_;
};

// Opens a sealed box with the key pair; false when it does not open (another key, damaged).
bool OpenSealed(const std::string& sealed, const SealKeys& keys, std::string& plain);

// The row for a data file's text: a readable drive, or an unreadable one with the reason.
DriveRow ReadDriveRow(const std::string& plain, const WorldCatalog& worlds);

} // namespace server
