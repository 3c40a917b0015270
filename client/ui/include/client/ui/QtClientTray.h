#pragma once
// The notification area through QSystemTrayIcon: the client's icon, its tip, its
// balloons and its menu (a QMenu built from the menu data, commands posted to the target
// window as WM_COMMAND). A left click is posted as WM_CLIENT_TRAY_NOTIFY with
// kWmLButtonUp, a right click with kWmRButtonUp. Without a notification area AddIcon
// fails and nothing shows; when one appears later the icon is added then. UI thread only.
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include "client/ui/ClientTray.h"

class QtClientTray final : public QObject, public client_tray::TrayPort {
public:
    QtClientTray();
    ~QtClientTray() override;

    void SetNotifyWindow(plat::WindowId window) override { notify_ = window; }
    bool AddIcon(const std::string& tip) override;
    void SetTip(const std::string& tip) override;
    void ShowBalloon(const client_tray::Balloon& balloon) override;
    void ClearBalloon() override;
    void RemoveIcon() override;
    void ShowMenu(const std::vector<client_tray::MenuItem>& menu, plat::WindowId target) override;

    // The menu as a QMenu (the gallery renders it).
    static QMenu* MakeMenu(const std::vector<client_tray::MenuItem>& menu, plat::WindowId target, QWidget* parent);
    QMenu* OpenMenu() const { return menu_.data(); }

private:
    QSystemTrayIcon icon_;
    QPointer<QMenu> menu_;
    QTimer hostWatch_;
    bool wanted_ = false;  // AddIcon was asked and RemoveIcon not since
    plat::WindowId notify_ = plat::kNoWindow;
};
