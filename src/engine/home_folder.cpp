// Where home: lies. PELORA_HOME names it; otherwise each user gets
// $XDG_DATA_HOME/pelora/home (or ~/.local/share/pelora/home), seeded on first use from the
// installed copy of home/: share/pelora/home beside the program's bin/ folder, or, for a
// program run from its build tree, the source tree's home/.
#include "engine/home_folder.h"

#include "platform/file_system.h"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

bool IsInside(const fs::path& path, const fs::path& folder) {
    std::error_code ec;
    const fs::path relative =
        fs::weakly_canonical(path, ec).lexically_relative(fs::weakly_canonical(folder, ec));
    return !relative.empty() && *relative.begin() != "..";
}

} // namespace

std::string InstalledHomeFolder() {
    std::vector<fs::path> candidates;
    if (const char* installed = std::getenv("PELORA_INSTALLED_HOME"); installed && *installed)
        candidates.emplace_back(installed);
    const std::string exeDir = platform::ExecutableDirectory();
    if (!exeDir.empty()) {
        candidates.push_back(fs::path(exeDir) / PELORA_INSTALLED_HOME_RELATIVE);
        candidates.push_back(fs::path(exeDir) / "home");
        // Only a program in its build tree uses the sources: an installed one must not lean
        // on a source tree that happens to lie on the machine it was built on.
        if (IsInside(exeDir, PELORA_BUILD_DIR))
            candidates.emplace_back(PELORA_SOURCE_HOME);
    }
    for (const auto& candidate : candidates) {
        std::error_code ec;
        if (fs::is_directory(candidate / "apps", ec))
            return fs::weakly_canonical(candidate, ec).string();
    }
    return {};
}

bool SeedHomeFolder(const std::string& source, const std::string& target) {
    std::error_code ec;
    fs::create_directories(target, ec);
    if (ec)
        return false;
    if (source.empty())
        return true;
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
    return !ec;
}

std::string ResolveHomeFolder() {
    if (const char* home = std::getenv("PELORA_HOME"); home && *home) {
        std::string path = home;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        std::error_code ec;
        if (!fs::exists(path, ec))
            SeedHomeFolder(InstalledHomeFolder(), path);
        return path;
    }
    fs::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* user = std::getenv("HOME"); user && *user)
        base = fs::path(user) / ".local" / "share";
    else
        base = fs::temp_directory_path();
    fs::path home = base / "pelora" / "home";
    std::error_code ec;
    if (!fs::exists(home / "apps", ec))
        SeedHomeFolder(InstalledHomeFolder(), home.string());
    return home.string();
}
