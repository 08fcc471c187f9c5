// The key/value settings store: a text file of escaped "key=value" lines, read whole by load
// and rewritten whole, atomically and durably, by every setValue.
//
// Format: the first line is "# Pelora settings"; then one "key=value" a line, sorted by key.
// In keys and values a backslash is written as two backslashes, and line feed, carriage
// return, tab and NUL as backslash n, r, t and 0. A key also writes '=' as backslash '=' and a
// leading '#' as backslash '#', so the first unescaped '=' ends the key and a line starting
// with '#' is a comment. Other bytes (UTF-8 and the rest) stand verbatim.
#include "settings/persistent_settings.h"

#include "engine/kernel.h"
#include "platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kHeader = "# Pelora settings";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void AppendEscaped(std::string& out, const std::string& text, bool isKey) {
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\0':
            out += "\\0";
            break;
        case '=':
            out += isKey ? "\\=" : "=";
            break;
        case '#':
            out += isKey && i == 0 ? "\\#" : "#";
            break;
        default:
            out += c;
        }
    }
}

std::string ParseError(const std::string& fileName, size_t lineNumber, const std::string& what) {
    return fileName + ", line " + std::to_string(lineNumber) + ": " + what;
}

// Unescapes `line` from `pos` up to the first unescaped '=' (when `stopAtEquals`) or the end.
// Leaves `pos` on the '=' or at the end.
std::string Unescape(const std::string& line, size_t& pos, bool stopAtEquals,
                     const std::string& fileName, size_t lineNumber) {
    std::string out;
    while (pos < line.size()) {
        char c = line[pos];
        if (c == '=' && stopAtEquals) {
            return out;
        }
        if (c != '\\') {
            out += c;
            ++pos;
            continue;
        }
        if (pos + 1 >= line.size()) {
            throw FileException(2, ParseError(fileName, lineNumber, "backslash at the line end"));
        }
        char escaped = line[pos + 1];
        switch (escaped) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '0':
            out += '\0';
            break;
        case '=':
            out += '=';
            break;
        case '#':
            out += '#';
            break;
        default:
            throw FileException(
                2, ParseError(fileName, lineNumber, std::string("unknown escape \\") + escaped));
        }
        pos += 2;
    }
    return out;
}

} // namespace

PersistentSettings::PersistentSettings() = default;
PersistentSettings::PersistentSettings(const PersistentSettings& other) = default;
PersistentSettings& PersistentSettings::operator=(const PersistentSettings& other) = default;
PersistentSettings::~PersistentSettings() = default;

void PersistentSettings::setFilename(const std::string& fileName) {
    fileName_ = fileName;
}

void PersistentSettings::load() {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName_.c_str(), "rb"));
    if (!file) {
        throw FileException(0, fileName_);
    }
    std::string text;
    char buffer[16384];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, got);
    }
    if (std::ferror(file.get())) {
        throw FileException(2, fileName_ + ": " + std::strerror(errno));
    }
    values_ = Parse(text, fileName_);
}

std::string PersistentSettings::getValue(const std::string& key) const {
    auto found = values_.find(key);
    return found == values_.end() ? std::string() : found->second;
}

void PersistentSettings::setValue(const std::string& key, const std::string& value) {
    values_[key] = value;
    // A store without a file name (not yet bound to a file) keeps its values in memory only.
    if (fileName_.empty()) {
        dirty_ = 1;
        return;
    }
    if (platform::WriteFileAtomically(fileName_, Serialize(values_))) {
        dirty_ = 0;
        return;
    }
    dirty_ = 1;
    n_printf("Could not write settings file %s: %s\n", fileName_.c_str(), std::strerror(errno));
}

std::string PersistentSettings::Serialize(const std::map<std::string, std::string>& values) {
    std::string out = kHeader;
    out += '\n';
    for (const auto& [key, value] : values) {
        AppendEscaped(out, key, true);
        out += '=';
        AppendEscaped(out, value, false);
        out += '\n';
    }
    return out;
}

std::map<std::string, std::string> PersistentSettings::Parse(const std::string& text,
                                                             const std::string& fileName) {
    std::map<std::string, std::string> values;
    size_t lineStart = 0;
    for (size_t lineNumber = 1; lineStart < text.size(); ++lineNumber) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        std::string line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        // A raw carriage return only comes from a file edited on another system.
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find('\0') != std::string::npos) {
            throw FileException(2, ParseError(fileName, lineNumber, "a NUL byte"));
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t pos = 0;
        std::string key = Unescape(line, pos, true, fileName, lineNumber);
        if (pos >= line.size()) {
            throw FileException(2, ParseError(fileName, lineNumber, "no '=' after the key"));
        }
        ++pos;
        std::string value = Unescape(line, pos, false, fileName, lineNumber);
        if (!values.emplace(std::move(key), std::move(value)).second) {
            throw FileException(2, ParseError(fileName, lineNumber, "the key is given twice"));
        }
    }
    return values;
}
