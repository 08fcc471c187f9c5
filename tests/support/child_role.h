// A test program can run as a helper process of one of its own tests: a test starts the same
// program again with PELORA_TEST_CHILD naming a role, and the program's main runs that role
// instead of the tests. Used where one process cannot hold what a test needs twice (the
// launcher keeps one process-wide state record, so a second launcher is a second process), and
// where a test needs a helper process to run this program's own code: a forked copy of a test
// process with other threads may run nothing but async-signal-safe calls before it execs (a
// malloc there can wait for ever on an allocator lock another thread held at the fork), so the
// helper is this program started afresh instead.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

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

// Starts this test program again in the role `name`, in the current directory, with this
// process's environment plus `environment` ("NAME=value" entries). The child's standard output
// goes to `outputFd` when that is not -1. Gives the child's process id, or -1 with `error` set.
// The child runs none of this process's code before its exec, so any test may call this
// whatever threads it has.
pid_t StartChildRole(const std::string& name, const std::vector<std::string>& environment,
                     int outputFd, std::string& error);

// Waits up to `seconds` for the child to end and gives its wait status in `status`; false when
// it outlasts the time (it is then killed and reaped, so no child is left behind).
bool WaitForChild(pid_t child, double seconds, int& status);

} // namespace pelora_test
