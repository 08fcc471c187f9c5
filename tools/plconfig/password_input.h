// Passwords for the command line, read from standard input and never from the arguments (where
// every user of the machine could read them in the process list).
#pragma once

#include <string>

namespace plconfig {

// Reads one password from `in`. On a terminal: prompts on `promptOut`, turns echo off while
// the password is typed (and back on, also when the read is interrupted by a signal), and asks
// twice; false when the two differ. Otherwise one line (its line ending removed); false when
// standard input holds nothing. `problem` says why on false.
bool ReadPassword(int in, int promptOut, const std::string& prompt, std::string& password,
                  std::string& problem);

} // namespace plconfig
