// The staff view of two real pelora-server instances on one throwaway PostgreSQL database and
// one shared data folder, each with its staff view on a port of its own: a drive uploaded
// through one is in the other's staff view, recorded once; a staff account made with one
// instance's settings logs in on both, and removing it ends its logins on both.
#include "postgres_cluster.h"
#include "staff_fixture.h"

using namespace pelora_test;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class StaffClusterTest : public ::testing::Test {
protected:
    static constexpr const char* kPassword = "correct horse";

    void SetUp() override {
        PELORA_START_POSTGRES_OR_SKIP(database_);
        std::string error;
        ASSERT_TRUE(database_.CreateDatabase("pelora", error)) << error;
        for (int i = 0; i < 2; ++i)
            staffPorts_[i] = FreeLoopbackPort();
    }

    void TearDown() override {
        for (int i = 0; i < 2; ++i)
            if (instances_[i].Running()) {
                EXPECT_EQ(instances_[i].Stop(), 0) << "instance " << i << " did not end cleanly";
            }
    }

    std::string DataDir() const { return folder_ / "data"; }
    std::string LogOf(int i) const { return folder_ / ("instance" + std::to_string(i) + ".log"); }

    // What instance `i` is started with, and what its --add-staff and --remove-staff are given.
    std::vector<std::string> Settings(int i) const {
        return {"--database",   database_.Url("pelora"),
                "--data-dir",   DataDir(),
                "--staff-port", std::to_string(staffPorts_[i]),
                "--staff-bind", "127.0.0.1",
                "--worlds",     std::string(PELORA_SOURCE_DIR) + "/home/worlds",
                "--log-file",   LogOf(i)};
    }

    void Start(int i) {
        std::vector<std::string> arguments = ServerProcess::FastArguments();
        std::vector<std::string> settings = Settings(i);
        arguments.insert(arguments.end(), settings.begin(), settings.end());
        std::string error;
        ASSERT_TRUE(instances_[i].Start(PELORA_SERVER_PROGRAM, DataDir(), arguments, error))
            << error;
    }

    // Runs pelora-server with instance `i`'s settings and the action; gives its exit code.
    int Action(int i, const std::vector<std::string>& action, const std::string& input,
               std::string& output) {
        std::vector<std::string> arguments = {
            PELORA_SERVER_PROGRAM, "--config", "/dev/null", "--argon2-ops", "1",
            "--argon2-memory",     "8"};
        std::vector<std::string> settings = Settings(i);
        arguments.insert(arguments.end(), settings.begin(), settings.end());
        arguments.insert(arguments.end(), action.begin(), action.end());
        return RunWithInput(arguments, input, output);
    }

    std::unique_ptr<StaffClient> Browser(int i) {
        return std::make_unique<StaffClient>(staffPorts_[i], DataDir() + "/tls/server.pem");
    }

    std::string Logs() const { return ReadAll(LogOf(0)) + ReadAll(LogOf(1)); }

    TempFolder folder_;
    PostgresCluster database_;
    ServerProcess instances_[2];
    int staffPorts_[2] = {0, 0};
};

} // namespace

TEST_F(StaffClusterTest, ADriveUploadedThroughOneInstanceIsInTheOthersStaffView) {
    Start(0);
    Start(1);
    std::string output;
    ASSERT_EQ(Action(0, {"--add-staff", "nurse"}, std::string(kPassword) + "\n", output), 0)
        << output;
    auto onB = Browser(1);
    ASSERT_EQ(onB->Login("nurse", kPassword).status, 303) << "made with A's settings, on B";
    EXPECT_TRUE(Contains(onB->Get("/").body, "0 trainees"));

    auto alice = std::make_unique<WireClient>(instances_[0].Port());
    ASSERT_TRUE(alice->ConnectAs("alice", "secret"));
    DriveFile drive;
    std::string stored = UploadFile(*alice, "data-20261201-090000.txt", drive.Text());
    ASSERT_FALSE(stored.empty());

    // B shows the drive A received, with its whole record, from the shared database.
    Reply trainee = onB->Get("/trainee?name=alice");
    ASSERT_EQ(trainee.status, 200);
    EXPECT_TRUE(Contains(trainee.body, "1 drives")) << trainee.body;
    std::string id;
    for (const std::string& href : AttributeValues(trainee.body, "href"))
        if (href.rfind("/drive?id=", 0) == 0)
            id = href.substr(10);
    ASSERT_FALSE(id.empty()) << trainee.body;
    Reply page = onB->Get("/drive?id=" + id);
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(Contains(page.body, stored));
    EXPECT_TRUE(Contains(page.body, "Water fountain, reached at 14.0 s"));
    EXPECT_TRUE(Contains(onB->Get("/").body, "1 trainees"));
    // The same on A.
    auto onA = Browser(0);
    ASSERT_EQ(onA->Login("nurse", kPassword).status, 303);
    Reply onAPage = onA->Get("/drive?id=" + id);
    EXPECT_EQ(onAPage.status, 200);
    EXPECT_TRUE(Contains(onAPage.body, stored));

    // B started again reads the shared folder at start-up: the file is recorded already, so
    // it is neither read nor recorded a second time.
    ASSERT_EQ(instances_[1].Stop(), 0);
    Start(1);
    EXPECT_EQ(Count(Logs(), "recorded the drive of alice"), 1u) << Logs();
    EXPECT_FALSE(Contains(ReadAll(LogOf(1)), "data files received earlier"));
    auto again = Browser(1);
    ASSERT_EQ(again->Login("nurse", kPassword).status, 303);
    EXPECT_TRUE(Contains(again->Get("/trainee?name=alice").body, "1 drives"));
}

TEST_F(StaffClusterTest, AStaffAccountMadeWithOneInstanceIsUsableAndRemovableOnBoth) {
    Start(0);
    Start(1);
    std::string output;
    ASSERT_EQ(Action(1, {"--add-staff", "doctor"}, std::string(kPassword) + "\n", output), 0)
        << output;
    // Known to both, and listed with either's settings.
    EXPECT_NE(Action(0, {"--add-staff", "doctor"}, std::string(kPassword) + "\n", output), 0);
    EXPECT_TRUE(Contains(output, "there is a staff account doctor already")) << output;
    ASSERT_EQ(Action(0, {"--list-staff"}, "", output), 0) << output;
    EXPECT_TRUE(Contains(output, "doctor\tadded")) << output;
    auto onA = Browser(0);
    auto onB = Browser(1);
    ASSERT_EQ(onA->Login("doctor", kPassword).status, 303);
    ASSERT_EQ(onB->Login("doctor", kPassword).status, 303);
    EXPECT_EQ(onA->Get("/").status, 200);
    EXPECT_EQ(onB->Get("/").status, 200);
    EXPECT_EQ(onB->Login("doctor", "wrong password").status, 401);

    // Removed with A's settings: the logins on both end at their next page.
    ASSERT_EQ(Action(0, {"--remove-staff", "doctor"}, "", output), 0) << output;
    for (auto* browser : {onA.get(), onB.get()}) {
        Reply reply = browser->Get("/");
        EXPECT_EQ(reply.status, 303);
        EXPECT_EQ(reply.Header("Location"), "/login");
    }
    EXPECT_EQ(Browser(1)->Login("doctor", kPassword).status, 401);
}
