// Choosing the database: --database or the same key in the configuration file takes a
// postgresql:// URL and nothing else, SQLite stays the default, and a password in the URL
// never shows in what the server says about it.
#include "server/options.h"
#include "server/pg_connection.h"
#include "server/storage_backend.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace server;
using pelora_test::TempFolder;

namespace {

bool ParseDatabase(std::vector<std::string> arguments, CommandLine& commandLine,
                   std::string& error) {
    if (std::find(arguments.begin(), arguments.end(), "--config") == arguments.end())
        arguments.insert(arguments.begin(), {"--config", "/dev/null"});
    return ParseCommandLine(arguments, commandLine, error);
}

} // namespace

TEST(DatabaseChoice, NoUrlMeansSqliteInTheDataFolder) {
    TempFolder folder;
    CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(ParseDatabase({"--data-dir", folder.Path()}, commandLine, error)) << error;
    EXPECT_EQ(commandLine.options.database, "");
    auto storage = MakeStorage(commandLine.options.database, folder / "pelora-server.db", 2);
    ASSERT_TRUE(storage->Open(error)) << error;
    EXPECT_EQ(storage->Postgres(), nullptr);
    EXPECT_EQ(storage->Describe(), "SQLite file " + (folder / "pelora-server.db"));
    EXPECT_TRUE(std::ifstream(folder / "pelora-server.db").good());
}

TEST(DatabaseChoice, APostgresqlUrlFromTheCommandLineOrTheFile) {
    TempFolder folder;
    CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(
        ParseDatabase({"--database", "postgresql://pelora@db.example/pelora"}, commandLine, error))
        << error;
    EXPECT_EQ(commandLine.options.database, "postgresql://pelora@db.example/pelora");
    ASSERT_TRUE(ParseDatabase({"--database=postgres://db.example/x"}, commandLine, error)) << error;
    EXPECT_EQ(commandLine.options.database, "postgres://db.example/x");

    std::ofstream(folder / "server.conf") << "database = postgresql://a:b@db.example:5433/site\n";
    ASSERT_TRUE(ParseDatabase({"--config", folder / "server.conf"}, commandLine, error)) << error;
    EXPECT_EQ(commandLine.options.database, "postgresql://a:b@db.example:5433/site");
    // The command line wins over the file.
    ASSERT_TRUE(ParseDatabase(
        {"--config", folder / "server.conf", "--database", "postgresql://db.other/site"},
        commandLine, error))
        << error;
    EXPECT_EQ(commandLine.options.database, "postgresql://db.other/site");
}

TEST(DatabaseChoice, AnythingButAPostgresqlUrlIsRefusedWithoutShowingThePassword) {
    CommandLine commandLine;
    std::string error;
    EXPECT_FALSE(ParseDatabase({"--database", "/var/lib/pelora/other.db"}, commandLine, error));
    EXPECT_NE(error.find("not a postgresql:// URL"), std::string::npos) << error;
    EXPECT_FALSE(ParseDatabase({"--database", "mysql://root:hunter2@db/x"}, commandLine, error));
    EXPECT_EQ(error.find("hunter2"), std::string::npos) << error;
    EXPECT_FALSE(ApplyConfigText("database = sqlite", "f.conf", commandLine.options, error));
    EXPECT_NE(error.find("f.conf:1:"), std::string::npos) << error;
}

TEST(DatabaseChoice, ThePasswordIsLeftOutOfDescriptions) {
    EXPECT_EQ(RedactedUrl("postgresql://pelora:s3cret@db:5432/pelora"),
              "postgresql://pelora:***@db:5432/pelora");
    EXPECT_EQ(RedactedUrl("postgresql://pelora@db/pelora"), "postgresql://pelora@db/pelora");
    EXPECT_EQ(RedactedUrl("postgresql:///pelora?host=/tmp"), "postgresql:///pelora?host=/tmp");
    EXPECT_EQ(RedactedUrl("postgresql://db/p?password=abc&sslmode=require"),
              "postgresql://db/p?password=***&sslmode=require");
    auto storage = MakeStorage("postgresql://pelora:s3cret@db:5432/pelora", "", 1);
    EXPECT_EQ(storage->Describe().find("s3cret"), std::string::npos) << storage->Describe();
    EXPECT_NE(storage->Postgres(), nullptr);
}

TEST(DatabaseChoice, InstanceTimingsAreOptions) {
    CommandLine commandLine;
    std::string error;
    ASSERT_TRUE(ParseDatabase({"--instance-heartbeat", "0.5", "--instance-timeout", "3"},
                              commandLine, error))
        << error;
    EXPECT_DOUBLE_EQ(commandLine.options.instanceHeartbeat, 0.5);
    EXPECT_DOUBLE_EQ(commandLine.options.instanceTimeout, 3);
    EXPECT_FALSE(ParseDatabase({"--instance-timeout", "0.1"}, commandLine, error));
}
