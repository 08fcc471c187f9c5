// The settings store: round trips of awkward keys and values, the file format, load errors,
// failed writes, copies, and files that stay loadable when the writer is killed mid-write.
#include "settings/persistent_settings.h"

#include "child_role.h"
#include "settings_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <random>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using settings_test::HomeAsCurrentDirectory;

FileException LoadFailure(PersistentSettings& settings) {
    try {
        settings.load();
    } catch (const FileException& e) {
        return e;
    }
    ADD_FAILURE() << "load of " << settings.getFilename() << " did not throw";
    return FileException(-1, "");
}

FileException ParseFailure(const std::string& text) {
    try {
        PersistentSettings::Parse(text, "someSettings");
    } catch (const FileException& e) {
        return e;
    }
    ADD_FAILURE() << "Parse did not throw for: " << text;
    return FileException(-1, "");
}

std::string AllBytes() {
    std::string bytes;
    for (int c = 0; c < 256; ++c) {
        bytes += static_cast<char>(c);
    }
    return bytes;
}

const std::map<std::string, std::string>& AwkwardValues() {
    static const std::map<std::string, std::string> values = {
        {"empty", ""},
        {"blanks", "  leading and trailing  "},
        {"only-blanks", "   "},
        {"equals", "a=b==c="},
        {"line-breaks", "first\nsecond\r\nthird\n"},
        {"tabs", "\tcol1\tcol2\t"},
        {"backslashes", "C:\\Pelora\\users\\ and \\n is not a line break\\"},
        {"non-ascii", "na\xc3\xafve \xe6\x97\xa5\xe6\x9c\xac \xff\xfe"},
        {"hash", "# not a comment"},
        {"every-byte", AllBytes()},
    };
    return values;
}

const std::map<std::string, std::string>& AwkwardKeys() {
    static const std::map<std::string, std::string> keys = {
        {"", "empty key"},           {"key=with=equals", "v1"},      {"#leading-hash", "v2"},
        {"key\nwith\nbreaks", "v3"}, {"key\\with\\backslash", "v4"}, {" blank key ", "v5"},
        {"\xc3\xa9t\xc3\xa9", "v6"},
    };
    return keys;
}

TEST(PersistentSettingsRoundTrip, AwkwardValuesSetOneByOne_LoadBackUnchanged) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings writer;
    writer.setFilename("roundTrip");
    for (const auto& [key, value] : AwkwardValues()) {
        writer.setValue(key, value);
    }
    PersistentSettings reader;
    reader.setFilename("roundTrip");
    reader.load();
    EXPECT_EQ(reader.values(), AwkwardValues());
    EXPECT_EQ(reader.getValue("every-byte"), AllBytes());
}

TEST(PersistentSettingsRoundTrip, AwkwardKeys_LoadBackUnchanged) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings writer;
    writer.setFilename("keys");
    for (const auto& [key, value] : AwkwardKeys()) {
        writer.setValue(key, value);
    }
    PersistentSettings reader;
    reader.setFilename("keys");
    reader.load();
    EXPECT_EQ(reader.values(), AwkwardKeys());
}

TEST(PersistentSettingsRoundTrip, SerializeThenParse_GivesTheSameMap) {
    std::map<std::string, std::string> both = AwkwardValues();
    both.insert(AwkwardKeys().begin(), AwkwardKeys().end());
    EXPECT_EQ(PersistentSettings::Parse(PersistentSettings::Serialize(both), "x"), both);
}

TEST(PersistentSettingsRoundTrip, ChangedValue_ReplacesTheOldOne) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings writer;
    writer.setFilename("changes");
    writer.setValue("user-name", "first");
    writer.setValue("user-name", "second");
    PersistentSettings reader;
    reader.setFilename("changes");
    reader.load();
    EXPECT_EQ(reader.getValue("user-name"), "second");
    EXPECT_EQ(reader.values().size(), 1u);
}

TEST(PersistentSettingsFormat, Serialize_HeaderThenSortedEscapedLines) {
    std::map<std::string, std::string> values = {
        {"b", "two words"}, {"a", "x=y"}, {"c=d", "line\nbreak\\"}};
    EXPECT_EQ(PersistentSettings::Serialize(values),
              "# Pelora settings\na=x=y\nb=two words\nc\\=d=line\\nbreak\\\\\n");
}

TEST(PersistentSettingsFormat, HandEditedFile_CommentsBlankLinesAndCrlfAccepted) {
    auto values = PersistentSettings::Parse(
        "# Pelora settings\r\n\r\n# a comment\r\nserver-name=example.org\r\nstate=\r\n",
        "globalSettings");
    std::map<std::string, std::string> expected = {{"server-name", "example.org"}, {"state", ""}};
    EXPECT_EQ(values, expected);
}

TEST(PersistentSettingsFormat, LastLineWithoutLineBreak_IsRead) {
    auto values = PersistentSettings::Parse("a=1\nb=2", "f");
    EXPECT_EQ(values.at("b"), "2");
}

TEST(PersistentSettingsLoad, MissingFile_CodeZeroWithTheFileName) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings settings;
    settings.setFilename("noSuchFile");
    FileException e = LoadFailure(settings);
    EXPECT_EQ(e.getCode(), 0);
    EXPECT_EQ(e.getMessage(), "noSuchFile");
}

TEST(PersistentSettingsLoad, MissingFolder_CodeZero) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings settings;
    settings.setFilename("users/nobody/userSettings");
    EXPECT_EQ(LoadFailure(settings).getCode(), 0);
}

TEST(PersistentSettingsLoad, GarbageLine_NonZeroCodeNamingFileAndLine) {
    HomeAsCurrentDirectory cwd;
    cwd.home.WriteFile("globalSettings", "# Pelora settings\nserver-name=a\nthis is garbage\n");
    PersistentSettings settings;
    settings.setFilename("globalSettings");
    FileException e = LoadFailure(settings);
    EXPECT_NE(e.getCode(), 0);
    EXPECT_NE(e.getMessage().find("globalSettings"), std::string::npos) << e.getMessage();
    EXPECT_NE(e.getMessage().find("line 3"), std::string::npos) << e.getMessage();
}

TEST(PersistentSettingsLoad, FailedLoad_KeepsTheValuesHeld) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings settings;
    settings.setFilename("kept");
    settings.setValue("a", "1");
    cwd.home.WriteFile("kept", "a=2\nbroken\n");
    LoadFailure(settings);
    EXPECT_EQ(settings.getValue("a"), "1");
}

TEST(PersistentSettingsLoad, FolderInPlaceOfTheFile_NonZeroCode) {
    HomeAsCurrentDirectory cwd;
    cwd.home.MakeDir("aFolder");
    PersistentSettings settings;
    settings.setFilename("aFolder");
    EXPECT_NE(LoadFailure(settings).getCode(), 0);
}

TEST(PersistentSettingsParse, BrokenLines_CodeTwoWithLineNumber) {
    struct Case {
        std::string text;
        std::string line;
    };
    const Case cases[] = {
        {"a=1\nno equals sign\n", "line 2"},
        {"a=1\nb=bad \\q escape\n", "line 2"},
        {"# Pelora settings\na=1\nb=2\nc=trailing backslash\\\n", "line 4"},
        {"a=1\na=2\n", "line 2"},
        {std::string("a=nul\0byte\n", 11), "line 1"},
        {"a=1\n\\=\n", "line 2"},
    };
    for (const Case& c : cases) {
        FileException e = ParseFailure(c.text);
        EXPECT_EQ(e.getCode(), 2) << c.text;
        EXPECT_EQ(e.getMessage().rfind("someSettings, " + c.line + ": ", 0), 0u) << e.getMessage();
    }
}

TEST(PersistentSettingsValues, MissingKey_ReadsEmpty) {
    PersistentSettings settings;
    EXPECT_EQ(settings.getValue("nothing"), "");
    EXPECT_TRUE(settings.values().empty());
}

TEST(PersistentSettingsWrite, FolderMissing_LogsAndKeepsTheValueInMemory) {
    HomeAsCurrentDirectory cwd;
    fakes::LogRecorder log;
    PersistentSettings settings;
    settings.setFilename("users/ghost/userSettings");
    settings.setValue("world", "Campus");
    EXPECT_EQ(settings.getValue("world"), "Campus");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("Could not write settings file users/ghost/userSettings: ", 0), 0u)
        << log.lines[0];
    EXPECT_FALSE(std::filesystem::exists(cwd.home / "users"));
}

TEST(PersistentSettingsWrite, FailedWriteThenFolderMade_NextSetValueWritesEverything) {
    HomeAsCurrentDirectory cwd;
    fakes::LogRecorder log;
    PersistentSettings settings;
    settings.setFilename("users/late/userSettings");
    settings.setValue("gender", "female");
    cwd.home.MakeDir("users/late");
    settings.setValue("world", "Campus");
    PersistentSettings reader;
    reader.setFilename("users/late/userSettings");
    reader.load();
    EXPECT_EQ(reader.getValue("gender"), "female");
    EXPECT_EQ(reader.getValue("world"), "Campus");
    EXPECT_EQ(log.Count("Could not write settings file"), 1);
}

TEST(PersistentSettingsWrite, NoFileName_KeepsValuesInMemoryUntilBoundThenWritesAll) {
    HomeAsCurrentDirectory cwd;
    fakes::LogRecorder log;
    PersistentSettings settings;
    settings.setValue("gender", "male");
    EXPECT_EQ(settings.getValue("gender"), "male");
    EXPECT_EQ(log.Count("Could not write settings file"), 0);
    EXPECT_TRUE(std::filesystem::is_empty(cwd.home.path()));

    settings.setFilename("bound");
    settings.setValue("world", "Park");
    PersistentSettings reader;
    reader.setFilename("bound");
    reader.load();
    EXPECT_EQ(reader.getValue("gender"), "male");
    EXPECT_EQ(reader.getValue("world"), "Park");
}

TEST(PersistentSettingsWrite, ManyWrites_LeaveOnlyTheSettingsFile) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings settings;
    settings.setFilename("onlyMe");
    for (int i = 0; i < 20; ++i) {
        settings.setValue("k" + std::to_string(i % 3), std::to_string(i));
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(cwd.home.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"onlyMe"});
}

TEST(PersistentSettingsCopy, CopyAndAssignment_CopyFileNameAndValues) {
    HomeAsCurrentDirectory cwd;
    PersistentSettings original;
    original.setFilename("original");
    original.setValue("a", "1");

    PersistentSettings copy(original);
    EXPECT_EQ(copy.getFilename(), "original");
    EXPECT_EQ(copy.values(), original.values());

    PersistentSettings assigned;
    assigned.setFilename("other");
    assigned.setValue("b", "2");
    assigned = original;
    EXPECT_EQ(assigned.getFilename(), "original");
    EXPECT_EQ(assigned.values(), original.values());

    copy.setValue("a", "changed");
    EXPECT_EQ(original.getValue("a"), "1");
}

// A writer killed at any moment leaves the old file or the new one, never a torn one.
std::string ValueFor(long n) {
    return std::to_string(n) + "|" + std::string(static_cast<size_t>(n % 97) * 41, 'x') +
           "= \n\t\\\xc3\xa9";
}

long NumberOf(const std::string& value) {
    std::string::size_type bar = value.find('|');
    if (bar == std::string::npos) {
        return -1;
    }
    long n = std::stol(value.substr(0, bar));
    return value == ValueFor(n) ? n : -1;
}

// The writer: this test program started again in this role, in the test's folder (a fork of
// the test process could not run it safely). It says "ready" with one byte on its standard
// output once the file is loaded and it starts writing, then writes until it is killed.
constexpr const char* kWriterRole = "settings-writer";
constexpr const char* kWriterFileVariable = "PELORA_TEST_SETTINGS_FILE";

int KeepSettingValues() {
    const char* fileName = std::getenv(kWriterFileVariable);
    if (!fileName) {
        return 2;
    }
    try {
        PersistentSettings settings;
        settings.setFilename(fileName);
        settings.load();
        if (::write(STDOUT_FILENO, "r", 1) != 1) {
            return 4;
        }
        // "b" is written second: from there on both are written again.
        for (long n = NumberOf(settings.getValue("b")) + 1; n < 1000000; ++n) {
            settings.setValue("a", ValueFor(n));
            settings.setValue("b", ValueFor(n));
        }
    } catch (...) {
        return 3;
    }
    return 0;
}

const pelora_test::ChildRoleRegistration kWriter(kWriterRole, KeepSettingValues);

// Waits up to `seconds` for the writer's one byte; false at its end or the time limit.
bool WriterStarted(int output, double seconds) {
    pollfd wait{output, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(seconds * 1000)) != 1) {
        return false;
    }
    char ready = 0;
    return ::read(output, &ready, 1) == 1 && ready == 'r';
}

TEST(PersistentSettingsCrash, WriterKilledAtRandomMoments_FileAlwaysLoadsConsistently) {
    HomeAsCurrentDirectory cwd;
    {
        PersistentSettings initial;
        initial.setFilename("crashSettings");
        initial.setValue("fixed", "stays\nput=here");
        initial.setValue("a", ValueFor(0));
        initial.setValue("b", ValueFor(0));
    }
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> delayMicroseconds(0, 12000);
    long lastSeen = 0;
    constexpr int kRounds = 100;
    for (int round = 0; round < kRounds; ++round) {
        int output[2];
        ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
        std::string error;
        pid_t child = pelora_test::StartChildRole(
            kWriterRole, {std::string(kWriterFileVariable) + "=crashSettings"}, output[1], error);
        ::close(output[1]);
        ASSERT_GT(child, 0) << error;
        bool started = WriterStarted(output[0], 30);
        ::close(output[0]);
        if (!started) {
            ::kill(child, SIGKILL);
        }
        // The kill lands at a random moment of the writing.
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_TRUE(pelora_test::WaitForChild(child, 30, status)) << "round " << round;
        ASSERT_TRUE(started) << "round " << round << ": the writer did not start; status "
                             << status;
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "the writer ended by itself with status " << status;

        PersistentSettings reader;
        reader.setFilename("crashSettings");
        try {
            reader.load();
        } catch (const FileException& e) {
            FAIL() << "round " << round << ": code " << e.getCode() << ": " << e.getMessage();
        }
        ASSERT_EQ(reader.values().size(), 3u);
        EXPECT_EQ(reader.getValue("fixed"), "stays\nput=here");
        long a = NumberOf(reader.getValue("a"));
        long b = NumberOf(reader.getValue("b"));
        ASSERT_GE(a, 0) << "round " << round;
        ASSERT_GE(b, 0) << "round " << round;
        // "a" is written first, so it is equal to "b" or one ahead of it.
        EXPECT_TRUE(a == b || a == b + 1) << "a " << a << ", b " << b;
        EXPECT_GE(a, lastSeen);
        lastSeen = a;
    }
    // The temporaries of killed writers go with the next successful write.
    PersistentSettings survivor;
    survivor.setFilename("crashSettings");
    survivor.load();
    survivor.setValue("fixed", "done");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(cwd.home.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"crashSettings"});
}

} // namespace
