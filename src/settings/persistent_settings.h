// The key/value settings store behind both settings files. Every setValue reaches the file
// at once, atomically and durably (temporary file, flush to disk, rename), so a crash leaves
// the old file or the new one. The file is readable text, one "key=value" a line, with
// backslash escapes so that any value round-trips (blanks, '=', line breaks, any bytes).
#pragma once

#include <map>
#include <string>
#include <vector>

class FileException {
public:
    // 0: the file is missing or did not open; 2: it could not be read or parsed; 3: something
    // other than a regular file (a folder, FIFO, device) stands in its place.
    enum Code { kNotOpened = 0, kUnreadable = 2, kNotARegularFile = 3 };

    FileException(int code, std::string text) : code_(code), text_(std::move(text)) {}
    int getCode() const { return code_; }
    const std::string& getMessage() const { return text_; }

private:
    int code_;
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
    // Like load, but a file that holds lines that do not read, or that cannot be read at all,
    // loses nothing: it is renamed aside to "<file>.corrupt-<UTC time>", every problem is
    // logged, and the values that did read are kept and written back as the new file. Throws
    // FileException with code 0 when there is no file, code 3 when something other than a
    // regular file stands in its place, and code 2 when the file could not be set aside.
    void loadKeepingReadable();
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
    // Like Parse, but goes on past a line that does not read: such lines (and a key given a
    // second time) are left out and described in `problems`, with the file and line.
    static std::map<std::string, std::string> ParseReadable(const std::string& text,
                                                            const std::string& fileName,
                                                            std::vector<std::string>& problems);

private:
    std::string ReadFileText() const;

    std::string fileName_;
    std::map<std::string, std::string> values_;
    unsigned char dirty_ = 0; // 1 when the last write failed
};
