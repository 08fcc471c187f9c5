// The worlds the staff view knows: each folder of the worlds directory (the installed default
// home's share/pelora/home/worlds, or --worlds DIR) with its meshes/layout.txt and difficulty.
// A drive names its world by folder or by the layout's name; both find it. Read once at start.
#pragma once

#include "world_layout.h"

#include <map>
#include <string>
#include <vector>

namespace server {

struct KnownWorld {
    std::string folder;
    WorldLayout layout;
    int difficulty = 0; // 1 (very easy) to 5 (very difficult); 0 when not given
};

class WorldCatalog {
public:
    // Reads every world under `folder`; the problems (a layout that does not read) are kept
    // for the log. A missing folder gives an empty catalogue and one problem.
    void Load(const std::string& folder);
    const KnownWorld* Find(const std::string& name) const;
    const std::vector<KnownWorld>& Worlds() const { return worlds_; }
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    std::vector<KnownWorld> worlds_;
    std::map<std::string, std::size_t> byName_;
    std::vector<std::string> problems_;
};

// The installed default home's worlds, beside the running program: <prefix>/share/pelora/home/
// worlds for a program in <prefix>/bin.
std::string DefaultWorldsFolder();

} // namespace server
