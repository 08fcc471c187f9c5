// The avatar set-up: when the model is loaded, released or kept, what every run renews, the
// name label and its warning, and a folder that cannot be entered.
#include "world_run_fixture.h"

namespace worldrun_test {
namespace {

constexpr const char* kLoad = "command new n3dnode /usr/share/scene/avmodel";
constexpr const char* kLabelWarning = "WARN \\nebula\\code\\src\\pelox\\config/495: Unable to "
                                      "find avatar label node, avatar will not have a name "
                                      "label\n\n";

class AvatarSetup : public DriveFixture {
protected:
    void SetUp() override {
        DriveFixture::SetUp();
        // The model's script stands in for avatar.tcl: it makes the model node, and with
        // `withLabel` the name label below it.
        Answer([this](const std::string& command, std::string&) {
            if (command == "new n3dnode /usr/share/scene/avmodel") {
                kernel->New("testmodel", "/usr/share/scene/avmodel");
                modelFolder = Cwd();
                if (withLabel)
                    kernel->New("testlabel", "/usr/share/scene/avmodel/labelnode/flip/label");
            }
            return false;
        });
    }
    std::string Variable(const char* path) {
        auto* variable = dynamic_cast<nEnv*>(kernel->Lookup(path));
        return variable ? variable->GetString() : "<none>";
    }
    bool withLabel = true;
    std::string modelFolder;
};

TEST_F(AvatarSetup, FirstRun_LoadsTheModelFromTheAvatarFolder) {
    ASSERT_TRUE(setUpAvatar());
    EXPECT_EQ(script->CountCommands("new n3dnode /usr/share/scene/avmodel"), 1);
    EXPECT_LT(Index(kLoad), Index("command sel /usr/share/scene/avmodel"));
    EXPECT_LT(Index("command sel /usr/share/scene/avmodel"), Index("script avatar.tcl"));
    EXPECT_EQ(modelFolder, Canonical(home.path() / "avatars/chair"));
    EXPECT_EQ(Cwd(), Canonical(home.path() / "avatars/chair"));
    EXPECT_STREQ(g_state.loadedVehicleType, "chair");
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(AvatarSetup, SameVehicleTwice_LoadsOnceAndRenewsGenderColourAndLabel) {
    ASSERT_TRUE(setUpAvatar());
    CopyName(g_state.gender, "male");
    CopyName(g_state.vehicleColor, "Blue");
    ASSERT_TRUE(setUpAvatar());

    EXPECT_EQ(script->CountCommands("new n3dnode /usr/share/scene/avmodel"), 1);
    EXPECT_EQ(script->scripts, std::vector<std::string>{"avatar.tcl"});
    EXPECT_EQ(CountStarting("model released"), 0);
    EXPECT_EQ(script->CountCommands("sel /usr/share/scene/avmodel/matlib/dynamic_color"), 2);
    EXPECT_EQ(script->CountCommands("set_diffuse_by_name Red"), 1);
    EXPECT_EQ(script->CountCommands("set_diffuse_by_name Blue"), 1);
    EXPECT_EQ(Variable("/usr/share/scene/avmodel/gender"), "male");
    EXPECT_EQ(Variable("/usr/share/scene/avmodel/color"), "Blue");
    auto* label =
        dynamic_cast<zuwLabel*>(kernel->Lookup("/usr/share/scene/avmodel/labelnode/flip/label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->getColor(), zuwLabel::Color::getColorByName("Blue"));
    EXPECT_EQ(CountStarting("label setText alice"), 2);
}

TEST_F(AvatarSetup, VehicleChange_ReleasesTheOldModelBeforeLoadingTheNew) {
    ASSERT_TRUE(setUpAvatar());
    CopyName(g_state.vehicleType, kOtherVehicle);
    ASSERT_TRUE(setUpAvatar());

    int released = Index("model released avmodel");
    ASSERT_NE(released, -1);
    int secondLoad = -1;
    for (size_t i = size_t(Index(kLoad)) + 1; i < fakes::Events().size(); ++i) {
        if (fakes::Events()[i] == kLoad) {
            secondLoad = int(i);
            break;
        }
    }
    EXPECT_LT(released, secondLoad);
    EXPECT_EQ(modelFolder, Canonical(home.path() / "avatars/scooter"));
    EXPECT_STREQ(g_state.loadedVehicleType, "scooter");
    EXPECT_NE(kernel->Lookup("/usr/share/scene/avmodel"), nullptr);
}

TEST_F(AvatarSetup, EmptyVehicleOnFirstRun_LoadsNoModel) {
    CopyName(g_state.vehicleType, "");
    ASSERT_TRUE(setUpAvatar());
    EXPECT_EQ(Index(kLoad), -1);
    EXPECT_TRUE(script->scripts.empty());
    EXPECT_EQ(Variable("/usr/share/scene/avmodel/gender"), "female");
}

TEST_F(AvatarSetup, LabelPresent_GetsColourThenNameAndIsShown) {
    ASSERT_TRUE(setUpAvatar());
    auto* label =
        dynamic_cast<zuwLabel*>(kernel->Lookup("/usr/share/scene/avmodel/labelnode/flip/label"));
    ASSERT_NE(label, nullptr);
    EXPECT_LT(Index("label setColor"), Index("label setText alice"));
    EXPECT_EQ(label->getColor(), zuwLabel::Color::getColorByName("Red"));
    EXPECT_EQ(label->getText(), "alice");
    EXPECT_TRUE(label->isShown());
    EXPECT_EQ(log.Count("Unable to find avatar label node"), 0);
}

TEST_F(AvatarSetup, LabelMissing_LogsOneWarningPerRunAndGoesOn) {
    withLabel = false;
    EXPECT_TRUE(setUpAvatar());
    EXPECT_EQ(log.Count(kLabelWarning), 1);
    EXPECT_TRUE(setUpAvatar());
    EXPECT_EQ(log.Count(kLabelWarning), 2);
    EXPECT_TRUE(boxes->boxes.empty());
}

TEST_F(AvatarSetup, FolderMissing_ShowsMessageAndLetsTheNextRunTryAgain) {
    CopyName(g_state.vehicleType, "lost");
    platform::HWND owner = nullptr;
    bool first = true, second = true;
    InSetupWindow([&] {
        owner = g_state.setupWindow;
        first = setUpAvatar();
        second = setUpAvatar();
    });
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);
    ASSERT_EQ(boxes->boxes.size(), 2u);
    EXPECT_EQ(boxes->boxes[0].text, "Error loading avatar \"lost\"");
    EXPECT_EQ(boxes->boxes[0].caption, "ERROR!");
    EXPECT_EQ(boxes->boxes[0].flags, unsigned(platform::MB_OK));
    EXPECT_EQ(boxes->boxes[0].owner, owner);
    EXPECT_STREQ(g_state.loadedVehicleType, "");
    EXPECT_EQ(Index(kLoad), -1);
}

// Once the folder is there, the next run loads the model instead of driving without one
// (the remembered vehicle was cleared by the failure).
TEST_F(AvatarSetup, FolderMissingThenRestored_NextRunLoadsTheModel) {
    CopyName(g_state.vehicleType, "late");
    bool first = true, second = false;
    InSetupWindow([&] {
        first = setUpAvatar();
        home.MakeDir("avatars/late");
        second = setUpAvatar();
    });
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
    EXPECT_EQ(boxes->boxes.size(), 1u);
    EXPECT_EQ(script->CountCommands("new n3dnode /usr/share/scene/avmodel"), 1);
    EXPECT_NE(kernel->Lookup("/usr/share/scene/avmodel"), nullptr);
    EXPECT_EQ(modelFolder, Canonical(home.path() / "avatars/late"));
    EXPECT_STREQ(g_state.loadedVehicleType, "late");
}

TEST_F(AvatarSetup, FolderMissingAfterAnotherVehicle_ReleasesTheOldModel) {
    ASSERT_TRUE(setUpAvatar());
    CopyName(g_state.vehicleType, "lost");
    EXPECT_FALSE(setUpAvatar());
    EXPECT_NE(Index("model released avmodel"), -1);
    EXPECT_EQ(kernel->Lookup("/usr/share/scene/avmodel"), nullptr);
    // Back to a vehicle that exists: loaded again.
    CopyName(g_state.vehicleType, kVehicle);
    EXPECT_TRUE(setUpAvatar());
    EXPECT_EQ(script->CountCommands("new n3dnode /usr/share/scene/avmodel"), 2);
}

class AvatarSetupRealTcl : public DriveFixture {
protected:
    AvatarSetupRealTcl() { realScriptServer = true; }
};

TEST_F(AvatarSetupRealTcl, ColourWithScriptCharacters_ReachesTheMaterialAsOneWord) {
    ASSERT_NE(g_state.scriptServer, nullptr);
    std::string result;
    g_state.scriptServer->RunCommand("proc set_diffuse_by_name {args} {set ::got $args}", result);
    const std::string colour = "Red [set ::pwned 1] $x {";
    CopyName(g_state.vehicleColor, colour);
    CopyName(g_state.vehicleType, "");
    setUpAvatar();
    g_state.scriptServer->RunCommand("llength $::got", result);
    EXPECT_EQ(result, "1");
    g_state.scriptServer->RunCommand("lindex $::got 0", result);
    EXPECT_EQ(result, colour);
    g_state.scriptServer->RunCommand("info exists ::pwned", result);
    EXPECT_EQ(result, "0");
}

} // namespace
} // namespace worldrun_test
