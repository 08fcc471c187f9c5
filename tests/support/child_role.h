// A test program can run as a helper process of one of its own tests: a test starts the same
// program again with PELORA_TEST_CHILD naming a role, and the program's main runs that role
// instead of the tests. Used where one process cannot hold what a test needs twice (the
// launcher keeps one process-wide state record, so a second launcher is a second process).
#pragma once

#include <functional>
#include <string>

namespace pelora_test {

constexpr const char* kChildRoleVariable = "PELORA_TEST_CHILD";

using ChildRole = std::function<int()>;

// Registers a role under `name`; used at static initialisation, as in
//   const pelora_test::ChildRoleRegistration kRole("second-launcher", RunSecondLauncher);
struct ChildRoleRegistration {
    ChildRoleRegistration(const std::string& name, ChildRole role);
};

// Runs the role named by PELORA_TEST_CHILD and gives its exit code; false in `ran` when the
// variable is unset (the program then runs its tests). An unknown role gives 125.
int RunChildRoleIfAsked(bool& ran);

// The running test program, for starting it again as a child.
std::string TestProgramPath();

} // namespace pelora_test
