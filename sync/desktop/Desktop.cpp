#include "sync/desktop/Desktop.h"

#include <log4cpp/Category.hh>

#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <cstdlib>

#include "platform/qt/DesktopOpen.h"
#include "platform/qt/LoopPump.h"
#include "platform/text.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/common/SyncLog.h"
#include "sync/ui/Dialogs.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/QtTrayBackend.h"
#include "sync/ui/StateDlg.h"
#include "sync/ui/SystemTray.h"

#ifndef ORVANE_VERSION
#define ORVANE_VERSION ""
#endif

namespace orvane_desktop {

namespace {

bool OnGuiThread() {
    return QCoreApplication::instance() != nullptr && QThread::currentThread() == QCoreApplication::instance()->thread();
}

std::u16string U16(const std::string& text) { return plat::ToUtf16(text); }

}  // namespace

bool HasDisplay(const char* display, const char* waylandDisplay) {
    return (display != nullptr && *display != '\0') || (waylandDisplay != nullptr && *waylandDisplay != '\0');
}

bool HasDisplay() { return HasDisplay(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")); }

std::string ProgramVersion() { return ORVANE_VERSION; }

// ---------------------------------------------------------------- boxes

void QtMessageBoxes::Show(const BoxMessage& message) {
    const std::u16string text =
        FormatKeyText(language_.GetString(std::u16string_view(message.textKey)), message.argument);
    const std::u16string caption =
        message.captionKey.empty() ? language_.GetString(u"Nuvet云盘") : language_.GetString(std::u16string_view(message.captionKey));
    QMessageBox box(message.icon == BoxIcon::Warning       ? QMessageBox::Warning
                    : message.icon == BoxIcon::Information ? QMessageBox::Information
                                                           : QMessageBox::NoIcon,
                    QString::fromStdU16String(caption), QString::fromStdU16String(text), QMessageBox::Ok);
    box.exec();
}

// ---------------------------------------------------------------- tray

QtSyncTray::QtSyncTray(CLanguageIni& language, QtSyncShell* shell) : language_(language), shell_(shell) {}

QtSyncTray::~QtSyncTray() {
    tray_.reset();
    backend_.reset();
}

void QtSyncTray::Make() {
    if (tray_) return;
    backend_ = std::make_unique<QtTrayBackend>();
    CSystemTray::Environment env;
    env.paused = [this] {
        COrvaneDlg* dialog = app_ ? app_->MainDialog() : nullptr;
        return dialog != nullptr && dialog->paused.load() != 0;
    };
    env.serverState = [this] {
        COrvaneDlg* dialog = app_ ? app_->MainDialog() : nullptr;
        return dialog != nullptr ? static_cast<int>(dialog->serverState.load()) : 0;
    };
    tray_ = std::make_unique<CSystemTray>(*backend_, language_, std::move(env));
    backend_->onHostAppeared = [this] {
        SyncLog().info("A notification area appeared: the tray icon is added");
        tray_->OnShellRestart();
    };
}

bool QtSyncTray::Create(const std::string& tooltipKey, int iconId) {
    Make();
    tray_->SetIconId(static_cast<std::uint32_t>(menu_));
    backend_->SetIconId(static_cast<std::uint32_t>(menu_));
    if (app_) tray_->SetTargetWnd(app_->MainWindowId());
    tray_->SetIconList();
    const std::u16string key = U16(tooltipKey);
    const bool made = tray_->Create(language_.GetString(std::u16string_view(key)), iconId, menu_, false, {}, {},
                                    BalloonIcon::Warning, 20);
    tray_->SetTooltipText(key, false);
    if (!made) SyncLog().info("No notification area: tray icon " + std::to_string(iconId) + ", tooltip '" + tooltipKey + "'");
    return made;
}

void QtSyncTray::SetIcon(int iconId) {
    if (tray_) tray_->SetIcon(iconId);
}

void QtSyncTray::Animate() {
    if (tray_) tray_->Animate();
}

void QtSyncTray::StopAnimation() {
    if (tray_) tray_->StopAnimation();
}

void QtSyncTray::SetTooltipText(const std::string& key) {
    if (!tray_) return;
    if (key.empty()) tray_->SetTooltipText({}, true);
    else tray_->SetTooltipText(U16(key), false);
    if (tray_->Removed()) SyncLog().debug("tray (no notification area): tooltip '" + plat::ToUtf8(tray_->TooltipKey()) + "'");
}

void QtSyncTray::SetPauseForm(bool paused) {
    // The menu reads the pause flag when it opens; an open running page follows now.
    if (shell_) shell_->UpdatePauseButton();
}

void QtSyncTray::SetMenu(int menuId) {
    menu_ = menuId;
    if (tray_) tray_->SetIconId(static_cast<std::uint32_t>(menuId));
    if (backend_) backend_->SetIconId(static_cast<std::uint32_t>(menuId));
}

void QtSyncTray::SetLanguage(int language) { language_.SetLanguage(language); }

void QtSyncTray::Remove() {
    if (tray_) tray_->DeleteIcon();
}

// ---------------------------------------------------------------- shell

namespace {

// Shows a window that runs without a modal loop and brings it forward.
void ShowModeless(QDialog* dialog) {
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

// Closing a modeless window deletes it (later: the signal may come from its own handler).
void DeleteWhenClosed(QDialog* dialog) { QObject::connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater); }

// Runs a box in a loop of its own without making it modal: other windows and the tray
// answer meanwhile. The box's result.
int RunModeless(QDialog& dialog) {
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.setResult(0);
    ShowModeless(&dialog);
    QPointer<QDialog> alive(&dialog);
    if (dialog.isVisible()) loop.exec(QEventLoop::DialogExec);
    return alive ? dialog.result() : 0;
}

}  // namespace

struct QtSyncShell::Windows {
    QPointer<CStateDlg> details;
    QPointer<CBanbenInfo> about;
    QPointer<CUpdateDlg> update;
};

QtSyncShell::QtSyncShell(CLanguageIni& language)
    : language_(language), windows_(std::make_unique<Windows>()), context_(std::make_unique<QObject>()) {}

QtSyncShell::~QtSyncShell() {
    // The windows go before what they use.
    delete windows_->details.data();
    delete windows_->about.data();
    delete windows_->update.data();
}

CStateDlg* QtSyncShell::Details() const { return windows_->details.data(); }
CBanbenInfo* QtSyncShell::About() const { return windows_->about.data(); }
CUpdateDlg* QtSyncShell::UpdateNotice() const { return windows_->update.data(); }

void QtSyncShell::MessageBox(const std::string& caption, const std::string& text) {
    SyncLog().info("message box: " + caption + ": " + text);
    if (!OnGuiThread()) {
        // A worker never waits on a box: it is shown by the UI thread, without a modal run.
        CLanguageIni* language = &language_;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [language, caption, text] {
                auto* box = new CDeleteUserInfo(*language, U16(caption), U16(text), 1);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->show();
            },
            Qt::QueuedConnection);
        return;
    }
    CDeleteUserInfo box(language_, U16(caption), U16(text), 1);
    RunModeless(box);
}

bool QtSyncShell::Confirm(const std::string& caption, const std::string& text) {
    if (!OnGuiThread()) return false;
    // The caller acts on the answer, and the exit closes no box it waits for: this one
    // stays modal.
    CDeleteUserInfo box(language_, U16(caption), U16(text), 2);
    return box.exec() == CDeleteUserInfo::kIdOk;
}

void QtSyncShell::Notify(const std::u16string& text) {
    SyncLog().info("notice: " + plat::ToUtf8(text));
    const QString title = QString::fromStdU16String(language_.GetString(u"提示信息"));
    QtTrayBackend* backend = tray_ ? tray_->Backend() : nullptr;
    if (backend && backend->Icon().isVisible() && QSystemTrayIcon::supportsMessages()) {
        backend->Icon().showMessage(title, QString::fromStdU16String(text), QSystemTrayIcon::Warning, 10000);
        return;
    }
    auto* box = new CDeleteUserInfo(language_, u"提示信息", text, 1);
    box->setAttribute(Qt::WA_DeleteOnClose);
    ShowModeless(box);
}

void QtSyncShell::OpenFolder(const std::u16string& path) {
    const std::string folder = plat::ToUtf8(path);
    plat::qt::OpenLocalPathReported(folder, context_.get(), [this, folder] {
        SyncLog().info("The folder could not be opened by the desktop");
        Notify(language_.Format(u"没有文件管理器能打开文件夹：%s", {U16(folder)}));
    });
}

void QtSyncShell::OpenUrl(const std::string& url) {
    plat::qt::OpenAddressReported(url, context_.get(), [this, url] {
        SyncLog().info("The address could not be opened by the desktop");
        Notify(language_.Format(u"没有浏览器能打开地址：%s", {U16(url)}));
    });
}

std::optional<std::u16string> QtSyncShell::BrowseForFolder(const std::u16string& title, const std::u16string& current) {
    QFileDialog dialog(nullptr, QString::fromStdU16String(language_.GetString(std::u16string_view(title))),
                       QString::fromStdU16String(current));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    browser_ = &dialog;
    const int result = dialog.exec();
    browser_ = nullptr;
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdU16String();
}

bool QtSyncShell::FolderBrowserOpen() { return browser_ != nullptr; }

void QtSyncShell::RaiseFolderBrowser() {
    if (!browser_) return;
    browser_->raise();
    browser_->activateWindow();
}

void QtSyncShell::CloseFolderBrowser() {
    if (browser_) browser_->reject();
}

void QtSyncShell::CloseAll() {
    // Every dialog and box of the program is a window of its own: each open one is
    // cancelled, so that its loop ends and the code that opened it returns.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        QPointer<QDialog> dialog(qobject_cast<QDialog*>(window));
        if (dialog && dialog->isVisible()) dialog->reject();
    }
}

void QtSyncShell::RunDetails() {
    if (DetailsOpen()) {
        RaiseDetails();
        return;
    }
    RunningPageModel::Environment env;
    COrvaneApp* app = app_;
    env.paused = [app] { return app && app->MainDialog() && app->MainDialog()->paused.load() != 0; };
    env.localScanning = [app] { return app && app->MainDialog() && app->MainDialog()->localScanning.load() != 0; };
    env.inStep = [app] { return app && app->MainDialog() && app->MainDialog()->InStep(); };
    env.togglePause = [app] {
        if (app && app->MainWindowId() != plat::kNoWindow)
            plat::SendMessage(app->MainWindowId(), orvane::kWmCommand, orvane::kCmdSyncControl, 0);
    };
    windows_->details = new CStateDlg(language_, std::move(env));
    DeleteWhenClosed(windows_->details);
    ShowModeless(windows_->details);
}

bool QtSyncShell::DetailsOpen() { return windows_->details && windows_->details->isVisible(); }

void QtSyncShell::CloseDetails() {
    // Closed and gone at once: the program may be ending, and the pages' feeds go with the
    // window before the message loop does.
    delete windows_->details.data();
}

void QtSyncShell::RaiseDetails() {
    if (!windows_->details) return;
    ShowModeless(windows_->details);
}

void QtSyncShell::UpdatePauseButton() {
    if (windows_->details) windows_->details->UpdatePauseButton();
}

void QtSyncShell::RunAbout() {
    if (windows_->about && windows_->about->isVisible()) {  // a closed one is on its way out
        ShowModeless(windows_->about);
        return;
    }
    windows_->about = new CBanbenInfo(language_, ProgramVersion());
    DeleteWhenClosed(windows_->about);
    ShowModeless(windows_->about);
}

void QtSyncShell::RunUpdateNotice() {
    if (windows_->update && windows_->update->isVisible()) {
        ShowModeless(windows_->update);
        return;
    }
    UpdateCheck check;
    check.ownVersion = ProgramVersion();
    check.site = updateSite_ ? *updateSite_ : (app_ ? app_->UpdateSite() : std::string());
    check.openPage = [this](const std::string& address) { OpenUrl(address); };
    windows_->update = new CUpdateDlg(language_, std::move(check));
    DeleteWhenClosed(windows_->update);
    ShowModeless(windows_->update);
}

// ---------------------------------------------------------------- folder choice

namespace {

class CloudPathAdapter final : public CloudPathDialogModel {
public:
    CloudPathAdapter(CSetCloudPath& dialog, QtFolderChooser& chooser, CLanguageIni& language)
        : dialog_(dialog), chooser_(chooser), boxes_(language) {}
    std::u16string PromptKey() const override { return std::u16string(dialog_.PromptKey()); }
    std::u16string Folder() const override { return dialog_.Folder(); }
    void Browse(QWidget*) override {
        dialog_.Browse(chooser_.BrowseForFolder(CSetCloudPath::kBrowseTitleKey, dialog_.Folder()), boxes_);
    }
    void Cancel() override { dialog_.Cancel(); }

private:
    CSetCloudPath& dialog_;
    QtFolderChooser& chooser_;
    QtMessageBoxes boxes_;
};

}  // namespace

void QtFolderChooser::RunSetCloudPath(CSetCloudPath& dialog) {
    CloudPathAdapter model(dialog, *this, language_);
    CSetCloudPathDlg window(language_, model);
    window.exec();
}

std::optional<std::u16string> QtFolderChooser::BrowseForFolder(std::u16string_view titleKey,
                                                               const std::u16string& startFolder) {
    return shell_.BrowseForFolder(std::u16string(titleKey), startFolder);
}

// ---------------------------------------------------------------- the desktop

std::unique_ptr<Desktop> Desktop::Start(int& argc, char** argv) {
    if (!HasDisplay()) return nullptr;
    // A display that cannot be reached leaves the windows unseen rather than the program
    // ended.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        ::setenv("QT_QPA_PLATFORM", wayland && *wayland ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
    }
    std::unique_ptr<Desktop> desktop(new Desktop);
    desktop->application_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    CLanguageIni& language = CLanguageIni::Global();
    desktop->shell_ = std::make_shared<QtSyncShell>(language);
    desktop->tray_ = std::make_shared<QtSyncTray>(language, desktop->shell_.get());
    desktop->shell_->SetTray(desktop->tray_.get());
    desktop->chooser_ = std::make_shared<QtFolderChooser>(language, *desktop->shell_);
    return desktop;
}

Desktop::~Desktop() {
    tray_.reset();
    chooser_.reset();
    shell_.reset();
    application_.reset();
}

void Desktop::Fill(OrvaneOptions& options) {
    options.shell = shell_;
    options.tray = tray_;
    options.chooser = chooser_;
    options.hostLoop = [](plat::MessageLoop& loop) -> std::shared_ptr<void> {
        return std::make_shared<plat::qt::LoopPump>(loop);
    };
}

void Desktop::Bind(COrvaneApp& app) {
    shell_->Bind(&app);
    tray_->Bind(&app);
}

}  // namespace orvane_desktop
