// The client's start-up on the Qt desktop, offscreen: the program's real windows run
// without a modal loop of their own while Qt's event loop drives the message loop, and an
// Exit from the tray ends the run with a dialog open inside a window; a new start works.
#include "client/desktop/QtRunDesktop.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <memory>

#include "client/app/DravikClientApp.h"
#include "client/desktop/QtClientWindows.h"
#include "client/local/VersionUpdate.h"
#include "client/ui/DialogInputText.h"
#include "client/ui/DravikClientDlg.h"
#include "client/ui/UiTexts.h"
#include "support/ClientUiFixture.h"
#include "support/QtApp.h"
#include "support/SandboxedApp.h"

namespace {

class QtRunTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }

    testsupport::Sandbox box;
    clientui::RecordingDesktop desktop;
    QtRunDesktop qt;
};

// The program's real windows (no version check): what the client shows on a desktop.
class RealWindows final : public ClientWindowOpeners {
public:
    // The windows of `app`, made once the program object exists.
    void Bind(CDravikClientApp& app, ClientDesktop& desktop) {
        real = std::make_unique<QtWindowOpeners>(app.Control(), app.Configuration(), keys, desktop, "1.0.0.0");
    }
    void OpenLoginDialog() override { real->OpenLoginDialog(); }
    void OpenMainWindow() override { real->OpenMainWindow(); }
    void OpenTransferList() override { real->OpenTransferList(); }
    void OpenSettings() override { real->OpenSettings(); }
    void OpenAbout() override { real->OpenAbout(); }
    int RunVersionCheck(bool) override { return VersionUpdate::EndNothingToDo; }
    std::string InstallerPath() const override { return {}; }
    void SetClosedHandler(std::function<void(ClientWindow)> handler) override { real->SetClosedHandler(std::move(handler)); }
    void Raise(ClientWindow window) override { real->Raise(window); }
    void Close(ClientWindow window) override { real->Close(window); }

    struct Keys final : UiTexts {
        std::string Text(const std::string& key) const override { return key; }
    } keys;
    std::unique_ptr<QtWindowOpeners> real;
};

TEST_F(QtRunTest, ExitWithADialogOpenInsideAWindowEndsTheRunAndANewStartWorks) {
    struct Case {
        const char* name;
        std::uint32_t command;  // 0: the login dialog of the start
        ClientWindow kind;
    } cases[] = {
        {"login dialog", 0, ClientWindow::Login},
        {"about box", client_tray::kCmdAbout, ClientWindow::About},
        {"settings dialog", client_tray::kCmdConfigure, ClientWindow::Settings},
    };
    for (const Case& c : cases) {
        for (int start = 0; start < 2; ++start) {
            RealWindows real;
            CDravikClientApp::Options options = clientapp::SandboxedOptions(box, real, desktop);
            options.runDesktop = &qt;
            CDravikClientApp run(options);
            real.Bind(run, desktop);
            // Drives the run: the window opens, an input box waits in a loop of its own
            // inside it, then Exit arrives from the tray.
            QPointer<CDialogInputText> nested;
            bool commanded = false, exitAsked = false;
            QTimer driver;
            QObject::connect(&driver, &QTimer::timeout, [&] {
                if (run.TrayWindow() == plat::kNoWindow || exitAsked) return;
                if (c.command != 0 && !commanded) {
                    commanded = plat::PostMessage(run.TrayWindow(), client_tray::kWmCommand, c.command);
                    return;
                }
                QDialog* window = real.real->Running(c.kind);
                if (window == nullptr || !window->isVisible()) return;
                if (!nested) {
                    nested = new CDialogInputText(window);
                    QTimer::singleShot(0, nested, [d = nested] { d->exec(); });
                    return;
                }
                if (start == 0 && nested->isVisible()) exitAsked = run.RequestExit();
                if (start == 1) exitAsked = run.RequestExit();
            });
            driver.start(10);
            EXPECT_EQ(run.InitInstance({}), 0) << c.name << " start " << start;
            driver.stop();
            EXPECT_TRUE(exitAsked) << c.name;
            EXPECT_EQ(real.real->Running(c.kind), nullptr) << c.name;
            EXPECT_TRUE(nested.isNull() || !nested->isVisible()) << c.name << ": the nested dialog ended too";
            EXPECT_EQ(run.TrayWindow(), plat::kNoWindow);
            real.real.reset();  // the windows go before the program object, as in the program
        }
    }
}

}  // namespace
