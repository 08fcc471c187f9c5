// The staff view's worlds (see world_catalog.h).
#include "world_catalog.h"

#include "server/disk.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace server {

namespace {

bool IsFolder(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

void WorldCatalog::Load(const std::string& folder) {
    worlds_.clear();
    byName_.clear();
    problems_.clear();
    if (!IsFolder(folder)) {
        problems_.push_back("no worlds folder at " + folder + "; drives show on a plain grid");
        return;
    }
    std::vector<std::string> names = ListFolder(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string world = JoinPath(folder, name);
        std::string layoutPath = JoinPath(world, "meshes/layout.txt");
        if (name.front() == '.' || !IsRegularFile(layoutPath))
            continue;
        std::string text, error;
        KnownWorld known;
        known.folder = name;
        if (!ReadFile(layoutPath, text, error) || !ParseWorldLayout(text, known.layout, error)) {
            problems_.push_back("the layout of world " + name + " does not read: " + error);
            continue;
        }
        std::string difficulty;
        if (ReadFile(JoinPath(world, "difficulty"), difficulty, error)) {
            int level = std::atoi(difficulty.c_str());
            known.difficulty = level >= 1 && level <= 5 ? level : 0;
        }
        worlds_.push_back(std::move(known));
    }
    for (std::size_t i = 0; i < worlds_.size(); ++i) {
        byName_.emplace(worlds_[i].folder, i);
        if (!worlds_[i].layout.name.empty())
            byName_.emplace(worlds_[i].layout.name, i);
    }
}

const KnownWorld* WorldCatalog::Find(const std::string& name) const {
    auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &worlds_[found->second];
}

std::string DefaultWorldsFolder() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return "/usr/share/pelora/home/worlds";
    std::string program(path, std::size_t(length));
    std::string bin = program.substr(0, program.rfind('/'));
    std::string prefix = bin.substr(0, bin.rfind('/'));
    return prefix + "/share/pelora/home/worlds";
}

} // namespace server
