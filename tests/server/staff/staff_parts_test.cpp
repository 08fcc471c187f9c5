// The staff view's parts on their own: the escaping and CSV fields, the sessions' idle time, a
// data file read into a drive row, and the worlds. The drive and staff stores are tested on both
// databases in drive_store_test.cpp.
#include "server/staff/drive_ingest.h"
#include "server/staff/html.h"
#include "server/staff/staff_sessions.h"

#include "record/drive_record.h"

#include <gtest/gtest.h>

using namespace server;
using namespace server::staff;

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
