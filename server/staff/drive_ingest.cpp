// The data files read into the drive store (see drive_ingest.h).
#include "drive_ingest.h"

#include "record/drive_record.h"
#include "server/disk.h"

#include <sodium.h>

#include <algorithm>
#include <ctime>
#include <set>
#include <sys/stat.h>

namespace server {

namespace {

const std::string kSealedSuffix = ".sealed";

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

bool OpenSealed(const std::string& sealed, const SealKeys& keys, std::string& plain) {
    if (sealed.size() < crypto_box_SEALBYTES)
        return false;
    plain.resize(sealed.size() - crypto_box_SEALBYTES);
    return crypto_box_seal_open(reinterpret_cast<unsigned char*>(plain.data()),
                                reinterpret_cast<const unsigned char*>(sealed.data()),
                                sealed.size(), keys.publicKey.data(), keys.secretKey.data()) == 0;
}

DriveRow ReadDriveRow(const std::string& plain, const WorldCatalog& worlds) {
    DriveRow row;
    drive_record::DataFile file;
    std::string error;
    if (!drive_record::ParseDataFile(plain, file, error)) {
        row.readable = false;
        row.problem = "not a drive's data file (" + error + ")";
        return row;
    }
    const drive_record::Summary& s = file.summary;
    row.world = s.world;
    row.start = s.startTime;
    row.end = s.endTime;
    row.duration = s.duration;
    row.distance = s.distance;
    row.collisions = s.collisions;
    row.landmarksReached = std::int64_t(s.landmarks.size());
    if (const KnownWorld* world = worlds.Find(s.world)) {
        std::set<std::string> names;
        for (const auto& landmark : world->layout.landmarks)
            names.insert(landmark.name);
        row.landmarksTotal = std::int64_t(names.size());
    }
    row.others = s.others;
    if (file.recordVersion == drive_record::kVersion) {
        row.samples = std::int64_t(file.record.samples.size());
        row.record = drive_record::FormatRecord(file.record);
    }
    return row;
}

StoreResult DriveIngest::Ingest(const std::string& user, const std::string& storedName) {
    std::string path = JoinPath(JoinPath(usersFolder_, user), storedName);
    std::string bytes, error, plain;
    DriveRow row;
    bool sealed = EndsWith(storedName, kSealedSuffix);
    if (!ReadFile(path, bytes, error)) {
        row.readable = false;
        row.problem = "cannot be read: " + error;
    } else if (sealed && !OpenSealed(bytes, keys_, plain)) {
        row.readable = false;
        row.problem = "sealed to another key, or damaged";
    } else {
        row = ReadDriveRow(sealed ? plain : bytes, worlds_);
    }
    row.user = user;
    row.storedName = storedName;
    row.sealed = sealed;
    row.recordedAt = std::time(nullptr);
    StoreResult result = drives_.Add(row);
    if (result == StoreResult::Failed) {
        log_.Error("could not record the drive of data file " + user + "/" + storedName + ": " +
                   TakeStoreFailure());
        return result;
    }
    // Recorded already (by another instance on the same database, at the same moment): said
    // once, by whoever recorded it.
    if (result == StoreResult::Exists)
        return result;
    if (!row.readable)
        log_.Warning("data file " + user + "/" + storedName + " kept but not read: " + row.problem);
    else
        log_.Info("recorded the drive of " + user + " in " + row.world + " from " + storedName +
                  " (" + std::to_string(row.samples) + " samples)");
    return result;
}

std::size_t DriveIngest::Scan() {
    std::size_t recorded = 0;
    std::vector<std::string> users = ListFolder(usersFolder_);
    std::sort(users.begin(), users.end());
    for (const std::string& user : users) {
        if (user.empty() || user.front() == '.')
            continue;
        std::string folder = JoinPath(usersFolder_, user);
        std::vector<std::string> names = ListFolder(folder);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            struct stat info;
            // Transfers in progress are hidden files; anything that is no file is not data.
            if (name.front() == '.' || ::stat(JoinPath(folder, name).c_str(), &info) != 0 ||
                !S_ISREG(info.st_mode))
                continue;
            bool known = false;
            if (drives_.Known(user, name, known) != StoreResult::Ok || known)
                continue;
            if (Ingest(user, name) == StoreResult::Ok)
                ++recorded;
        }
    }
    return recorded;
}

} // namespace server
