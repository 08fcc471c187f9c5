// The data server "pldata": the user's level and driving time, and the data of each drive.
//
// users/<name>/progress holds "level=N\nseconds=N\ndrives=N\n" (any order). It is rewritten
// atomically after every drive, so a crash never loses a finished drive's time. A file that
// does not read as that is logged, kept as progress.corrupt-<timestamp> and replaced by fresh
// progress. The level rule is LevelForSeconds (data_server.h): level 1 plus one level per full
// 10 minutes driven, at most 10, never lowered.
//
// Each drive's data goes to users/<name>/data-<start, UTC>.txt (key=value lines). EncryptData
// seals every plain data file with crypto_box_seal to the server's public key in
// home:keys/server.pub, which holds the 32 key bytes either raw or as 64 hex characters (a
// trailing line break allowed); the sealed file is <name>.sealed and the plain file is
// removed only once the sealed one is on disk.
#include "data_server.h"

#include "drive.h"
#include "network_object.h"
#include "platform/file_system.h"
#include "platform/window_system.h"
#include "runtime_classes.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr int kSecondsPerLevel = 600;
constexpr int kTopLevel = 10;
const char* const kSealedSuffix = ".sealed";

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string FormatUtc(std::int64_t seconds, const char* format) {
    std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Values of the data file are single lines.
std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

bool ParseCount(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.size() > 18)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = char(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The server key: 32 raw bytes, or 64 hex characters with optional white space after them.
bool ParseServerKey(const std::string& bytes, unsigned char key[crypto_box_PUBLICKEYBYTES],
                    std::string& error) {
    if (bytes.size() == crypto_box_PUBLICKEYBYTES) {
        std::copy(bytes.begin(), bytes.end(), key);
        return true;
    }
    std::string hex = bytes;
    while (!hex.empty() && std::isspace(static_cast<unsigned char>(hex.back())))
        hex.pop_back();
    if (hex.size() != 2 * crypto_box_PUBLICKEYBYTES) {
        error = "expected 32 raw bytes or 64 hex characters, found " +
                std::to_string(bytes.size()) + " bytes";
        return false;
    }
    for (size_t i = 0; i < crypto_box_PUBLICKEYBYTES; ++i) {
        int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            error = "not a hex digit at character " + std::to_string(2 * i + 1);
            return false;
        }
        key[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

} // namespace

// ---- progress -----------------------------------------------------------------------------

int LevelForSeconds(std::int64_t seconds) {
    if (seconds <= 0)
        return 1;
    return int(std::min<std::int64_t>(kTopLevel, 1 + seconds / kSecondsPerLevel));
}

std::string UserFolderName(const std::string& userName) {
    if (userName.empty() || userName == "." || userName == "..")
        return {};
    for (char c : userName) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20)
            return {};
    }
    if (Lower(userName) == "guest")
        return "guest";
    return userName;
}

bool ParseProgress(const std::string& text, UserProgress& progress, std::string& error) {
    UserProgress read;
    bool haveLevel = false, haveSeconds = false, haveDrives = false;
    std::istringstream lines(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        auto equals = line.find('=');
        std::string key = line.substr(0, equals);
        std::int64_t value = 0;
        if (equals == std::string::npos || !ParseCount(line.substr(equals + 1), value)) {
            error = "line " + std::to_string(lineNo) + " is not key=number: '" + line + "'";
            return false;
        }
        bool* seen = key == "level"     ? &haveLevel
                     : key == "seconds" ? &haveSeconds
                     : key == "drives"  ? &haveDrives
                                        : nullptr;
        if (!seen) {
            error = "line " + std::to_string(lineNo) + " has the unknown key '" + key + "'";
            return false;
        }
        if (*seen) {
            error = "line " + std::to_string(lineNo) + " repeats '" + key + "'";
            return false;
        }
        *seen = true;
        if (key == "level") {
            if (value < 1 || value > kTopLevel) {
                error = "line " + std::to_string(lineNo) + ": level out of range 1-10";
                return false;
            }
            read.level = int(value);
        } else if (key == "seconds") {
            read.seconds = value;
        } else {
            if (value > INT_MAX) {
                error = "line " + std::to_string(lineNo) + ": drive count too large";
                return false;
            }
            read.drives = int(value);
        }
    }
    if (!haveLevel || !haveSeconds || !haveDrives) {
        error = std::string("missing ") + (!haveLevel     ? "level"
                                           : !haveSeconds ? "seconds"
                                                          : "drives");
        return false;
    }
    read.level = std::max(read.level, LevelForSeconds(read.seconds));
    progress = read;
    return true;
}

std::string FormatProgress(const UserProgress& progress) {
    return "level=" + std::to_string(progress.level) +
           "\nseconds=" + std::to_string(progress.seconds) +
           "\ndrives=" + std::to_string(progress.drives) + "\n";
}

// ---- plDataServer -------------------------------------------------------------------------

std::string plDataServer::UserFolder() const {
    std::string folder = UserFolderName(userName_);
    if (folder.empty() || !GetKernel())
        return {};
    return pathate(GetKernel(), "users:%s/", folder.c_str());
}

void plDataServer::SetSiteInfo(const char* state, const char* organization, const char* dataId) {
    state_ = OneLine(state ? state : "");
    organization_ = OneLine(organization ? organization : "");
    dataId_ = OneLine(dataId ? dataId : "");
}

void plDataServer::SetUserName(const char* userName) {
    std::string name = userName ? userName : "";
    if (name != userName_) {
        userName_ = name;
        progress_ = UserProgress{};
        drive_ = DriveRecord{};
    }
    if (UserFolderName(userName_).empty())
        n_printf("ERROR: user name '%s' cannot name a user folder; progress is not kept\n",
                 userName_.c_str());
}

void plDataServer::RefreshUser() {
    progress_ = UserProgress{};
    std::string folder = UserFolder();
    if (folder.empty())
        return;
    std::string path = folder + "progress";
    if (!platform::FileExists(path))
        return;
    std::string text;
    if (!platform::ReadWholeFile(path, text)) {
        n_printf("ERROR: could not read %s: %s; starting from fresh progress\n", path.c_str(),
                 platform::GetLastErrorText().c_str());
        return;
    }
    std::string error;
    if (ParseProgress(text, progress_, error))
        return;
    progress_ = UserProgress{};
    std::string kept = path + ".corrupt-" + FormatUtc(Now(), "%Y%m%d-%H%M%S");
    std::error_code ec;
    fs::rename(path, kept, ec);
    n_printf("ERROR: corrupt progress file %s (%s); kept as %s, starting from fresh progress\n",
             path.c_str(), error.c_str(),
             ec ? ("(not moved: " + ec.message() + ")").c_str() : kept.c_str());
}

int plDataServer::GetTime() {
    return int(std::min<std::int64_t>(progress_.seconds, INT_MAX));
}

int plDataServer::GetLevel() {
    return progress_.level;
}

void plDataServer::SetDriveWorld(const char* world) {
    world_ = OneLine(world ? world : "");
}

void plDataServer::BeginDrive() {
    driveStart_ = Now();
    figuresAtBegin_ = LastDriveFigures().sequence;
    drive_ = DriveRecord{};
}

bool plDataServer::SaveProgress() {
    std::string folder = UserFolder();
    if (folder.empty())
        return false;
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::string path = folder + "progress";
    if (!platform::WriteFileAtomically(path, FormatProgress(progress_))) {
        n_printf("ERROR: could not save the progress of user '%s' to %s: %s\n", userName_.c_str(),
                 path.c_str(), platform::GetLastErrorText().c_str());
        return false;
    }
    return true;
}

void plDataServer::EndDrive() {
    DriveRecord record;
    record.valid = true;
    record.world = world_;
    const DriveFigures& figures = LastDriveFigures();
    bool drove = figuresAtBegin_ >= 0 && figures.sequence > figuresAtBegin_;
    if (drove) {
        if (record.world.empty())
            record.world = figures.world;
        record.start = figures.startTime;
        record.end = figures.endTime;
        record.duration = std::max(0, figures.durationSeconds);
        record.distance = figures.distanceMetres;
        record.collisions = figures.collisions;
        record.landmarks = figures.landmarks;
        record.others = figures.others;
    } else {
        // The world never started (a failing go.tcl, say): nothing was driven.
        n_printf("WARN: no drive ran since the drive began; its data file has no time and "
                 "the progress stays as it was\n");
        record.start = driveStart_ ? driveStart_ : Now();
        record.end = Now();
    }
    drive_ = record;
    figuresAtBegin_ = -1;

    if (UserFolder().empty()) {
        n_printf("ERROR: drive of user '%s' not recorded: no usable user folder\n",
                 userName_.c_str());
        return;
    }
    if (!drove)
        return;
    progress_.seconds += record.duration;
    progress_.drives += 1;
    progress_.level = std::max(progress_.level, LevelForSeconds(progress_.seconds));
    SaveProgress();
}

void plDataServer::SaveDriveData() {
    if (!drive_.valid) {
        n_printf("WARN: SaveDriveData without an ended drive; nothing saved\n");
        return;
    }
    std::string folder = UserFolder();
    if (folder.empty()) {
        n_printf("ERROR: drive data of user '%s' not saved: no usable user folder\n",
                 userName_.c_str());
        return;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);

    // Two drives that start in the same second get distinct files; a sealed file counts as
    // taken too, or its plain twin would later be sealed over it.
    std::string stem = "data-" + FormatUtc(drive_.start, "%Y%m%d-%H%M%S");
    std::string name = stem + ".txt";
    for (int n = 2;
         platform::FileExists(folder + name) || platform::FileExists(folder + name + kSealedSuffix);
         ++n)
        name = stem + "-" + std::to_string(n) + ".txt";

    std::ostringstream out;
    out << "user=" << OneLine(userName_) << "\n"
        << "state=" << state_ << "\n"
        << "organization=" << organization_ << "\n"
        << "data-id=" << dataId_ << "\n"
        << "world=" << drive_.world << "\n"
        << "start=" << FormatUtc(drive_.start, "%Y-%m-%dT%H:%M:%SZ") << "\n"
        << "end=" << FormatUtc(drive_.end, "%Y-%m-%dT%H:%M:%SZ") << "\n"
        << "duration=" << drive_.duration << "\n";
    char distance[32];
    std::snprintf(distance, sizeof distance, "%.2f", drive_.distance);
    out << "distance=" << distance << "\n"
        << "collisions=" << drive_.collisions << "\n"
        << "landmarks=" << drive_.landmarks.size() << "\n";
    for (const auto& landmark : drive_.landmarks)
        out << "landmark=" << OneLine(landmark) << "\n";
    out << "others=" << drive_.others.size() << "\n";
    for (const auto& other : drive_.others)
        out << "other=" << OneLine(other) << "\n";

    std::string path = folder + name;
    if (!platform::WriteFileAtomically(path, out.str())) {
        n_printf("ERROR: could not write the drive data %s: %s\n", path.c_str(),
                 platform::GetLastErrorText().c_str());
        return;
    }
    lastDataFile_ = path;
    drive_.valid = false; // one data file per drive
    n_printf("Drive data saved to %s\n", path.c_str());
}

void plDataServer::EncryptData() {
    std::string folder = UserFolder();
    if (folder.empty())
        return;
    std::string keyPath = pathate(GetKernel(), "home:keys/server.pub");
    if (!platform::FileExists(keyPath)) {
        n_printf("WARN: no server key at %s; drive data left unsealed\n", keyPath.c_str());
        return;
    }
    std::string keyBytes, why;
    unsigned char key[crypto_box_PUBLICKEYBYTES];
    if (!platform::ReadWholeFile(keyPath, keyBytes) || !ParseServerKey(keyBytes, key, why)) {
        n_printf("ERROR: unusable server key at %s (%s); drive data left unsealed\n",
                 keyPath.c_str(), why.empty() ? "unreadable" : why.c_str());
        return;
    }
    if (sodium_init() < 0) {
        n_printf("ERROR: libsodium did not start; drive data left unsealed\n");
        return;
    }

    // Collected first: the folder changes while files are sealed.
    std::vector<std::string> plain;
    {
        platform::FolderSearch search(folder, "data*.*");
        platform::FolderEntry entry;
        while (search.Next(entry)) {
            if (!entry.isDirectory && !EndsWith(Lower(entry.name), kSealedSuffix))
                plain.push_back(entry.name);
        }
    }
    std::sort(plain.begin(), plain.end());
    for (const auto& name : plain) {
        std::string path = folder + name;
        std::string bytes;
        if (!platform::ReadWholeFile(path, bytes)) {
            n_printf("ERROR: could not read %s; left unsealed\n", path.c_str());
            continue;
        }
        std::string sealed(bytes.size() + crypto_box_SEALBYTES, '\0');
        if (crypto_box_seal(reinterpret_cast<unsigned char*>(sealed.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                            key) != 0) {
            n_printf("ERROR: could not seal %s; left unsealed\n", path.c_str());
            continue;
        }
        std::string target = path + kSealedSuffix;
        std::string check;
        if (!platform::WriteFileAtomically(target, sealed) ||
            !platform::ReadWholeFile(target, check) || check != sealed) {
            n_printf("ERROR: could not write %s: %s; %s left unsealed\n", target.c_str(),
                     platform::GetLastErrorText().c_str(), name.c_str());
            continue;
        }
        std::error_code ec;
        if (!fs::remove(path, ec))
            n_printf("WARN: sealed %s but could not remove the plain file: %s\n", name.c_str(),
                     ec.message().c_str());
    }
}

void plDataServer::SetOnline(bool online) {
    online_ = online;
}

void plDataServer::SendData() {
    // This drive's file goes to the server now, while the connection is known to stand, so
    // that it arrives even when the upload after the leave fails; the server keeps each file
    // once, and a file it confirmed is moved out of the upload's way.
    if (!online_) {
        n_printf("Drive data of user '%s' stays for a later upload (offline drive)\n",
                 userName_.c_str());
        return;
    }
    if (UserFolderName(userName_) == "guest") {
        n_printf("Drive data of the guest is not sent\n");
        return;
    }
    std::string path = lastDataFile_ + kSealedSuffix;
    if (lastDataFile_.empty() || !platform::FileExists(path))
        path = lastDataFile_;
    if (path.empty() || !platform::FileExists(path)) {
        n_printf("WARN: no data file of this drive to send\n");
        return;
    }
    SendDriveDataFile(GetKernel(), userName_, path);
}

void RegisterDataClasses(nKernelServer* kernel) {
    kernel->AddClass("pldata", [] { return new plDataServer; });
}
