// World layouts: the optional heights and box kinds with their defaults, a bad optional value
// that is warned about (with the file and line in the engine log) while the world still loads,
// and the default worlds, which use the optional fields and load without a warning.
#include "drive.h"
#include "engine/kernel.h"
#include "engine/services.h"
#include "fakes.h"
#include "world_layout.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

WorldLayout Parse(const std::string& text, std::vector<std::string>* warnings = nullptr) {
    WorldLayout layout;
    std::string error;
    EXPECT_TRUE(ParseWorldLayout(text, layout, error, warnings)) << error;
    return layout;
}

} // namespace

TEST(WorldLayoutFields, HeightsAndKinds_AreReadInAnyOrder) {
    std::vector<std::string> warnings;
    auto layout = Parse("size 20 10\nstart 1 1 0\n"
                        "wall 0 5 8 5 height=1.1\n"
                        "box 2 2 3 0.6 kind=bench\n"
                        "box 10 2 1 1 height=6 kind=tree\n"
                        "box 14 2 1 1 kind=pillar height=2.2 # a low one\n",
                        &warnings);
    EXPECT_TRUE(warnings.empty()) << warnings.front();
    ASSERT_EQ(layout.walls.size(), 13u); // the wall and four sides of each box
    EXPECT_DOUBLE_EQ(layout.walls[0].height, 1.1);
    EXPECT_EQ(layout.walls[0].box, -1);
    ASSERT_EQ(layout.boxes.size(), 3u);
    EXPECT_EQ(layout.boxes[0].kind, BoxKind::Bench);
    EXPECT_DOUBLE_EQ(layout.boxes[0].height, DefaultBoxHeight(BoxKind::Bench));
    EXPECT_EQ(layout.boxes[1].kind, BoxKind::Tree);
    EXPECT_DOUBLE_EQ(layout.boxes[1].height, 6);
    EXPECT_EQ(layout.boxes[2].kind, BoxKind::Pillar);
    EXPECT_DOUBLE_EQ(layout.boxes[2].height, 2.2);
    // Each box's sides stop the chair and say which box they belong to.
    EXPECT_EQ(layout.walls[5].box, 1);
    EXPECT_DOUBLE_EQ(layout.walls[5].a.x, 10);
    EXPECT_DOUBLE_EQ(layout.walls[5].height, 6);
}

TEST(WorldLayoutFields, NoOptionalFields_DefaultHeightsAndPlainBlocks) {
    auto layout = Parse("size 20 10\nstart 1 1 0\nwall 0 5 8 5\nbox 2 2 3 1\n");
    EXPECT_DOUBLE_EQ(layout.walls[0].height, kDefaultWallHeight);
    ASSERT_EQ(layout.boxes.size(), 1u);
    EXPECT_EQ(layout.boxes[0].kind, BoxKind::Block);
    EXPECT_DOUBLE_EQ(layout.boxes[0].height, DefaultBoxHeight(BoxKind::Block));
    EXPECT_GT(DefaultBoxHeight(BoxKind::Pillar), DefaultBoxHeight(BoxKind::Bench));
}

TEST(WorldLayoutFields, BadHeightOrKind_WarnedWithTheLineAndDefaultsUsed) {
    std::vector<std::string> warnings;
    auto layout = Parse("size 20 10\nstart 1 1 0\n"
                        "wall 0 5 8 5 height=tall\n"
                        "box 2 2 3 1 kind=sofa\n"
                        "box 6 2 1 1 kind=table height=-2\n"
                        "wall 0 8 8 8 colour=red\n"
                        "box 9 2 1 1 height=1e9\n",
                        &warnings);
    ASSERT_EQ(warnings.size(), 5u);
    EXPECT_EQ(warnings[0].rfind("line 3: bad height 'tall'", 0), 0u) << warnings[0];
    EXPECT_EQ(warnings[1].rfind("line 4: unknown box kind 'sofa'", 0), 0u) << warnings[1];
    EXPECT_EQ(warnings[2].rfind("line 5: bad height '-2'", 0), 0u) << warnings[2];
    EXPECT_EQ(warnings[3].rfind("line 6: 'colour=red' ignored", 0), 0u) << warnings[3];
    EXPECT_EQ(warnings[4].rfind("line 7: bad height '1e9'", 0), 0u) << warnings[4];
    EXPECT_DOUBLE_EQ(layout.walls[0].height, kDefaultWallHeight);
    EXPECT_EQ(layout.boxes[0].kind, BoxKind::Block);
    EXPECT_EQ(layout.boxes[1].kind, BoxKind::Table);
    EXPECT_DOUBLE_EQ(layout.boxes[1].height, DefaultBoxHeight(BoxKind::Table));
}

TEST(WorldLayoutFields, KindOnAWall_IsWarnedAbout) {
    std::vector<std::string> warnings;
    Parse("size 20 10\nstart 1 1 0\nwall 0 5 8 5 kind=tree\n", &warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("line 3: 'kind=tree' ignored", 0), 0u) << warnings[0];
}

TEST(WorldLayoutLoad, BadOptionalValue_LogsTheFileAndLineAndTheWorldLoads) {
    fakes::TempHome home;
    fakes::LogRecorder log;
    home.WriteFile("worlds/Yard/meshes/layout.txt",
                   "name Yard\nsize 20 10\nstart 2 5 0\nbox 6 2 1 1 height=huge\n"
                   "landmark 10 5 0.5 Gate\n");
    auto kernel = NewRuntimeKernel();
    kernel->fileServer->DefineAssign("meshes", (home / "worlds/Yard/meshes").c_str());
    auto* world = dynamic_cast<nWorld*>(kernel->New("nworld", "/usr/share/scene/world"));
    ASSERT_NE(world, nullptr);
    std::string result;
    ASSERT_EQ(world->Call("load", {"meshes:layout.txt"}, result), nCallStatus::Ok) << result;
    EXPECT_TRUE(world->IsLoaded());
    EXPECT_EQ(world->Layout().boxes.size(), 1u);
    int told = 0;
    for (const auto& line : log.lines)
        told += line.rfind("WARN: world layout ", 0) == 0 &&
                line.find("worlds/Yard/meshes") != std::string::npos &&
                line.find("layout.txt, line 4: bad height 'huge'") != std::string::npos;
    EXPECT_EQ(told, 1);
}

TEST(WorldLayoutLoad, DefaultWorlds_UseTheOptionalFieldsWithoutAWarning) {
    const std::filesystem::path worlds = std::filesystem::path(PELORA_SOURCE_DIR) / "home/worlds";
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(worlds)) {
        std::ifstream in(entry.path() / "meshes/layout.txt");
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> warnings;
        auto layout = Parse(text.str(), &warnings);
        EXPECT_TRUE(warnings.empty()) << entry.path() << ": " << warnings.front();
        bool shaped = false;
        for (const auto& box : layout.boxes)
            shaped |= box.kind != BoxKind::Block || box.height != DefaultBoxHeight(box.kind);
        for (const auto& wall : layout.walls)
            shaped |= wall.box < 0 && wall.height != kDefaultWallHeight;
        EXPECT_TRUE(shaped) << entry.path() << " uses no height or kind";
        ++count;
    }
    EXPECT_EQ(count, 5);
}
