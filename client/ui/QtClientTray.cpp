#include "client/ui/QtClientTray.h"

#include <QCursor>

#include "client/ui/ClientResources.h"

using namespace client_tray;

QtClientTray::QtClientTray() {
    icon_.setIcon(client_ui::Icon(client_ui::kIconClient));
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        std::intptr_t mouse = 0;
        if (reason == QSystemTrayIcon::Trigger) mouse = kWmLButtonUp;
        else if (reason == QSystemTrayIcon::Context) mouse = kWmRButtonUp;
        if (mouse != 0 && notify_ != plat::kNoWindow) plat::PostMessage(notify_, WM_CLIENT_TRAY_NOTIFY, 128, mouse);
    });
    // A notification area that starts (or restarts) later gets the icon.
    connect(&hostWatch_, &QTimer::timeout, this, [this] {
        if (wanted_ && !icon_.isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) icon_.show();
    });
    hostWatch_.start(2000);
}

QtClientTray::~QtClientTray() {
    if (menu_) delete menu_.data();
    icon_.hide();
}

bool QtClientTray::AddIcon(const std::string& tip) {
    wanted_ = true;
    icon_.setToolTip(QString::fromStdString(tip));
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    icon_.show();
    return true;
}

void QtClientTray::SetTip(const std::string& tip) { icon_.setToolTip(QString::fromStdString(tip)); }

void QtClientTray::ShowBalloon(const Balloon& balloon) {
    if (!icon_.isVisible() || !QSystemTrayIcon::supportsMessages()) return;
    QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
    if (balloon.icon == BalloonIcon::Info) icon = QSystemTrayIcon::Information;
    if (balloon.icon == BalloonIcon::Error) icon = QSystemTrayIcon::Critical;
    icon_.showMessage(QString::fromStdString(balloon.title), QString::fromStdString(balloon.text), icon,
                      static_cast<int>(balloon.timeoutMs));
}

void QtClientTray::ClearBalloon() {
    // An empty message withdraws the one shown, where the desktop allows it.
    if (icon_.isVisible() && QSystemTrayIcon::supportsMessages()) icon_.showMessage(QString(), QString(), QSystemTrayIcon::NoIcon, 1);
}

void QtClientTray::RemoveIcon() {
    wanted_ = false;
    icon_.hide();
}

QMenu* QtClientTray::MakeMenu(const std::vector<MenuItem>& items, plat::WindowId target, QWidget* parent) {
    auto* menu = new QMenu(parent);
    for (const MenuItem& item : items) {
        if (item.separator()) {
            menu->addSeparator();
        } else if (!item.submenu.empty()) {
            QMenu* sub = MakeMenu(item.submenu, target, menu);
            sub->setTitle(QString::fromStdString(item.text));
            menu->addMenu(sub);
        } else {
            QAction* action = menu->addAction(QString::fromStdString(item.text));
            action->setObjectName(QString::number(item.id));
            action->setEnabled(item.enabled);
            if (item.bitmap != 0) action->setIcon(client_ui::Icon(item.bitmap));
            const std::uint32_t id = item.id;
            QObject::connect(action, &QAction::triggered, menu,
                             [target, id] { plat::PostMessage(target, kWmCommand, id, 0); });
        }
    }
    return menu;
}

void QtClientTray::ShowMenu(const std::vector<MenuItem>& items, plat::WindowId target) {
    if (menu_) delete menu_.data();
    menu_ = MakeMenu(items, target, nullptr);
    menu_->setObjectName(QString::number(kTrayMenuId));
    connect(menu_.data(), &QMenu::aboutToHide, menu_.data(), &QObject::deleteLater);
    menu_->popup(QCursor::pos());
    menu_->activateWindow();
}
