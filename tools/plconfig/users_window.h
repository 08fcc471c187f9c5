// The configuration window: a Users page (the users under users: with Add, Change Password
// and Remove) and a Server page (the machine's server host name and port). Keyboard-complete:
// Tab walks every control in reading order, the pages have mnemonics, Enter on a user changes
// its password, Delete removes it (after a confirmation), Escape closes the window.
//
// Whenever the window closes the guest account exists, so that the launcher's next start is
// not a first run.
#pragma once

#include "server_setting.h"
#include "user_store.h"

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace plconfig {

class UsersWindow : public QDialog {
    Q_OBJECT
public:
    UsersWindow(UserStore& store, std::string settingsFile, QWidget* parent = nullptr);

    // Opens Add User over the window (the launcher's first run starts the tool this way).
    void OpenAddDialog();
    // What making the guest account came to when the window closed.
    const Result& GuestResult() const { return guestResult_; }
    // Reads the users folder again and keeps the selection where it can.
    void RefreshUsers(const std::string& select = "");

    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool event(QEvent* event) override;

private:
    QWidget* MakeUsersPage();
    QWidget* MakeServerPage();
    std::string SelectedUser() const;
    void SelectionChanged();
    void OpenChangePasswordDialog();
    void ConfirmRemove();
    void SaveServer();
    // The certificate remembered for the server and a new one a launcher was refused.
    void ShowIdentity();
    void AcceptIdentity();
    std::string KeysFolder() const;
    void ShowStatus(QLabel* line, const std::string& text);
    void ShowFailure(const std::string& text);

    UserStore& store_;
    std::string settingsFile_;
    Result guestResult_;
    QTabWidget* tabs_;
    QListWidget* users_;
    QPushButton* add_;
    QPushButton* change_;
    QPushButton* remove_;
    QLabel* usersStatus_;
    QLineEdit* host_;
    QLineEdit* port_;
    QPushButton* save_;
    QLabel* serverStatus_;
    QLabel* identity_;
    QPushButton* accept_;
    QPushButton* close_;
};

} // namespace plconfig
