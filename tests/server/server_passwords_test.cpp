// Against the real server: a password changed over the protocol (with the present password,
// for a named or the logged-in account), the refusals, and the site's own way on the server
// machine, pelora-server --set-password NAME with the password on standard input.
#include "server_fixture.h"

#include <cstdio>
#include <sys/wait.h>

using namespace pelora_test;
using wire::FrameType;

namespace {

pb::ChangePasswordReply Change(WireClient& client, const std::string& name,
                               const std::string& oldPassword, const std::string& newPassword) {
    pb::ChangePassword change;
    change.set_name(name);
    change.set_old_password(oldPassword);
    change.set_new_password(newPassword);
    change.set_request_id(7);
    pb::ChangePasswordReply reply;
    EXPECT_TRUE(client.Send(FrameType::ChangePassword, change));
    EXPECT_TRUE(client.Expect(FrameType::ChangePasswordReply, reply));
    EXPECT_EQ(reply.request_id(), 7u);
    return reply;
}

// Runs the server program with `input` on its standard input; gives its exit code.
int RunWithInput(const std::string& command, const std::string& input, std::string& output) {
    FILE* pipe = ::popen((command + " 2>&1 <<'END'\n" + input + "END\n").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    std::size_t got;
    output.clear();
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST_F(ServerTest, ChangePassword_NamedAccountWithItsPresentPassword) {
    StartServer();
    WireClient client(server_.Port());
    ASSERT_TRUE(client.ConnectAndGreet());
    ASSERT_EQ(client.Create("alice", "old-secret").result(), pb::CreateReply::CREATED);

    EXPECT_EQ(Change(client, "alice", "wrong", "new-secret").result(),
              pb::ChangePasswordReply::WRONG_PASSWORD);
    EXPECT_EQ(Change(client, "nobody", "x", "new-secret").result(),
              pb::ChangePasswordReply::UNKNOWN_USER);
    EXPECT_EQ(Change(client, "alice", "old-secret", "").result(),
              pb::ChangePasswordReply::BAD_PASSWORD);
    EXPECT_EQ(Change(client, "guest", "", "x").result(), pb::ChangePasswordReply::BAD_NAME);
    EXPECT_EQ(Change(client, "alice", "old-secret", "new-secret").result(),
              pb::ChangePasswordReply::CHANGED);

    EXPECT_EQ(client.Login("alice", "old-secret").result(), pb::LoginReply::NAME_IN_USE);
    EXPECT_EQ(client.Login("alice", "new-secret").result(), pb::LoginReply::LOGGED_IN);
    // Logged in, the account's own name may be left out.
    EXPECT_EQ(Change(client, "", "new-secret", "third").result(), pb::ChangePasswordReply::CHANGED);
    EXPECT_NE(Log().find("password of \"alice\" changed"), std::string::npos);
}

TEST_F(ServerTest, SetPasswordFromStandardInput_TheNextLoginUsesIt) {
    StartServer();
    WireClient client(server_.Port());
    ASSERT_TRUE(client.ConnectAndGreet());
    ASSERT_EQ(client.Create("bob", "forgotten").result(), pb::CreateReply::CREATED);
    const std::string command = std::string("'") + PELORA_SERVER_PROGRAM +
                                "' --config /dev/null --argon2-ops 1 --argon2-memory 8 "
                                "--data-dir '" +
                                DataDir() + "' --set-password ";
    std::string output;
    EXPECT_EQ(RunWithInput(command + "bob", "given by IT\n", output), 0) << output;
    EXPECT_NE(output.find("is changed on the server"), std::string::npos) << output;
    EXPECT_NE(RunWithInput(command + "nobody", "x\n", output), 0);
    EXPECT_NE(output.find("no account named \"nobody\""), std::string::npos) << output;
    EXPECT_NE(RunWithInput(command + "bob", "", output), 0);

    EXPECT_EQ(client.Login("bob", "given by IT").result(), pb::LoginReply::LOGGED_IN);
}
