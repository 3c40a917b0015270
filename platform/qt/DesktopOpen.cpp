#include "platform/qt/DesktopOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace plat::qt {

bool OpenLocalPath(const std::string& utf8Path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(utf8Path)));
}

bool OpenAddress(const std::string& url) {
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (!address.isValid() || address.isLocalFile()) return false;
    return QDesktopServices::openUrl(address);
}

}  // namespace plat::qt
