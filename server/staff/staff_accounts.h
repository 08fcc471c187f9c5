// The staff accounts from the command line: pelora-server --add-staff NAME (the password read
// from standard input, twice and unechoed on a terminal), --remove-staff NAME, --list-staff.
// They work on the database the server uses (the data folder's, or --database), also while
// servers run on it.
#pragma once

#include "server/options.h"

#include <cstdio>
#include <string>

namespace server {

// Each gives the program's exit code; messages go to `out` and `err`.
int AddStaffAccount(const ServerOptions& options, const std::string& name, std::FILE* in,
                    std::FILE* out, std::FILE* err);
int RemoveStaffAccount(const ServerOptions& options, const std::string& name, std::FILE* out,
                       std::FILE* err);
int ListStaffAccounts(const ServerOptions& options, std::FILE* out, std::FILE* err);

} // namespace server
