// Which landmarks of which world a user has reached. One instance per process, for the user
// who drives; kept in users/<name>/landmarks as readable text:
//   world=<world name>
//   landmark=<landmark name>     (one line for each landmark reached in that world)
// Saving merges with what the file holds, so nothing reached earlier is lost.
#include "data_server.h"

#include "engine/services.h"
#include "engine/format_text.h"
#include "platform/file_system.h"
#include "platform/window_system.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string_view>
#include <unordered_set>

namespace {

using LandmarkMap = std::map<std::string, std::vector<std::string>>;
using LandmarkIndex = std::map<std::string, std::unordered_set<std::string>>;

std::unique_ptr<plLandmarkInformation>& Instance() {
    static std::unique_ptr<plLandmarkInformation> instance;
    return instance;
}
nKernelServer* g_instanceKernel = nullptr;

// Lists keep the order landmarks were first reached in; the index answers "already there?"
// in O(1), so that a file or drive with a great many landmarks stays linear.
void AddLandmark(LandmarkMap& map, LandmarkIndex& index, const std::string& world,
                 const std::string& landmark) {
    auto& list = map[world];
    if (index[world].insert(landmark).second)
        list.push_back(landmark);
}

LandmarkMap ParseLandmarks(const std::string& text, const std::string& path, LandmarkIndex& index) {
    LandmarkMap map;
    index.clear();
    std::vector<std::string>* list = nullptr;
    std::unordered_set<std::string>* known = nullptr;
    size_t start = 0;
    int lineNo = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.substr(0, 6) == "world=") {
            std::string world(line.substr(6));
            list = &map[world];
            known = &index[world];
        } else if (line.substr(0, 9) == "landmark=" && list) {
            std::string landmark(line.substr(9));
            if (known->insert(landmark).second)
                list->push_back(std::move(landmark));
        } else {
            n_printf("WARN: %s line %d: not a landmark entry, skipped: %s\n", path.c_str(), lineNo,
                     std::string(line).c_str());
        }
    }
    return map;
}

// The landmarks file as it is on disk (nothing when there is none); false when a file is
// there but cannot be read, which must then not be written over.
bool ReadLandmarks(const std::string& path, LandmarkMap& map, LandmarkIndex& index) {
    map.clear();
    index.clear();
    std::string text;
    platform::FileError error;
    if (platform::ReadWholeFile(path, text, &error)) {
        map = ParseLandmarks(text, path, index);
        return true;
    }
    if (!platform::FileExists(path))
        return true;
    n_printf("ERROR: %s cannot be read: %s\n", path.c_str(), error.text.c_str());
    return false;
}

std::string FormatLandmarks(const LandmarkMap& map, const std::string& user) {
    std::string text = "# Landmarks reached by " + user + "\n";
    for (const auto& [world, landmarks] : map) {
        text += "world=" + world + "\n";
        for (const auto& landmark : landmarks)
            text += "landmark=" + landmark + "\n";
    }
    return text;
}

// One line per entry: a line break in a name would split it.
std::string LandmarkFile(nKernelServer* kernel, const std::string& user) {
    std::string folder = UserFolderName(user);
    if (!kernel || folder.empty())
        return {};
    return pathate(kernel, "users:%s/landmarks", folder.c_str());
}

} // namespace

plLandmarkInformation::plLandmarkInformation(nKernelServer* kernel, std::string userName)
    : kernel_(kernel), userName_(std::move(userName)) {
    std::string path = LandmarkFile(kernel_, userName_);
    if (!path.empty())
        ReadLandmarks(path, reached_, known_);
}

plLandmarkInformation* plLandmarkInformation::getInstance(nKernelServer* kernel,
                                                          std::string userName) {
    auto& instance = Instance();
    if (!instance || instance->userName_ != userName || g_instanceKernel != kernel) {
        instance.reset(new plLandmarkInformation(kernel, std::move(userName)));
        g_instanceKernel = kernel;
    }
    return instance.get();
}

plLandmarkInformation* plLandmarkInformation::getInstance() {
    return Instance().get();
}

void plLandmarkInformation::resetForTesting() {
    Instance().reset();
    g_instanceKernel = nullptr;
}

void plLandmarkInformation::setCurrentWorld(std::string world) {
    world_ = OneLine(world);
}

void plLandmarkInformation::landmarkReached(const std::string& landmark) {
    if (world_.empty()) {
        n_printf("WARN: landmark '%s' reached with no current world; not recorded\n",
                 landmark.c_str());
        return;
    }
    AddLandmark(reached_, known_, world_, OneLine(landmark));
}

void plLandmarkInformation::saveLandmarkInfo() {
    // The kernel this instance was made with may be gone (a restarted engine).
    nKernelServer* kernel = kernel_ == nKernelServerInstance() ? kernel_ : nKernelServerInstance();
    std::string path = LandmarkFile(kernel, userName_);
    if (path.empty()) {
        n_printf("ERROR: landmarks of user '%s' not saved: no usable user folder\n",
                 userName_.c_str());
        return;
    }
    LandmarkMap merged;
    LandmarkIndex mergedIndex;
    if (!ReadLandmarks(path, merged, mergedIndex)) {
        n_printf("ERROR: landmarks of user '%s' not saved: %s is kept as it is\n",
                 userName_.c_str(), path.c_str());
        return;
    }
    for (const auto& [world, landmarks] : reached_) {
        merged[world];
        mergedIndex[world];
        for (const auto& landmark : landmarks)
            AddLandmark(merged, mergedIndex, world, landmark);
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    platform::FileError error;
    if (!platform::WriteFileAtomically(path, FormatLandmarks(merged, userName_), &error)) {
        n_printf("ERROR: could not write %s: %s\n", path.c_str(), error.text.c_str());
        return;
    }
    reached_ = std::move(merged);
    known_ = std::move(mergedIndex);
}
