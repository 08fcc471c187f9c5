// Which landmarks of which world a user has reached. One instance per process, for the user
// who drives; kept in users/<name>/landmarks as readable text:
//   world=<world name>
//   landmark=<landmark name>     (one line for each landmark reached in that world)
// Saving merges with what the file holds, so nothing reached earlier is lost.
#include "data_server.h"

#include "engine/services.h"
#include "platform/file_system.h"
#include "platform/window_system.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>

namespace {

using LandmarkMap = std::map<std::string, std::vector<std::string>>;

std::unique_ptr<plLandmarkInformation>& Instance() {
    static std::unique_ptr<plLandmarkInformation> instance;
    return instance;
}
nKernelServer* g_instanceKernel = nullptr;

void AddLandmark(LandmarkMap& map, const std::string& world, const std::string& landmark) {
    auto& list = map[world];
    if (std::find(list.begin(), list.end(), landmark) == list.end())
        list.push_back(landmark);
}

LandmarkMap ParseLandmarks(const std::string& text, const std::string& path) {
    LandmarkMap map;
    std::istringstream lines(text);
    std::string line;
    std::string world;
    bool haveWorld = false;
    int lineNo = 0;
    while (std::getline(lines, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("world=", 0) == 0) {
            world = line.substr(6);
            haveWorld = true;
            map[world];
        } else if (line.rfind("landmark=", 0) == 0 && haveWorld) {
            AddLandmark(map, world, line.substr(9));
        } else {
            n_printf("WARN: %s line %d: not a landmark entry, skipped: %s\n", path.c_str(), lineNo,
                     line.c_str());
        }
    }
    return map;
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
std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

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
    std::string text;
    if (!path.empty() && platform::ReadWholeFile(path, text))
        reached_ = ParseLandmarks(text, path);
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
    AddLandmark(reached_, world_, OneLine(landmark));
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
    std::string text;
    if (platform::ReadWholeFile(path, text))
        merged = ParseLandmarks(text, path);
    for (const auto& [world, landmarks] : reached_) {
        merged[world];
        for (const auto& landmark : landmarks)
            AddLandmark(merged, world, landmark);
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (!platform::WriteFileAtomically(path, FormatLandmarks(merged, userName_))) {
        n_printf("ERROR: could not write %s: %s\n", path.c_str(),
                 platform::GetLastErrorText().c_str());
        return;
    }
    reached_ = std::move(merged);
}
