#pragma once
// Fixtures of the client window tests: a controller against the test server (account
// "alice"/"secret") with the program's languages, the UI thread's message loop, and
// recording stand-ins of the tray, the window openers and the desktop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "client/local/ClientControl.h"
#include "client/local/WinFileSystemAdapter.h"
#include "client/ui/ClientDesktop.h"
#include "client/ui/ClientTray.h"
#include "client/ui/ClientWindowOpeners.h"
#include "client/ui/UiTexts.h"
#include "platform/msgloop/MessageLoop.h"
#include "support/QtApp.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/wait.h"

namespace clientui {

inline std::string BinDir() {
    const char* binary = std::getenv("DRAVIK_BINARY_DIR");
    return std::string(binary != nullptr ? binary : ".") + "/bin";
}

class RecordingTray : public client_tray::TrayPort {
public:
    void SetNotifyWindow(plat::WindowId window) override { notify = window; }
    bool AddIcon(const std::string& t) override {
        tip = t;
        shown = available;
        return available;
    }
    void SetTip(const std::string& t) override { tip = t; }
    void ShowBalloon(const client_tray::Balloon& b) override { balloons.push_back(b); }
    void ClearBalloon() override { ++cleared; }
    void RemoveIcon() override { shown = false; }
    void ShowMenu(const std::vector<client_tray::MenuItem>& menu, plat::WindowId) override { menus.push_back(menu); }

    bool available = true;
    bool shown = false;
    std::string tip;
    int cleared = 0;
    plat::WindowId notify = plat::kNoWindow;
    std::vector<client_tray::Balloon> balloons;
    std::vector<std::vector<client_tray::MenuItem>> menus;
};

class RecordingWindows : public ClientWindowOpeners {
public:
    void OpenLoginDialog() override { Run(ClientWindow::Login); }
    void OpenMainWindow() override { Run(ClientWindow::MainWindow); }
    void OpenTransferList() override { Run(ClientWindow::TransferList); }
    void OpenSettings() override { Run(ClientWindow::Settings); }
    void OpenAbout() override { Run(ClientWindow::About); }
    int RunVersionCheck(bool automatic) override {
        versionChecks.push_back(automatic);
        return versionResult;
    }
    std::string InstallerPath() const override { return installer; }
    void SetClosedHandler(std::function<void(ClientWindow)> handler) override { onClosed = std::move(handler); }
    void Raise(ClientWindow window) override { raised.push_back(window); }
    void Close(ClientWindow window) override {
        closed.push_back(window);
        if (open.erase(window) != 0 && onClosed) onClosed(window);
    }
    // The user closes a window left open.
    void UserCloses(ClientWindow window) {
        if (open.erase(window) != 0 && onClosed) onClosed(window);
    }

    int Runs(ClientWindow window) const {
        const auto it = runs.find(window);
        return it == runs.end() ? 0 : it->second;
    }

    // What a window does while it is open; it then closes unless its kind is in `stayOpen`.
    std::map<ClientWindow, std::function<void()>> during;
    std::set<ClientWindow> stayOpen;
    std::set<ClientWindow> open;
    std::function<void(ClientWindow)> onClosed;
    std::map<ClientWindow, int> runs;
    std::vector<ClientWindow> order;
    std::vector<ClientWindow> raised;
    std::vector<ClientWindow> closed;
    std::vector<bool> versionChecks;
    int versionResult = 4;
    std::string installer;

private:
    void Run(ClientWindow window) {
        ++runs[window];
        order.push_back(window);
        open.insert(window);
        if (auto it = during.find(window); it != during.end() && it->second) it->second();
        if (!stayOpen.contains(window)) UserCloses(window);
    }
};

class RecordingDesktop : public ClientDesktop {
public:
    void MessageBox(const std::string& caption, const std::string& text, BoxIcon) override {
        boxes.push_back(caption + ": " + text);
    }
    void OpenAddress(const std::string& url, std::function<void()> failed) override {
        addresses.push_back(url);
        if (!opens && failed) failed();
    }
    void OpenFolder(const std::string& path, std::function<void()> failed) override {
        folders.push_back(path);
        if (!opens && failed) failed();
    }
    std::vector<std::string> boxes, addresses, folders;
    bool opens = true;  // false: a desktop without a browser or file manager
};

// A controller against the running test server, its languages from the build's bin/.
class ControlFixture : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        server = std::make_unique<testsupport::RunningServer>(box);
        control = std::make_unique<ClientControl>();
        control->SetFileSystem(&files);
        Config config;
        config.DefaultDomainName = server->BaseUrl();
        control->SetConfig(config);
        ASSERT_EQ(control->SetDirectories(BinDir(), box.Dir("data").string()), 1);
        facade.SetControl(control.get());
        control->SetLanguage("en");
    }
    void TearDown() override {
        if (control) {
            control->Logout();
            control->Bus().Stop();
        }
        control.reset();
        server.reset();
    }

    UserInfo Alice(int autoLogin = 0, const std::string& password = testsupport::kServerPassword) {
        UserInfo user;
        user.Account = testsupport::kServerAccount;
        user.Password = password;
        user.ServerDomainName = server->BaseUrl();
        user.LanguageCode = "en";
        user.KeepPassword = 1;
        user.AutoLogin = autoLogin;
        return user;
    }
    // Handles the loop's messages until `condition` holds (or 20 s passed).
    bool PumpUntil(const std::function<bool()>& condition) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            loop.ProcessDue();
            return condition();
        });
    }
    void Pump() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
            loop.ProcessDue();
        }
    }

    testsupport::Sandbox box;
    plat::MessageLoop loop;
    std::unique_ptr<testsupport::RunningServer> server;
    WinFileSystemAdapter files;
    std::unique_ptr<ClientControl> control;
    ClientControlFacade facade;
};

}  // namespace clientui
