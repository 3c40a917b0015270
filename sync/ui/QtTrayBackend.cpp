#include "sync/ui/QtTrayBackend.h"

#include <QCursor>

#include "sync/ui/Resources.h"

QtTrayBackend::QtTrayBackend() {
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        std::uint32_t mouse = 0;
        if (reason == QSystemTrayIcon::Context) mouse = CSystemTray::kWmRButtonUp;
        else if (reason == QSystemTrayIcon::DoubleClick) mouse = CSystemTray::kWmLButtonDblClk;
        if (mouse != 0 && notify_ != plat::kNoWindow)
            plat::PostMessage(notify_, CSystemTray::WM_TRAY_NOTIFY, iconId_, mouse);
    });
    hostSeen_ = QSystemTrayIcon::isSystemTrayAvailable();
    // A tray host that starts (or restarts) later gets the icon again.
    connect(&hostWatch_, &QTimer::timeout, this, [this] {
        const bool now = QSystemTrayIcon::isSystemTrayAvailable();
        if (now && !hostSeen_ && onHostAppeared) onHostAppeared();
        hostSeen_ = now;
    });
    hostWatch_.start(2000);
}

QtTrayBackend::~QtTrayBackend() {
    if (menu_) delete menu_.data();
    icon_.hide();
}

void QtTrayBackend::Apply(const TrayIconData& data) {
    icon_.setIcon(orvane_ui::IconById(data.icon));
    icon_.setToolTip(QString::fromStdU16String(data.tip));
    icon_.setVisible(added_ && !data.hidden);
}

bool QtTrayBackend::Add(const TrayIconData& data) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    added_ = true;
    Apply(data);
    if (!data.balloonText.empty() && QSystemTrayIcon::supportsMessages()) {
        QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
        if (data.balloonIcon == BalloonIcon::Info) icon = QSystemTrayIcon::Information;
        if (data.balloonIcon == BalloonIcon::Warning) icon = QSystemTrayIcon::Warning;
        if (data.balloonIcon == BalloonIcon::Error) icon = QSystemTrayIcon::Critical;
        icon_.showMessage(QString::fromStdU16String(data.balloonTitle), QString::fromStdU16String(data.balloonText),
                          icon, static_cast<int>(data.balloonTimeoutMs));
    }
    return true;
}

bool QtTrayBackend::Modify(const TrayIconData& data) {
    if (!added_) return false;
    Apply(data);
    return true;
}

bool QtTrayBackend::Delete() {
    added_ = false;
    icon_.hide();
    return true;
}

void QtTrayBackend::ShowMenu(const TrayMenu& menu, plat::WindowId target) {
    if (menu_) delete menu_.data();
    menu_ = new QMenu();
    menu_->setObjectName(QString::number(menu.resourceId));
    for (const TrayMenuItem& item : menu.items) {
        if (item.separator()) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(QString::fromStdU16String(item.text));
        action->setObjectName(QString::number(item.id));
        action->setEnabled(!item.disabled);
        if (item.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
        const std::uint32_t id = item.id;
        connect(action, &QAction::triggered, this,
                [target, id] { plat::PostMessage(target, CSystemTray::kWmCommand, id, 0); });
    }
    if (!menu.items.empty() && !menu.items.front().separator()) menu_->setDefaultAction(menu_->actions().front());
    connect(menu_.data(), &QMenu::aboutToHide, menu_.data(), &QObject::deleteLater);
    menu_->popup(QCursor::pos());
    menu_->activateWindow();
}

std::optional<TrayMenu> QtTrayBackend::LoadMenu(int resourceId) {
    const std::optional<std::string> text =
        orvane_ui::ResourceText(QStringLiteral(":/orvane/menus/%1.menu").arg(resourceId));
    if (!text) return std::nullopt;
    return ParseMenuResource(resourceId, *text);
}
