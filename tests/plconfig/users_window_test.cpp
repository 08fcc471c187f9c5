// The configuration window through its real code on Qt's offscreen platform, driven by key
// presses only: adding, refusals that keep what was typed, changing passwords, removing after
// a confirmation, the server page, the reading order of Tab, texts that are never clipped, and
// the guest account made when the window closes.
#include "fakes.h"
#include "user_dialogs.h"
#include "users_window.h"

#include "accounts/password_file.h"
#include "protocol/user_name.h"
#include "settings/global_settings.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

namespace fs = std::filesystem;
using namespace plconfig;

std::string Name(const QWidget* widget) {
    if (!widget)
        return "(none)";
    if (qobject_cast<const QTabBar*>(widget))
        return "tabs";
    return widget->objectName().toStdString();
}

// Every visible text that does not get the room it needs, as "class 'text'".
std::vector<std::string> ClippedTexts(QWidget* root) {
    std::vector<std::string> clipped;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        if (!widget->isVisible())
            continue;
        auto note = [&](const QString& text) {
            clipped.push_back(std::string(widget->metaObject()->className()) + " '" +
                              text.toStdString() + "'");
        };
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            if (label->text().isEmpty())
                continue;
            const bool fits = label->wordWrap()
                                  ? label->heightForWidth(label->width()) <= label->height()
                                  : label->sizeHint().width() <= label->width() &&
                                        label->sizeHint().height() <= label->height();
            if (!fits)
                note(label->text());
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            if (button->sizeHint().width() > button->width() ||
                button->sizeHint().height() > button->height())
                note(button->text());
        } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
            // A tab bar narrower than it asks for elides or scrolls its tabs.
            if (tabs->sizeHint().width() > tabs->width())
                note(tabs->tabText(0));
        }
    }
    return clipped;
}

class UsersWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        home.MakeDir("users/guest");
        ASSERT_TRUE(store.AddUser("bob", "old pw").Ok());
        Open();
    }
    void Open() {
        window = std::make_unique<UsersWindow>(store, (home / "globalSettings").string());
        window->show();
        Activate(window.get());
    }
    static void Activate(QWidget* widget) {
        widget->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(widget));
    }
    template <class T> T* Find(const char* name) const { return window->findChild<T*>(name); }
    // The visible dialog of that kind over the window, made active; null when none is open.
    template <class T> T* OpenDialog() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
        for (T* dialog : window->findChildren<T*>())
            if (dialog->isVisible()) {
                Activate(dialog);
                return dialog;
            }
        return nullptr;
    }
    QWidget* Focus() const { return QApplication::focusWidget(); }
    // Lets a change of text run its course: layout, the window's growth, the layout again.
    static void Settle() {
        for (int round = 0; round < 5; ++round)
            QApplication::processEvents();
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        // Offscreen, nothing gives the activation back to the window when a dialog closes.
        if (!QApplication::activeWindow())
            Activate(window.get());
        QWidget* target = Focus() ? Focus() : QApplication::activeWindow();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, Qt::Key(key), modifiers);
        // A button's mnemonic presses it with a short animation (100 ms) before the click.
        if (modifiers & Qt::AltModifier)
            QTest::qWait(200);
        QApplication::processEvents();
    }
    void Type(const QString& text) {
        ASSERT_NE(Focus(), nullptr);
        QTest::keyClicks(Focus(), text);
    }
    QListWidget* List() const { return Find<QListWidget>("users"); }
    std::string Status(const char* name = "usersStatus") const {
        return Find<QLabel>(name)->text().toStdString();
    }
    void SelectUser(const std::string& user) {
        for (int row = 0; row < List()->count(); ++row)
            if (List()->item(row)->text().toStdString().rfind(user, 0) == 0)
                List()->setCurrentRow(row);
        List()->setFocus();
    }
    std::string Password(const std::string& name) const {
        std::string password;
        accounts::ReadColorsFile((home / "users" / name).string(), password);
        return password;
    }
    // Focus names met by pressing Tab from the current focus until it comes back.
    std::vector<std::string> TabCycle() {
        std::vector<std::string> met{Name(Focus())};
        for (int i = 0; i < 20; ++i) {
            Key(Qt::Key_Tab);
            if (Name(Focus()) == met.front())
                break;
            met.push_back(Name(Focus()));
        }
        return met;
    }

    fakes::TempHome home;
    UserStore store{(home / "users").string()};
    std::unique_ptr<UsersWindow> window;
};

TEST_F(UsersWindowTest, AddUser_WithTheKeyboardOnly) {
    List()->setFocus();
    Key(Qt::Key_A, Qt::AltModifier);
    auto* dialog = OpenDialog<AddUserDialog>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Name(Focus()), "name");

    Type("alice");
    Key(Qt::Key_Tab);
    Type("pw 1");
    Key(Qt::Key_Tab);
    Type("pw 1");
    Key(Qt::Key_Return);

    EXPECT_EQ(OpenDialog<AddUserDialog>(), nullptr);
    EXPECT_EQ(Password("alice"), "pw 1");
    ASSERT_NE(List()->currentItem(), nullptr);
    EXPECT_EQ(List()->currentItem()->text(), "alice");
    EXPECT_EQ(Status(), "User \"alice\" added.");
    EXPECT_EQ(Name(window->focusWidget()), "users");
}

TEST_F(UsersWindowTest, AddRefusals_KeepTheDialogOpenWithTheReasonAndTheName) {
    window->OpenAddDialog();
    auto* dialog = OpenDialog<AddUserDialog>();
    ASSERT_NE(dialog, nullptr);
    auto* problem = dialog->findChild<QLabel*>("problem");

    Type("a/b");
    Key(Qt::Key_Tab);
    Type("pw");
    Key(Qt::Key_Tab);
    Type("pw");
    Key(Qt::Key_Return);
    ASSERT_EQ(OpenDialog<AddUserDialog>(), dialog);
    EXPECT_TRUE(problem->isVisible());
    EXPECT_EQ(problem->text().toStdString(),
              names::DescribeNameProblem(names::NameProblem::PathCharacter));
    EXPECT_EQ(Name(Focus()), "name");
    EXPECT_EQ(dialog->findChild<QLineEdit*>("name")->text(), "a/b");

    Type("ann"); // the refused name was selected, so typing replaces it
    Key(Qt::Key_Tab);
    Type("x");
    Key(Qt::Key_Tab);
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Backspace);
    Type("y");
    Key(Qt::Key_Return);
    ASSERT_EQ(OpenDialog<AddUserDialog>(), dialog);
    EXPECT_EQ(problem->text(), "The two passwords differ; please type them again.");
    EXPECT_EQ(Name(Focus()), "password");
    EXPECT_TRUE(dialog->findChild<QLineEdit*>("password")->text().isEmpty());

    Key(Qt::Key_Escape);
    EXPECT_EQ(OpenDialog<AddUserDialog>(), nullptr);
    EXPECT_FALSE(fs::exists(home / "users" / "ann"));
    EXPECT_EQ(store.ListUsers(), (std::vector<std::string>{"bob", "guest"}));
}

TEST_F(UsersWindowTest, GuestName_TurnsThePasswordFieldsOffAndMakesTheGuestAccount) {
    fs::remove_all(home / "users" / "guest");
    window->RefreshUsers();
    window->OpenAddDialog();
    auto* dialog = OpenDialog<AddUserDialog>();
    ASSERT_NE(dialog, nullptr);

    Type("Guest");
    EXPECT_FALSE(dialog->findChild<QLineEdit*>("password")->isEnabled());
    EXPECT_FALSE(dialog->findChild<QLineEdit*>("confirm")->isEnabled());
    Key(Qt::Key_Return);

    EXPECT_EQ(OpenDialog<AddUserDialog>(), nullptr);
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
    ASSERT_NE(List()->currentItem(), nullptr);
    EXPECT_EQ(List()->currentItem()->text(), "guest (guest account, no password)");
}

TEST_F(UsersWindowTest, EnterOnAUser_ChangesItsPassword) {
    SelectUser("bob");
    Key(Qt::Key_Return);
    auto* dialog = OpenDialog<ChangePasswordDialog>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Name(Focus()), "password");

    Type("new pw");
    Key(Qt::Key_Tab);
    Type("new pw");
    Key(Qt::Key_Return);

    EXPECT_EQ(OpenDialog<ChangePasswordDialog>(), nullptr);
    EXPECT_EQ(Password("bob"), "new pw");
    // No server answers here: the change stands, and the window says the server was not told.
    EXPECT_EQ(Status().rfind("The password of \"bob\" is changed.", 0), 0u) << Status();
    EXPECT_NE(Status().find("could NOT be changed on the server"), std::string::npos);
    ASSERT_NE(OpenDialog<QMessageBox>(), nullptr);
}

TEST_F(UsersWindowTest, Remove_AsksFirstAndEnterOrEscapeKeepsTheUser) {
    SelectUser("bob");
    Key(Qt::Key_Delete);
    ASSERT_NE(OpenDialog<QMessageBox>(), nullptr);
    Key(Qt::Key_Return);
    EXPECT_EQ(OpenDialog<QMessageBox>(), nullptr);
    Key(Qt::Key_Delete);
    ASSERT_NE(OpenDialog<QMessageBox>(), nullptr);
    Key(Qt::Key_Escape);
    EXPECT_TRUE(store.HasUser("bob"));

    SelectUser("bob");
    Key(Qt::Key_R, Qt::AltModifier);
    auto* box = OpenDialog<QMessageBox>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Remove the user \"bob\"?");
    Key(Qt::Key_R, Qt::AltModifier);

    EXPECT_EQ(OpenDialog<QMessageBox>(), nullptr);
    EXPECT_FALSE(store.HasUser("bob"));
    EXPECT_EQ(store.ListUsers(), std::vector<std::string>{"guest"});
    EXPECT_EQ(Status().rfind("User \"bob\" removed; the folder is kept as users/.removed/bob-", 0),
              0u)
        << Status();
    EXPECT_EQ(Name(window->focusWidget()), "users");
}

TEST_F(UsersWindowTest, GuestSelected_CannotBeChangedOrRemoved) {
    SelectUser("guest");

    EXPECT_FALSE(Find<QPushButton>("change")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>("remove")->isEnabled());
    Key(Qt::Key_Delete);
    Key(Qt::Key_Return);
    EXPECT_EQ(OpenDialog<QMessageBox>(), nullptr);
    EXPECT_EQ(OpenDialog<ChangePasswordDialog>(), nullptr);
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
}

TEST_F(UsersWindowTest, Tab_ReachesEveryControlInReadingOrder) {
    SelectUser("bob");
    window->findChild<QTabBar*>()->setFocus();
    EXPECT_EQ(TabCycle(),
              (std::vector<std::string>{"tabs", "users", "add", "change", "remove", "close"}));

    Key(Qt::Key_S, Qt::AltModifier);
    window->findChild<QTabBar*>()->setFocus();
    EXPECT_EQ(TabCycle(), (std::vector<std::string>{"tabs", "host", "port", "save", "close"}));

    window->OpenAddDialog();
    ASSERT_NE(OpenDialog<AddUserDialog>(), nullptr);
    std::vector<std::string> dialogOrder = TabCycle();
    ASSERT_GE(dialogOrder.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(dialogOrder.begin(), dialogOrder.begin() + 3),
              (std::vector<std::string>{"name", "password", "confirm"}));
    EXPECT_NE(std::find(dialogOrder.begin(), dialogOrder.end(), "accept"), dialogOrder.end());
    EXPECT_NE(std::find(dialogOrder.begin(), dialogOrder.end(), "cancel"), dialogOrder.end());
}

TEST_F(UsersWindowTest, ServerPage_ShowsTheDefaultsAndSavesWithEnter) {
    Key(Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(Find<QLineEdit>("host")->text().toStdString(), GlobalSettings::kDefaultServerName);
    EXPECT_EQ(Find<QLineEdit>("port")->text(), "3152");

    Key(Qt::Key_H, Qt::AltModifier);
    ASSERT_EQ(Name(Focus()), "host");
    Key(Qt::Key_A, Qt::ControlModifier);
    Type("sim.example.org");
    Key(Qt::Key_P, Qt::AltModifier);
    ASSERT_EQ(Name(Focus()), "port");
    Key(Qt::Key_A, Qt::ControlModifier);
    Type("0");
    Key(Qt::Key_Return);
    EXPECT_EQ(Status("serverStatus"), "The port must be a whole number from 1 to 65535.");
    EXPECT_EQ(Name(Focus()), "port");
    EXPECT_FALSE(fs::exists(home / "globalSettings"));

    Type("4000");
    Key(Qt::Key_Return);
    EXPECT_EQ(Status("serverStatus"), "The server is now sim.example.org:4000.");
    GlobalSettings settings((home / "globalSettings").string());
    EXPECT_EQ(settings.getServerName(), "sim.example.org");
    EXPECT_EQ(settings.getServerPort(), "4000");

    window.reset();
    Open();
    EXPECT_EQ(Find<QLineEdit>("host")->text(), "sim.example.org");
    EXPECT_EQ(Find<QLineEdit>("port")->text(), "4000");
}

TEST_F(UsersWindowTest, NoTextIsClipped_OnAnyPageOrDialogEvenInALargeFont) {
    const QFont original = QApplication::font();
    for (int points : {0, 20}) {
        if (points) {
            QFont large = original;
            large.setPointSize(points);
            QApplication::setFont(large);
            window.reset();
            Open();
        }
        ASSERT_TRUE(
            store
                .AddUser(std::string(names::kMaxUserNameBytes - 1, 'w') + char('0' + points / 10),
                         "pw")
                .Ok());
        window->RefreshUsers();
        SelectUser("bob");
        EXPECT_EQ(ClippedTexts(window.get()), std::vector<std::string>{}) << points;

        Key(Qt::Key_S, Qt::AltModifier);
        Find<QLineEdit>("port")->setText("x");
        Find<QPushButton>("save")->click();
        Settle();
        EXPECT_EQ(ClippedTexts(window.get()), std::vector<std::string>{}) << points;
        Key(Qt::Key_U, Qt::AltModifier);

        window->OpenAddDialog();
        auto* add = OpenDialog<AddUserDialog>();
        ASSERT_NE(add, nullptr);
        Type(".removed");
        Key(Qt::Key_Return); // a long reason appears under the fields
        Settle();
        EXPECT_EQ(ClippedTexts(add), std::vector<std::string>{}) << points;
        Key(Qt::Key_Escape);

        SelectUser("bob");
        Key(Qt::Key_Delete);
        auto* box = OpenDialog<QMessageBox>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ClippedTexts(box), std::vector<std::string>{}) << points;
        Key(Qt::Key_Escape);
    }
    QApplication::setFont(original);
}

TEST_F(UsersWindowTest, ClosingWithEscape_LeavesTheGuestAccountInPlace) {
    fs::remove_all(home / "users" / "guest");
    List()->setFocus();

    Key(Qt::Key_Escape);

    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->GuestResult().Ok()) << window->GuestResult().message;
    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
}

TEST_F(UsersWindowTest, FirstRun_OpensOnAddAndTheGuestAccountFollowsTheClose) {
    fs::remove_all(home / "users" / "guest");
    window.reset();
    Open();

    window->OpenAddDialog();
    ASSERT_NE(OpenDialog<AddUserDialog>(), nullptr);
    EXPECT_EQ(Name(Focus()), "name");
    EXPECT_FALSE(fs::exists(home / "users" / "guest"));
    Key(Qt::Key_Escape);
    Activate(window.get());
    Key(Qt::Key_Escape);

    EXPECT_TRUE(fs::is_directory(home / "users" / "guest"));
}

} // namespace
