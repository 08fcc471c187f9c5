// The registry of helper-process roles (see child_role.h).
#include "child_role.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace pelora_test {

namespace {

std::map<std::string, ChildRole>& Roles() {
    static std::map<std::string, ChildRole> roles;
    return roles;
}

} // namespace

ChildRoleRegistration::ChildRoleRegistration(const std::string& name, ChildRole role) {
    Roles()[name] = std::move(role);
}

int RunChildRoleIfAsked(bool& ran) {
    const char* name = std::getenv(kChildRoleVariable);
    ran = name && *name;
    if (!ran)
        return 0;
    auto it = Roles().find(name);
    if (it == Roles().end()) {
        std::fprintf(stderr, "%s: no helper role \"%s\" in this test program\n", kChildRoleVariable,
                     name);
        return 125;
    }
    return it->second();
}

std::string TestProgramPath() {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).string();
}

} // namespace pelora_test
