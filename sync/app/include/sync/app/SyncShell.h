#pragma once
// What the sync program's main window asks of a desktop: the notification-area icon,
// message boxes, dialogs and the shell. Each is an interface with a headless
// implementation, so the program runs on without a display or a tray: a box is written
// to the log, a confirmation is answered with Cancel, a folder choice is cancelled (the
// current folder stays), shell calls are logged. The desktop implementations live with
// the user interface.
//
// The main window calls these on its own thread only.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The notification-area icon and its menu.
class SyncTray {
public:
    // Menu resources: logged in, not logged in.
    static constexpr int kMenuLoggedIn = 129;
    static constexpr int kMenuLoggedOut = 203;

    virtual ~SyncTray() = default;
    // Adds the icon (resource `iconId`) with the tooltip of `tooltipKey`; false when no
    // icon could be added (the caller tries again).
    virtual bool Create(const std::string& tooltipKey, int iconId) = 0;
    // Shows a fixed icon (the caller stops the animation first).
    virtual void SetIcon(int iconId) = 0;
    virtual void Animate() = 0;
    virtual void StopAnimation() = 0;
    // Stores the key and shows its text in the current language; an empty key re-applies
    // the stored one (after a change of language).
    virtual void SetTooltipText(const std::string& key) = 0;
    // The pause entry of the menu in its pause (false) or resume (true) form.
    virtual void SetPauseForm(bool paused) = 0;
    // Which menu the icon opens (kMenuLoggedIn or kMenuLoggedOut).
    virtual void SetMenu(int menuId) = 0;
    // 0 English, 1 Chinese.
    virtual void SetLanguage(int language) = 0;
    virtual void Remove() = 0;
};

// Boxes, dialogs and the desktop shell.
class SyncShell {
public:
    virtual ~SyncShell() = default;
    // An information box with an OK button.
    virtual void MessageBox(const std::string& caption, const std::string& text) = 0;
    // A box with OK and Cancel; true for OK.
    virtual bool Confirm(const std::string& caption, const std::string& text) = 0;
    // Opens a folder in the file manager.
    virtual void OpenFolder(const std::u16string& path) = 0;
    // Opens an address in the web browser.
    virtual void OpenUrl(const std::string& url) = 0;
    // Tells the desktop to redraw the folder's icons.
    virtual void NotifyAssociationsChanged() = 0;
    // Asks for another sync folder, starting at `current`; none when cancelled.
    virtual std::optional<std::u16string> BrowseForFolder(const std::u16string& title,
                                                          const std::u16string& current) = 0;
    // Whether the folder browser is open now, raising and closing it.
    virtual bool FolderBrowserOpen() = 0;
    virtual void RaiseFolderBrowser() = 0;
    virtual void CloseFolderBrowser() = 0;
    // The sync-details window, the version dialog and the update notice. They open
    // without a modal loop and return at once (the tray and the main window answer while
    // they show); a second request of a kind brings the open window forward.
    virtual void RunDetails() = 0;
    virtual bool DetailsOpen() = 0;
    virtual void CloseDetails() = 0;
    virtual void RaiseDetails() = 0;
    virtual void RunAbout() = 0;
    virtual void RunUpdateNotice() = 0;
    // Brings the (hidden) main window to the front.
    virtual void RaiseMainWindow() = 0;
    // The program ends: every window and box of the shell that is open ends (cancelled),
    // so that none keeps the program running.
    virtual void CloseAll() = 0;
};

// Headless tray: remembers what it was asked to show and logs it.
class HeadlessTray final : public SyncTray {
public:
    struct State {
        bool created = false;
        int icon = 0;
        bool animating = false;
        std::string tooltipKey;
        bool pauseForm = false;
        int menu = kMenuLoggedOut;
        int language = 0;
    };

    bool Create(const std::string& tooltipKey, int iconId) override;
    void SetIcon(int iconId) override;
    void Animate() override;
    void StopAnimation() override;
    void SetTooltipText(const std::string& key) override;
    void SetPauseForm(bool paused) override;
    void SetMenu(int menuId) override;
    void SetLanguage(int language) override;
    void Remove() override;

    // A copy of the current state (any thread).
    State Snapshot() const;

private:
    mutable std::mutex lock_;
    State state_;
};

// Headless shell: boxes and shell calls go to the log; confirmations and folder choices
// are cancelled; no window ever opens.
class HeadlessShell : public SyncShell {
public:
    void MessageBox(const std::string& caption, const std::string& text) override;
    bool Confirm(const std::string& caption, const std::string& text) override;
    void OpenFolder(const std::u16string& path) override;
    void OpenUrl(const std::string& url) override;
    void NotifyAssociationsChanged() override;
    std::optional<std::u16string> BrowseForFolder(const std::u16string& title,
                                                  const std::u16string& current) override;
    bool FolderBrowserOpen() override { return false; }
    void RaiseFolderBrowser() override {}
    void CloseFolderBrowser() override {}
    void RunDetails() override;
    bool DetailsOpen() override { return false; }
    void CloseDetails() override {}
    void RaiseDetails() override {}
    void RunAbout() override;
    void RunUpdateNotice() override;
    void RaiseMainWindow() override {}
    void CloseAll() override {}

    // The boxes shown so far, "caption: text" (any thread).
    std::vector<std::string> Boxes() const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> boxes_;
};
