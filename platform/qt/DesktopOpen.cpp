#include "platform/qt/DesktopOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "platform/process.h"

namespace plat::qt {
namespace {

// Hands `target` to the desktop's opener through the program's own launch, so that the
// opener and what it starts inherit no descriptor of this process. Without the opener
// the toolkit's own way is the only one left.
bool OpenWithDesktop(const std::string& target, const QUrl& url) {
    const std::string opener = plat::FindProgram("xdg-open");
    if (opener.empty()) return QDesktopServices::openUrl(url);
    int pid = 0;
    return plat::Spawn({opener, target}, true, pid);
}

}  // namespace

bool OpenLocalPath(const std::string& utf8Path) {
    if (utf8Path.empty() || utf8Path.front() != '/') return false;
    return OpenWithDesktop(utf8Path, QUrl::fromLocalFile(QString::fromStdString(utf8Path)));
}

bool OpenAddress(const std::string& url) {
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (!address.isValid() || address.isLocalFile()) return false;
    return OpenWithDesktop(address.toString(QUrl::FullyEncoded).toStdString(), address);
}

}  // namespace plat::qt
