#include "client/desktop/QtClientWindows.h"

#include <QCoreApplication>

#include <QMessageBox>

#include "client/local/ClientControl.h"
#include "client/ui/AboutDlg.h"
#include "client/ui/ClientResources.h"
#include "client/ui/ClientServices.h"
#include "client/ui/ClientSettingsPorts.h"
#include "client/ui/ConfigureDlg.h"
#include "client/ui/DialogLayout.h"
#include "client/ui/LoginDlg.h"
#include "client/ui/MainDlg.h"
#include "client/ui/TransferListDlg.h"
#include "client/ui/UiTexts.h"
#include "client/ui/VersionUpdateDlg.h"
#include "platform/qt/DesktopOpen.h"
#include "platform/qt/ToolkitLanguage.h"
#include "platform/userdirs.h"

void QtClientDesktop::MessageBox(const std::string& caption, const std::string& text, BoxIcon icon) {
    QMessageBox box;
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setWindowIcon(client_ui::Icon(client_ui::kIconClient));
    box.setIcon(icon == BoxIcon::Information   ? QMessageBox::Information
                : icon == BoxIcon::Exclamation ? QMessageBox::Warning
                                               : QMessageBox::Critical);
    box.setStandardButtons(QMessageBox::Ok);
    // Without a modal loop: the tray and the windows answer while the box shows.
    client_ui::RunDialog(box);
}

void QtClientDesktop::OpenAddress(const std::string& url, std::function<void()> failed) {
    // Only web addresses reach the desktop's browser.
    const std::string address = WebAddressOf(url);
    if (address.empty() || address != url) {
        if (failed) failed();
        return;
    }
    plat::qt::OpenAddressReported(address, &watches_, failed ? std::move(failed) : [] {});
}

void QtClientDesktop::OpenFolder(const std::string& path, std::function<void()> failed) {
    plat::qt::OpenLocalPathReported(path, &watches_, failed ? std::move(failed) : [] {});
}

QtToolkitLanguage::QtToolkitLanguage(ClientControl& control) : control_(control) {
    plat::qt::UseToolkitLanguage(control_.Languages().GetCurrentCode());
    control_.Bus().AddListener(this);
}

QtToolkitLanguage::~QtToolkitLanguage() { control_.Bus().RemoveListener(this); }

void QtToolkitLanguage::OnLanguageChanged(const std::string& languageCode) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [languageCode] { plat::qt::UseToolkitLanguage(languageCode); },
        Qt::QueuedConnection);
}

QtWindowOpeners::QtWindowOpeners(ClientControl& control, Config& config, const UiTexts& texts, ClientDesktop& desktop,
                                 std::string version)
    : control_(control), config_(config), texts_(texts), desktop_(desktop), version_(std::move(version)) {}

QtWindowOpeners::~QtWindowOpeners() {
    // The windows go before what they use (the controller outlives the openers).
    std::vector<QPointer<QDialog>> all = std::move(closing_);
    for (auto& [kind, open] : running_) all.push_back(open);
    running_.clear();
    for (QPointer<QDialog>& dialog : all) delete dialog.data();
}

void QtWindowOpeners::Show(ClientWindow kind, QDialog* dialog, std::unique_ptr<Keep> keep) {
    // What the window uses goes only after the window itself.
    std::shared_ptr<Keep> held(std::move(keep));
    QObject::connect(dialog, &QObject::destroyed, [held] {});
    running_[kind] = dialog;
    QObject::connect(dialog, &QDialog::finished, dialog, [this, kind, dialog] { Closed(kind, dialog); });
    // Modeless: the tray, its menu and the other windows keep answering.
    dialog->setWindowModality(Qt::NonModal);
    dialog->setResult(0);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void QtWindowOpeners::Closed(ClientWindow kind, QDialog* dialog) {
    const auto it = running_.find(kind);
    if (it == running_.end() || it->second.data() != dialog) return;
    running_.erase(it);
    std::erase_if(closing_, [](const QPointer<QDialog>& gone) { return gone.isNull(); });
    closing_.push_back(dialog);
    // Deleted later: the signal may come from one of the window's own handlers.
    dialog->deleteLater();
    if (closed_) closed_(kind);
}

namespace {

struct BrowserKeep final : QtWindowOpeners::Keep {
    explicit BrowserKeep(ClientControl& control) : services(control) {}
    ControlServices services;
};

struct SettingsKeep final : QtWindowOpeners::Keep {
    SettingsKeep(ClientControl& control, Config& config, const std::string& configPath, AutoStartEntry entry,
                 const std::string& version)
        : ports(control, config, configPath, std::move(entry), version), facade(&control) {}
    ClientSettingsPorts ports;
    ClientControlFacade facade;
};

}  // namespace

void QtWindowOpeners::OpenLoginDialog() {
    auto* dialog = new CLoginDlg(control_, config_, texts_, desktop_);
    if (!dialog->Start()) {
        delete dialog;
        if (closed_) closed_(ClientWindow::Login);
        return;
    }
    Show(ClientWindow::Login, dialog);
}

void QtWindowOpeners::OpenAbout() { Show(ClientWindow::About, new CAboutDlg(texts_, version_)); }

void QtWindowOpeners::OpenMainWindow() {
    auto keep = std::make_unique<BrowserKeep>(control_);
    // The browser's Transfer List goes to the tray window, which opens the transfer list
    // or raises the one open.
    auto* dialog = new CMainDlg(keep->services, transferListCommand_, nullptr, loginCommand_);
    Show(ClientWindow::MainWindow, dialog, std::move(keep));
}

void QtWindowOpeners::OpenTransferList() {
    auto keep = std::make_unique<BrowserKeep>(control_);
    auto* dialog = new CTransferListDlg(keep->services);
    Show(ClientWindow::TransferList, dialog, std::move(keep));
}

void QtWindowOpeners::SetPlaces(std::string configPath, std::string dataFolder, std::string exePath) {
    configPath_ = std::move(configPath);
    dataFolder_ = std::move(dataFolder);
    exePath_ = std::move(exePath);
}

std::string QtWindowOpeners::Translate(const std::string& key) const { return texts_.Text(key); }

VersionUpdate::Options QtWindowOpeners::VersionOptions(bool automatic) const {
    VersionUpdate::Options options;
    options.updateSite = config_.UpdateSiteAddress.empty() ? Config::kDefaultUpdateSite : config_.UpdateSiteAddress;
    options.baseFolder = dataFolder_;
    options.fileVersion = version_;
    options.automatic = automatic;
    return options;
}

void QtWindowOpeners::OpenSettings() {
    auto keep = std::make_unique<SettingsKeep>(
        control_, config_, configPath_,
        AutoStartEntry(exePath_.empty() ? plat::ExecutablePath() : exePath_, plat::ConfigHome()), version_);
    const auto translate = [this](const std::string& key) { return Translate(key); };
    auto* dialog = new CConfigureDlg(
        keep->ports, desktop_,
        [this, translate](QWidget* parent) {
            if (plat::MessageLoop* loop = plat::MessageLoop::Current()) {
                RunManualVersionCheck(parent, VersionOptions(false), translate, *loop, desktop_);
            }
        },
        &keep->facade);
    Show(ClientWindow::Settings, dialog, std::move(keep));
}

int QtWindowOpeners::RunVersionCheck(bool automatic) {
    installerPath_.clear();
    plat::MessageLoop* loop = plat::MessageLoop::Current();
    if (loop == nullptr) return VersionUpdate::EndNothingToDo;
    return RunVersionDialog(nullptr, VersionOptions(automatic), [this](const std::string& key) { return Translate(key); },
                            *loop, installerPath_);
}

QDialog* QtWindowOpeners::Running(ClientWindow window) const {
    const auto it = running_.find(window);
    return it == running_.end() ? nullptr : it->second.data();
}

void QtWindowOpeners::Raise(ClientWindow window) {
    if (QDialog* dialog = Running(window)) {
        dialog->show();
        dialog->raise();
        dialog->activateWindow();
    }
}

void QtWindowOpeners::Close(ClientWindow window) {
    QDialog* dialog = Running(window);
    if (dialog == nullptr) return;
    // The dialogs the window opened end first, innermost first (an input box, a picker, a
    // message box, a version check whose download is cancelled), so no loop of theirs
    // keeps running after the window.
    QList<QDialog*> children = dialog->findChildren<QDialog*>();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (QPointer<QDialog> child(*it); child && child->isVisible()) child->reject();
    }
    dialog->done(0);
}
