#include "client/app/QtClientWindows.h"

#include <QCoreApplication>

#include <QMessageBox>

#include "client/local/ClientControl.h"
#include "client/ui/AboutDlg.h"
#include "client/ui/ClientResources.h"
#include "client/ui/ClientServices.h"
#include "client/ui/ClientSettingsPorts.h"
#include "client/ui/ConfigureDlg.h"
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
    box.exec();
}

bool QtClientDesktop::OpenAddress(const std::string& url) {
    // Only web addresses reach the desktop's browser.
    const std::string address = WebAddressOf(url);
    return !address.empty() && address == url && plat::qt::OpenAddress(address);
}

bool QtClientDesktop::OpenFolder(const std::string& path) { return plat::qt::OpenLocalPath(path); }

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

int QtWindowOpeners::Run(ClientWindow kind, QDialog& dialog) {
    running_[kind] = &dialog;
    const int result = dialog.exec();
    running_.erase(kind);
    return result;
}

void QtWindowOpeners::RunLoginDialog() {
    CLoginDlg dialog(control_, config_, texts_, desktop_);
    Run(ClientWindow::Login, dialog);
}

void QtWindowOpeners::RunAbout() {
    CAboutDlg dialog(texts_, version_);
    Run(ClientWindow::About, dialog);
}

void QtWindowOpeners::RunMainWindow() {
    ControlServices services(control_);
    // The browser's Transfer List goes to the tray window, which opens the transfer list
    // or raises the one open.
    CMainDlg dialog(services, transferListCommand_, nullptr, loginCommand_);
    Run(ClientWindow::MainWindow, dialog);
}

void QtWindowOpeners::RunTransferList() {
    ControlServices services(control_);
    CTransferListDlg dialog(services);
    Run(ClientWindow::TransferList, dialog);
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

void QtWindowOpeners::RunSettings() {
    ClientSettingsPorts ports(control_, config_, configPath_,
                              AutoStartEntry(exePath_.empty() ? plat::ExecutablePath() : exePath_, plat::ConfigHome()),
                              version_);
    ClientControlFacade facade(&control_);
    const auto translate = [this](const std::string& key) { return Translate(key); };
    CConfigureDlg dialog(
        ports, desktop_,
        [this, translate](QWidget* parent) {
            if (plat::MessageLoop* loop = plat::MessageLoop::Current()) {
                RunManualVersionCheck(parent, VersionOptions(false), translate, *loop, desktop_);
            }
        },
        &facade);
    Run(ClientWindow::Settings, dialog);
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
    // A version check opened from the settings ends first (a download is cancelled).
    for (QDialog* child : dialog->findChildren<QDialog*>()) {
        if (auto* check = dynamic_cast<CVersionUpdateDlg*>(child)) check->reject();
    }
    dialog->done(0);
}
