// The colour list and the vehicle catalogue: which folders are vehicles, the limit, the
// stored choices and the thumbnail.
#include "platform/file_system.h"
#include "setup_fixture.h"

namespace {

class VehicleCatalogueTest : public SetupTest {
protected:
    struct Opened {
        std::vector<std::string> vehicles;
        std::vector<std::string> colors;
        std::string vehicle;
        std::string color;
    };
    Opened OpenAvatarGroup() {
        Opened opened;
        WithSetupDialog([&](platform::HWND window) {
            MakeUserSettings();
            FillColorList();
            FillVehicleList();
            UpdateVehicleChoice();
            opened.vehicles = ComboItems(window, IDC_SETUP_VEHICLE);
            opened.colors = ComboItems(window, IDC_SETUP_COLOR);
            opened.vehicle = Selected(window, IDC_SETUP_VEHICLE);
            opened.color = Selected(window, IDC_SETUP_COLOR);
        });
        return opened;
    }
    // Folder names in the order the folder search gives them.
    std::vector<std::string> ScanOrder() const {
        std::vector<std::string> names;
        platform::FolderSearch search((home / "avatars").string());
        platform::FolderEntry entry;
        while (search.Next(entry))
            names.push_back(entry.name);
        return names;
    }
};

TEST_F(VehicleCatalogueTest, Colors_SixInOrderFirstChosenByDefault) {
    AddVehicle("Chair");
    auto opened = OpenAvatarGroup();
    EXPECT_EQ(opened.colors,
              (std::vector<std::string>{"Red", "Orange", "Yellow", "Green", "Blue", "Violet"}));
    EXPECT_EQ(opened.color, "Red");
    EXPECT_STREQ(g_state.vehicleColor, "Red");
    EXPECT_EQ(StoredValue("vehicle-color"), "Red");
}

TEST_F(VehicleCatalogueTest, StoredColor_ExactCaseSelectsIt) {
    WriteUserSettings("vehicle-color=Green\n");
    EXPECT_EQ(OpenAvatarGroup().color, "Green");
}

TEST_F(VehicleCatalogueTest, StoredColorInLowerCase_SelectsRed) {
    WriteUserSettings("vehicle-color=blue\n");
    auto opened = OpenAvatarGroup();
    EXPECT_EQ(opened.color, "Red");
    EXPECT_EQ(StoredValue("vehicle-color"), "Red");
}

TEST_F(VehicleCatalogueTest, ExcludedNamesAndPlainFiles_NeverListed) {
    for (const char* name : {"Ghost", "cvs", "ICONS", "ghost2", "Power"})
        AddVehicle(name);
    home.WriteFile("avatars/readme.txt", "x");
    auto opened = OpenAvatarGroup();
    std::vector<std::string> expected;
    for (const auto& name : ScanOrder()) {
        if (name == "ghost2" || name == "Power")
            expected.push_back(name);
    }
    EXPECT_EQ(opened.vehicles, expected);
    EXPECT_EQ(opened.vehicles.size(), 2u);
}

TEST_F(VehicleCatalogueTest, MoreThanHundredFolders_FirstHundredInScanOrder) {
    for (int i = 0; i < 105; ++i)
        AddVehicle("v" + std::to_string(i));
    auto scan = ScanOrder();
    auto opened = OpenAvatarGroup();
    ASSERT_EQ(opened.vehicles.size(), size_t(kMaxVehicles));
    EXPECT_EQ(opened.vehicles, std::vector<std::string>(scan.begin(), scan.begin() + 100));
}

TEST_F(VehicleCatalogueTest, StoredVehicle_SelectedAndStoredAgain) {
    AddVehicle("Alpha");
    AddVehicle("Beta");
    WriteUserSettings("vehicle-type=Beta\n");
    auto opened = OpenAvatarGroup();
    EXPECT_EQ(opened.vehicle, "Beta");
    EXPECT_STREQ(g_state.vehicleType, "Beta");
    EXPECT_EQ(StoredValue("vehicle-type"), "Beta");
}

TEST_F(VehicleCatalogueTest, UnknownStoredVehicle_SelectsFirst) {
    AddVehicle("Alpha");
    WriteUserSettings("vehicle-type=Gone\n");
    auto opened = OpenAvatarGroup();
    EXPECT_EQ(opened.vehicle, "Alpha");
    EXPECT_EQ(StoredValue("vehicle-type"), "Alpha");
}

TEST_F(VehicleCatalogueTest, OverlongFolderName_LeftOutAndLogged) {
    std::string longName(130, 'x');
    AddVehicle(longName);
    AddVehicle("Short");
    auto opened = OpenAvatarGroup();
    EXPECT_EQ(opened.vehicles, std::vector<std::string>{"Short"});
    EXPECT_TRUE(log.Contains(longName));
}

TEST_F(VehicleCatalogueTest, FolderNameNotUtf8_LeftOutAndNamedSafelyInTheLog) {
    AddVehicle("Fa\xdf"
               "bar"); // Latin-1
    AddVehicle("Plain");
    auto opened = OpenAvatarGroup();
    EXPECT_EQ(opened.vehicles, std::vector<std::string>{"Plain"});
    EXPECT_TRUE(log.Contains("not UTF-8 left out: Fa\\xDFbar\n"));
}

TEST_F(VehicleCatalogueTest, NoVehicles_FieldKeptAndStoredAsItWas) {
    CopyName(g_state.vehicleType, "Earlier");
    auto opened = OpenAvatarGroup();
    EXPECT_TRUE(opened.vehicles.empty());
    EXPECT_EQ(opened.vehicle, "<none>");
    EXPECT_STREQ(g_state.vehicleType, "Earlier");
    EXPECT_EQ(StoredValue("vehicle-type"), "Earlier");
}

TEST_F(VehicleCatalogueTest, ColourChange_ShowsThumbnailOfNewColourElseKeepsPicture) {
    AddVehicle("Chair");
    WriteBitmap("avatars/Chair/thumbs/Red.bmp", 10);
    WriteBitmap("avatars/Chair/thumbs/Blue.bmp", 20);
    WithSetupDialog([&](platform::HWND window) {
        MakeUserSettings();
        FillColorList();
        FillVehicleList();
        UpdateVehicleChoice();
        auto picture = [&] {
            return platform::BitmapWidth(
                platform::GetStaticBitmap(window, IDC_SETUP_VEHICLE_THUMB));
        };
        EXPECT_EQ(picture(), 10);

        platform::ComboBoxSetCurSel(window, IDC_SETUP_COLOR, 4); // Blue
        UpdateVehicleChoice();
        EXPECT_EQ(picture(), 20);
        EXPECT_EQ(g_state.userSettings->getVehicleColor(), "Blue");
        EXPECT_EQ(g_state.userSettings->getVehicleType(), "Chair");

        platform::ComboBoxSetCurSel(window, IDC_SETUP_COLOR, 5); // Violet: no file
        UpdateVehicleChoice();
        EXPECT_EQ(picture(), 20);
        EXPECT_STREQ(g_state.vehicleColor, "Violet");
        EXPECT_EQ(StoredValue("vehicle-color"), "Violet");
    });
}

} // namespace
