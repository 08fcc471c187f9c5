// The program's resources: every dialog template registered with its controls, and the
// pictures compiled in. The test main has registered them already.
#include "platform/window_system.h"
#include "resource.h"

#include <QFile>
#include <gtest/gtest.h>

#include <set>

namespace {

using platform::ControlKind;
using platform::ControlTemplate;
using platform::DialogTemplate;

const DialogTemplate& Template(int id) {
    const DialogTemplate* found = platform::FindDialogTemplate(id);
    if (found == nullptr) {
        ADD_FAILURE() << "template " << id << " is not registered";
        static const DialogTemplate none{};
        return none;
    }
    return *found;
}

const ControlTemplate* Control(const DialogTemplate& dialog, int id) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

// Controls without an id, found by their text.
const ControlTemplate* ControlWithText(const DialogTemplate& dialog, const std::string& text) {
    for (const ControlTemplate& control : dialog.controls) {
        if (control.text == text) {
            return &control;
        }
    }
    return nullptr;
}

void ExpectPlace(const ControlTemplate* control, int x, int y, int cx, int cy) {
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->x, x);
    EXPECT_EQ(control->y, y);
    EXPECT_EQ(control->cx, cx);
    EXPECT_EQ(control->cy, cy);
}

bool Has(std::uint32_t style, std::uint32_t bits) {
    return (style & bits) == bits;
}

TEST(ResourceTemplates, EveryDialog_IsRegisteredWithItsControlCount) {
    const std::pair<int, size_t> expected[] = {{IDD_LOGIN, 11},  {IDD_SETUP, 27},
                                               {IDD_RENAME, 4},  {IDD_PROGRESS, 2},
                                               {IDD_STARTUP, 2}, {IDD_ADJUST, 11}};
    for (const auto& [id, count] : expected) {
        const DialogTemplate& dialog = Template(id);
        EXPECT_EQ(dialog.id, id);
        EXPECT_EQ(dialog.controls.size(), count) << "template " << id;
        EXPECT_EQ(dialog.font, "MS Sans Serif") << "template " << id;
        EXPECT_EQ(dialog.fontSize, 8) << "template " << id;
    }
}

TEST(ResourceTemplates, EveryDialog_IdsAreUniqueAndUnnamedControlsUseMinusOne) {
    for (int id : {IDD_LOGIN, IDD_SETUP, IDD_RENAME, IDD_PROGRESS, IDD_STARTUP, IDD_ADJUST}) {
        std::set<int> ids;
        for (const ControlTemplate& control : Template(id).controls) {
            EXPECT_TRUE(control.id == -1 || control.id > 0) << "template " << id;
            if (control.id != -1) {
                EXPECT_TRUE(ids.insert(control.id).second)
                    << "template " << id << " repeats id " << control.id;
            }
        }
    }
}

TEST(ResourceTemplates, Login_BannerEditsButtonsAndHiddenCancel) {
    const DialogTemplate& login = Template(IDD_LOGIN);
    EXPECT_EQ(login.caption, "Vantor Pelora - Login");
    EXPECT_TRUE(login.extended);
    EXPECT_EQ(login.cx, 257);
    EXPECT_EQ(login.cy, 335);
    EXPECT_TRUE(Has(login.style, platform::DS_CENTER | platform::WS_CAPTION | platform::WS_SYSMENU |
                                     platform::WS_MINIMIZEBOX));
    EXPECT_FALSE(Has(login.style, platform::WS_VISIBLE));

    const ControlTemplate* banner = Control(login, IDC_LOGIN_BANNER);
    ExpectPlace(banner, 12, 10, 233, 197);
    EXPECT_EQ(banner->kind, ControlKind::StaticBitmap);
    EXPECT_EQ(banner->bitmapId, IDB_BANNER);
    EXPECT_FALSE(Has(banner->style, platform::SS_NOTIFY));

    const ControlTemplate* password = Control(login, IDC_LOGIN_PASSWORD);
    ExpectPlace(password, 140, 261, 85, 15);
    EXPECT_TRUE(
        Has(password->style, platform::ES_PASSWORD | platform::WS_BORDER | platform::WS_TABSTOP));
    EXPECT_FALSE(Has(Control(login, IDC_LOGIN_USERNAME)->style, platform::ES_PASSWORD));

    EXPECT_EQ(Control(login, IDC_DRIVE_OFFLINE)->kind, ControlKind::DefPushButton);
    EXPECT_EQ(Control(login, IDC_DRIVE_ONLINE)->text, "Drive Online");
    EXPECT_EQ(Control(login, IDC_LOGIN_STATUS)->text, "--");
    const ControlTemplate* cancel = Control(login, IDC_CANCEL_LOGIN);
    ExpectPlace(cancel, 89, 306, 79, 15);
    EXPECT_TRUE(Has(cancel->style, platform::WS_HIDDEN));
    EXPECT_EQ(ControlWithText(login, "Login")->kind, ControlKind::GroupBox);
    EXPECT_EQ(ControlWithText(login, "Login")->id, -1);
}

TEST(ResourceTemplates, Setup_ControlsInTabOrderWithTheirStyles) {
    const DialogTemplate& setup = Template(IDD_SETUP);
    EXPECT_EQ(setup.caption, "Vantor Pelora - User Setup");
    EXPECT_EQ(setup.cx, 367);
    EXPECT_EQ(setup.cy, 287);
    ASSERT_FALSE(setup.controls.empty());
    EXPECT_EQ(setup.controls.front().id, IDC_SETUP_VEHICLE);
    EXPECT_EQ(setup.controls.back().id, IDC_SETUP_ADJUST);

    const ControlTemplate* adjust = Control(setup, IDC_SETUP_ADJUST);
    EXPECT_EQ(adjust->text, "Adjust Wheelchair ");
    ExpectPlace(adjust, 15, 255, 85, 14);

    const ControlTemplate* users = Control(setup, IDC_SETUP_ONLINE_USERS);
    ExpectPlace(users, 245, 20, 105, 218);
    EXPECT_EQ(users->kind, ControlKind::ListBox);
    EXPECT_TRUE(Has(users->style, platform::LBS_SORT | platform::LBS_NOSEL | platform::WS_BORDER |
                                      platform::WS_VSCROLL | platform::LBS_NOINTEGRALHEIGHT));

    const ControlTemplate* difficulty = Control(setup, IDC_SETUP_DIFFICULTY);
    ExpectPlace(difficulty, 160, 159, 56, 13);
    EXPECT_TRUE(Has(difficulty->style, platform::SS_SUNKEN));

    EXPECT_EQ(Control(setup, IDC_SETUP_DRIVE)->kind, ControlKind::DefPushButton);
    EXPECT_EQ(Control(setup, IDC_SETUP_FEMALE)->kind, ControlKind::AutoRadioButton);
    EXPECT_EQ(Control(setup, IDC_SETUP_WORLD)->kind, ControlKind::ComboDropList);
    EXPECT_FALSE(Has(Control(setup, IDC_SETUP_WORLD)->style, platform::CBS_SORT));
    EXPECT_EQ(Control(setup, IDC_SETUP_WORLD_THUMB)->kind, ControlKind::StaticBitmap);
    EXPECT_EQ(Control(setup, IDC_SETUP_WORLD_THUMB)->bitmapId, 0);
    ExpectPlace(ControlWithText(setup, "Online Users"), 235, 7, 125, 273);
}

TEST(ResourceTemplates, Rename_PopupWithPromptAndButtons) {
    const DialogTemplate& rename = Template(IDD_RENAME);
    EXPECT_EQ(rename.caption, "");
    EXPECT_FALSE(rename.extended);
    EXPECT_EQ(rename.cx, 162);
    EXPECT_EQ(rename.cy, 122);
    EXPECT_TRUE(Has(rename.style, platform::WS_POPUP | platform::DS_MODALFRAME));
    EXPECT_FALSE(Has(rename.style, platform::WS_SYSMENU));
    EXPECT_EQ(Control(rename, IDC_RENAME_OK)->text, "Rename");
    EXPECT_EQ(Control(rename, IDC_RENAME_OK)->kind, ControlKind::DefPushButton);
    EXPECT_EQ(Control(rename, IDC_RENAME_PROMPT)->text, "Static");
    ExpectPlace(Control(rename, IDC_RENAME_EDIT), 30, 70, 95, 15);
    EXPECT_TRUE(Has(Control(rename, IDC_RENAME_EDIT)->style, platform::ES_AUTOHSCROLL));
}

TEST(ResourceTemplates, Adjust_OkDefaultAndTwoTrackbars) {
    const DialogTemplate& adjust = Template(IDD_ADJUST);
    EXPECT_EQ(adjust.caption, "Adjust Wheelchair Characteristics");
    EXPECT_EQ(adjust.cx, 161);
    EXPECT_EQ(adjust.cy, 165);
    const ControlTemplate* ok = Control(adjust, platform::IDOK);
    ExpectPlace(ok, 7, 144, 50, 14);
    EXPECT_EQ(ok->kind, ControlKind::DefPushButton);
    EXPECT_EQ(Control(adjust, platform::IDCANCEL)->text, "Cancel");
    for (int slider : {IDC_ADJUST_SPEED, IDC_ADJUST_AXIS}) {
        const ControlTemplate* trackbar = Control(adjust, slider);
        ASSERT_NE(trackbar, nullptr);
        EXPECT_EQ(trackbar->kind, ControlKind::Trackbar);
        EXPECT_TRUE(
            Has(trackbar->style, platform::TBS_HORZ | platform::TBS_BOTH | platform::WS_TABSTOP));
    }
    ExpectPlace(Control(adjust, IDC_ADJUST_AXIS), 11, 90, 136, 22);
    ExpectPlace(ControlWithText(adjust, "100%"), 96, 45, 18, 8);
    EXPECT_EQ(ControlWithText(adjust, "Front")->id, -1);
}

TEST(ResourceTemplates, ProgressWindows_VisiblePopupsWithCentredStatics) {
    const DialogTemplate& progress = Template(IDD_PROGRESS);
    EXPECT_EQ(progress.cx, 250);
    EXPECT_EQ(progress.cy, 68);
    EXPECT_TRUE(Has(progress.style, platform::WS_POPUP | platform::WS_VISIBLE |
                                        platform::DS_CENTER | platform::DS_MODALFRAME |
                                        platform::DS_SETFOREGROUND));
    const ControlTemplate* headline = Control(progress, IDC_PROGRESS_HEADLINE);
    ExpectPlace(headline, 51, 16, 150, 15);
    EXPECT_EQ(headline->text, "...");
    EXPECT_TRUE(Has(headline->style, platform::SS_CENTER));
    EXPECT_TRUE(Has(Control(progress, IDC_PROGRESS_DETAIL)->style, platform::SS_CENTER));

    const DialogTemplate& startup = Template(IDD_STARTUP);
    EXPECT_EQ(startup.cx, 177);
    EXPECT_EQ(startup.cy, 67);
    EXPECT_TRUE(Has(startup.style, platform::WS_POPUP | platform::WS_VISIBLE));
    EXPECT_FALSE(Has(startup.style, platform::DS_SETFOREGROUND));
    ExpectPlace(Control(startup, IDC_STARTUP_STATUS), 21, 35, 135, 15);
    EXPECT_EQ(ControlWithText(startup, "Starting Pelora")->id, -1);
}

TEST(ResourcePictures, BannerIconAndCursor_AreCompiledIn) {
    for (const char* path : {":/res/banner107.bmp", ":/res/icon104.png", ":/res/cursor113.png"}) {
        EXPECT_TRUE(QFile::exists(path)) << path;
    }
}

TEST(ResourcePictures, RegisteredIds_LoadThroughTheWindowSystem) {
    platform::HBITMAP banner = platform::LoadBitmapResource(IDB_BANNER);
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(platform::BitmapWidth(banner), 350);
    EXPECT_EQ(platform::BitmapHeight(banner), 320);
    EXPECT_NE(platform::LoadIconResource(IDI_PELORA), nullptr);
    EXPECT_NE(platform::LoadCursorResource(IDC_LINK_HAND), nullptr);
}

} // namespace
