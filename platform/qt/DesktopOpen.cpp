#include "platform/qt/DesktopOpen.h"

#include <QDesktopServices>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

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

// Starts the opener as a child (its output dropped) and polls for its end from the
// event loop; see OpenLocalPathReported.
void WatchOpener(const std::string& target, const QUrl& url, QObject* context, std::function<void()> failed) {
    const std::string opener = plat::FindProgram("xdg-open");
    if (opener.empty()) {
        if (!QDesktopServices::openUrl(url)) failed();
        return;
    }
    int pid = 0;
    if (!plat::Spawn({"/bin/sh", "-c", "exec \"$@\" >/dev/null 2>&1 </dev/null", "sh", opener, target}, false, pid)) {
        failed();
        return;
    }
    struct Watch {
        int pid = 0;
        bool ended = false;
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        ~Watch() {
            if (!ended) plat::ReapLater(pid);  // the context went first, or the opener runs on
        }
    };
    auto watch = std::make_shared<Watch>();
    watch->pid = pid;
    auto* timer = new QTimer(context);
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, watch, failed = std::move(failed)] {
        int code = 0;
        const int state = plat::WaitChild(watch->pid, 0, &code);
        if (state == 258 &&
            std::chrono::steady_clock::now() - watch->start < std::chrono::milliseconds(kOpenerWatchMs))
            return;
        timer->stop();
        timer->deleteLater();
        if (state == 258) return;  // still running: it opened something; reaped later
        watch->ended = true;
        if (state != 0 || code != 0) failed();
    });
    timer->start();
}

}  // namespace

void OpenLocalPathReported(const std::string& utf8Path, QObject* context, std::function<void()> failed) {
    if (utf8Path.empty() || utf8Path.front() != '/') {
        failed();
        return;
    }
    WatchOpener(utf8Path, QUrl::fromLocalFile(QString::fromStdString(utf8Path)), context, std::move(failed));
}

void OpenAddressReported(const std::string& url, QObject* context, std::function<void()> failed) {
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (!address.isValid() || address.isLocalFile()) {
        failed();
        return;
    }
    WatchOpener(address.toString(QUrl::FullyEncoded).toStdString(), address, context, std::move(failed));
}

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
