// A user's folder and data files as the runtime's servers and the launcher both use them: the
// folder's name for a user name, and the one way a data file goes to the server. Below the data
// server, the network object and the launcher's upload, so that none of them calls another.
#pragma once

#include <string>

class nScriptServer;

// The name of a user's folder under users:, "guest" for the guest in any letter case; "" when
// the name cannot name a folder (a path, a control character, not UTF-8, too long).
std::string UserFolderName(const std::string& userName);

// Sends the data file `fileName` of `userName`'s folder to the server: the script procedure
// net::sendfile (its rules, waits and records), run through `script`. True when the answer
// starts with "0" (the server holds the file, moved to the folder's sent/); `answer` is the
// procedure's answer, or the reason it could not run.
bool SendDataFile(nScriptServer* script, const std::string& userName, const std::string& fileName,
                  std::string& answer);
