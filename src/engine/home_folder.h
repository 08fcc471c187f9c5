// The home folder: PELORA_HOME when set, else a per-user folder seeded on first use from the
// installed copy of home/.
#pragma once

#include <string>

// The home folder's path (no trailing separator); created and seeded when needed.
std::string ResolveHomeFolder();
// The installed default home that a new per-user home is seeded from ("" when none found).
std::string InstalledHomeFolder();
// Copies the installed home into `target` (files that exist there already are kept).
bool SeedHomeFolder(const std::string& source, const std::string& target);
