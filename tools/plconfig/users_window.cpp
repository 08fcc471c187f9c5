// The configuration window: pages, their controls in reading order, and the routing of each
// control to the user store or the server setting. The decisions are theirs; this file only
// shows what they said.
#include "users_window.h"

#include "protocol/user_name.h"
#include "server_identity.h"
#include "user_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace plconfig {

namespace {

constexpr int kUserRole = Qt::UserRole;

QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* Button(const QString& text, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    return button;
}

} // namespace

UsersWindow::UsersWindow(UserStore& store, std::string settingsFile, QWidget* parent)
    : QDialog(parent), store_(store), settingsFile_(std::move(settingsFile)) {
    setWindowTitle("Pelora Users and Server");
    setObjectName("usersWindow");
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("pages");
    tabs_->addTab(MakeUsersPage(), "&Users");
    tabs_->addTab(MakeServerPage(), "&Server");

    auto* buttons = new QDialogButtonBox(this);
    close_ = buttons->addButton(QDialogButtonBox::Close);
    close_->setObjectName("close");
    close_->setText("&Close");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    // Reading order: the page tabs, the page's controls top to bottom, then Close.
    QWidget::setTabOrder(tabs_->tabBar(), users_);
    QWidget::setTabOrder(users_, add_);
    QWidget::setTabOrder(add_, change_);
    QWidget::setTabOrder(change_, remove_);
    QWidget::setTabOrder(remove_, host_);
    QWidget::setTabOrder(host_, port_);
    QWidget::setTabOrder(port_, save_);
    QWidget::setTabOrder(save_, close_);

    RefreshUsers();
    users_->setFocus();
}

QWidget* UsersWindow::MakeUsersPage() {
    auto* page = new QWidget(tabs_);
    users_ = new QListWidget(page);
    users_->setObjectName("users");
    users_->setSelectionMode(QAbstractItemView::SingleSelection);
    users_->installEventFilter(this);
    auto* listLabel = new QLabel("Users on this &machine:", page);
    listLabel->setBuddy(users_);

    add_ = Button("&Add User...", "add", page);
    change_ = Button("Change &Password...", "change", page);
    remove_ = Button("&Remove User...", "remove", page);
    usersStatus_ = WrappedLabel("", page);
    usersStatus_->setObjectName("usersStatus");

    auto* buttonColumn = new QVBoxLayout;
    buttonColumn->addWidget(add_);
    buttonColumn->addWidget(change_);
    buttonColumn->addWidget(remove_);
    buttonColumn->addStretch();
    auto* row = new QHBoxLayout;
    row->addWidget(users_, 1);
    row->addLayout(buttonColumn);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(listLabel);
    layout->addLayout(row, 1);
    layout->addWidget(usersStatus_);

    connect(add_, &QPushButton::clicked, this, &UsersWindow::OpenAddDialog);
    connect(change_, &QPushButton::clicked, this, &UsersWindow::OpenChangePasswordDialog);
    connect(remove_, &QPushButton::clicked, this, &UsersWindow::ConfirmRemove);
    connect(users_, &QListWidget::itemSelectionChanged, this, &UsersWindow::SelectionChanged);
    connect(users_, &QListWidget::itemDoubleClicked, this, [this] {
        if (change_->isEnabled())
            OpenChangePasswordDialog();
    });
    return page;
}

QWidget* UsersWindow::MakeServerPage() {
    auto* page = new QWidget(tabs_);
    host_ = new QLineEdit(page);
    host_->setObjectName("host");
    port_ = new QLineEdit(page);
    port_->setObjectName("port");
    port_->setMaxLength(5);
    save_ = Button("Sa&ve", "save", page);
    serverStatus_ = WrappedLabel("", page);
    serverStatus_->setObjectName("serverStatus");
    identity_ = WrappedLabel("", page);
    identity_->setObjectName("identity");
    identity_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    accept_ = Button("&Accept the new certificate", "acceptCertificate", page);

    auto* hostLabel = new QLabel("Server &host name:", page);
    hostLabel->setBuddy(host_);
    auto* portLabel = new QLabel("&Port:", page);
    portLabel->setBuddy(port_);
    auto* form = new QFormLayout;
    form->addRow(hostLabel, host_);
    form->addRow(portLabel, port_);

    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch();
    saveRow->addWidget(save_);
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(WrappedLabel("Drive Online connects every launcher that uses this home "
                                   "folder to this server. A launcher that is running reads "
                                   "the change when it starts again.",
                                   page));
    layout->addLayout(form);
    layout->addLayout(saveRow);
    layout->addWidget(serverStatus_);
    layout->addWidget(identity_);
    auto* acceptRow = new QHBoxLayout;
    acceptRow->addStretch();
    acceptRow->addWidget(accept_);
    layout->addLayout(acceptRow);
    layout->addStretch();

    ServerAddress address;
    std::string problem;
    if (LoadServerAddress(settingsFile_, address, problem)) {
        host_->setText(QString::fromStdString(address.host));
        port_->setText(QString::fromStdString(address.port));
    } else {
        ShowStatus(serverStatus_, problem);
    }
    ShowIdentity();
    connect(accept_, &QPushButton::clicked, this, &UsersWindow::AcceptIdentity);
    connect(save_, &QPushButton::clicked, this, &UsersWindow::SaveServer);
    connect(host_, &QLineEdit::returnPressed, this, &UsersWindow::SaveServer);
    connect(port_, &QLineEdit::returnPressed, this, &UsersWindow::SaveServer);
    return page;
}

void UsersWindow::RefreshUsers(const std::string& select) {
    const std::string keep = select.empty() ? SelectedUser() : select;
    users_->clear();
    for (const std::string& name : store_.ListUsers()) {
        QString shown = QString::fromStdString(names::PrintableName(name));
        if (name == kGuestFolder)
            shown += " (guest account, no password)";
        auto* item = new QListWidgetItem(shown, users_);
        item->setData(kUserRole, QByteArray::fromStdString(name));
        if (name == keep)
            users_->setCurrentItem(item);
    }
    if (!users_->currentItem() && users_->count() > 0)
        users_->setCurrentRow(0);
    SelectionChanged();
}

std::string UsersWindow::SelectedUser() const {
    QListWidgetItem* item = users_->currentItem();
    if (!item || !item->isSelected())
        return "";
    return item->data(kUserRole).toByteArray().toStdString();
}

void UsersWindow::SelectionChanged() {
    const std::string user = SelectedUser();
    const bool regular = !user.empty() && !names::IsGuestName(user);
    // A button that goes off while it has the focus would leave the focus nowhere.
    if (!regular && (change_->hasFocus() || remove_->hasFocus()))
        users_->setFocus();
    change_->setEnabled(regular);
    remove_->setEnabled(regular);
}

void UsersWindow::OpenAddDialog() {
    auto* dialog = new AddUserDialog(store_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        RefreshUsers(dialog->AddedUser());
        ShowStatus(usersStatus_, dialog->Message());
        users_->setFocus();
    });
    tabs_->setCurrentIndex(0);
    dialog->open();
}

void UsersWindow::OpenChangePasswordDialog() {
    const std::string user = SelectedUser();
    if (user.empty())
        return;
    auto* dialog = new ChangePasswordDialog(store_, user, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        ShowStatus(usersStatus_, dialog->Message());
        if (dialog->ServerNotChanged())
            ShowFailure(dialog->Message());
    });
    dialog->open();
}

void UsersWindow::ConfirmRemove() {
    const std::string user = SelectedUser();
    if (user.empty() || names::IsGuestName(user))
        return;
    auto* box = new QMessageBox(
        QMessageBox::Question, "Remove User",
        QString::fromStdString("Remove the user \"" + names::PrintableName(user) + "\"?"),
        QMessageBox::NoButton, this);
    box->setObjectName("confirmRemove");
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(QString("The user's folder, with its settings and drive data, is "
                                    "moved to users/%1/ and can be moved back from there.")
                                .arg(kRemovedFolder));
    QPushButton* confirm = box->addButton("&Remove", QMessageBox::DestructiveRole);
    confirm->setObjectName("confirm");
    QPushButton* keep = box->addButton("&Keep", QMessageBox::RejectRole);
    keep->setObjectName("keep");
    // A slip of the Enter key keeps the user.
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [this, box, confirm, user] {
        if (box->clickedButton() != confirm)
            return;
        Result result = store_.RemoveUser(user);
        RefreshUsers();
        if (result.Ok())
            ShowStatus(usersStatus_, result.message);
        else
            ShowFailure(result.message);
        users_->setFocus();
    });
    box->open();
}

void UsersWindow::SaveServer() {
    ServerAddress address{host_->text().trimmed().toStdString(),
                          port_->text().trimmed().toStdString()};
    if (address.port.empty()) {
        ShowStatus(serverStatus_, "The port must be a whole number from 1 to 65535.");
        port_->setFocus();
        return;
    }
    Result result = SaveServerAddress(settingsFile_, address);
    ShowStatus(serverStatus_, result.message);
    ShowIdentity();
    if (result.Ok()) {
        ServerAddress stored;
        std::string problem;
        if (LoadServerAddress(settingsFile_, stored, problem))
            port_->setText(QString::fromStdString(stored.port));
    } else if (result.outcome == Outcome::ValueRefused) {
        QLineEdit* field = DescribeHostProblem(address.host).empty() ? port_ : host_;
        field->setFocus();
        field->selectAll();
    }
}

std::string UsersWindow::KeysFolder() const {
    const std::string::size_type slash = settingsFile_.rfind('/');
    return (slash == std::string::npos ? std::string(".") : settingsFile_.substr(0, slash)) +
           "/keys";
}

void UsersWindow::ShowIdentity() {
    ServerAddress address;
    std::string problem;
    if (!LoadServerAddress(settingsFile_, address, problem)) {
        identity_->clear();
        accept_->setEnabled(false);
        return;
    }
    const ServerIdentity identity =
        ReadServerIdentity(KeysFolder(), ServerKeyOf(address.host, address.port));
    ShowStatus(identity_, DescribeServerIdentity(identity));
    accept_->setEnabled(!identity.presented.empty() && !identity.pinned);
}

void UsersWindow::AcceptIdentity() {
    ServerAddress address;
    std::string problem;
    if (!LoadServerAddress(settingsFile_, address, problem)) {
        ShowStatus(serverStatus_, problem);
        return;
    }
    Result result =
        AcceptPresentedCertificate(KeysFolder(), ServerKeyOf(address.host, address.port));
    ShowStatus(serverStatus_, result.message);
    ShowIdentity();
}

void UsersWindow::ShowStatus(QLabel* line, const std::string& text) {
    line->setText(QString::fromStdString(text));
    line->setAccessibleName(line->text());
}

void UsersWindow::ShowFailure(const std::string& text) {
    ShowStatus(usersStatus_, text);
    auto* box = new QMessageBox(QMessageBox::Warning, "Pelora Users", QString::fromStdString(text),
                                QMessageBox::Ok, this);
    box->setObjectName("failure");
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool UsersWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != users_ || event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Delete:
        if (remove_->isEnabled())
            ConfirmRemove();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (change_->isEnabled())
            OpenChangePasswordDialog();
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void UsersWindow::keyPressEvent(QKeyEvent* event) {
    // Enter acts on what has the focus: a focused button presses itself, a user changes its
    // password, a server field saves. The window has no default button that Enter would press
    // from anywhere else (a dialog would make the first button it finds the default).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool UsersWindow::event(QEvent* event) {
    const bool handled = QDialog::event(event);
    if (event->type() == QEvent::LayoutRequest)
        GrowToFit(this);
    return handled;
}

void UsersWindow::done(int result) {
    guestResult_ = store_.EnsureGuest();
    QDialog::done(result);
}

} // namespace plconfig
