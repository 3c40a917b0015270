#pragma once
// The sync program's icon in the notification area (CSystemTray), free of any toolkit.
//
// CSystemTray keeps the icon's state (shown, hidden, removed, the flags of its last add,
// the tooltip key, the animation) and decides what the notification area is told; a
// TrayBackend carries it out (QtTrayBackend.h with QSystemTrayIcon, a recording backend in
// the tests). The class owns a window of the UI thread's message loop: the animation
// timer runs there, and the backend posts the icon's mouse messages (WM_TRAY_NOTIFY)
// to it. Menu commands go to the target window as WM_COMMAND messages.
//
// Menus: the icon id names the menu it opens, 129 (logged in) or 203 (not logged in). A
// right click opens that menu with every text translated and the pause item in its
// current form; a double click posts the menu's default command. UI thread only.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/msgloop/MessageLoop.h"

class CLanguageIni;

// A menu resource: items with a command id (0: a separator).
struct TrayMenuItem {
    std::uint32_t id = 0;
    std::u16string text;
    bool checked = false;
    bool disabled = false;  // shown greyed: a command the program does not carry out
    bool separator() const { return id == 0; }
};
struct TrayMenu {
    int resourceId = 0;
    std::vector<TrayMenuItem> items;
    bool Delete(std::uint32_t id);
    bool SetText(std::uint32_t id, const std::u16string& text);
    const TrayMenuItem* Find(std::uint32_t id) const;
};
// Reads a menu resource's text: one item a line, "<id> <text>" with optional trailing
// " [checked]" and " [disabled]", "-" for a separator, '#' for comments. None when nothing could be read.
std::optional<TrayMenu> ParseMenuResource(int resourceId, const std::string& text);

enum class BalloonIcon { None = 0, Info = 1, Warning = 2, Error = 3 };

// What the notification area is asked to show.
struct TrayIconData {
    int icon = 0;                 // icon resource
    std::u16string tip;           // at most 127 units
    bool hidden = false;
    std::u16string balloonText;   // empty: none
    std::u16string balloonTitle;
    BalloonIcon balloonIcon = BalloonIcon::None;
    std::uint32_t balloonTimeoutMs = 0;
};

class TrayBackend {
public:
    virtual ~TrayBackend() = default;
    // Whether the desktop can show notification icons at all ("enabled"), and balloons.
    virtual bool Enabled() = 0;
    virtual bool BalloonsSupported() = 0;
    virtual bool Add(const TrayIconData& data) = 0;
    virtual bool Modify(const TrayIconData& data) = 0;
    virtual bool Delete() = 0;
    // Shows the menu at the pointer; a chosen command is posted as WM_COMMAND to `target`.
    virtual void ShowMenu(const TrayMenu& menu, plat::WindowId target) = 0;
    // Loads a menu resource.
    virtual std::optional<TrayMenu> LoadMenu(int resourceId) = 0;
    // The icon's window: the backend posts the icon's mouse messages to it.
    virtual void SetNotifyWindow(plat::WindowId window) = 0;
};

class CSystemTray {
public:
    static constexpr std::uint32_t WM_TRAY_NOTIFY = 0x800A;
    static constexpr std::uintptr_t TIMER_TRAY_ANIMATION = 4567;
    static constexpr std::uint32_t kAnimationMs = 500;
    static constexpr std::uint32_t kWmCommand = 0x0111;
    static constexpr std::uint32_t kWmRButtonUp = 0x0205;
    static constexpr std::uint32_t kWmLButtonDblClk = 0x0203;
    static constexpr std::uint32_t kCmdSyncControl = 32777;
    static constexpr std::uint32_t kCmdCheckUpdate = 32779;
    static constexpr std::size_t kMaxTip = 127;

    // What the tray reads of the main window.
    struct Environment {
        std::function<bool()> paused;       // the pause flag
        std::function<int()> serverState;   // 2: logged in with a server listing
    };

    CSystemTray(TrayBackend& backend, CLanguageIni& language, Environment environment = {});
    ~CSystemTray();  // removes the icon
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    bool Create(const std::u16string& tooltip, int icon, int iconId, bool hidden,
                const std::u16string& balloonText = {}, const std::u16string& balloonTitle = {},
                BalloonIcon balloonIcon = BalloonIcon::None, std::uint32_t balloonTimeoutSeconds = 0);
    bool DeleteIcon();
    bool SetIcon(int icon);
    // Stores `key` (unless `retranslate`), then shows the stored key's text in the
    // current language.
    void SetTooltipText(const std::u16string& key, bool retranslate);
    bool SetIconList();
    void Animate();
    void StopAnimation();
    // The icon's mouse message (also posted as WM_TRAY_NOTIFY); 1 when handled.
    int HandleTrayMessage(std::uint32_t iconId, std::uint32_t mouseMessage);
    // The last changes to a menu before it is shown.
    void AdjustMenu(TrayMenu& menu);
    // The notification area came back (a new tray host): the icon is added again.
    void OnShellRestart();

    void SetTargetWnd(plat::WindowId target) { target_ = target; }
    // Which menu the icon opens (129 or 203).
    void SetIconId(std::uint32_t id) { iconId_ = id; }
    std::uint32_t IconId() const { return iconId_; }
    void SetMenuDefaultItem(std::uint32_t item, bool byPosition) {
        defaultItem_ = item;
        defaultByPosition_ = byPosition;
    }

    // State, for the tests and the log.
    bool Enabled() const { return enabled_; }
    bool Hidden() const { return hidden_; }
    bool Removed() const { return removed_; }
    bool ShowPending() const { return showPending_; }
    bool Animating() const { return animationTimer_; }
    int CurrentIcon() const { return data_.icon; }
    const std::u16string& TooltipKey() const { return tooltipKey_; }
    const std::u16string& Tooltip() const { return data_.tip; }
    std::size_t FrameIndex() const { return frame_; }
    plat::WindowId Window() const { return window_; }

private:
    plat::MsgResult Proc(plat::Message& message);
    void NextFrame();
    bool ModifyUnlessHidden();
    std::optional<TrayMenu> TranslatedMenu(std::uint32_t id);

    TrayBackend& backend_;
    CLanguageIni& language_;
    Environment env_;
    TrayIconData data_;
    bool enabled_ = false;
    bool balloons_ = false;
    bool hidden_ = true;
    bool removed_ = true;
    bool showPending_ = false;
    bool created_ = false;
    std::uint32_t iconId_ = 0;
    plat::WindowId target_ = plat::kNoWindow;
    plat::WindowId window_ = plat::kNoWindow;
    std::uint32_t defaultItem_ = 0;
    bool defaultByPosition_ = true;
    std::vector<int> animationIcons_;
    std::size_t frame_ = 0;
    bool animationTimer_ = false;
    std::optional<int> savedIcon_;
    std::u16string tooltipKey_;
};
