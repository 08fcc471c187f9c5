// The World group of the User Setup window: the world catalogue built from the folders under
// worlds:, ordered by difficulty and name, and the current world's thumbnail and label.
#include "config/config.h"
#include "engine/kernel.h"
#include "platform/file_system.h"
#include "protocol/user_name.h"
#include "resource.h"
#include "settings/user_settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

bool IsWorldFolderName(const std::string& name) {
    return strcasecmp(name.c_str(), "Performance_Test") != 0 &&
           strcasecmp(name.c_str(), "CVS") != 0;
}

// The bytes of a small file read straight from its descriptor, a block at a time: a world
// catalogue reads thousands of difficulty files of a few bytes each, and a stdio stream would
// add a buffer allocation to every one of them.
class SmallFileReader {
public:
    // Only a regular file is opened: a FIFO or folder in its place is refused at once.
    SmallFileReader(const std::string& path, platform::FileError* error)
        : fd_(platform::OpenRegularFileDescriptor(path, error)) {}
    ~SmallFileReader() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SmallFileReader(const SmallFileReader&) = delete;
    SmallFileReader& operator=(const SmallFileReader&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The next byte, or EOF at the end or on a read error.
    int Get() {
        if (position_ == length_) {
            ssize_t got;
            do {
                got = ::read(fd_, block_, sizeof block_);
            } while (got < 0 && errno == EINTR);
            if (got <= 0)
                return EOF;
            length_ = std::size_t(got);
            position_ = 0;
        }
        return static_cast<unsigned char>(block_[position_++]);
    }

private:
    int fd_;
    char block_[64];
    std::size_t length_ = 0;
    std::size_t position_ = 0;
};

} // namespace

const char* DifficultyLabel(int difficulty) {
    switch (difficulty) {
    case 1:
        return "Very easy";
    case 2:
        return "Easy";
    case 3:
        return "Moderate";
    case 4:
        return "Difficult";
    case 5:
        return "Very difficult";
    default:
        return "Unknown";
    }
}

int ReadDifficulty(const std::string& path) {
    platform::FileError error;
    SmallFileReader file(path, &error);
    if (!file.IsOpen()) {
        // A FIFO or folder in its place is never waited on or read.
        if (error.kind == platform::FileError::Kind::NotRegularFile)
            n_printf("WARN %s/%d: %s %s; 1 is used\n", __FILE__, __LINE__, path.c_str(),
                     error.text.c_str());
        return 1;
    }

    int c = file.Get();
    while (c != EOF && std::isspace(c))
        c = file.Get();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = file.Get();
    }
    // Magnitude up to 2^31 is enough to tell every 32-bit value from an overflow.
    constexpr std::int64_t kLimit = std::int64_t(1) << 31;
    std::int64_t magnitude = 0;
    int digits = 0;
    bool overflow = false;
    while (c != EOF && std::isdigit(c)) {
        ++digits;
        if (!overflow) {
            magnitude = magnitude * 10 + (c - '0');
            overflow = magnitude > kLimit;
        }
        c = file.Get();
    }
    if (digits > 0 && !overflow && (negative || magnitude < kLimit))
        return int(negative ? -magnitude : magnitude);

    n_printf("WARN %s/%d: %s does not start with a difficulty that fits 32 bits; 1 is used\n",
             __FILE__, __LINE__, path.c_str());
    return 1;
}

bool WorldEntryBefore(const WorldEntry& a, const WorldEntry& b) {
    if (a.difficulty != b.difficulty)
        return a.difficulty < b.difficulty;
    // std::string compares char_traits<char>, which orders as unsigned bytes.
    return a.name.compare(b.name) < 0;
}

void BuildWorldCatalogue(const std::string& worldsFolder, std::list<WorldEntry>& catalogue) {
    std::vector<WorldEntry> scanned;
    platform::FolderSearch search(worldsFolder);
    platform::FolderEntry entry;
    while (search.Next(entry)) {
        if (!entry.isDirectory || !IsWorldFolderName(entry.name))
            continue;
        // A longer name would not fit worldName; cutting it would name another folder.
        if (entry.name.size() >= size_t(kNameSize)) {
            n_printf("WARN %s/%d: world folder name longer than %d characters left out: %s\n",
                     __FILE__, __LINE__, kNameSize - 1, names::PrintableName(entry.name).c_str());
            continue;
        }
        // The list shows text: such a name would come back from it as another name.
        if (!names::IsValidUtf8(entry.name)) {
            n_printf("WARN %s/%d: world folder name that is not UTF-8 left out: %s\n", __FILE__,
                     __LINE__, names::PrintableName(entry.name).c_str());
            continue;
        }
        int difficulty = ReadDifficulty(worldsFolder + entry.name + "/difficulty");
        scanned.push_back(WorldEntry{difficulty, entry.name});
    }
    // Stable, so entries equal in both fields keep their scan order, as an insertion after
    // every equal entry would.
    std::stable_sort(scanned.begin(), scanned.end(), WorldEntryBefore);
    catalogue.assign(std::make_move_iterator(scanned.begin()),
                     std::make_move_iterator(scanned.end()));
}

void FillWorldList() {
    int index = 0;
    int selected = 0;
    g_state.worldCatalogue.clear();
    BuildWorldCatalogue(pathate(g_state.kernelServer, "worlds:"), g_state.worldCatalogue);

    std::string stored = g_state.userSettings ? g_state.userSettings->getWorld() : "";
    for (const WorldEntry& world : g_state.worldCatalogue) {
        platform::ComboBoxAddString(g_state.setupWindow, IDC_SETUP_WORLD, world.name);
        if (stored == world.name)
            selected = index;
        ++index;
    }
    if (index > 0)
        platform::ComboBoxSetCurSel(g_state.setupWindow, IDC_SETUP_WORLD, selected);
}

void UpdateWorldChoice() {
    int selected = platform::ComboBoxGetCurSel(g_state.setupWindow, IDC_SETUP_WORLD);
    if (selected >= 0) {
        CopyName(g_state.worldName,
                 platform::ComboBoxGetText(g_state.setupWindow, IDC_SETUP_WORLD, selected));
    }

    std::string path = pathate(g_state.kernelServer, "worlds:%s/thumb.bmp", g_state.worldName);
    if (platform::HBITMAP bitmap = platform::LoadBitmapFile(path))
        platform::SetStaticBitmap(g_state.setupWindow, IDC_SETUP_WORLD_THUMB, bitmap);

    // The label and the stored world follow worldName even without a thumbnail, so that
    // what is shown, stored and driven always agree.
    if (!g_state.worldCatalogue.empty()) {
        const WorldEntry* match = nullptr;
        for (const WorldEntry& world : g_state.worldCatalogue) {
            if (world.name == g_state.worldName)
                match = &world;
        }
        platform::SetDlgItemText(g_state.setupWindow, IDC_SETUP_DIFFICULTY,
                                 match ? DifficultyLabel(match->difficulty) : "");
    }
    if (g_state.userSettings)
        g_state.userSettings->setWorld(g_state.worldName);
}
