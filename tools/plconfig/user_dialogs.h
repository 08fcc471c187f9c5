// The small dialogs of the configuration window: Add User (name, password, confirmation) and
// Change Password. Each checks through the user store and stays open with the reason shown
// when the store refuses, so nothing typed is lost; Enter presses the main button, Escape
// cancels.
#pragma once

#include "user_store.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

namespace plconfig {

// Makes a window tall enough for its layout at its present width. A window does not grow by
// itself when a wrapped text in it gets longer (or the font larger) and would squeeze every
// text instead; the windows here call this whenever their layout changes.
void GrowToFit(QWidget* window);

// The line under the fields that tells why the dialog did not close.
class ProblemLine;

class AddUserDialog : public QDialog {
    Q_OBJECT
public:
    AddUserDialog(UserStore& store, QWidget* parent);

    // The name of the user made (the guest account's folder name for "guest").
    const std::string& AddedUser() const { return added_; }
    const std::string& Message() const { return message_; }

protected:
    bool event(QEvent* event) override;

private:
    void Submit();
    // The guest account takes no password: its fields are off while the name says guest.
    void NameChanged();

    UserStore& store_;
    QLineEdit* name_;
    QLineEdit* password_;
    QLineEdit* confirm_;
    QLabel* guestNote_;
    ProblemLine* problem_;
    QDialogButtonBox* buttons_;
    std::string added_;
    std::string message_;
};

class ChangePasswordDialog : public QDialog {
    Q_OBJECT
public:
    ChangePasswordDialog(UserStore& store, std::string user, QWidget* parent);

    const std::string& Message() const { return message_; }
    // The new password is stored here, but the server could not be told.
    bool ServerNotChanged() const { return serverNotChanged_; }

protected:
    bool event(QEvent* event) override;

private:
    void Submit();

    UserStore& store_;
    std::string user_;
    bool serverNotChanged_ = false;
    QLineEdit* password_;
    QLineEdit* confirm_;
    ProblemLine* problem_;
    std::string message_;
};

} // namespace plconfig
