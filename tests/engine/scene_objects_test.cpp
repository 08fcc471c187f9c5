// Scene objects driven by scripts: nenv variables, n3dnode trees, materials, the label widget
// and the colour table they share.
#include "engine_fixture.h"

#include "scene_objects.h"

namespace {

using SceneObjects = EngineFixture;

TEST_F(SceneObjects, Nenv_KeepsTextsAndNumbers) {
    Run("new nenv /usr/share/scene/currentworld");
    auto* env = Get<nEnv>("/usr/share/scene/currentworld");
    ASSERT_NE(env, nullptr);
    Run("/usr/share/scene/currentworld.sets {City Park}");
    EXPECT_STREQ(env->GetString(), "City Park");
    env->SetString("female");
    EXPECT_EQ(Run("/usr/share/scene/currentworld.gets"), "female");

    Run("/usr/share/scene/currentworld.seti -12");
    EXPECT_EQ(Run("/usr/share/scene/currentworld.geti"), "-12");
    EXPECT_EQ(Run("/usr/share/scene/currentworld.getf"), "-12");
    Run("/usr/share/scene/currentworld.setf 2.5");
    EXPECT_STREQ(env->GetString(), "2.5");
    EXPECT_EQ(Run("/usr/share/scene/currentworld.geti"), "2");

    EXPECT_EQ(RunFailing("/usr/share/scene/currentworld.seti 1.5"),
              "seti: '1.5' is not a whole number");
    EXPECT_EQ(RunFailing("/usr/share/scene/currentworld.setf many"),
              "setf: 'many' is not a number");
    env->SetString("female");
    EXPECT_EQ(RunFailing("/usr/share/scene/currentworld.geti"), "geti: 'female' is not a number");
}

TEST_F(SceneObjects, N3dnode_KeepsTransformAndShape) {
    Run("new n3dnode /usr/share/scene/avmodel");
    Run("sel /usr/share/scene/avmodel");
    Run("txyz 0.5 -1 2");
    Run("rxyz 0 180 0");
    Run("setshape {meshes:chair body.n3d}");
    auto* node = Get<nTransformNode>("/usr/share/scene/avmodel");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->GetPosition(), (Vector3{0.5f, -1.0f, 2.0f}));
    EXPECT_EQ(node->GetRotation(), (Vector3{0, 180, 0}));
    EXPECT_EQ(node->GetScale(), (Vector3{1, 1, 1}));
    EXPECT_EQ(node->GetShape(), "meshes:chair body.n3d");
    EXPECT_EQ(Run("gettxyz"), "0.5 -1 2");
    EXPECT_EQ(Run("getshape"), "meshes:chair body.n3d");
    EXPECT_EQ(Run("getsxyz"), "1 1 1");
}

TEST_F(SceneObjects, N3dnodeRelease_TakesItsSubtree) {
    Run("new n3dnode /usr/share/scene/avmodel");
    Run("new n3dnode /usr/share/scene/avmodel/labelnode/flip");
    Run("new zuwLabel /usr/share/scene/avmodel/labelnode/flip/label");
    Run("new nmaterialnode /usr/share/scene/avmodel/matlib/dynamic_color");
    kernel->Lookup("/usr/share/scene/avmodel")->Release();
    EXPECT_EQ(kernel->Lookup("/usr/share/scene/avmodel/labelnode/flip/label"), nullptr);
    EXPECT_EQ(kernel->Lookup("/usr/share/scene/avmodel/matlib/dynamic_color"), nullptr);
    EXPECT_NE(kernel->Lookup("/usr/share/scene"), nullptr);
}

TEST_F(SceneObjects, Material_DiffuseByNameAndByNumbers) {
    Run("new nmaterialnode /m");
    auto* material = Get<nMaterialNode>("/m");
    ASSERT_NE(material, nullptr);
    for (const char* name : {"Red", "orange", "YELLOW", "Green", "blue", "Violet", "gray"}) {
        Run(std::string("/m.set_diffuse_by_name ") + name);
        Rgba expected;
        ASSERT_TRUE(ColourByName(name, expected)) << name;
        EXPECT_EQ(material->GetDiffuse(), expected) << name;
    }
    Run("/m.setdiffuse 0.25 0.5 0.75 1");
    EXPECT_EQ(material->GetDiffuse(), (Rgba{0.25f, 0.5f, 0.75f, 1.0f}));
    EXPECT_EQ(Run("/m.getdiffuse"), "0.25 0.5 0.75 1");
    EXPECT_EQ(RunFailing("/m.set_diffuse_by_name Plaid"), "unknown colour 'Plaid'");
    EXPECT_EQ(material->GetDiffuse(), (Rgba{0.25f, 0.5f, 0.75f, 1.0f}));
    EXPECT_NE(RunFailing("/m.set_diffuse_by_name Light Blue").find("wrong # args"),
              std::string::npos);
}

TEST(ColourTable, VehicleColoursAreDistinctAndCaseIsIgnored) {
    const char* vehicle[] = {"Red", "Orange", "Yellow", "Green", "Blue", "Violet"};
    std::vector<Rgba> seen;
    for (const char* name : vehicle) {
        Rgba colour;
        ASSERT_TRUE(ColourByName(name, colour)) << name;
        for (const Rgba& other : seen)
            EXPECT_FALSE(colour == other) << name;
        seen.push_back(colour);
        Rgba lower;
        Rgba upper;
        std::string text = name;
        for (char& c : text)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        ASSERT_TRUE(ColourByName(text, lower));
        for (char& c : text)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_TRUE(ColourByName(text, upper));
        EXPECT_EQ(lower, colour);
        EXPECT_EQ(upper, colour);
    }
    Rgba grey;
    Rgba gray;
    ASSERT_TRUE(ColourByName("Grey", grey));
    ASSERT_TRUE(ColourByName("Gray", gray));
    EXPECT_EQ(grey, gray);
    Rgba unchanged{0.1f, 0.2f, 0.3f, 0.4f};
    EXPECT_FALSE(ColourByName("Plaid", unchanged));
    EXPECT_FALSE(ColourByName("", unchanged));
    EXPECT_EQ(unchanged, (Rgba{0.1f, 0.2f, 0.3f, 0.4f}));
}

TEST(LabelColour, ByNameMatchesTheTableAndIsWhiteWhenUnknown) {
    Rgba violet;
    ASSERT_TRUE(ColourByName("Violet", violet));
    zuwLabel::Color colour = zuwLabel::Color::getColorByName("violet");
    EXPECT_EQ(colour, (zuwLabel::Color{violet.r, violet.g, violet.b, violet.a}));
    EXPECT_EQ(zuwLabel::Color::getColorByName("Plaid"), (zuwLabel::Color{1, 1, 1, 1}));
    EXPECT_EQ(zuwLabel::Color::getColorByName(nullptr), (zuwLabel::Color{1, 1, 1, 1}));
}

TEST_F(SceneObjects, AvatarNameLabel_ShowsTheNameInTheColour) {
    Run("new zuwLabel /usr/share/scene/avmodel/labelnode/flip/label");
    auto* label = Get<zuwLabel>("/usr/share/scene/avmodel/labelnode/flip/label");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(Run("/usr/share/scene/avmodel/labelnode/flip/label.isshown"), "0");
    label->setColor(zuwLabel::Color::getColorByName("Orange"));
    label->setText("Ann Lee");
    label->show();
    EXPECT_EQ(Run("/usr/share/scene/avmodel/labelnode/flip/label.gettext"), "Ann Lee");
    EXPECT_EQ(Run("/usr/share/scene/avmodel/labelnode/flip/label.isshown"), "1");
    Run("/usr/share/scene/avmodel/labelnode/flip/label.hide");
    EXPECT_FALSE(label->isShown());
    Run("/usr/share/scene/avmodel/labelnode/flip/label.setcolor blue");
    EXPECT_EQ(label->getColor(), zuwLabel::Color::getColorByName("Blue"));
    EXPECT_EQ(RunFailing("/usr/share/scene/avmodel/labelnode/flip/label.setcolor Plaid"),
              "unknown colour 'Plaid'");
    EXPECT_EQ(label->getColor(), zuwLabel::Color::getColorByName("Blue"));
    EXPECT_NE(RunFailing("/usr/share/scene/avmodel/labelnode/flip/label.settext a b")
                  .find("wrong # args"),
              std::string::npos);
}

} // namespace
