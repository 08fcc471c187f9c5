// Controls by dialog and id: texts and their length bound, buttons, combo boxes, list boxes
// and trackbars, with the notifications the user's actions send.
#include "platform_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSlider>

namespace platformtest {
namespace {

using ControlsTest = PlatformTest;

TEST_F(ControlsTest, Texts_RoundTripInUtf8) {
    HWND w = Open(kForm);
    EXPECT_EQ(GetDlgItemText(w, kStatus, 127), "--");
    ASSERT_TRUE(SetDlgItemText(w, kStatus, "Welcome to Pelora Version 2.1"));
    EXPECT_EQ(GetDlgItemText(w, kStatus, 127), "Welcome to Pelora Version 2.1");
    ASSERT_TRUE(SetDlgItemText(w, kName, "J\xC3\xBCrgen"));
    EXPECT_EQ(GetDlgItemText(w, kName, 127), "J\xC3\xBCrgen");
    EXPECT_EQ(GetDlgItemText(w, kOffline, 127), "Offline");
    EXPECT_FALSE(SetDlgItemText(w, 12345, "x"));
}

TEST_F(ControlsTest, StaticText_ShownAsPlainText) {
    HWND w = Open(kForm);
    SetDlgItemText(w, kStatus, "<b>bold</b>");
    auto* label = qobject_cast<QLabel*>(Control(w, kStatus));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(GetDlgItemText(w, kStatus, 127), "<b>bold</b>");
}

TEST_F(ControlsTest, GetDlgItemText_CutsToMaxChars) {
    HWND w = Open(kForm);
    SetDlgItemText(w, kName, "abcdefgh");
    EXPECT_EQ(GetDlgItemText(w, kName, 3), "abc");
    EXPECT_EQ(GetDlgItemText(w, kName, 8), "abcdefgh");
    EXPECT_EQ(GetDlgItemText(w, kName, 0), "");
    EXPECT_EQ(GetDlgItemText(w, kName, -1), "");
}

TEST_F(ControlsTest, GetDlgItemText_NeverSplitsCharacterOrOverrunsBuffer) {
    HWND w = Open(kForm);
    SetDlgItemText(w, kName, "\xC3\xA4\xC3\xB6\xC3\xBC"); // three two-byte letters
    EXPECT_EQ(GetDlgItemText(w, kName, 3), "\xC3\xA4");
    EXPECT_EQ(GetDlgItemText(w, kName, 4), "\xC3\xA4\xC3\xB6");
    EXPECT_EQ(GetDlgItemText(w, kName, 1), "");
}

TEST_F(ControlsTest, RadioButtons_ClickSendsCommandAndChecks) {
    HWND w = OpenShown(kChoices);
    EXPECT_EQ(IsDlgButtonChecked(w, kMale), BST_UNCHECKED);
    QTest::mouseClick(Control(w, kFemale), Qt::LeftButton);
    EXPECT_EQ(CountCommand(kFemale, BN_CLICKED), 1);
    EXPECT_EQ(IsDlgButtonChecked(w, kFemale), BST_CHECKED);

    // As on the classic platform, checking by program touches only the button named.
    ASSERT_TRUE(CheckDlgButton(w, kMale, BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(w, kMale), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(w, kFemale), BST_CHECKED);
    ASSERT_TRUE(CheckDlgButton(w, kFemale, BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(w, kFemale), BST_UNCHECKED);
    ASSERT_TRUE(CheckDlgButton(w, kMale, BST_UNCHECKED));
    EXPECT_EQ(IsDlgButtonChecked(w, kMale), BST_UNCHECKED);
    EXPECT_EQ(CountCommand(kMale, BN_CLICKED), 0);

    // The user's click still makes the pair exclusive.
    QTest::mouseClick(Control(w, kMale), Qt::LeftButton);
    EXPECT_EQ(IsDlgButtonChecked(w, kMale), BST_CHECKED);
    QTest::mouseClick(Control(w, kFemale), Qt::LeftButton);
    EXPECT_EQ(IsDlgButtonChecked(w, kMale), BST_UNCHECKED);
    EXPECT_FALSE(CheckDlgButton(w, kCombo, BST_CHECKED));
}

// ---- combo boxes -------------------------------------------------------------------------------

TEST_F(ControlsTest, UnsortedCombo_KeepsAddingOrder) {
    HWND w = Open(kChoices);
    EXPECT_EQ(ComboBoxAddString(w, kCombo, "Red"), 0);
    EXPECT_EQ(ComboBoxAddString(w, kCombo, "blue"), 1);
    EXPECT_EQ(ComboBoxAddString(w, kCombo, "Amber"), 2);
    EXPECT_EQ(ComboBoxGetCount(w, kCombo), 3);
    EXPECT_EQ(ComboBoxGetText(w, kCombo, 0), "Red");
    EXPECT_EQ(ComboBoxGetText(w, kCombo, 2), "Amber");
    EXPECT_EQ(ComboBoxGetText(w, kCombo, 3), "");
    EXPECT_EQ(ComboBoxGetCurSel(w, kCombo), -1);
}

TEST_F(ControlsTest, SortedCombo_InsertsCaseInsensitively) {
    HWND w = Open(kChoices);
    EXPECT_EQ(ComboBoxAddString(w, kSortedCombo, "delta"), 0);
    EXPECT_EQ(ComboBoxAddString(w, kSortedCombo, "Bravo"), 0);
    EXPECT_EQ(ComboBoxAddString(w, kSortedCombo, "charlie"), 1);
    EXPECT_EQ(ComboBoxAddString(w, kSortedCombo, "alpha"), 0);
    std::vector<std::string> items;
    for (int i = 0; i < ComboBoxGetCount(w, kSortedCombo); ++i)
        items.push_back(ComboBoxGetText(w, kSortedCombo, i));
    EXPECT_EQ(items, (std::vector<std::string>{"alpha", "Bravo", "charlie", "delta"}));
}

TEST_F(ControlsTest, ComboSetCurSel_SelectsSilently) {
    HWND w = Open(kChoices);
    ComboBoxAddString(w, kCombo, "one");
    ComboBoxAddString(w, kCombo, "two");
    Log().clear();
    EXPECT_TRUE(ComboBoxSetCurSel(w, kCombo, 1));
    EXPECT_EQ(ComboBoxGetCurSel(w, kCombo), 1);
    EXPECT_EQ(GetDlgItemText(w, kCombo, 127), "two");
    EXPECT_FALSE(ComboBoxSetCurSel(w, kCombo, 5));
    EXPECT_EQ(ComboBoxGetCurSel(w, kCombo), -1);
    EXPECT_TRUE(Log().empty());
}

TEST_F(ControlsTest, ComboUserSelection_SendsSelChange) {
    HWND w = OpenShown(kChoices);
    ComboBoxAddString(w, kCombo, "one");
    ComboBoxAddString(w, kCombo, "two");
    ComboBoxSetCurSel(w, kCombo, 0);
    QWidget* combo = Control(w, kCombo);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Down);
    EXPECT_EQ(CountCommand(kCombo, CBN_SELCHANGE), 1);
    EXPECT_EQ(ComboBoxGetCurSel(w, kCombo), 1);
}

TEST_F(ControlsTest, ComboReset_EmptiesWithoutNotification) {
    HWND w = Open(kChoices);
    ComboBoxAddString(w, kCombo, "one");
    ComboBoxSetCurSel(w, kCombo, 0);
    Log().clear();
    EXPECT_TRUE(ComboBoxResetContent(w, kCombo));
    EXPECT_EQ(ComboBoxGetCount(w, kCombo), 0);
    EXPECT_EQ(ComboBoxGetCurSel(w, kCombo), -1);
    EXPECT_TRUE(Log().empty());
}

TEST_F(ControlsTest, ComboCalls_OnOtherControlKinds_Fail) {
    HWND w = Open(kChoices);
    EXPECT_EQ(ComboBoxAddString(w, kSortedList, "x"), -1);
    EXPECT_EQ(ListBoxAddString(w, kCombo, "x"), -1);
    EXPECT_FALSE(TrackbarSetPos(w, kCombo, 3, true));
}

// ---- list boxes --------------------------------------------------------------------------------

TEST_F(ControlsTest, SortedList_InsertsCaseInsensitively) {
    HWND w = Open(kChoices);
    ListBoxAddString(w, kSortedList, "zoe");
    ListBoxAddString(w, kSortedList, "Adam");
    ListBoxAddString(w, kSortedList, "bea");
    EXPECT_EQ(ListBoxAddString(w, kSortedList, "Carl"), 2);
    ASSERT_EQ(ListBoxGetCount(w, kSortedList), 4);
    EXPECT_EQ(ListBoxGetText(w, kSortedList, 0), "Adam");
    EXPECT_EQ(ListBoxGetText(w, kSortedList, 1), "bea");
    EXPECT_EQ(ListBoxGetText(w, kSortedList, 2), "Carl");
    EXPECT_EQ(ListBoxGetText(w, kSortedList, 3), "zoe");
    EXPECT_EQ(ListBoxGetText(w, kSortedList, 4), "");
    EXPECT_TRUE(ListBoxResetContent(w, kSortedList));
    EXPECT_EQ(ListBoxGetCount(w, kSortedList), 0);
}

TEST_F(ControlsTest, NoSelList_CannotBeSelected) {
    HWND w = OpenShown(kChoices);
    ListBoxAddString(w, kNoSelList, "( Not logged in. )");
    auto* list = qobject_cast<QListWidget*>(Control(w, kNoSelList));
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(ListBoxGetText(w, kNoSelList, 0), "( Not logged in. )");
}

// ---- trackbars ---------------------------------------------------------------------------------

TEST_F(ControlsTest, Trackbar_SettingsReadBack) {
    HWND w = Open(kChoices);
    ASSERT_TRUE(TrackbarSetRange(w, kSlider, -10, 30, true));
    ASSERT_TRUE(TrackbarSetPageSize(w, kSlider, 5));
    TrackbarSetTick(w, kSlider, 10);
    TrackbarSetTick(w, kSlider, 0);
    TrackbarSetTick(w, kSlider, 10);
    ASSERT_TRUE(TrackbarSetPos(w, kSlider, 12, true));
    EXPECT_EQ(TrackbarGetRange(w, kSlider), std::make_pair(-10, 30));
    EXPECT_EQ(TrackbarGetPageSize(w, kSlider), 5);
    EXPECT_EQ(TrackbarGetTicks(w, kSlider), (std::vector<int>{0, 10}));
    EXPECT_EQ(TrackbarGetPos(w, kSlider), 12);
    auto* slider = qobject_cast<QSlider*>(Control(w, kSlider));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);
    EXPECT_EQ(slider->tickPosition(), QSlider::TicksBothSides);
}

TEST_F(ControlsTest, TrackbarSetPos_SendsNothing) {
    HWND w = Open(kChoices);
    Log().clear();
    TrackbarSetRange(w, kSlider, 0, 20, true);
    TrackbarSetPos(w, kSlider, 15, true);
    TrackbarSetRange(w, kSlider, 0, 10, true); // clamps the position
    EXPECT_EQ(TrackbarGetPos(w, kSlider), 10);
    EXPECT_TRUE(Log().empty());
}

TEST_F(ControlsTest, TrackbarUserMove_SendsHScrollWithControlId) {
    HWND w = OpenShown(kChoices);
    TrackbarSetRange(w, kSlider, 0, 20, true);
    TrackbarSetPos(w, kSlider, 5, true);
    int seenPosition = -1;
    CurrentBehaviour() = [&](HWND d, unsigned m, WPARAM, LPARAM id) {
        if (m == WM_HSCROLL)
            seenPosition = TrackbarGetPos(d, int(id));
        return true;
    };
    QWidget* slider = Control(w, kSlider);
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    ASSERT_EQ(Count(WM_HSCROLL), 1);
    EXPECT_EQ(Last(WM_HSCROLL)->lParam, kSlider);
    EXPECT_EQ(Last(WM_HSCROLL)->window, w);
    EXPECT_EQ(seenPosition, 6);
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(Count(WM_HSCROLL), 2);
    EXPECT_EQ(seenPosition, 20);
}

TEST_F(ControlsTest, TrackbarDrag_TracksThenReportsPositionAndEnd) {
    HWND w = OpenShown(kChoices);
    TrackbarSetRange(w, kSlider, 0, 20, true);
    auto* slider = qobject_cast<QSlider*>(Control(w, kSlider));
    ASSERT_NE(slider, nullptr);
    // What the slider's mouse handling does while the thumb is dragged.
    slider->setSliderDown(true);
    slider->setSliderPosition(8);
    slider->setSliderDown(false);
    std::vector<std::pair<unsigned, unsigned>> codes; // (code, position)
    for (const auto& r : Log()) {
        if (r.message == WM_HSCROLL) {
            EXPECT_EQ(r.lParam, kSlider);
            codes.emplace_back(LOWORD(r.wParam), HIWORD(r.wParam));
        }
    }
    const std::vector<std::pair<unsigned, unsigned>> expected{{5, 8}, {4, 8}, {8, 0}};
    EXPECT_EQ(codes, expected); // TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK
}

TEST_F(ControlsTest, DropList_HeightIsTheClosedBox) {
    HWND w = Open(kChoices);
    Rect r;
    ASSERT_TRUE(GetControlRect(w, kCombo, &r));
    EXPECT_EQ(r.left, DialogUnitsToPixelsX(10));
    EXPECT_EQ(r.right - r.left, DialogUnitsToPixelsX(100));
    EXPECT_GT(r.bottom - r.top, 0);
    EXPECT_LT(r.bottom - r.top, DialogUnitsToPixelsY(80));
}

} // namespace
} // namespace platformtest
