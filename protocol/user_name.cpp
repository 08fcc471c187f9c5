// The user-name rules (see user_name.h).
#include "user_name.h"

#include <cstdio>

namespace names {

namespace {

// Length of the UTF-8 sequence that starts at `text[i]`, or 0 when none starts there.
// Overlong forms, surrogates and code points above U+10FFFF are refused.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i, char32_t& codePoint) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    std::size_t length;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(i + k) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

bool IsControl(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

} // namespace

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c;
        std::size_t length = Utf8SequenceLength(text, i, c);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

NameProblem CheckUserName(std::string_view name) {
    if (name.empty())
        return NameProblem::Empty;
    if (name.size() > kMaxUserNameBytes)
        return NameProblem::TooLong;
    if (name == "." || name == "..")
        return NameProblem::DotName;
    // Control characters are looked for before the encoding, so that a name with a tab is
    // told as such even when other bytes are not UTF-8 either.
    for (std::size_t i = 0; i < name.size();) {
        char32_t c;
        std::size_t length = Utf8SequenceLength(name, i, c);
        if (length == 0) {
            unsigned char b = static_cast<unsigned char>(name[i]);
            if (b < 0x20 || b == 0x7F)
                return NameProblem::ControlCharacter;
            ++i;
            continue;
        }
        if (IsControl(c))
            return NameProblem::ControlCharacter;
        if (c == '/' || c == '\\')
            return NameProblem::PathCharacter;
        i += length;
    }
    if (!IsValidUtf8(name))
        return NameProblem::NotUtf8;
    return NameProblem::None;
}

std::string DescribeNameProblem(NameProblem problem) {
    switch (problem) {
    case NameProblem::None:
        return "";
    case NameProblem::Empty:
        return "A user name cannot be empty.";
    case NameProblem::TooLong:
        return "A user name can hold at most " + std::to_string(kMaxUserNameBytes) +
               " bytes (letters with accents take two or more).";
    case NameProblem::NotUtf8:
        return "A user name must be valid UTF-8 text.";
    case NameProblem::ControlCharacter:
        return "A user name cannot hold control characters such as a tab or a line break.";
    case NameProblem::PathCharacter:
        return "A user name cannot hold a slash (/) or a backslash (\\).";
    case NameProblem::DotName:
        return "A user name cannot be \".\" or \"..\".";
    }
    return "";
}

bool IsGuestName(std::string_view name) {
    static constexpr std::string_view kGuest = "guest";
    if (name.size() != kGuest.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != kGuest[i])
            return false;
    }
    return true;
}

std::string PrintableName(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size();) {
        char32_t c;
        std::size_t length = Utf8SequenceLength(raw, i, c);
        if (length == 0 || IsControl(c)) {
            std::size_t count = length == 0 ? 1 : length;
            for (std::size_t k = 0; k < count; ++k) {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02X",
                              static_cast<unsigned char>(raw[i + k]));
                out += escape;
            }
            i += count;
            continue;
        }
        if (c == '\\')
            out += "\\\\";
        else
            out.append(raw.substr(i, length));
        i += length;
    }
    return out;
}

} // namespace names
