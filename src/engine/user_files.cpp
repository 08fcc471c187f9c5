// A user's folder name and the upload of one data file (see user_files.h).
#include "engine/user_files.h"

#include "engine/services.h"
#include "protocol/user_name.h"

std::string UserFolderName(const std::string& userName) {
    if (names::IsGuestName(userName))
        return "guest";
    if (names::CheckUserName(userName) != names::NameProblem::None)
        return {};
    return userName;
}

bool SendDataFile(nScriptServer* script, const std::string& userName, const std::string& fileName,
                  std::string& answer) {
    answer.clear();
    if (!script) {
        answer = "no script server";
        return false;
    }
    bool ran = script->RunWords({"net::sendfile", fileName, userName}, answer);
    return ran && !answer.empty() && answer[0] == '0';
}
