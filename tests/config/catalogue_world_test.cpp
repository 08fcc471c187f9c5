// The world catalogue: which folders are worlds, difficulty files, order, labels, thumbnail
// and the stored world.
#include "platform/file_system.h"
#include "setup_fixture.h"

#include <algorithm>
#include <list>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class WorldCatalogueTest : public SetupTest {
protected:
    std::string WorldsFolder() const { return pathate(g_state.kernelServer, "worlds:"); }

    std::vector<std::string> CatalogueNames() const {
        std::vector<std::string> names;
        for (const auto& entry : g_state.worldCatalogue)
            names.push_back(entry.name);
        return names;
    }

    // Fills the World list and takes the choice, as the window's opening does.
    std::vector<std::string> OpenWorldList(std::string* label = nullptr) {
        std::vector<std::string> items;
        WithSetupDialog([&](platform::HWND window) {
            MakeUserSettings();
            FillWorldList();
            UpdateWorldChoice();
            items = ComboItems(window, IDC_SETUP_WORLD);
            if (label)
                *label = platform::GetDlgItemText(window, IDC_SETUP_DIFFICULTY, 127);
        });
        return items;
    }
};

// The catalogue order built by walking from the front and inserting before the first entry
// that the new one precedes.
std::list<WorldEntry> InsertionWalk(const std::vector<WorldEntry>& scanned) {
    std::list<WorldEntry> catalogue;
    for (const auto& entry : scanned) {
        auto it = catalogue.begin();
        for (; it != catalogue.end(); ++it) {
            if (entry.difficulty < it->difficulty ||
                (entry.difficulty == it->difficulty &&
                 std::lexicographical_compare(
                     entry.name.begin(), entry.name.end(), it->name.begin(), it->name.end(),
                     [](char a, char b) { return (unsigned char)a < (unsigned char)b; })))
                break;
        }
        catalogue.insert(it, entry);
    }
    return catalogue;
}

TEST_F(WorldCatalogueTest, DifficultyLabels_NamedForOneToFiveElseUnknown) {
    EXPECT_STREQ(DifficultyLabel(1), "Very easy");
    EXPECT_STREQ(DifficultyLabel(2), "Easy");
    EXPECT_STREQ(DifficultyLabel(3), "Moderate");
    EXPECT_STREQ(DifficultyLabel(4), "Difficult");
    EXPECT_STREQ(DifficultyLabel(5), "Very difficult");
    EXPECT_STREQ(DifficultyLabel(0), "Unknown");
    EXPECT_STREQ(DifficultyLabel(6), "Unknown");
    EXPECT_STREQ(DifficultyLabel(-1), "Unknown");
}

TEST_F(WorldCatalogueTest, DifficultyFile_ReadsLeadingNumber) {
    auto read = [&](const std::string& content) {
        home.WriteFile("d/difficulty", content);
        return ReadDifficulty((home / "d/difficulty").string());
    };
    EXPECT_EQ(read("4\nmore text"), 4);
    EXPECT_EQ(read("  3"), 3);
    EXPECT_EQ(read("\t\n-1"), -1);
    EXPECT_EQ(read("+5x"), 5);
    EXPECT_EQ(read("2147483647"), 2147483647);
    EXPECT_EQ(read("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(read("0"), 0);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(WorldCatalogueTest, DifficultyFileWithoutUsableNumber_CountsAsOneAndIsLogged) {
    auto read = [&](const std::string& content) {
        home.WriteFile("d/difficulty", content);
        return ReadDifficulty((home / "d/difficulty").string());
    };
    for (const char* content : {"abc", "99999999999", "2147483648", "-2147483649", "", "- 3"}) {
        log.lines.clear();
        EXPECT_EQ(read(content), 1) << content;
        EXPECT_TRUE(log.Contains("d/difficulty")) << content;
    }
}

TEST_F(WorldCatalogueTest, MissingDifficultyFile_CountsAsOneWithoutLog) {
    EXPECT_EQ(ReadDifficulty((home / "nowhere/difficulty").string()), 1);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(WorldCatalogueTest, Worlds_OrderedByDifficultyThenByteOrder) {
    AddWorld("Three", "3");
    AddWorld("One", "1");
    AddWorld("city", "2");
    AddWorld("Park", "2");
    AddWorld("Minus", "-1");
    AddWorld("Zero", "0");
    AddWorld("Six", "6");
    AddWorld("Five", "5");
    AddWorld("NoFile");
    std::string label;
    auto items = OpenWorldList(&label);
    std::vector<std::string> expected = {"Minus", "Zero",  "NoFile", "One", "Park",
                                         "city",  "Three", "Five",   "Six"};
    EXPECT_EQ(items, expected);
    EXPECT_EQ(CatalogueNames(), expected);
    EXPECT_EQ(g_state.worldCatalogue.front().difficulty, -1);
    EXPECT_EQ(label, "Unknown"); // the first world, Minus, is chosen
}

TEST_F(WorldCatalogueTest, ExcludedNamesAndPlainFiles_NeverListed) {
    AddWorld("Performance_Test", "1");
    AddWorld("PERFORMANCE_TEST", "1");
    AddWorld("cvs", "1");
    AddWorld("Cvs2", "1");
    home.WriteFile("worlds/plainfile", "2");
    home.WriteFile("worlds/CVS", "x"); // a plain file named like an excluded folder
    auto items = OpenWorldList();
    EXPECT_EQ(items, std::vector<std::string>{"Cvs2"});
}

TEST_F(WorldCatalogueTest, OverlongFolderName_LeftOutAndLogged) {
    std::string longName(128, 'w');
    std::string fitting(127, 'v');
    AddWorld(longName, "1");
    AddWorld(fitting, "1");
    auto items = OpenWorldList();
    EXPECT_EQ(items, std::vector<std::string>{fitting});
    EXPECT_TRUE(log.Contains(longName));
}

TEST_F(WorldCatalogueTest, FolderNameNotUtf8_LeftOutAndNamedSafelyInTheLog) {
    AddWorld("Caf\xe9", "1");      // Latin-1
    AddWorld("Half\xe2\x82", "1"); // a cut sequence
    AddWorld("Caf\xc3\xa9", "2");  // the same word in UTF-8
    auto items = OpenWorldList();
    EXPECT_EQ(items, std::vector<std::string>{"Caf\xc3\xa9"});
    EXPECT_TRUE(log.Contains("not UTF-8 left out: Caf\\xE9\n"));
    EXPECT_TRUE(log.Contains("not UTF-8 left out: Half\\xE2\\x82\n"));
    for (const auto& line : log.lines)
        EXPECT_EQ(line.find('\xe9'), std::string::npos) << line;
}

TEST_F(WorldCatalogueTest, FifoAsDifficultyOrThumbnail_AnsweredAtOnce) {
    AddWorld("Pipes");
    ASSERT_EQ(mkfifo((home / "worlds/Pipes/difficulty").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((home / "worlds/Pipes/thumb.bmp").c_str(), 0600), 0);
    alarm(20); // a FIFO that is waited on ends the test program
    std::string label;
    auto items = OpenWorldList(&label);
    alarm(0);
    EXPECT_EQ(items, std::vector<std::string>{"Pipes"});
    EXPECT_EQ(label, "Very easy");
    EXPECT_TRUE(log.Contains("is a FIFO (named pipe), not a file; 1 is used"));
}

TEST_F(WorldCatalogueTest, OpeningTwice_GivesSameListWithoutDuplicates) {
    AddWorld("A", "2");
    AddWorld("B", "1");
    auto first = OpenWorldList();
    auto second = OpenWorldList();
    EXPECT_EQ(first, (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(second, first);
    EXPECT_EQ(g_state.worldCatalogue.size(), 2u);
}

TEST_F(WorldCatalogueTest, StoredWorld_SelectedAndStoredAgain) {
    AddWorld("Alpha", "1");
    AddWorld("Beta", "4");
    WriteUserSettings("world=Beta\n");
    std::string label;
    OpenWorldList(&label);
    EXPECT_STREQ(g_state.worldName, "Beta");
    EXPECT_EQ(label, "Difficult");
    EXPECT_EQ(StoredValue("world"), "Beta");
}

TEST_F(WorldCatalogueTest, UnknownOrMiscasedStoredWorld_SelectsFirst) {
    AddWorld("Alpha", "2");
    AddWorld("Beta", "1");
    WriteUserSettings("world=alpha\n");
    OpenWorldList();
    EXPECT_STREQ(g_state.worldName, "Beta");
    EXPECT_EQ(StoredValue("world"), "Beta");
}

TEST_F(WorldCatalogueTest, NoWorldsFolder_EmptyListAndLabelUntouched) {
    std::filesystem::remove_all(home / "worlds");
    CopyName(g_state.worldName, "Old");
    WithSetupDialog([&](platform::HWND window) {
        MakeUserSettings();
        platform::SetDlgItemText(window, IDC_SETUP_DIFFICULTY, "before");
        FillWorldList();
        UpdateWorldChoice();
        EXPECT_EQ(platform::ComboBoxGetCount(window, IDC_SETUP_WORLD), 0);
        EXPECT_EQ(platform::GetDlgItemText(window, IDC_SETUP_DIFFICULTY, 127), "before");
    });
    EXPECT_TRUE(g_state.worldCatalogue.empty());
    EXPECT_STREQ(g_state.worldName, "Old");
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(WorldCatalogueTest, WorldWithoutThumbnail_KeepsPictureButUpdatesLabelAndStore) {
    AddWorld("Easy", "1");
    AddWorld("Hard", "5");
    WriteBitmap("worlds/Easy/thumb.bmp", 12);
    WithSetupDialog([&](platform::HWND window) {
        MakeUserSettings();
        FillWorldList();
        UpdateWorldChoice();
        platform::HBITMAP before = platform::GetStaticBitmap(window, IDC_SETUP_WORLD_THUMB);
        ASSERT_NE(before, nullptr);
        EXPECT_EQ(platform::BitmapWidth(before), 12);

        Choose(window, IDC_SETUP_WORLD, 1);
        UpdateWorldChoice();
        EXPECT_EQ(platform::GetStaticBitmap(window, IDC_SETUP_WORLD_THUMB), before);
        EXPECT_STREQ(g_state.worldName, "Hard");
        EXPECT_EQ(platform::GetDlgItemText(window, IDC_SETUP_DIFFICULTY, 127), "Very difficult");
        EXPECT_EQ(g_state.userSettings->getWorld(), "Hard");
    });
}

TEST_F(WorldCatalogueTest, BuildOnRandomFolders_EqualsInsertionWalk) {
    std::mt19937 random(20261206);
    // Letters of one byte and of two (an e with an accent, above every ASCII byte).
    const std::vector<std::string> letters = {"a", "A", "b", "B", "z",
                                              "Z", "_", "0", "9", "\xc3\xa9"};
    for (int round = 0; round < 5; ++round) {
        std::filesystem::remove_all(home / "worlds");
        home.MakeDir("worlds");
        for (int i = 0; i < 150; ++i) {
            std::string name;
            int length = 1 + int(random() % 4);
            for (int k = 0; k < length; ++k)
                name += letters[random() % letters.size()];
            if (std::filesystem::exists(home / "worlds" / name))
                continue;
            int kind = int(random() % 5);
            if (kind == 0)
                AddWorld(name);
            else if (kind == 1)
                AddWorld(name, "junk");
            else
                AddWorld(name, std::to_string(int(random() % 9) - 2));
        }
        // The scan order as the folder search gives it, with each world's difficulty.
        std::vector<WorldEntry> scanned;
        platform::FolderSearch search(WorldsFolder());
        platform::FolderEntry entry;
        while (search.Next(entry)) {
            if (entry.isDirectory)
                scanned.push_back(
                    {ReadDifficulty(WorldsFolder() + entry.name + "/difficulty"), entry.name});
        }
        std::list<WorldEntry> built;
        BuildWorldCatalogue(WorldsFolder(), built);
        auto reference = InsertionWalk(scanned);
        ASSERT_EQ(built.size(), reference.size());
        auto a = built.begin();
        for (auto b = reference.begin(); b != reference.end(); ++a, ++b) {
            EXPECT_EQ(a->difficulty, b->difficulty);
            EXPECT_EQ(a->name, b->name);
        }
    }
}

TEST_F(WorldCatalogueTest, EntryOrder_UnsignedBytesAndPrefixFirst) {
    EXPECT_TRUE(WorldEntryBefore({2, "Park"}, {2, "city"}));
    EXPECT_FALSE(WorldEntryBefore({2, "city"}, {2, "Park"}));
    EXPECT_TRUE(WorldEntryBefore({2, "ab"}, {2, "abc"}));
    EXPECT_TRUE(WorldEntryBefore({2, "z"}, {2, "\xe9"}));
    EXPECT_TRUE(WorldEntryBefore({1, "z"}, {2, "a"}));
    EXPECT_FALSE(WorldEntryBefore({2, "a"}, {2, "a"}));
}

} // namespace
