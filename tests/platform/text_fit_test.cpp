// Every text of every dialog shows in full at the platform's default font: each template's
// static texts, buttons, radio buttons and group titles, and the texts the program writes
// into its labels, measured where the style really draws them, with room to spare. Status
// texts with more lines than their control holds grow into free room.
#include "platform_fixture.h"

#include "config/config.h"
#include "resource.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>

#include <sstream>

namespace platformtest {
namespace {

const int kProgramDialogs[] = {IDD_LOGIN,    IDD_SETUP,   IDD_RENAME,
                               IDD_PROGRESS, IDD_STARTUP, IDD_ADJUST};

// Where a control draws its text, and the size the text needs there.
struct TextRoom {
    QString text;
    QRect room;
    QSize needed;
    bool wraps = false;
};

bool Measure(QWidget* w, TextRoom* out) {
    const QFontMetrics fm(w->font());
    QStyle* style = w->style();
    if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() || !label->pixmap().isNull())
            return false;
        out->text = label->text();
        out->room = label->contentsRect();
        out->wraps = label->wordWrap();
        const int flags = int(label->alignment()) | (out->wraps ? int(Qt::TextWordWrap) : 0);
        out->needed =
            fm.boundingRect(QRect(0, 0, out->room.width(), 10000), flags, label->text()).size();
        return true;
    }
    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(radio);
        option.text = radio->text();
        out->text = radio->text();
        out->room = style->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
        out->needed = fm.size(Qt::TextShowMnemonic, radio->text());
        return true;
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        out->text = button->text();
        if (button->isDefault())
            option.features |= QStyleOptionButton::DefaultButton;
        out->room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        out->needed = fm.size(Qt::TextShowMnemonic, button->text());
        return true;
    }
    if (auto* box = qobject_cast<QGroupBox*>(w)) {
        if (box->title().isEmpty())
            return false;
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        out->text = box->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        // The title's own rectangle must lie inside the box with the text's room after it.
        const QRect label =
            style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
        out->room = QRect(label.left(), label.top(), box->width() - label.left(), label.height());
        out->needed = fm.size(Qt::TextShowMnemonic, box->title());
        return true;
    }
    return false;
}

// Problems of a dialog's texts (or of one control's), one line each; empty when every text
// fits with room.
std::string TextProblems(HWND dialog, const std::string& what, int onlyId = 0) {
    std::ostringstream problems;
    DialogWindow* d = detail::LiveDialog(dialog);
    const QRect client(QPoint(0, 0), d->size());
    const int spare = QFontMetrics(d->font()).averageCharWidth() / 2;
    for (const auto& record : d->Controls()) {
        QWidget* w = record->widget;
        TextRoom fit;
        if (!w || (onlyId != 0 && record->layout.id != onlyId) || !Measure(w, &fit))
            continue;
        const std::string name = what + " control " + std::to_string(record->layout.id) + " \"" +
                                 fit.text.toStdString() + "\"";
        if (!client.contains(w->geometry()))
            problems << name << ": lies outside the window\n";
        // A text on one line needs room to spare after it; wrapped lines fill their width.
        const bool oneLine = fit.needed.height() <= QFontMetrics(w->font()).height();
        const int across = fit.needed.width() + (oneLine ? spare : 0);
        if (across > fit.room.width())
            problems << name << ": needs " << across << " px across, has " << fit.room.width()
                     << "\n";
        if (fit.needed.height() > fit.room.height())
            problems << name << ": needs " << fit.needed.height() << " px down, has "
                     << fit.room.height() << "\n";
    }
    return problems.str();
}

class TextFit : public PlatformTest {
protected:
    HWND OpenProgramDialog(int id) {
        HWND dialog = CreateDialogParam(nullptr, id, nullptr, SilentProc, 0);
        EXPECT_NE(dialog, nullptr) << id;
        return dialog;
    }
    // Writes `text` into a control and gives what does not fit, if anything.
    std::string WriteAndCheck(HWND dialog, int id, const std::string& text) {
        EXPECT_TRUE(SetDlgItemText(dialog, id, text)) << id;
        return TextProblems(dialog, "\"" + text + "\" in", id);
    }
};

TEST_F(TextFit, EveryTemplateText_ShowsInFullWithRoomToSpare) {
    for (int id : kProgramDialogs) {
        HWND dialog = OpenProgramDialog(id);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(TextProblems(dialog, "dialog " + std::to_string(id)), "");
        DestroyWindow(dialog);
    }
}

// The labels the program fills in, at their longest.
TEST_F(TextFit, TextsTheProgramWrites_ShowInFull) {
    HWND setup = OpenProgramDialog(IDD_SETUP);
    for (int difficulty = 0; difficulty <= 5; ++difficulty)
        EXPECT_EQ(WriteAndCheck(setup, IDC_SETUP_DIFFICULTY, DifficultyLabel(difficulty)), "");
    EXPECT_EQ(WriteAndCheck(setup, IDC_SETUP_TIME, FormatUserTime(999 * 3600 + 59 * 60 + 59)), "");
    EXPECT_EQ(WriteAndCheck(setup, IDC_SETUP_LEVEL, "99"), "");

    HWND adjust = OpenProgramDialog(IDD_ADJUST);
    // A stored speed scale of 2.0 shows its own value beside the slider's end.
    for (int position : {0, 50, 70, 150})
        EXPECT_EQ(WriteAndCheck(adjust, IDC_ADJUST_SPEED_LABEL, SpeedLabel(position)), "");
    for (int position : {0, 100, 200})
        EXPECT_EQ(WriteAndCheck(adjust, IDC_ADJUST_AXIS_LABEL, AxisLabel(position)), "");

    HWND progress = OpenProgramDialog(IDD_PROGRESS);
    for (const char* text :
         {"Saving settings...", "Encrypting data...", "Sending files to server..."})
        EXPECT_EQ(WriteAndCheck(progress, IDC_PROGRESS_HEADLINE, text), "");
    HWND startup = OpenProgramDialog(IDD_STARTUP);
    for (const char* text :
         {"Creating kernel...", "Configuring...", "Searching for headtracker..."})
        EXPECT_EQ(WriteAndCheck(startup, IDC_STARTUP_STATUS, text), "");
}

TEST_F(TextFit, LoginStatusTexts_ShowEveryLine) {
    HWND login = OpenProgramDialog(IDD_LOGIN);
    const std::string longName(119, 'W');
    for (const std::string& text :
         {std::string("Welcome to Pelora Version 2.1"),
          std::string("Verifying username and password..."),
          std::string("User Name and Password are case-sensitive.  Please try again."),
          std::string("Could not connect to server.  (Are you connected to the Internet?)"),
          std::string("Could not log in.  Timed out waiting for server."),
          "Could not log in.  User " + std::string(40, 'n') + " is already logged in.",
          "Password invalid for user \"" + std::string(60, 'p') + "\".  Please try again.",
          "User \"" + longName + "\" does not exist.  Please try again."}) {
        EXPECT_EQ(WriteAndCheck(login, IDC_LOGIN_STATUS, text), "") << text;
        // The breaks that let a long word wrap are not part of the text.
        EXPECT_EQ(GetDlgItemText(login, IDC_LOGIN_STATUS, 1000), text);
    }
}

// A message box shows every line of its text: the lines it is given, and a long name broken
// over lines instead of cut at the box's edge.
TEST_F(TextFit, MessageBoxes_ShowEveryLine) {
    const std::string longName(119, 'W');
    for (const std::string& text :
         {"User \"" + longName + "\" does not exist.  Please try again.",
          std::string("There was a problem with the network connection. \nYou will have to "
                      "login again.")}) {
        std::unique_ptr<QMessageBox> box =
            detail::BuildMessageBox(nullptr, text, "Login Error", MB_ICONERROR);
        box->show();
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(detail::VisibleText(label->text()).toStdString(), text);
        const QRect needed =
            label->fontMetrics().boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                              int(Qt::TextWordWrap), label->text());
        EXPECT_LE(needed.width(), label->contentsRect().width()) << text;
        EXPECT_LE(needed.height(), label->contentsRect().height()) << text;
        EXPECT_TRUE(box->geometry().intersects(box->screen()->availableGeometry()));
        EXPECT_LE(box->width(), box->screen()->availableGeometry().width());
    }
}

TEST_F(TextFit, BreakableText_BreaksOnlyWordsWiderThanTheRoom) {
    const QFontMetrics fm(detail::DialogFont());
    const QString plain = QStringLiteral("short words only here");
    EXPECT_EQ(detail::BreakableText(plain, fm, 200), plain);
    const QString word = QString(40, QChar('M'));
    const QString broken = detail::BreakableText("a " + word + " b", fm, 100);
    EXPECT_EQ(broken.count(QChar(0x200B)), 39);
    EXPECT_EQ(detail::VisibleText(broken), "a " + word + " b");
    // A character outside the basic plane is never split.
    const QString wide = QString::fromUtf8("\xF0\x9F\x98\x80").repeated(30);
    const QString wideBroken = detail::BreakableText(wide, fm, 50);
    for (qsizetype i = 0; i + 1 < wideBroken.size(); ++i)
        EXPECT_FALSE(wideBroken.at(i).isHighSurrogate() && wideBroken.at(i + 1) == QChar(0x200B));
}

// A status text longer than one line grows into the free room above the status line (the
// group box is right below it) and shrinks back for a short text.
TEST_F(TextFit, StatusLineWithManyLines_GrowsUpwardAndBack) {
    HWND login = OpenProgramDialog(IDD_LOGIN);
    Rect before;
    ASSERT_TRUE(GetControlRect(login, IDC_LOGIN_STATUS, &before));
    SetDlgItemText(login, IDC_LOGIN_STATUS,
                   "Password invalid for user \"" + std::string(90, 'p') + " " +
                       std::string(30, 'q') + "\".  Please try again.");
    Rect grown;
    ASSERT_TRUE(GetControlRect(login, IDC_LOGIN_STATUS, &grown));
    EXPECT_EQ(grown.bottom, before.bottom);
    EXPECT_LT(grown.top, before.top);
    Rect banner;
    ASSERT_TRUE(GetControlRect(login, IDC_LOGIN_BANNER, &banner));
    EXPECT_GE(grown.top, banner.bottom);

    SetDlgItemText(login, IDC_LOGIN_STATUS, "Ready.");
    Rect back;
    ASSERT_TRUE(GetControlRect(login, IDC_LOGIN_STATUS, &back));
    EXPECT_EQ(back.top, before.top);
    EXPECT_EQ(back.bottom, before.bottom);
}

TEST_F(TextFit, BaseUnits_FollowTheFontAndLeaveTheClassicOnesAtLeast) {
    const DialogBaseUnits units = GetDialogBaseUnits();
    const QFontMetricsF fm(detail::DialogFont());
    EXPECT_GE(units.x, 6);
    EXPECT_GE(units.y, 13);
    EXPECT_GT(units.x, fm.averageCharWidth());
    EXPECT_GT(units.y, fm.height());
    EXPECT_EQ(DialogUnitsToPixelsX(4), units.x);
    EXPECT_EQ(DialogUnitsToPixelsY(8), units.y);

    // A larger font for people who need one: the same dialogs grow with it.
    const QFont old = QApplication::font();
    QFont large = old;
    large.setPointSizeF(old.pointSizeF() * 2);
    QApplication::setFont(large);
    const DialogBaseUnits largeUnits = GetDialogBaseUnits();
    HWND adjust = CreateDialogParam(nullptr, IDD_ADJUST, nullptr, SilentProc, 0);
    const std::string problems = TextProblems(adjust, "large adjust");
    QApplication::setFont(old);
    EXPECT_GT(largeUnits.x, units.x);
    EXPECT_GT(largeUnits.y, units.y);
    EXPECT_EQ(problems, "");
}

} // namespace
} // namespace platformtest
