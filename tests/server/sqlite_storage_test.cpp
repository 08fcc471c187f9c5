// What only the SQLite database has: its journal mode and a file that is not a database. The
// stores themselves are tested on both databases in storage_test.cpp.
#include "server/sqlite_storage.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sqlite3.h>

using namespace server;
using pelora_test::TempFolder;

TEST(SqliteDatabase, OpensInWalModeAndRefusesANewerSchema) {
    TempFolder folder;
    std::string error;
    {
        Database database;
        ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
        auto lock = database.Lock();
        Statement mode(database, "PRAGMA journal_mode");
        ASSERT_EQ(mode.Next(), Statement::Step::Row);
        EXPECT_EQ(mode.Text(0), "wal");
        EXPECT_EQ(database.SchemaVersion(), 1);
        ASSERT_TRUE(database.Execute("PRAGMA user_version = 7", error));
    }
    Database database;
    EXPECT_FALSE(OpenServerDatabase(database, folder / "server.db", error));
    EXPECT_NE(error.find("newer server"), std::string::npos) << error;
}

TEST(SqliteDatabase, AFileThatIsNotADatabaseIsAnError) {
    TempFolder folder;
    std::ofstream(folder / "server.db") << "this is not a database, only some text to trip on";
    Database database;
    std::string error;
    EXPECT_FALSE(OpenServerDatabase(database, folder / "server.db", error));
    EXPECT_FALSE(error.empty());
}
