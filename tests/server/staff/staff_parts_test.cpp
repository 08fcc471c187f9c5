// The staff view's parts on their own: the escaping and CSV fields, the sessions' idle time,
// the SQLite drive and staff stores, a data file read into a drive row, and the worlds.
#include "server/sqlite_storage.h"
#include "server/staff/drive_ingest.h"
#include "server/staff/html.h"
#include "server/staff/sqlite_drive_store.h"
#include "server/staff/staff_sessions.h"
#include "temp_folder.h"

#include "record/drive_record.h"

#include <gtest/gtest.h>

using namespace server;
using namespace server::staff;
using pelora_test::TempFolder;

TEST(StaffHtml, EveryMarkupCharacterIsEscapedAndNothingElse) {
    EXPECT_EQ(Escape("<a href=\"x\">'T&J'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;T&amp;J&#39;&lt;/a&gt;");
    EXPECT_EQ(Escape("Grüße, plain"), "Grüße, plain");
    EXPECT_EQ(UrlEncode("a b/&?=é"), "a%20b%2F%26%3F%3D%C3%A9");
}

TEST(StaffHtml, CsvFieldsAreQuotedWhenNeededAndNeverRunAsFormulas) {
    EXPECT_EQ(CsvField("Park"), "Park");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(CsvField("@cmd"), "'@cmd");
}

TEST(StaffSessions, ASessionLastsWhileUsedAndEndsAfterTheIdleTime) {
    StaffSessions sessions(60);
    auto t0 = StaffSessions::Clock::time_point{} + std::chrono::hours(1);
    std::string token = sessions.Open("nurse", t0);
    EXPECT_EQ(token.size(), 64u);
    StaffSessions::Session session;
    ASSERT_TRUE(sessions.Use(token, t0 + std::chrono::seconds(50), session));
    EXPECT_EQ(session.name, "nurse");
    EXPECT_EQ(session.csrf.size(), 64u);
    EXPECT_NE(session.csrf, token);
    // Each use restarts the idle time.
    EXPECT_TRUE(sessions.Use(token, t0 + std::chrono::seconds(100), session));
    EXPECT_FALSE(sessions.Use(token, t0 + std::chrono::seconds(161), session));
    EXPECT_FALSE(sessions.Use(token, t0 + std::chrono::seconds(162), session)) << "gone for good";
    EXPECT_FALSE(sessions.Use("", t0, session));
}

TEST(StaffSessions, SessionsAreOwnTokensAndEndTogetherForARemovedAccount) {
    StaffSessions sessions(60, 3);
    auto now = StaffSessions::Clock::now();
    std::string a = sessions.Open("nurse", now), b = sessions.Open("nurse", now),
                c = sessions.Open("doctor", now);
    EXPECT_NE(a, b);
    StaffSessions::Session sa, sb;
    ASSERT_TRUE(sessions.Use(a, now, sa));
    ASSERT_TRUE(sessions.Use(b, now, sb));
    EXPECT_NE(sa.csrf, sb.csrf);
    EXPECT_FALSE(SameToken(sa.csrf, sb.csrf));
    EXPECT_TRUE(SameToken(sa.csrf, sa.csrf));
    EXPECT_FALSE(SameToken("", ""));
    sessions.CloseAllOf("nurse");
    EXPECT_FALSE(sessions.Use(a, now, sa));
    EXPECT_TRUE(sessions.Use(c, now, sa));
    // At the limit the least recently used goes.
    sessions.Open("x", now + std::chrono::seconds(1));
    sessions.Open("y", now + std::chrono::seconds(2));
    sessions.Open("z", now + std::chrono::seconds(3));
    EXPECT_EQ(sessions.Count(), 3u);
    EXPECT_FALSE(sessions.Use(c, now + std::chrono::seconds(4), sa));
}

class DriveStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(OpenServerDatabase(database, folder / "server.db", error)) << error;
        ASSERT_TRUE(OpenStaffTables(database, error)) << error;
    }
    DriveRow Drive(const std::string& user, std::int64_t start, std::int64_t seconds,
                   std::int64_t collisions, const std::string& file) {
        DriveRow row;
        row.user = user;
        row.storedName = file;
        row.world = "Park";
        row.start = start;
        row.end = start + seconds;
        row.duration = seconds;
        row.distance = 12.345;
        row.collisions = collisions;
        row.others = {"bob", "carol"};
        row.record = "record=1\nsamples=0\nhits=0\nreached=0\n";
        return row;
    }
    TempFolder folder;
    Database database;
    SqliteDriveStore drives{database};
    SqliteAccountStore accounts{database};
};

TEST_F(DriveStoreTest, ADriveIsKeptOnceAndReadBackWhole) {
    ASSERT_EQ(drives.Add(Drive("alice", 1000, 60, 2, "data-1.txt")), StoreResult::Ok);
    EXPECT_EQ(drives.Add(Drive("alice", 1000, 60, 2, "data-1.txt")), StoreResult::Exists);
    bool known = false;
    ASSERT_EQ(drives.Known("alice", "data-1.txt", known), StoreResult::Ok);
    EXPECT_TRUE(known);
    ASSERT_EQ(drives.Known("alice", "data-2.txt", known), StoreResult::Ok);
    EXPECT_FALSE(known);
    std::vector<DriveRow> list;
    ASSERT_EQ(drives.ForUser("alice", list), StoreResult::Ok);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(list[0].record.empty()) << "lists leave the record out";
    EXPECT_DOUBLE_EQ(list[0].distance, 12.35); // whole centimetres
    EXPECT_EQ(list[0].others, (std::vector<std::string>{"bob", "carol"}));
    DriveRow found;
    ASSERT_EQ(drives.Find(list[0].id, found), StoreResult::Ok);
    EXPECT_EQ(found.record, "record=1\nsamples=0\nhits=0\nreached=0\n");
    EXPECT_EQ(drives.Find(list[0].id + 1, found), StoreResult::NotFound);
}

TEST_F(DriveStoreTest, TraineesHaveTheirTotalsAndTheTrendOfTheirLastDrives) {
    AccountRecord account{"zoe", "hash", 1};
    ASSERT_EQ(accounts.Add(account), StoreResult::Ok); // an account without drives
    for (int i = 0; i < 12; ++i)
        ASSERT_EQ(drives.Add(Drive("alice", 1000 + i * 100, 60, i, "d" + std::to_string(i))),
                  StoreResult::Ok);
    DriveRow broken = Drive("bob", 0, 0, 0, "junk");
    broken.readable = false;
    broken.problem = "not a drive's data file";
    ASSERT_EQ(drives.Add(broken), StoreResult::Ok);
    std::vector<TraineeRow> trainees;
    ASSERT_EQ(drives.Trainees(trainees), StoreResult::Ok);
    ASSERT_EQ(trainees.size(), 3u);
    EXPECT_EQ(trainees[0].name, "alice");
    EXPECT_EQ(trainees[0].drives, 12);
    EXPECT_EQ(trainees[0].seconds, 720);
    EXPECT_EQ(trainees[0].lastStart, 2100);
    // The last ten, oldest first: collisions 2 to 11 in one minute each.
    ASSERT_EQ(trainees[0].trend.size(), std::size_t(kTrendDrives));
    EXPECT_DOUBLE_EQ(trainees[0].trend.front(), 2.0);
    EXPECT_DOUBLE_EQ(trainees[0].trend.back(), 11.0);
    EXPECT_EQ(trainees[1].name, "bob");
    EXPECT_EQ(trainees[1].drives, 0) << "an unreadable file is no drive";
    EXPECT_EQ(trainees[2].name, "zoe");
    EXPECT_TRUE(trainees[2].trend.empty());
    std::vector<DriveRow> unreadable;
    ASSERT_EQ(drives.Unreadable(unreadable), StoreResult::Ok);
    ASSERT_EQ(unreadable.size(), 1u);
    EXPECT_EQ(unreadable[0].problem, "not a drive's data file");
}

TEST_F(DriveStoreTest, ARangeTakesTheDrivesThatStartedInIt) {
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(
            drives.Add(Drive(i % 2 ? "bob" : "alice", 100 * i, 10, 0, "d" + std::to_string(i))),
            StoreResult::Ok);
    std::vector<DriveRow> list;
    ASSERT_EQ(drives.InRange(100, 300, list), StoreResult::Ok);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].start, 100);
    EXPECT_EQ(list[1].start, 200);
}

TEST_F(DriveStoreTest, StaffAccountsAreAddedFoundListedAndRemoved) {
    SqliteStaffStore staff(database);
    ASSERT_EQ(staff.Add({"nurse", "h1", 5}), StoreResult::Ok);
    EXPECT_EQ(staff.Add({"nurse", "h2", 6}), StoreResult::Exists);
    StaffRecord record;
    ASSERT_EQ(staff.Find("nurse", record), StoreResult::Ok);
    EXPECT_EQ(record.passwordHash, "h1");
    EXPECT_EQ(staff.Find("Nurse", record), StoreResult::NotFound);
    std::vector<StaffRecord> list;
    ASSERT_EQ(staff.List(list), StoreResult::Ok);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(staff.Remove("nurse"), StoreResult::Ok);
    EXPECT_EQ(staff.Remove("nurse"), StoreResult::NotFound);
}

TEST(StaffWorlds, TheDefaultHomesWorldsAreFoundByFolderAndByName) {
    WorldCatalog worlds;
    worlds.Load(std::string(PELORA_SOURCE_DIR) + "/home/worlds");
    EXPECT_TRUE(worlds.Problems().empty());
    EXPECT_EQ(worlds.Worlds().size(), 5u);
    const KnownWorld* street = worlds.Find("ShoppingStreet");
    ASSERT_NE(street, nullptr);
    EXPECT_EQ(worlds.Find("Shopping Street"), street);
    EXPECT_GE(street->difficulty, 1);
    EXPECT_EQ(worlds.Find("Moon"), nullptr);
    WorldCatalog none;
    none.Load(std::string(PELORA_SOURCE_DIR) + "/no-such-folder");
    EXPECT_TRUE(none.Worlds().empty());
    EXPECT_EQ(none.Problems().size(), 1u);
}

TEST(StaffWorlds, ADataFileReadsIntoARowWithTheWorldsLandmarkCount) {
    WorldCatalog worlds;
    worlds.Load(std::string(PELORA_SOURCE_DIR) + "/home/worlds");
    drive_record::Record record;
    record.samples.push_back({0, 1, 2, 0, 0, 0, 0});
    std::string text = "user=alice\nworld=Office\nstart=2026-12-01T09:00:00Z\n"
                       "end=2026-12-01T09:01:00Z\nduration=60\ndistance=3.50\ncollisions=2\n"
                       "landmarks=1\nlandmark=Lift\nothers=0\n" +
                       drive_record::FormatRecord(record);
    DriveRow row = ReadDriveRow(text, worlds);
    ASSERT_TRUE(row.readable) << row.problem;
    EXPECT_EQ(row.landmarksReached, 1);
    EXPECT_EQ(row.landmarksTotal, 3);
    EXPECT_EQ(row.duration, 60);
    EXPECT_EQ(row.samples, 1);
    EXPECT_EQ(row.record, drive_record::FormatRecord(record));
    DriveRow bad = ReadDriveRow("world=Office\n", worlds);
    EXPECT_FALSE(bad.readable);
    EXPECT_NE(bad.problem.find("lacks the user"), std::string::npos) << bad.problem;
}
