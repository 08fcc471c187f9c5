// Against the real server, logins from one hostile address (127.0.0.2) while a user logs in
// from another (127.0.0.1): parallel guesses are held to the limit as they start, and guessed
// names count against the address.
#include "server_fixture.h"

#include <chrono>

using namespace pelora_test;
using wire::FrameType;

namespace {

constexpr const char* kAttacker = "127.0.0.2";

pb::Login LoginOf(const std::string& name, const std::string& password) {
    pb::Login login;
    login.set_name(name);
    login.set_password(password);
    return login;
}

// Logs in again and again until the server hears the login or `seconds` pass; a refusal while
// throttled costs the server a look-up only.
pb::LoginReply LoginOnceHeard(WireClient& client, const std::string& name,
                              const std::string& password, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    pb::LoginReply reply;
    do {
        reply = client.Login(name, password);
    } while (reply.result() == pb::LoginReply::THROTTLED &&
             std::chrono::steady_clock::now() < deadline);
    return reply;
}

} // namespace

TEST_F(ServerTest, ParallelGuessesAreHeldToTheLimitAndTheOwnerWaitsOneBackOff) {
    // A back-off long enough that the whole burst is heard within it, even on a busy machine.
    StartServer({"--throttle-name-failures", "5", "--throttle-delay", "3",
                 "--throttle-address-failures", "20"});
    auto owner = Greeted();
    ASSERT_EQ(owner->Create("alice", "right").result(), pb::CreateReply::CREATED);

    // Forty guesses at once. (Were the right password among them, a success would rightly
    // clear the count and let later ones be heard: the limit is on failures.)
    std::vector<std::unique_ptr<WireClient>> guessers;
    for (int i = 0; i < 40; ++i) {
        guessers.push_back(std::make_unique<WireClient>(server_.Port(), kAttacker));
        ASSERT_TRUE(guessers.back()->ConnectAndGreet()) << i;
    }
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(
            guessers[i]->Send(FrameType::Login, LoginOf("alice", "guess" + std::to_string(i))));
    int checked = 0, throttled = 0;
    std::uint32_t longestWait = 0;
    for (auto& guesser : guessers) {
        pb::LoginReply reply;
        ASSERT_TRUE(guesser->Expect(FrameType::LoginReply, reply));
        if (reply.result() == pb::LoginReply::THROTTLED) {
            ++throttled;
            longestWait = std::max(longestWait, reply.retry_after_seconds());
        } else {
            EXPECT_EQ(reply.result(), pb::LoginReply::NAME_IN_USE);
            ++checked;
        }
    }
    EXPECT_LE(checked, 5) << "more logins were checked than the limit allows";
    EXPECT_EQ(checked + throttled, 40);

    // Another user from another machine is heard at once throughout.
    auto bob = std::make_unique<WireClient>(server_.Port());
    EXPECT_TRUE(bob->ConnectAs("bob", "bobs"));

    // The owner waits the first back-off (3 s), not one grown by the burst's refusals.
    pb::LoginReply first = owner->Login("alice", "right");
    if (first.result() == pb::LoginReply::THROTTLED)
        EXPECT_LE(first.retry_after_seconds(), 3u);
    else
        EXPECT_EQ(first.result(), pb::LoginReply::LOGGED_IN);
    EXPECT_LE(longestWait, 3u);
    if (first.result() == pb::LoginReply::THROTTLED) {
        EXPECT_EQ(LoginOnceHeard(*owner, "alice", "right", 10).result(), pb::LoginReply::LOGGED_IN);
    }
}

TEST_F(ServerTest, GuessedNamesCountAgainstTheAddressAndKeepTheirOwnAnswer) {
    StartServer({"--throttle-address-failures", "5", "--throttle-delay", "30"});
    auto user = LoggedIn("carol");
    WireClient attacker(server_.Port(), kAttacker);
    ASSERT_TRUE(attacker.ConnectAndGreet());
    // Made-up names are answered as unknown, not as a wrong password...
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(attacker.Login("nobody" + std::to_string(i), "pw").result(),
                  pb::LoginReply::UNKNOWN_USER)
            << i;
    // ...and count like failed passwords: the address waits, for any name.
    pb::LoginReply refused = attacker.Login("nobody-else", "pw");
    EXPECT_EQ(refused.result(), pb::LoginReply::THROTTLED);
    EXPECT_GE(refused.retry_after_seconds(), 29u);
    EXPECT_EQ(attacker.Login("carol", "secret").result(), pb::LoginReply::THROTTLED);
    // The user's own machine is not held up.
    auto again = Greeted();
    EXPECT_EQ(again->Login("dave", "pw").result(), pb::LoginReply::UNKNOWN_USER);
    EXPECT_EQ(again->Create("dave", "pw").result(), pb::CreateReply::CREATED);
    EXPECT_EQ(again->Login("dave", "pw").result(), pb::LoginReply::LOGGED_IN);
}
