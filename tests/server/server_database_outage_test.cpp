// A real pelora-server on a real PostgreSQL 15 whose database goes away after the server has
// started: a login (of an account, or of the guest) and an account creation are answered
// UNAVAILABLE with a sentence saying the server cannot reach its database (never "server
// full"), each logged as an ERROR with the database's own words, and the server keeps running
// and stops cleanly.
#include "postgres_cluster.h"
#include "server_process.h"
#include "temp_folder.h"
#include "wire_client.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace pelora_test;

namespace {

std::vector<std::string> LinesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (line.find(part) != std::string::npos)
            lines.push_back(line);
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class DatabaseOutageTest : public ::testing::Test {
protected:
    void SetUp() override {
        PELORA_START_POSTGRES_OR_SKIP(database_);
        std::string error;
        ASSERT_TRUE(database_.CreateDatabase("pelora", error)) << error;
        std::vector<std::string> arguments = ServerProcess::FastArguments();
        std::vector<std::string> more = {"--database", database_.Url("pelora"), "--log-file",
                                         LogPath()};
        arguments.insert(arguments.end(), more.begin(), more.end());
        ASSERT_TRUE(server_.Start(PELORA_SERVER_PROGRAM, folder_ / "data", arguments, error))
            << error;
    }

    void TearDown() override {
        if (server_.Running()) {
            EXPECT_EQ(server_.Stop(), 0) << "the server did not end cleanly";
        }
    }

    std::string LogPath() const { return folder_ / "server.log"; }

    std::unique_ptr<WireClient> Greeted() {
        auto client = std::make_unique<WireClient>(server_.Port());
        EXPECT_TRUE(client->ConnectAndGreet());
        return client;
    }

    TempFolder folder_;
    PostgresCluster database_;
    ServerProcess server_;
};

constexpr const char* kSentence =
    "The server cannot reach its database right now. Please try again later.";

} // namespace

TEST_F(DatabaseOutageTest, LoginsAndNewAccountsSayTheDatabaseCannotBeReached) {
    {
        // Made while the database answers; the pool keeps its connections open.
        auto alice = std::make_unique<WireClient>(server_.Port());
        ASSERT_TRUE(alice->ConnectAs("alice", "secret"));
    }
    database_.Stop();

    pb::LoginReply login = Greeted()->Login("alice", "secret");
    EXPECT_EQ(login.result(), pb::LoginReply::UNAVAILABLE);
    EXPECT_EQ(login.message(), kSentence);
    // The guest needs no account, but its login is noted in the shared database.
    pb::LoginReply guest = Greeted()->Login("guest", "");
    EXPECT_EQ(guest.result(), pb::LoginReply::UNAVAILABLE);
    EXPECT_EQ(guest.message(), kSentence);
    pb::CreateReply created = Greeted()->Create("bob", "secret");
    EXPECT_EQ(created.result(), pb::CreateReply::UNAVAILABLE);
    EXPECT_EQ(created.message(), kSentence);

    // Said once each, as errors that name what the database said; nothing of a full server.
    // The lines are written before the replies are sent.
    std::string log = ReadAll(LogPath());
    std::vector<std::string> alices = LinesWith(log, "login \"alice\"");
    ASSERT_EQ(alices.size(), 3u) << log; // unknown, made and logged in earlier, then refused
    EXPECT_TRUE(Contains(alices[2], "ERROR")) << alices[2];
    EXPECT_TRUE(Contains(alices[2], "refused, the database failed (PostgreSQL: ")) << alices[2];
    // The database's words (a pooled connection found closed, or one that cannot be made) on
    // the one line.
    EXPECT_EQ(alices[2].back(), ')') << alices[2];
    std::vector<std::string> guests = LinesWith(log, "login \"guest\"");
    ASSERT_EQ(guests.size(), 1u) << log;
    EXPECT_TRUE(Contains(guests[0], "ERROR")) << guests[0];
    EXPECT_TRUE(Contains(guests[0], "the database failed (PostgreSQL: ")) << guests[0];
    std::vector<std::string> bobs = LinesWith(log, "account \"bob\"");
    ASSERT_EQ(bobs.size(), 1u) << log;
    EXPECT_TRUE(Contains(bobs[0], "ERROR")) << bobs[0];
    EXPECT_TRUE(Contains(bobs[0], "(PostgreSQL: ")) << bobs[0];
    EXPECT_FALSE(Contains(log, "server full")) << log;

    // Still serving: a connection is greeted.
    Greeted();
}
