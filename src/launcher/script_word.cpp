// Quoting of texts as single Tcl words, so that user names and passwords reach the script
// layer as they were typed.
#include "launcher.h"

#include <cstdio>

namespace {

bool IsPlainCharacter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '/' || c == ':' || c == '@' || c == '+' || c == '-';
}

// Inside braces Tcl substitutes nothing, but a backslash still escapes braces and joins
// lines, and the braces must pair up for the word to end where it should.
bool FitsInBraces(const std::string& text) {
    int depth = 0;
    for (char c : text) {
        if (c == '\\')
            return false;
        if (c == '{')
            ++depth;
        else if (c == '}' && --depth < 0)
            return false;
    }
    return depth == 0;
}

std::string Escaped(const std::string& text) {
    std::string word;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '\n':
            word += "\\n";
            break;
        case '\t':
            word += "\\t";
            break;
        case '\r':
            word += "\\r";
            break;
        case '[':
        case ']':
        case '{':
        case '}':
        case '$':
        case '"':
        case '\\':
        case ';':
        case '#':
        case ' ':
            word += '\\';
            word += c;
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                char octal[5];
                std::snprintf(octal, sizeof octal, "\\%03o", u);
                word += octal;
            } else {
                word += c;
            }
        }
    }
    return word;
}

} // namespace

std::string ScriptWord(const std::string& text) {
    if (text.empty())
        return "{}";
    bool plain = true;
    for (char c : text)
        plain = plain && IsPlainCharacter(static_cast<unsigned char>(c));
    if (plain)
        return text;
    if (FitsInBraces(text))
        return "{" + text + "}";
    return Escaped(text);
}
