// The key/value settings store behind both settings files. Every setValue reaches the file
// at once, atomically and durably (temporary file, flush to disk, rename), so a crash leaves
// the old file or the new one. The file is readable text, one "key=value" a line, with
// backslash escapes so that any value round-trips (blanks, '=', line breaks, any bytes).
#pragma once

#include <map>
#include <string>

class FileException {
public:
    FileException(int code, std::string text) : code_(code), text_(std::move(text)) {}
    int getCode() const { return code_; }
    const std::string& getMessage() const { return text_; }

private:
    int code_; // 0: the file did not open; other: it opened but could not be read or parsed
    std::string text_;
};

class PersistentSettings {
public:
    PersistentSettings();
    PersistentSettings(const PersistentSettings& other);
    PersistentSettings& operator=(const PersistentSettings& other);
    virtual ~PersistentSettings();

    void setFilename(const std::string& fileName);
    const std::string& getFilename() const { return fileName_; }
    // Fills the map from the file; throws FileException (code 0 when the file does not open;
    // a non-zero code with a message naming the file and the line when it cannot be parsed).
    void load();
    std::string getValue(const std::string& key) const; // "" when absent
    // Stores the value and writes the file. A failed write is logged and the value is kept
    // in memory, so the run goes on.
    void setValue(const std::string& key, const std::string& value);
    const std::map<std::string, std::string>& values() const { return values_; }

    // The file's text for a map, and the map for a text (throws FileException with the
    // line number); exposed for tests.
    static std::string Serialize(const std::map<std::string, std::string>& values);
    static std::map<std::string, std::string> Parse(const std::string& text,
                                                    const std::string& fileName);

private:
    std::string fileName_;
    std::map<std::string, std::string> values_;
    unsigned char dirty_ = 0; // 1 when the last write failed
};
