// Add User and Change Password: plain form layouts, so every text gets the room it needs at
// any font size, with mnemonics on every field and the buttons in the platform's order.
#include "user_dialogs.h"

#include "server_password.h"

#include "protocol/user_name.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace plconfig {

void GrowToFit(QWidget* window) {
    QLayout* layout = window->layout();
    if (!layout)
        return;
    // A wrapped text's height settles only once the layouts inside have taken the new size,
    // so this goes round until nothing more is asked for.
    for (int pass = 0; pass < 4; ++pass) {
        layout->activate();
        const int height = layout->hasHeightForWidth()
                               ? layout->totalHeightForWidth(window->width())
                               : layout->totalSizeHint().height();
        if (height <= window->height())
            return;
        window->resize(window->width(), height);
    }
}

class ProblemLine : public QLabel {
public:
    explicit ProblemLine(QWidget* parent) : QLabel(parent) {
        setObjectName("problem");
        setWordWrap(true);
        setTextFormat(Qt::PlainText);
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        QPalette colours = palette();
        colours.setColor(QPalette::WindowText, QColor(0xA0, 0x00, 0x00));
        setPalette(colours);
        hide();
    }
    void Show(const std::string& text) {
        setText(QString::fromStdString(text));
        setAccessibleName(text.empty() ? QString() : QString::fromStdString(text));
        setVisible(!text.empty());
    }
};

namespace {

QLineEdit* PasswordField(QWidget* parent, const char* objectName) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setEchoMode(QLineEdit::Password);
    // Room for what the Login window takes; the store gives the reason for anything longer.
    field->setMaxLength(int(kMaxTypedPasswordBytes) + 1);
    return field;
}

QDialogButtonBox* Buttons(QDialog* dialog, const QString& acceptText) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(acceptText);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("accept");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

std::string Text(const QLineEdit* field) {
    return field->text().toStdString();
}

} // namespace

bool AddUserDialog::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::LayoutRequest)
        GrowToFit(this);
    return handled;
}

AddUserDialog::AddUserDialog(UserStore& store, QWidget* parent) : QDialog(parent), store_(store) {
    setWindowTitle("Add User");
    setObjectName("addUserDialog");
    name_ = new QLineEdit(this);
    name_->setObjectName("name");
    password_ = PasswordField(this, "password");
    confirm_ = PasswordField(this, "confirm");
    guestNote_ = new QLabel("The guest account needs no password.", this);
    guestNote_->setWordWrap(true);
    guestNote_->hide();
    problem_ = new ProblemLine(this);
    buttons_ = Buttons(this, "&Add");

    auto* form = new QFormLayout;
    auto* nameLabel = new QLabel("&Name:", this);
    nameLabel->setBuddy(name_);
    auto* passwordLabel = new QLabel("&Password:", this);
    passwordLabel->setBuddy(password_);
    auto* confirmLabel = new QLabel("&Confirm password:", this);
    confirmLabel->setBuddy(confirm_);
    form->addRow(nameLabel, name_);
    form->addRow(passwordLabel, password_);
    form->addRow(confirmLabel, confirm_);

    auto* intro = new QLabel("A user logs in with this name and password. Names and passwords "
                             "are case-sensitive.",
                             this);
    intro->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(guestNote_);
    layout->addWidget(problem_);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    buttons_->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons_, &QDialogButtonBox::accepted, this, &AddUserDialog::Submit);
    connect(name_, &QLineEdit::textChanged, this, &AddUserDialog::NameChanged);
    name_->setFocus();
}

void AddUserDialog::NameChanged() {
    const bool guest = names::IsGuestName(Text(name_));
    password_->setEnabled(!guest);
    confirm_->setEnabled(!guest);
    guestNote_->setVisible(guest);
}

void AddUserDialog::Submit() {
    const std::string name = Text(name_);
    if (Result check = store_.CheckNewUserName(name); !check.Ok()) {
        problem_->Show(check.message);
        name_->setFocus();
        name_->selectAll();
        return;
    }
    const bool guest = names::IsGuestName(name);
    if (!guest && password_->text() != confirm_->text()) {
        problem_->Show("The two passwords differ; please type them again.");
        password_->clear();
        confirm_->clear();
        password_->setFocus();
        return;
    }
    Result result = store_.AddUser(name, guest ? std::string() : Text(password_));
    if (!result.Ok()) {
        problem_->Show(result.message);
        QLineEdit* field = result.outcome == Outcome::PasswordRefused ? password_ : name_;
        field->setFocus();
        field->selectAll();
        return;
    }
    added_ = guest ? kGuestFolder : name;
    message_ = result.message;
    accept();
}

bool ChangePasswordDialog::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::LayoutRequest)
        GrowToFit(this);
    return handled;
}

ChangePasswordDialog::ChangePasswordDialog(UserStore& store, std::string user, QWidget* parent)
    : QDialog(parent), store_(store), user_(std::move(user)) {
    setWindowTitle("Change Password");
    setObjectName("changePasswordDialog");
    password_ = PasswordField(this, "password");
    confirm_ = PasswordField(this, "confirm");
    problem_ = new ProblemLine(this);
    auto* buttons = Buttons(this, "&Change");

    auto* intro = new QLabel(
        QString::fromStdString("New password for \"" + names::PrintableName(user_) + "\":"), this);
    intro->setWordWrap(true);
    intro->setTextFormat(Qt::PlainText);
    auto* passwordLabel = new QLabel("New &password:", this);
    passwordLabel->setBuddy(password_);
    auto* confirmLabel = new QLabel("&Confirm password:", this);
    confirmLabel->setBuddy(confirm_);
    auto* form = new QFormLayout;
    form->addRow(passwordLabel, password_);
    form->addRow(confirmLabel, confirm_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(problem_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &ChangePasswordDialog::Submit);
    password_->setFocus();
}

void ChangePasswordDialog::Submit() {
    if (password_->text() != confirm_->text()) {
        problem_->Show("The two passwords differ; please type them again.");
        password_->clear();
        confirm_->clear();
        password_->setFocus();
        return;
    }
    const std::string folder = store_.Folder();
    const std::string home = folder.substr(0, folder.find_last_of('/'));
    Result result = ChangePasswordEverywhere(store_, home, user_, Text(password_));
    // Changed here though not on the server: the dialog's work is done, the window warns.
    serverNotChanged_ = result.outcome == Outcome::ServerNotChanged;
    if (!result.Ok() && !serverNotChanged_) {
        problem_->Show(result.message);
        password_->setFocus();
        password_->selectAll();
        return;
    }
    message_ = result.message;
    accept();
}

} // namespace plconfig
