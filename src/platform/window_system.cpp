// The window system's shared records and services: the registry of window handles, the
// registered resources, pictures and icons, geometry, timers, message boxes, error texts,
// the desktop's web handler, the graphics check and the reset for tests.
#include "dialog_window.h"
#include "platform/file_system.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <set>

namespace platform {

namespace {

struct CursorResourceEntry {
    std::string path;
    int hotX = 0, hotY = 0;
};

struct Registry {
    std::vector<std::unique_ptr<WindowObject>> all; // never shrinks: handles are not reused
    std::set<WindowObject*> live;
    std::map<int, DialogTemplate> templates;
    std::map<int, std::string> bitmaps, icons;
    std::map<int, CursorResourceEntry> cursors;
    std::map<int, std::unique_ptr<BitmapObject>> loadedBitmapResources;
    std::vector<std::unique_ptr<BitmapObject>> loadedBitmapFiles;
    std::map<int, std::unique_ptr<IconObject>> loadedIcons;
    // Pictures of a resource registered again: handles to them may still be held.
    std::vector<std::unique_ptr<BitmapObject>> retiredBitmaps;
    std::vector<std::unique_ptr<IconObject>> retiredIcons;
    std::string lastError;
    MessageBoxHook messageBoxHook;
    OpenUrlHook openUrlHook;
    GraphicsCheckHook graphicsHook;
};

Registry& R() {
    static Registry registry;
    return registry;
}

QRect ScreenRect(QWidget* w) {
    if (w->isWindow())
        return w->geometry();
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

} // namespace

// ---- handles -----------------------------------------------------------------------------------

namespace detail {

WindowObject* NewWindowObject() {
    auto& r = R();
    r.all.push_back(std::make_unique<WindowObject>());
    WindowObject* w = r.all.back().get();
    r.live.insert(w);
    return w;
}

bool IsLive(HWND window) {
    if (!window)
        return false;
    auto& live = R().live;
    return live.count(window) && window->alive && window->widget;
}

DialogWindow* LiveDialog(HWND window) {
    if (!IsLive(window) || window->isControl)
        return nullptr;
    return window->dialog;
}

QWidget* LiveWidget(HWND window) {
    return IsLive(window) ? window->widget.data() : nullptr;
}

ControlRecord* LiveControl(HWND dialog, int controlId) {
    DialogWindow* d = LiveDialog(dialog);
    return d ? d->Control(controlId) : nullptr;
}

std::vector<HWND> LiveDialogs() {
    std::vector<HWND> result;
    for (const auto& w : R().all) {
        if (!w->isControl && IsLive(w.get()))
            result.push_back(w.get());
    }
    return result;
}

void MarkDead(WindowObject* window) {
    window->alive = false;
    R().live.erase(window);
}

std::string BitmapResourcePath(int id) {
    auto it = R().bitmaps.find(id);
    return it == R().bitmaps.end() ? std::string() : it->second;
}

std::string IconResourcePath(int id) {
    auto it = R().icons.find(id);
    return it == R().icons.end() ? std::string() : it->second;
}

bool CursorResource(int id, std::string* path, int* hotX, int* hotY) {
    auto it = R().cursors.find(id);
    if (it == R().cursors.end())
        return false;
    *path = it->second.path;
    *hotX = it->second.hotX;
    *hotY = it->second.hotY;
    return true;
}

void PrepareApplication() {
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        app->setQuitOnLastWindowClosed(false);
}

void QuitModalLoops() {
    for (HWND w : LiveDialogs()) {
        if (w->loop)
            w->loop->quit();
    }
}

} // namespace detail

// ---- resources ---------------------------------------------------------------------------------

void RegisterDialogTemplate(const DialogTemplate& dialogTemplate) {
    R().templates[dialogTemplate.id] = dialogTemplate;
}

const DialogTemplate* FindDialogTemplate(int id) {
    auto it = R().templates.find(id);
    return it == R().templates.end() ? nullptr : &it->second;
}

void RegisterBitmapResource(int id, const std::string& qtResourcePath) {
    auto& r = R();
    r.bitmaps[id] = qtResourcePath;
    if (auto it = r.loadedBitmapResources.find(id); it != r.loadedBitmapResources.end()) {
        r.retiredBitmaps.push_back(std::move(it->second));
        r.loadedBitmapResources.erase(it);
    }
}

void RegisterIconResource(int id, const std::string& qtResourcePath) {
    auto& r = R();
    r.icons[id] = qtResourcePath;
    if (auto it = r.loadedIcons.find(id); it != r.loadedIcons.end()) {
        r.retiredIcons.push_back(std::move(it->second));
        r.loadedIcons.erase(it);
    }
}

void RegisterCursorResource(int id, const std::string& qtResourcePath, int hotX, int hotY) {
    R().cursors[id] = CursorResourceEntry{qtResourcePath, hotX, hotY};
}

// ---- bitmaps and icons -------------------------------------------------------------------------

HBITMAP LoadBitmapFile(const std::string& path) {
    // Read through the regular-file check: a FIFO in a thumbnail's place must not hang the
    // window that shows it.
    std::string bytes;
    FileError error;
    if (!ReadWholeFile(path, bytes, &error)) {
        SetLastErrorText(error.kind == FileError::Kind::NotRegularFile
                             ? "The image file is not a regular file."
                             : "The system cannot find the file specified.");
        return nullptr;
    }
    QImage image =
        QImage::fromData(reinterpret_cast<const uchar*>(bytes.data()), int(bytes.size()));
    if (image.isNull()) {
        SetLastErrorText("The image file is invalid.");
        return nullptr;
    }
    R().loadedBitmapFiles.push_back(std::make_unique<BitmapObject>(BitmapObject{image}));
    return R().loadedBitmapFiles.back().get();
}

HBITMAP LoadBitmapResource(int id) {
    auto& loaded = R().loadedBitmapResources;
    if (auto it = loaded.find(id); it != loaded.end())
        return it->second.get();
    const std::string path = detail::BitmapResourcePath(id);
    QImage image(QString::fromStdString(path));
    if (path.empty() || image.isNull()) {
        SetLastErrorText("The specified resource name cannot be found in the image file.");
        return nullptr;
    }
    auto& slot = loaded[id];
    slot = std::make_unique<BitmapObject>(BitmapObject{image});
    return slot.get();
}

int BitmapWidth(HBITMAP bitmap) {
    return bitmap ? bitmap->image.width() : 0;
}
int BitmapHeight(HBITMAP bitmap) {
    return bitmap ? bitmap->image.height() : 0;
}

HICON LoadIconResource(int id) {
    auto& loaded = R().loadedIcons;
    if (auto it = loaded.find(id); it != loaded.end())
        return it->second.get();
    const std::string path = detail::IconResourcePath(id);
    QIcon icon(QString::fromStdString(path));
    if (path.empty() || icon.isNull() || !QFileInfo::exists(QString::fromStdString(path))) {
        SetLastErrorText("The specified resource name cannot be found in the image file.");
        return nullptr;
    }
    auto& slot = loaded[id];
    slot = std::make_unique<IconObject>(IconObject{icon});
    return slot.get();
}

bool SetBigIcon(HWND window, HICON icon) {
    DialogWindow* d = detail::LiveDialog(window);
    if (!d)
        return false;
    window->bigIcon = icon;
    d->setWindowIcon(icon ? icon->icon : QIcon());
    return true;
}

HICON GetBigIcon(HWND window) {
    return detail::LiveDialog(window) ? window->bigIcon : nullptr;
}

// ---- geometry ----------------------------------------------------------------------------------

bool GetWindowRect(HWND window, Rect* rect) {
    QWidget* w = detail::LiveWidget(window);
    if (!w || !rect)
        return false;
    QRect r = ScreenRect(w);
    *rect = Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return true;
}

bool MoveWindow(HWND window, int x, int y, int width, int height, bool) {
    QWidget* w = detail::LiveWidget(window);
    if (!w || width < 0 || height < 0)
        return false;
    if (w->isWindow()) {
        // Client area, as GetWindowRect reads it (move() would place the frame instead).
        w->setFixedSize(width, height);
        w->setGeometry(x, y, width, height);
        if (DialogWindow* dialog = detail::LiveDialog(window))
            detail::UpdateReachableControls(dialog);
    } else {
        w->setGeometry(x, y, width, height);
    }
    return true;
}

bool GetControlRect(HWND dialog, int controlId, Rect* rect) {
    ControlRecord* c = detail::LiveControl(dialog, controlId);
    if (!c || !rect)
        return false;
    QRect r = c->widget->geometry();
    *rect = Rect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return true;
}

// ---- timers ------------------------------------------------------------------------------------

std::uintptr_t SetTimer(HWND window, std::uintptr_t id, unsigned milliseconds) {
    DialogWindow* d = detail::LiveDialog(window);
    if (!d || id == 0) {
        SetLastErrorText(d ? "The parameter is incorrect." : "Invalid window handle.");
        return 0;
    }
    QTimer*& timer = d->timers[id];
    if (!timer) {
        timer = new QTimer(d);
        QObject::connect(timer, &QTimer::timeout, d,
                         [window, id] { SendMessage(window, WM_TIMER, id, 0); });
    }
    // Below the classic minimum of 10 ms a timer would only busy the loop.
    timer->start(int(std::max(milliseconds, 10u)));
    return id;
}

bool KillTimer(HWND window, std::uintptr_t id) {
    DialogWindow* d = detail::LiveDialog(window);
    if (!d)
        return false;
    auto it = d->timers.find(id);
    if (it == d->timers.end())
        return false;
    it->second->stop();
    it->second->deleteLater();
    d->timers.erase(it);
    return true;
}

// ---- message boxes -----------------------------------------------------------------------------

int MessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags) {
    if (MessageBoxHook hook = R().messageBoxHook)
        return hook(MessageBoxRecord{owner, text, caption, flags});
    if (Headless() || !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        std::cerr << caption << ": " << text << std::endl;
        return IDOK;
    }
    detail::PrepareApplication();
    // A hidden or minimised owner would take its box out of sight with it.
    QWidget* parent = detail::LiveWidget(owner);
    if (parent && (!parent->window()->isVisible() || parent->window()->isMinimized()))
        parent = nullptr;
    std::unique_ptr<QMessageBox> box = detail::BuildMessageBox(parent, text, caption, flags);
    box->exec();
    return IDOK;
}

namespace detail {

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const std::string& text,
                                             const std::string& caption, unsigned flags) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & 0xF0) {
    case MB_ICONERROR:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONEXCLAMATION:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    // The box wraps its text at about half the screen's width; a word longer than that (a long
    // user name) would be cut at the box's edge, so such a word may break anywhere.
    const QFontMetrics metrics(DialogFont());
    const QString shown =
        BreakableText(QString::fromUtf8(text), metrics, metrics.averageCharWidth() * 50);
    auto box = std::make_unique<QMessageBox>(icon, QString::fromUtf8(caption), shown,
                                             QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    return box;
}

} // namespace detail

void SetMessageBoxHook(MessageBoxHook hook) {
    R().messageBoxHook = std::move(hook);
}

// ---- errors, desktop ---------------------------------------------------------------------------

std::string GetLastErrorText() {
    if (!R().lastError.empty())
        return R().lastError;
    if (errno != 0)
        return std::strerror(errno);
    return "The operation completed successfully.";
}

void SetLastErrorText(const std::string& text) {
    R().lastError = text;
}

bool OpenUrl(const std::string& url) {
    if (OpenUrlHook hook = R().openUrlHook)
        return hook(url);
    return QDesktopServices::openUrl(QUrl(QString::fromUtf8(url)));
}

void SetOpenUrlHook(OpenUrlHook hook) {
    R().openUrlHook = std::move(hook);
}

bool GraphicsRuntimeAvailable() {
    if (GraphicsCheckHook hook = R().graphicsHook)
        return hook();
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
           QGuiApplication::primaryScreen();
}

void SetGraphicsCheckHook(GraphicsCheckHook hook) {
    R().graphicsHook = std::move(hook);
}

bool Headless() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return true;
    const QString name = QGuiApplication::platformName();
    return name == QLatin1String("offscreen") || name == QLatin1String("minimal");
}

void ResetForTesting() {
    std::vector<HWND> dialogs = detail::LiveDialogs();
    for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
        DestroyWindow(*it);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ClearQuit();
    auto& r = R();
    r.messageBoxHook = nullptr;
    r.openUrlHook = nullptr;
    r.graphicsHook = nullptr;
    r.lastError.clear();
    detail::ResetCursors();
}

} // namespace platform
