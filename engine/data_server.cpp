// The data server "pldata": the user's level and driving time, and the data of each drive.
//
// users/<name>/progress holds "level=N\nseconds=N\ndrives=N\n" (any order). A file that does
// not read as that is logged, kept as progress.corrupt-<timestamp> and replaced by fresh
// progress. The level rule is LevelForSeconds (data_server.h): level 1 plus one level per full
// 10 minutes driven, at most 10, never lowered.
//
// Each drive's data goes to users/<name>/data-<start, UTC>.txt (key=value lines). A drive is
// counted exactly when its data file is on disk, whenever the process is killed: the save
// first rewrites progress naming the coming file as pending ("pending-file=", with its
// "pending-seconds="), then writes the data file (the one step that makes the drive count),
// then rewrites progress with the drive counted in. Whoever reads progress counts a pending
// drive only when its file (plain or sealed) exists; RefreshUser settles it and rewrites.
//
// EncryptData seals every plain data file with crypto_box_seal to the server's public key in
// home:keys/server.pub, which holds the 32 key bytes either raw or as 64 hex characters (a
// trailing line break allowed); the sealed file is <name>.sealed and the plain file is
// removed only once the sealed one is on disk.
#include "data_server.h"

#include "engine/format_text.h"
#include "engine/user_files.h"
#include "platform/file_system.h"
#include "platform/window_system.h"
#include "protocol/user_name.h"
#include "runtime_classes.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
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

std::string LowerName(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Values of the data file are single lines.
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

namespace {

// A data file's name as progress may name it: one plain name inside the user's folder.
bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255)
        return false;
    for (char c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

} // namespace

bool ParseProgress(const std::string& text, UserProgress& progress, std::string& error) {
    UserProgress read;
    bool haveLevel = false, haveSeconds = false, haveDrives = false;
    bool havePendingFile = false, havePendingSeconds = false;
    std::istringstream lines(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + " " + why;
        return false;
    };
    while (std::getline(lines, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        auto equals = line.find('=');
        std::string key = line.substr(0, equals);
        std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
        bool* seen = key == "level"             ? &haveLevel
                     : key == "seconds"         ? &haveSeconds
                     : key == "drives"          ? &haveDrives
                     : key == "pending-file"    ? &havePendingFile
                     : key == "pending-seconds" ? &havePendingSeconds
                                                : nullptr;
        if (equals == std::string::npos)
            return fail("is not key=value: '" + line + "'");
        if (!seen)
            return fail("has the unknown key '" + key + "'");
        if (*seen)
            return fail("repeats '" + key + "'");
        *seen = true;
        if (key == "pending-file") {
            if (!IsPlainFileName(value))
                return fail("names no file of the user's folder");
            read.pending.dataFile = value;
            continue;
        }
        std::int64_t number = 0;
        if (!ParseCount(value, number))
            return fail("is not key=number: '" + line + "'");
        if (key == "level") {
            if (number < 1 || number > kTopLevel)
                return fail("has a level out of range 1-10");
            read.level = int(number);
        } else if (key == "seconds") {
            read.seconds = number;
        } else if (key == "pending-seconds") {
            read.pending.seconds = number;
        } else {
            if (number >= INT_MAX)
                return fail("has a drive count too large");
            read.drives = int(number);
        }
    }
    lineNo = 0;
    if (!haveLevel || !haveSeconds || !haveDrives) {
        error = std::string("missing ") + (!haveLevel     ? "level"
                                           : !haveSeconds ? "seconds"
                                                          : "drives");
        return false;
    }
    if (havePendingFile != havePendingSeconds) {
        error = havePendingFile ? "pending-file without pending-seconds"
                                : "pending-seconds without pending-file";
        return false;
    }
    read.level = std::max(read.level, LevelForSeconds(read.seconds));
    progress = read;
    return true;
}

std::string FormatProgress(const UserProgress& progress) {
    std::string text = "level=" + std::to_string(progress.level) +
                       "\nseconds=" + std::to_string(progress.seconds) +
                       "\ndrives=" + std::to_string(progress.drives) + "\n";
    if (!progress.pending.dataFile.empty())
        text += "pending-file=" + progress.pending.dataFile +
                "\npending-seconds=" + std::to_string(progress.pending.seconds) + "\n";
    return text;
}

UserProgress SettlePending(UserProgress progress, bool dataFileExists) {
    if (!progress.pending.dataFile.empty() && dataFileExists) {
        progress.seconds += progress.pending.seconds;
        progress.drives += 1;
        progress.level = std::max(progress.level, LevelForSeconds(progress.seconds));
    }
    progress.pending = PendingDrive{};
    return progress;
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
        progressRead_ = false;
        progressUnsaved_ = false;
        drive_ = DriveRecord{};
    }
    if (UserFolderName(userName_).empty())
        n_printf("ERROR: user name '%s' cannot name a user folder (%s); progress is not kept\n",
                 names::PrintableName(userName_).c_str(),
                 names::DescribeNameProblem(names::CheckUserName(userName_)).c_str());
}

bool plDataServer::DataFileExists(const std::string& folder, const std::string& name) const {
    return platform::FileExists(folder + name) ||
           platform::FileExists(folder + name + kSealedSuffix);
}

void plDataServer::RefreshUser() {
    progress_ = UserProgress{};
    progressUnsaved_ = false;
    std::string folder = UserFolder();
    if (folder.empty())
        return;
    progressRead_ = true;
    std::string path = folder + "progress";
    if (!platform::FileExists(path))
        return;
    std::string text, error;
    platform::FileError readError;
    UserProgress read;
    bool readable = platform::ReadWholeFile(path, text, &readError);
    if (readable && ParseProgress(text, read, error)) {
        bool pending = !read.pending.dataFile.empty();
        bool counted = pending && DataFileExists(folder, read.pending.dataFile);
        progress_ = SettlePending(read, counted);
        // A save that was cut off: the drive counts exactly when its data file was written.
        if (pending) {
            n_printf("Settled the drive being saved when the program last stopped: %s %s\n",
                     read.pending.dataFile.c_str(),
                     counted ? "is on disk and counted" : "was never written and is not counted");
            WriteProgress(progress_);
        }
        return;
    }
    if (!readable)
        error = readError.text;
    // Kept aside, so that the progress written next cannot replace it; when even that fails,
    // nothing is written over it.
    std::string kept = path + ".corrupt-" + FormatUtc(Now(), "%Y%m%d-%H%M%S");
    bool moved = platform::RenameFile(path, kept);
    progressRead_ = moved;
    std::string where = moved ? kept : std::string("(not moved: ") + std::strerror(errno) + ")";
    n_printf("ERROR: %s progress file %s (%s); kept as %s, starting from fresh progress\n",
             readable ? "corrupt" : "unreadable", path.c_str(), error.c_str(), where.c_str());
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
    driveBegun_ = true;
    haveFigures_ = false;
    drive_ = DriveRecord{};
}

void plDataServer::DriveFinished(const DriveFigures& figures) {
    if (!driveBegun_)
        return; // a drive the world run did not begin (a script's own): nothing to record
    figures_ = figures;
    haveFigures_ = true;
}

bool plDataServer::WriteProgress(const UserProgress& progress) {
    std::string folder = UserFolder();
    if (folder.empty())
        return false;
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::string path = folder + "progress";
    platform::FileError error;
    if (!platform::WriteFileAtomically(path, FormatProgress(progress), &error)) {
        n_printf("ERROR: could not save the progress of user '%s' to %s: %s\n", userName_.c_str(),
                 path.c_str(), error.text.c_str());
        return false;
    }
    return true;
}

// Takes the figures of the last drive that finished since BeginDrive; the disk is written by
// SaveDriveData, which counts the drive together with its data file.
void plDataServer::EndDrive() {
    bool drove = driveBegun_ && haveFigures_;
    DriveFigures figures = std::move(figures_);
    driveBegun_ = haveFigures_ = false;
    figures_ = DriveFigures{};
    drive_ = DriveRecord{};
    if (!drove) {
        // The world never started (a failing go.tcl, say): nothing was driven, so there is
        // neither time to add nor a drive to keep a data file for.
        drive_.endedWithoutDrive = true;
        n_printf("WARN: no drive ran since the drive began; nothing is recorded and the "
                 "progress stays as it was\n");
        return;
    }
    drive_.valid = true;
    drive_.world = world_.empty() ? figures.world : world_;
    drive_.start = figures.startTime;
    drive_.end = figures.endTime;
    drive_.duration = std::max(0, figures.durationSeconds);
    drive_.distance = figures.distanceMetres;
    drive_.collisions = figures.collisions;
    drive_.landmarks = figures.landmarks;
    drive_.others = figures.others;
    drive_.record = std::move(figures.record);
    if (UserFolder().empty())
        n_printf("ERROR: drive of user '%s' not recorded: no usable user folder\n",
                 names::PrintableName(userName_).c_str());
}

// Two drives that start in the same second get distinct files; a sealed file counts as taken
// too, or its plain twin would later be sealed over it.
std::string plDataServer::FreeDataFileName(const std::string& folder) const {
    std::string stem = "data-" + FormatUtc(drive_.start, "%Y%m%d-%H%M%S");
    std::string name = stem + ".txt";
    for (int n = 2; DataFileExists(folder, name); ++n)
        name = stem + "-" + std::to_string(n) + ".txt";
    return name;
}

std::string plDataServer::FormatDriveData() const {
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
    // The trajectory and events follow today's keys (record/drive_record.h).
    out << drive_record::FormatRecord(drive_.record);
    return out.str();
}

void plDataServer::SaveDriveData() {
    if (!drive_.valid) {
        if (!drive_.endedWithoutDrive)
            n_printf("WARN: SaveDriveData without an ended drive; nothing saved\n");
        return;
    }
    std::string folder = UserFolder();
    if (folder.empty()) {
        n_printf("ERROR: drive data of user '%s' not saved: no usable user folder\n",
                 names::PrintableName(userName_).c_str());
        return;
    }
    // Counting on top of progress that was never read would write over the user's time.
    if (!progressRead_)
        RefreshUser();
    if (!progressRead_) {
        n_printf("ERROR: drive of user '%s' not saved: the progress file cannot be read\n",
                 names::PrintableName(userName_).c_str());
        return;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);

    const std::string name = FreeDataFileName(folder);
    const std::string path = folder + name;
    UserProgress marked = progress_;
    marked.pending = PendingDrive{name, drive_.duration};
    if (!WriteProgress(marked)) {
        n_printf("ERROR: drive not saved: its data file is written only once the progress "
                 "can name it\n");
        return;
    }
    platform::FileError error;
    if (!platform::WriteFileAtomically(path, FormatDriveData(), &error)) {
        // The progress names a file that is not there: the drive does not count.
        n_printf("ERROR: could not write the drive data %s: %s; the drive is not counted\n",
                 path.c_str(), error.text.c_str());
        return;
    }
    lastDataFile_ = path;
    drive_.valid = false; // one data file per drive
    progress_ = SettlePending(marked, true);
    progressUnsaved_ = !WriteProgress(progress_);
    n_printf("Drive data saved to %s\n", path.c_str());
}

void plDataServer::EncryptData() {
    std::string folder = UserFolder();
    if (folder.empty())
        return;
    // A counted drive whose progress could not be rewritten: the data file still counts it,
    // but it must not hang on that file once the file has been sent away.
    if (progressUnsaved_)
        progressUnsaved_ = !WriteProgress(progress_);
    std::string keyPath = pathate(GetKernel(), "home:keys/server.pub");
    if (!platform::FileExists(keyPath)) {
        n_printf("WARN: no server key at %s; drive data left unsealed\n", keyPath.c_str());
        return;
    }
    std::string keyBytes, why;
    unsigned char key[crypto_box_PUBLICKEYBYTES];
    platform::FileError keyError;
    if (!platform::ReadWholeFile(keyPath, keyBytes, &keyError) ||
        !ParseServerKey(keyBytes, key, why)) {
        n_printf("ERROR: unusable server key at %s (%s); drive data left unsealed\n",
                 keyPath.c_str(), why.empty() ? keyError.text.c_str() : why.c_str());
        return;
    }
    if (sodium_init() < 0) {
        n_printf("ERROR: libsodium did not start; drive data left unsealed\n");
        return;
    }

    // Collected first: the folder changes while files are sealed. A writer's temporary is
    // never data, whatever its name.
    std::vector<std::string> plain;
    {
        platform::FolderSearch search(folder, "data*.*");
        platform::FolderEntry entry;
        while (search.Next(entry)) {
            if (!entry.isDirectory && !EndsWith(LowerName(entry.name), kSealedSuffix) &&
                !platform::IsTemporaryName(entry.name))
                plain.push_back(entry.name);
        }
    }
    std::sort(plain.begin(), plain.end());
    for (const auto& name : plain) {
        std::string path = folder + name;
        std::string bytes;
        platform::FileError readError;
        if (!platform::ReadWholeFile(path, bytes, &readError)) {
            n_printf("ERROR: could not read %s (%s); left unsealed\n", path.c_str(),
                     readError.text.c_str());
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
        platform::FileError writeError;
        if (!platform::WriteFileAtomically(target, sealed, &writeError) ||
            !platform::ReadWholeFile(target, check) || check != sealed) {
            n_printf("ERROR: could not write %s: %s; %s left unsealed\n", target.c_str(),
                     writeError.text.empty() ? "read back differs" : writeError.text.c_str(),
                     name.c_str());
            continue;
        }
        if (!platform::RemoveFile(path))
            n_printf("WARN: sealed %s but could not remove the plain file: %s\n", name.c_str(),
                     std::strerror(errno));
    }
}

void plDataServer::SetOnline(bool online) {
    online_ = online;
}

void plDataServer::SendData() {
    // A progress rewrite that failed after the save is tried once more.
    if (progressUnsaved_)
        progressUnsaved_ = !WriteProgress(progress_);
    // This drive's file goes to the server now, while the connection is known to stand, so
    // that it arrives even when the upload after the leave fails; the server keeps each file
    // once, and a file it confirmed is moved out of the upload's way.
    if (!online_) {
        n_printf("Drive data of user '%s' stays for a later upload (offline drive)\n",
                 names::PrintableName(userName_).c_str());
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
    SendDriveFile(path);
}

// The drive's file goes the way of the upload after the drive (SendDataFile), while the
// network object stands and says it is online; otherwise it stays for that upload.
void plDataServer::SendDriveFile(const std::string& path) {
    nKernelServer* kernel = GetKernel();
    auto* script =
        kernel ? dynamic_cast<nScriptServer*>(kernel->Lookup("/sys/servers/script")) : nullptr;
    nRoot* network = kernel ? kernel->Lookup("/sys/network") : nullptr;
    if (!network || !script) {
        n_printf("Network: no network layer; %s is left for the next upload\n", path.c_str());
        return;
    }
    std::string state;
    if (network->Call("getstate", {}, state) != nCallStatus::Ok || state != "online") {
        n_printf("Network: not online (%s); %s is left for the next upload\n", state.c_str(),
                 path.c_str());
        return;
    }
    std::string name = std::filesystem::path(path).filename().string();
    std::string answer;
    if (!SendDataFile(script, userName_, name, answer))
        n_printf("Network: %s was not sent after the drive (%s); it is left for the upload\n",
                 name.c_str(), answer.c_str());
}

void RegisterDataClasses(nKernelServer* kernel) {
    kernel->AddClass("pldata", [] { return new plDataServer; });
}
