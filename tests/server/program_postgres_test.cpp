// The site's command-line actions on a server that keeps its accounts in PostgreSQL: pelora-server
// --set-password NAME --database URL changes the password in the shared database (not in a
// SQLite file of the data folder), and an instance running on it takes the new one at once.
#include "postgres_cluster.h"
#include "staff_fixture.h"

using namespace pelora_test;

TEST(PostgresActions, SetPasswordChangesTheSharedAccount) {
    PostgresCluster database;
    PELORA_START_POSTGRES_OR_SKIP(database);
    std::string error;
    ASSERT_TRUE(database.CreateDatabase("pelora", error)) << error;
    TempFolder folder;
    std::string dataDir = folder / "data";
    std::vector<std::string> arguments = ServerProcess::FastArguments();
    arguments.insert(arguments.end(), {"--database", database.Url("pelora")});
    ServerProcess server;
    ASSERT_TRUE(server.Start(PELORA_SERVER_PROGRAM, dataDir, arguments, error)) << error;
    {
        WireClient made(server.Port());
        ASSERT_TRUE(made.ConnectAs("bob", "secret"));
    }
    std::vector<std::string> action = {PELORA_SERVER_PROGRAM,
                                       "--config",
                                       "/dev/null",
                                       "--argon2-ops",
                                       "1",
                                       "--argon2-memory",
                                       "8",
                                       "--data-dir",
                                       dataDir,
                                       "--database",
                                       database.Url("pelora"),
                                       "--set-password"};
    std::string output;
    action.push_back("bob");
    EXPECT_EQ(RunWithInput(action, "given by IT\n", output), 0) << output;
    EXPECT_NE(output.find("is changed on the server"), std::string::npos) << output;
    action.back() = "nobody";
    EXPECT_NE(RunWithInput(action, "x\n", output), 0);
    EXPECT_NE(output.find("no account named \"nobody\""), std::string::npos) << output;

    WireClient client(server.Port());
    ASSERT_TRUE(client.ConnectAndGreet());
    EXPECT_EQ(client.Login("bob", "secret").result(), pb::LoginReply::NAME_IN_USE);
    EXPECT_EQ(client.Login("bob", "given by IT").result(), pb::LoginReply::LOGGED_IN);
    EXPECT_EQ(server.Stop(), 0);
}
