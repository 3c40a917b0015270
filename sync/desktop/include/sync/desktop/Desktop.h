#pragma once
// The sync program on a desktop: the Qt implementations of what its main window asks of
// a desktop (SyncTray, SyncShell, FolderChooser, MessageBoxes), and the choice between
// them and the headless ones.
//
// With a display (DISPLAY or WAYLAND_DISPLAY set) the program makes a QApplication, lets
// Qt's event loop drive its message loop, and uses the windows of sync/ui; a desktop
// without a notification area leaves the program running without an icon (the tray's
// state is logged). Without a display it uses the headless implementations and no Qt at
// all. Only the program's main uses this library.
class QApplication;

#include <memory>
#include <optional>
#include <string>

#include "sync/app/OrvaneApp.h"
#include "sync/app/SetCloudPath.h"
#include "sync/app/SyncShell.h"

class CLanguageIni;
class CBanbenInfo;
class CStateDlg;
class CSystemTray;
class CUpdateDlg;
class QtTrayBackend;
class QFileDialog;
class QObject;

namespace orvane_desktop {

// Whether a display is announced in the environment.
bool HasDisplay(const char* display, const char* waylandDisplay);
bool HasDisplay();

// The program's version ("1.2.3.4").
std::string ProgramVersion();

// Message boxes of the folder checks.
class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(CLanguageIni& language) : language_(language) {}
    void Show(const BoxMessage& message) override;

private:
    CLanguageIni& language_;
};

class QtSyncShell;

// The icon in the notification area.
class QtSyncTray final : public SyncTray {
public:
    QtSyncTray(CLanguageIni& language, QtSyncShell* shell);
    ~QtSyncTray() override;
    void Bind(COrvaneApp* app) { app_ = app; }

    bool Create(const std::string& tooltipKey, int iconId) override;
    void SetIcon(int iconId) override;
    void Animate() override;
    void StopAnimation() override;
    void SetTooltipText(const std::string& key) override;
    void SetPauseForm(bool paused) override;
    void SetMenu(int menuId) override;
    void SetLanguage(int language) override;
    void Remove() override;

    CSystemTray* Tray() const { return tray_.get(); }
    QtTrayBackend* Backend() const { return backend_.get(); }

private:
    void Make();
    CLanguageIni& language_;
    QtSyncShell* shell_;
    COrvaneApp* app_ = nullptr;
    std::unique_ptr<QtTrayBackend> backend_;
    std::unique_ptr<CSystemTray> tray_;
    int menu_ = kMenuLoggedOut;
};

// Boxes, dialogs and the desktop's shell. The sync-details window, the version box and
// the update notice run without a modal loop: the tray icon, its menu and the other
// windows answer while they show, and a second request of a kind brings the open window
// forward. Boxes asked for on the UI thread wait for their OK in a loop of their own
// that blocks no other window. What the desktop could not open is told to the user
// without waiting (a balloon at the icon, else a box that does not block).
class QtSyncShell final : public SyncShell {
public:
    explicit QtSyncShell(CLanguageIni& language);
    ~QtSyncShell() override;
    void Bind(COrvaneApp* app) { app_ = app; }
    void SetTray(QtSyncTray* tray) { tray_ = tray; }

    void MessageBox(const std::string& caption, const std::string& text) override;
    bool Confirm(const std::string& caption, const std::string& text) override;
    void OpenFolder(const std::u16string& path) override;
    void OpenUrl(const std::string& url) override;
    void NotifyAssociationsChanged() override {}
    std::optional<std::u16string> BrowseForFolder(const std::u16string& title, const std::u16string& current) override;
    bool FolderBrowserOpen() override;
    void RaiseFolderBrowser() override;
    void CloseFolderBrowser() override;
    void RunDetails() override;
    bool DetailsOpen() override;
    void CloseDetails() override;
    void RaiseDetails() override;
    void RunAbout() override;
    void RunUpdateNotice() override;
    void RaiseMainWindow() override {}
    void CloseAll() override;
    // The running page's pause button follows the pause flag.
    void UpdatePauseButton();
    // Tells the user without waiting: a balloon at the tray icon when one shows, else a
    // box that blocks nothing.
    void Notify(const std::u16string& text);
    CStateDlg* Details() const;
    CBanbenInfo* About() const;
    CUpdateDlg* UpdateNotice() const;
    // Where the update notice checks (the profile's site unless set here; tests).
    void SetUpdateSite(std::optional<std::string> site) { updateSite_ = std::move(site); }

private:
    CLanguageIni& language_;
    COrvaneApp* app_ = nullptr;
    QtSyncTray* tray_ = nullptr;
    struct Windows;  // the open windows, gone when they are
    std::unique_ptr<Windows> windows_;
    std::optional<std::string> updateSite_;
    QFileDialog* browser_ = nullptr;
    std::unique_ptr<QObject> context_;  // the life of the desktop opener's watches
};

// The folder dialog and browser of a login.
class QtFolderChooser final : public FolderChooser {
public:
    QtFolderChooser(CLanguageIni& language, QtSyncShell& shell) : language_(language), shell_(shell) {}
    void RunSetCloudPath(CSetCloudPath& dialog) override;
    std::optional<std::u16string> BrowseForFolder(std::u16string_view titleKey,
                                                  const std::u16string& startFolder) override;

private:
    CLanguageIni& language_;
    QtSyncShell& shell_;
};

// The desktop of one run: the Qt application and the implementations above. Start()
// returns none when no display is announced (the program then runs headless).
class Desktop {
public:
    static std::unique_ptr<Desktop> Start(int& argc, char** argv);
    ~Desktop();
    // Puts the desktop's parts and the Qt pump of the message loop into the options.
    void Fill(OrvaneOptions& options);
    void Bind(COrvaneApp& app);

private:
    Desktop() = default;
    std::unique_ptr<QApplication> application_;
    std::shared_ptr<QtSyncShell> shell_;
    std::shared_ptr<QtSyncTray> tray_;
    std::shared_ptr<QtFolderChooser> chooser_;
};

}  // namespace orvane_desktop
