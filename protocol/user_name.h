// The rules a user name must follow, shared by everything that makes, checks or stores users:
// the launcher's login and rename, the configuration tool and the server. A name is also the
// name of the user's folder under users:, so the rules keep it one plain folder name that
// fits the launcher's name buffers and reads the same on every machine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace names {

// Name buffers hold 127 characters, but the user-name edit has always taken 119; a longer
// name could never be typed, so it is never made.
constexpr std::size_t kMaxUserNameBytes = 119;

enum class NameProblem {
    None,
    Empty,
    TooLong,          // more than kMaxUserNameBytes bytes
    NotUtf8,          // not valid UTF-8 text
    ControlCharacter, // tab, line break, escape, delete, or a C1 control
    PathCharacter,    // '/' or '\'
    DotName,          // "." or ".."
};

NameProblem CheckUserName(std::string_view name);

// One sentence for a person, such as "A user name can hold at most 119 bytes."
std::string DescribeNameProblem(NameProblem problem);

// "guest" in any letter case: the one guest account, whose folder is users/guest.
bool IsGuestName(std::string_view name);

bool IsValidUtf8(std::string_view text);

// The name as it can be written safely into a log line or message: printable text stays,
// control characters and bytes that are not UTF-8 become \xNN escapes, a backslash becomes
// two.
std::string PrintableName(std::string_view raw);

} // namespace names
