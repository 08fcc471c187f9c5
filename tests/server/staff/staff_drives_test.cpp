// What the staff view shows of the drives received, against the real server over HTTPS: a
// sealed upload read with the server's key and drawn with its whole path, files that cannot be
// read kept and listed, files already there read at start-up once, names and data-file fields
// escaped, the CSV's rows those of the drives sent, the trainees' totals and online users.
#include "staff_fixture.h"

#include <sstream>

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

// The value of the attribute of the element with this id.
std::string AttributeOf(const std::string& html, const std::string& id,
                        const std::string& attribute) {
    auto element = html.find("id=\"" + id + "\"");
    if (element == std::string::npos)
        return "";
    auto start = html.rfind('<', element);
    auto end = html.find('>', element);
    auto values = AttributeValues(html.substr(start, end - start), attribute);
    return values.empty() ? "" : values.front();
}

std::vector<std::vector<std::string>> CsvRows(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(csv);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        std::string field;
        std::istringstream cells(line);
        while (std::getline(cells, field, ','))
            fields.push_back(field);
        if (!line.empty() && line.back() == ',')
            fields.push_back("");
        rows.push_back(fields);
    }
    return rows;
}

} // namespace

TEST_F(StaffTest, ASealedUploadIsShownWithItsWholePath) {
    StartStaff();
    DriveFile drive;
    drive.others = {"bob"};
    auto alice = LoggedIn("alice");
    std::string stored = Upload(*alice, "data-20261201-090000.txt.sealed", Sealed(drive.Text()));
    auto nurse = LoggedInBrowser();
    std::string id = FirstDriveId(*nurse, "alice");
    ASSERT_FALSE(id.empty());
    Reply page = nurse->Get("/drive?id=" + id);
    ASSERT_EQ(page.status, 200);
    std::string points = AttributeOf(page.body, "trajectory", "points");
    std::size_t samples = drive.Record().samples.size();
    EXPECT_EQ(samples, 201u);
    EXPECT_EQ(Count(points, ","), samples) << points.substr(0, 200);
    EXPECT_EQ(points.substr(0, 9), "1.50,3.00");
    // The floor plan of the Hallway (24 x 6 m), a collision marked, the landmark reached.
    EXPECT_EQ(AttributeOf(page.body, "floor", "viewBox"), "0.00 0.00 24.00 6.00");
    EXPECT_EQ(Count(page.body, "class=\"collision\""), 1u);
    EXPECT_TRUE(Contains(page.body, "Water fountain, reached at 14.0 s"));
    EXPECT_TRUE(Contains(page.body, "Exit door, not reached"));
    EXPECT_EQ(AttributeOf(page.body, "replay", "max"), std::to_string(samples - 1));
    EXPECT_TRUE(Contains(page.body, "<script src=\"/replay.js\" defer></script>"));
    EXPECT_TRUE(Contains(page.body, stored + " (sealed)"));
    EXPECT_TRUE(Contains(page.body, "<td>bob</td>"));
    EXPECT_TRUE(Contains(page.body, "1 of 2")) << "landmarks reached of the world's";
    EXPECT_EQ(nurse->Get("/replay.js").status, 200);
}

TEST_F(StaffTest, AFileThatCannotBeReadIsKeptListedAndNeverStopsTheServer) {
    StartStaff();
    auto alice = LoggedIn("alice");
    std::string garbage = Bytes(3000, 'g');
    std::string wrongKey(200, '\x01');
    EXPECT_EQ(Upload(*alice, "data-garbage.txt", garbage), "data-garbage.txt");
    EXPECT_EQ(Upload(*alice, "data-other-key.txt.sealed", wrongKey), "data-other-key.txt.sealed");
    // The upload goes on after them, and the files are kept as they came.
    Upload(*alice, "data-1.txt", DriveFile{}.Text());
    EXPECT_EQ(ReadAll(DataDir() + "/users/alice/data-garbage.txt"), garbage);
    auto nurse = LoggedInBrowser();
    Reply files = nurse->Get("/files");
    EXPECT_TRUE(Contains(files.body, "2 files not read"));
    EXPECT_TRUE(Contains(files.body, "data-garbage.txt"));
    EXPECT_TRUE(Contains(files.body, "unreadable: not a drive&#39;s data file"));
    EXPECT_TRUE(Contains(files.body, "unreadable: sealed to another key, or damaged"));
    EXPECT_TRUE(Contains(nurse->Get("/trainee?name=alice").body, "1 drives"));
    // Logged once, and not again at the next start.
    EXPECT_EQ(Count(Log(), "data-garbage.txt kept but not read"), 1u);
    RestartServer();
    EXPECT_EQ(Count(Log(), "data-garbage.txt kept but not read"), 1u);
}

TEST_F(StaffTest, FilesAlreadyThereAreReadAtStartOnce) {
    // Received by a server without the staff view, or before it existed.
    StartServer();
    auto alice = LoggedIn("alice");
    Upload(*alice, "data-1.txt", DriveFile{}.Text());
    alice.reset();
    ASSERT_EQ(server_.Stop(), 0);
    std::string old = DriveFile{}.Text();
    old = old.substr(0, old.find("record=")); // an older launcher's file: no trajectory
    ASSERT_TRUE(std::filesystem::create_directories(DataDir() + "/users/bob"));
    std::ofstream(DataDir() + "/users/bob/data-old.txt") << old;
    StartStaff();
    // Alice's drive was read when it came (the drives are kept with the staff view off too);
    // Bob's file is read now.
    EXPECT_TRUE(Contains(Log(), "recorded 1 data files received earlier"));
    auto nurse = LoggedInBrowser();
    Reply bob = nurse->Get("/drive?id=" + FirstDriveId(*nurse, "bob"));
    EXPECT_EQ(bob.status, 200);
    EXPECT_TRUE(Contains(bob.body, "holds no trajectory"));
    EXPECT_EQ(
        AttributeOf(nurse->Get("/drive?id=" + FirstDriveId(*nurse, "alice")).body, "replay", "max"),
        "200");
    RestartServer();
    EXPECT_EQ(Count(Log(), "data files received earlier"), 1u);
}

TEST_F(StaffTest, NamesAndDataFileFieldsAreEscaped) {
    StartStaff();
    const std::string name = "<script>alert(\"x\")&'";
    DriveFile drive;
    drive.user = name;
    drive.world = "<b>World</b>";
    drive.others = {"<img src=x onerror=alert(1)>"};
    auto odd = LoggedIn(name);
    Upload(*odd, "data-1.txt", drive.Text());
    auto nurse = LoggedInBrowser();
    std::string list = nurse->Get("/").body;
    EXPECT_FALSE(Contains(list, "<script>alert"));
    EXPECT_TRUE(Contains(list, "&lt;script&gt;alert(&quot;x&quot;)&amp;&#39;"));
    std::string trainee = nurse->Get("/trainee?name=%3Cscript%3Ealert(%22x%22)%26%27").body;
    EXPECT_TRUE(Contains(trainee, "1 drives")) << trainee;
    EXPECT_FALSE(Contains(trainee, "<b>World"));
    EXPECT_TRUE(Contains(trainee, "&lt;b&gt;World&lt;/b&gt;"));
    std::string id = FirstDriveId(*nurse, "%3Cscript%3Ealert(%22x%22)%26%27");
    std::string page = nurse->Get("/drive?id=" + id).body;
    EXPECT_FALSE(Contains(page, "<img src=x"));
    EXPECT_TRUE(Contains(page, "&lt;img src=x onerror=alert(1)&gt;"));
    EXPECT_TRUE(Contains(page, "(layout not known)"));
    // The trainee link carries the name encoded, never raw.
    EXPECT_TRUE(Contains(list, "/trainee?name=%3Cscript%3Ealert%28%22x%22%29%26%27"));
    // Searching for it finds it and shows the search escaped.
    std::string found = nurse->Get("/?q=%3Cscript").body;
    EXPECT_TRUE(Contains(found, "1 trainees"));
    EXPECT_TRUE(Contains(found, "value=\"&lt;script\""));
}

TEST_F(StaffTest, TheCsvRowsAreTheDrivesSent) {
    StartStaff();
    auto alice = LoggedIn("alice");
    std::vector<DriveFile> sent(3);
    sent[0].start = "2026-11-30T08:00:00Z";
    sent[0].seconds = 30;
    sent[1].start = "2026-12-01T09:00:00Z";
    sent[1].world = "Park";
    sent[1].collisions = 3;
    sent[2].start = "2026-12-03T10:30:00Z";
    sent[2].others = {"bob", "carol"};
    for (std::size_t i = 0; i < sent.size(); ++i)
        Upload(*alice, "data-" + std::to_string(i) + ".txt", sent[i].Text());
    auto nurse = LoggedInBrowser();
    Reply csv = nurse->Get("/export/trainee.csv?name=alice");
    ASSERT_EQ(csv.status, 200);
    EXPECT_EQ(csv.Header("Content-Type"), "text/csv; charset=utf-8");
    EXPECT_TRUE(Contains(csv.Header("Content-Disposition"), "attachment"));
    auto rows = CsvRows(csv.body);
    ASSERT_EQ(rows.size(), 4u) << csv.body;
    EXPECT_EQ(rows[0][0], "user");
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto& row = rows[i + 1];
        ASSERT_EQ(row.size(), 10u) << csv.body;
        EXPECT_EQ(row[0], "alice");
        EXPECT_EQ(row[1], sent[i].start.substr(0, 10) + " " + sent[i].start.substr(11, 5));
        EXPECT_EQ(row[2], sent[i].world);
        EXPECT_EQ(row[3], std::to_string(sent[i].seconds));
        EXPECT_EQ(row[4], std::to_string(sent[i].seconds / 2) + ".00");
        EXPECT_EQ(row[5], std::to_string(sent[i].collisions));
        EXPECT_EQ(row[6], "1");
        EXPECT_EQ(row[7], sent[i].world == "Park" ? "3" : "2");
        EXPECT_EQ(row[9], "data-" + std::to_string(i) + ".txt");
    }
    EXPECT_EQ(rows[3][8], "bob;carol");
    // A date range takes the drives that started in it, both days included.
    auto range = CsvRows(nurse->Get("/export/drives.csv?from=2026-12-01&to=2026-12-03").body);
    ASSERT_EQ(range.size(), 3u);
    EXPECT_EQ(range[1][9], "data-1.txt");
    EXPECT_EQ(range[2][9], "data-2.txt");
    EXPECT_EQ(nurse->Get("/export/drives.csv?from=2026-12-04&to=2026-12-01").status, 400);
}

TEST_F(StaffTest, TraineesShowTheirTotalsSortedAndWhoIsOnline) {
    StartStaff();
    auto alice = LoggedIn("alice");
    auto zoe = LoggedIn("zoe");
    DriveFile one, two;
    one.seconds = 600;
    two.user = "zoe";
    two.seconds = 60;
    Upload(*alice, "data-1.txt", one.Text());
    Upload(*zoe, "data-1.txt", two.Text());
    Upload(*zoe, "data-2.txt", two.Text());
    auto nurse = LoggedInBrowser();
    std::string page = nurse->Get("/").body;
    EXPECT_TRUE(Contains(page, "2 trainees"));
    EXPECT_LT(page.find(">alice<"), page.find(">zoe<"));
    // Level 2 after ten minutes; two drives of one minute for zoe.
    EXPECT_TRUE(Contains(page, ">alice</a></th><td class=\"number\">2</td><td "
                               "class=\"number\">1</td><td class=\"number\">10:00</td>"));
    EXPECT_TRUE(Contains(page, ">zoe</a></th><td class=\"number\">1</td><td "
                               "class=\"number\">2</td><td class=\"number\">2:00</td>"));
    // The trend: collisions per minute of the last drives, 1 per minute for zoe's.
    EXPECT_TRUE(Contains(page, "Collisions per minute of the last drives: 1.00, 1.00"));
    std::string sorted = nurse->Get("/?sort=drives&dir=desc").body;
    EXPECT_LT(sorted.find(">zoe<"), sorted.find(">alice<"));
    std::string online = nurse->Get("/online").body;
    EXPECT_TRUE(Contains(online, "2 logged in"));
    EXPECT_TRUE(Contains(online, "<th scope=\"row\">zoe</th><td>(in no world)</td>"));
    std::string trainee = nurse->Get("/trainee?name=zoe").body;
    EXPECT_TRUE(Contains(trainee, "Progress by difficulty"));
    EXPECT_EQ(Count(trainee, "<svg"), 2u) << "a duration and a collisions chart for its world";
}
