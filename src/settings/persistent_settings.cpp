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
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr const char* kHeader = "# Pelora settings";

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

// Calls `line(lineNumber, text)` for every line that is neither blank nor a comment.
template <class LineHandler> void ForEachLine(const std::string& text, LineHandler line) {
    size_t lineStart = 0;
    for (size_t lineNumber = 1; lineStart < text.size(); ++lineNumber) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        std::string current = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        // A raw carriage return only comes from a file edited on another system.
        if (!current.empty() && current.back() == '\r') {
            current.pop_back();
        }
        if (current.empty() || current[0] == '#') {
            continue;
        }
        line(lineNumber, current);
    }
}

// One "key=value" line; throws FileException naming the file and line.
std::pair<std::string, std::string> ParseLine(const std::string& line, const std::string& fileName,
                                              size_t lineNumber) {
    if (line.find('\0') != std::string::npos) {
        throw FileException(2, ParseError(fileName, lineNumber, "a NUL byte"));
    }
    size_t pos = 0;
    std::string key = Unescape(line, pos, true, fileName, lineNumber);
    if (pos >= line.size()) {
        throw FileException(2, ParseError(fileName, lineNumber, "no '=' after the key"));
    }
    ++pos;
    std::string value = Unescape(line, pos, false, fileName, lineNumber);
    return {std::move(key), std::move(value)};
}

std::string UtcStamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &tm);
    return text;
}

// "<file>.corrupt-<UTC time>", with "-2", "-3", ... when that name is taken.
std::string AsideName(const std::string& fileName) {
    std::string stem = fileName + ".corrupt-" + UtcStamp();
    std::string name = stem;
    for (int n = 2; platform::FileExists(name); ++n) {
        name = stem + "-" + std::to_string(n);
    }
    return name;
}

} // namespace

PersistentSettings::PersistentSettings() = default;
PersistentSettings::PersistentSettings(const PersistentSettings& other) = default;
PersistentSettings& PersistentSettings::operator=(const PersistentSettings& other) = default;
PersistentSettings::~PersistentSettings() = default;

void PersistentSettings::setFilename(const std::string& fileName) {
    fileName_ = fileName;
}

std::string PersistentSettings::ReadFileText() const {
    std::string text;
    platform::FileError error;
    if (platform::ReadWholeFile(fileName_, text, &error)) {
        return text;
    }
    switch (error.kind) {
    case platform::FileError::Kind::NotRegularFile:
        throw FileException(FileException::kNotARegularFile, fileName_ + ": " + error.text);
    case platform::FileError::Kind::ReadFailed:
        throw FileException(FileException::kUnreadable, fileName_ + ": " + error.text);
    default:
        throw FileException(FileException::kNotOpened, fileName_);
    }
}

void PersistentSettings::load() {
    std::string text = ReadFileText();
    values_ = Parse(text, fileName_);
}

void PersistentSettings::loadKeepingReadable() {
    std::vector<std::string> problems;
    std::map<std::string, std::string> readable;
    std::string text;
    platform::FileError error;
    if (platform::ReadWholeFile(fileName_, text, &error)) {
        readable = ParseReadable(text, fileName_, problems);
        if (problems.empty()) {
            values_ = std::move(readable);
            return;
        }
    } else if (error.kind == platform::FileError::Kind::NotRegularFile) {
        throw FileException(FileException::kNotARegularFile, fileName_ + ": " + error.text);
    } else if (!platform::FileExists(fileName_)) {
        throw FileException(FileException::kNotOpened, fileName_);
    } else {
        // There but not readable (no permission, say): kept aside too, so that the values
        // written next cannot replace it.
        problems.push_back(fileName_ + ": " + error.text);
    }
    for (const std::string& problem : problems) {
        n_printf("Unreadable settings: %s\n", problem.c_str());
    }
    const std::string aside = AsideName(fileName_);
    if (!platform::RenameFile(fileName_, aside)) {
        std::string why = std::strerror(errno);
        n_printf("Could not keep the unreadable settings file %s aside: %s\n", fileName_.c_str(),
                 why.c_str());
        throw FileException(FileException::kUnreadable, problems.front());
    }
    n_printf("Unreadable settings file %s kept as %s; the %zu values that read are used\n",
             fileName_.c_str(), aside.c_str(), readable.size());
    values_ = std::move(readable);
    platform::FileError writeError;
    if (!platform::WriteFileAtomically(fileName_, Serialize(values_), &writeError)) {
        dirty_ = 1;
        n_printf("Could not write settings file %s: %s\n", fileName_.c_str(),
                 writeError.text.c_str());
    }
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
    platform::FileError error;
    if (platform::WriteFileAtomically(fileName_, Serialize(values_), &error)) {
        dirty_ = 0;
        return;
    }
    dirty_ = 1;
    n_printf("Could not write settings file %s: %s\n", fileName_.c_str(), error.text.c_str());
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
    ForEachLine(text, [&](size_t lineNumber, const std::string& line) {
        auto entry = ParseLine(line, fileName, lineNumber);
        if (!values.emplace(std::move(entry)).second) {
            throw FileException(2, ParseError(fileName, lineNumber, "the key is given twice"));
        }
    });
    return values;
}

std::map<std::string, std::string>
PersistentSettings::ParseReadable(const std::string& text, const std::string& fileName,
                                  std::vector<std::string>& problems) {
    std::map<std::string, std::string> values;
    ForEachLine(text, [&](size_t lineNumber, const std::string& line) {
        try {
            auto entry = ParseLine(line, fileName, lineNumber);
            if (!values.emplace(std::move(entry)).second) {
                problems.push_back(
                    ParseError(fileName, lineNumber, "the key is given twice; the first kept"));
            }
        } catch (const FileException& problem) {
            problems.push_back(problem.getMessage());
        }
    });
    return values;
}
