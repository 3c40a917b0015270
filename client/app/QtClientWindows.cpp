#include "client/app/QtClientWindows.h"

#include <QMessageBox>

#include "client/local/ClientControl.h"
#include "client/ui/AboutDlg.h"
#include "client/ui/ClientResources.h"
#include "client/ui/LoginDlg.h"
#include "client/ui/UiTexts.h"
#include "platform/qt/DesktopOpen.h"

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

// Windows of this program that are not part of this build yet.
void QtWindowOpeners::RunMainWindow() {}
void QtWindowOpeners::RunTransferList() {}
void QtWindowOpeners::RunSettings() {}

int QtWindowOpeners::RunVersionCheck(bool) {
    installerPath_.clear();
    return 4;
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
    if (QDialog* dialog = Running(window)) dialog->done(0);
}
