#pragma once
// The client's icon in the notification area, free of any toolkit: the tray menu as data
// (built from the login and sync state each time it is shown, every text translated),
// the balloon record, and the port that carries both out (QtClientTray with
// QSystemTrayIcon; a recording port in the tests).
//
// The port posts the icon's clicks to the notify window as WM_CLIENT_TRAY_NOTIFY (lParam
// the mouse message: kWmLButtonUp or kWmRButtonUp) and a chosen menu command as
// WM_COMMAND (wParam the command id). UI thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/msgloop/MessageLoop.h"

class UiTexts;

namespace client_tray {

inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmLButtonUp = 0x0202;
inline constexpr std::uint32_t kWmRButtonUp = 0x0205;
inline constexpr std::uint32_t WM_CLIENT_TRAY_NOTIFY = plat::kWmUser + 100;

// Tray menu commands.
enum Command : std::uint32_t {
    kCmdMainWindow = 32771,
    kCmdExit = 32772,
    kCmdCloudWeb = 32773,
    kCmdAbout = 32774,
    kCmdTransferList = 32775,
    kCmdLogin = 32776,
    kCmdConfigure = 32777,
    kCmdSyncToggle = 32795,
    kCmdSyncList = 32797,
    kCmdSyncPause = 32799,
    kCmdChangePath = 32801,
    kCmdCloudPath = 32802,
};

inline constexpr int kTrayMenuId = 132;
inline constexpr std::size_t kMaxTip = 127;
inline constexpr std::size_t kMaxBalloonTitle = 63;
inline constexpr std::size_t kMaxBalloonText = 255;

struct MenuItem {
    std::uint32_t id = 0;  // 0: a separator, or a popup when `submenu` is not empty
    std::string text;      // UTF-8, translated
    bool enabled = true;
    int bitmap = 0;        // resource id of the item's picture, 0 none
    std::vector<MenuItem> submenu;
    bool separator() const { return id == 0 && submenu.empty(); }
};

struct MenuState {
    bool loggedIn = false;
    bool syncRunning = false;
    bool syncPaused = false;
};

// The menu as the tray shows it in `state`.
std::vector<MenuItem> BuildMenu(const MenuState& state, const UiTexts& texts);
// The item `id` anywhere in `menu`; null when none.
const MenuItem* FindItem(const std::vector<MenuItem>& menu, std::uint32_t id);

enum class BalloonIcon { None = 0, Info = 1, Error = 3 };
struct Balloon {
    std::string title;  // at most 63 UTF-16 units
    std::string text;   // at most 255
    std::uint32_t timeoutMs = 0;
    BalloonIcon icon = BalloonIcon::None;
};
// `text` cut to at most `units` UTF-16 units (never inside a character).
std::string CutToUnits(const std::string& text, std::size_t units);

class TrayPort {
public:
    virtual ~TrayPort() = default;
    // Clicks go to `window` as WM_CLIENT_TRAY_NOTIFY.
    virtual void SetNotifyWindow(plat::WindowId window) = 0;
    // Shows the icon with its tip; false when the desktop has no notification area (the
    // program runs on without an icon).
    virtual bool AddIcon(const std::string& tip) = 0;
    virtual void SetTip(const std::string& tip) = 0;
    virtual void ShowBalloon(const Balloon& balloon) = 0;
    // Withdraws a balloon still shown.
    virtual void ClearBalloon() = 0;
    virtual void RemoveIcon() = 0;
    // Shows the menu at the pointer; the chosen command goes to `target` as WM_COMMAND.
    virtual void ShowMenu(const std::vector<MenuItem>& menu, plat::WindowId target) = 0;
};

}  // namespace client_tray
