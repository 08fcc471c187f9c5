// A temporary home folder that is the current directory for the scope, as the bootstrap makes
// home: the working directory: for the settings tests and the platform's file-system tests.
#pragma once

#include "fakes.h"

#include <filesystem>
#include <string>

namespace settings_test {

class HomeAsCurrentDirectory {
public:
    HomeAsCurrentDirectory() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(home.path());
    }
    ~HomeAsCurrentDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    HomeAsCurrentDirectory(const HomeAsCurrentDirectory&) = delete;
    HomeAsCurrentDirectory& operator=(const HomeAsCurrentDirectory&) = delete;

    fakes::TempHome home;

private:
    std::filesystem::path previous_;
};

} // namespace settings_test
