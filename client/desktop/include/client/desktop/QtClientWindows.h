#pragma once
// The program's implementations of what the tray window asks of the desktop: the message
// boxes and the desktop's programs (QtClientDesktop), and the windows it opens
// (QtWindowOpeners).
//
// QtWindowOpeners makes each window when asked and shows it without a modal loop (none
// blocks the tray or another window), and lets it go when it closes; Raise brings the open
// one forward and Close ends it with 0, after the dialogs it opened. The login dialog and
// the about box, the cloud browser, the transfer list, the settings dialog and the version
// check are all this program's.
#include <QPointer>
#include <QDialog>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "client/core/MessageManage.h"
#include "client/local/VersionUpdate.h"
#include "client/ui/ClientDesktop.h"
#include "client/ui/ClientWindowOpeners.h"

class ClientControl;
class Config;
class UiTexts;

class QtClientDesktop final : public ClientDesktop {
public:
    void MessageBox(const std::string& caption, const std::string& text, BoxIcon icon) override;
    void OpenAddress(const std::string& url, std::function<void()> failed) override;
    void OpenFolder(const std::string& path, std::function<void()> failed) override;

private:
    // Ends the watch of the openers still running when the desktop goes.
    QObject watches_;
};

// Keeps the toolkit's own texts in the program's language: the language in force when it
// is made, then every change announced on the bus (applied on Qt's thread).
class QtToolkitLanguage final : public MessageListener {
public:
    explicit QtToolkitLanguage(ClientControl& control);
    ~QtToolkitLanguage() override;
    QtToolkitLanguage(const QtToolkitLanguage&) = delete;
    QtToolkitLanguage& operator=(const QtToolkitLanguage&) = delete;

    void OnLanguageChanged(const std::string& languageCode) override;

private:
    ClientControl& control_;
};

class QtWindowOpeners final : public ClientWindowOpeners {
public:
    // `config` is the application's configuration record; `version` the program's.
    QtWindowOpeners(ClientControl& control, Config& config, const UiTexts& texts, ClientDesktop& desktop,
                    std::string version);

    void OpenLoginDialog() override;
    void OpenMainWindow() override;
    void OpenTransferList() override;
    void OpenSettings() override;
    void OpenAbout() override;
    int RunVersionCheck(bool automatic) override;
    std::string InstallerPath() const override { return installerPath_; }
    void SetClosedHandler(std::function<void(ClientWindow)> handler) override { closed_ = std::move(handler); }
    void Raise(ClientWindow window) override;
    void Close(ClientWindow window) override;

    // Where the settings dialog writes "Config.xml", the folder below which the version
    // check keeps its update folder, and the executable the autostart entry starts.
    void SetPlaces(std::string configPath, std::string dataFolder, std::string exePath);

    ~QtWindowOpeners() override;
    QtWindowOpeners(const QtWindowOpeners&) = delete;
    QtWindowOpeners& operator=(const QtWindowOpeners&) = delete;

    // The open window of a kind; null when none.
    QDialog* Running(ClientWindow window) const;
    // What the cloud browser's Transfer List does: the tray window's command.
    void SetTransferListCommand(std::function<void()> command) { transferListCommand_ = std::move(command); }
    // What the browser's offer of a new login runs (the tray window's Login command).
    void SetLoginCommand(std::function<void()> command) { loginCommand_ = std::move(command); }

    // What a window uses while it is open (its services, its ports), kept until it goes.
    struct Keep {
        virtual ~Keep() = default;
    };

private:
    // Shows `dialog` (made on the heap, owned from now on) as the window of `kind`.
    void Show(ClientWindow kind, QDialog* dialog, std::unique_ptr<Keep> keep = {});
    // The window of `kind` closed: it goes (once no loop of it runs) and the handler hears.
    void Closed(ClientWindow kind, QDialog* dialog);
    // The version check's settings: the update site of the configuration.
    VersionUpdate::Options VersionOptions(bool automatic) const;
    std::string Translate(const std::string& key) const;

    ClientControl& control_;
    Config& config_;
    const UiTexts& texts_;
    ClientDesktop& desktop_;
    std::string version_;
    std::string installerPath_;
    std::string configPath_;
    std::string dataFolder_;
    std::string exePath_;
    std::map<ClientWindow, QPointer<QDialog>> running_;
    std::vector<QPointer<QDialog>> closing_;  // closed, deleted once no loop of theirs runs
    std::function<void(ClientWindow)> closed_;
    std::function<void()> transferListCommand_;
    std::function<void()> loginCommand_;
};
