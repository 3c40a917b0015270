#pragma once
// The notification area through QSystemTrayIcon. A right click or a double click on the
// icon is posted to the tray's window as WM_TRAY_NOTIFY (the icon id in wParam, the mouse
// message in lParam), so CSystemTray decides; the menu is a QMenu whose choice is posted
// to the target window as WM_COMMAND. Without a tray host nothing is shown and Add fails;
// when a host appears later, `onHostAppeared` is called (the tray adds its icon again).
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <memory>

#include "sync/ui/SystemTray.h"

class QtTrayBackend final : public QObject, public TrayBackend {
public:
    QtTrayBackend();
    ~QtTrayBackend() override;

    bool Enabled() override { return true; }
    bool BalloonsSupported() override { return QSystemTrayIcon::supportsMessages(); }
    bool Add(const TrayIconData& data) override;
    bool Modify(const TrayIconData& data) override;
    bool Delete() override;
    void ShowMenu(const TrayMenu& menu, plat::WindowId target) override;
    std::optional<TrayMenu> LoadMenu(int resourceId) override;
    void SetNotifyWindow(plat::WindowId window) override { notify_ = window; }

    // The icon id the mouse messages carry (the menu to open).
    void SetIconId(std::uint32_t id) { iconId_ = id; }
    std::function<void()> onHostAppeared;
    QSystemTrayIcon& Icon() { return icon_; }
    QMenu* OpenMenu() const { return menu_.data(); }

private:
    void Apply(const TrayIconData& data);

    QSystemTrayIcon icon_;
    QPointer<QMenu> menu_;
    QTimer hostWatch_;
    bool hostSeen_ = false;
    bool added_ = false;
    std::uint32_t iconId_ = 0;
    plat::WindowId notify_ = plat::kNoWindow;
};
