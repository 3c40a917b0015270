// The sync program with its desktop windows (offscreen), run on this thread as the
// program runs it, driven by a fake client on its pipes: an exit by the menu, by the
// client's pipe or by the termination signal ends the run while any window of the program
// is open, and the program starts again afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/localpipe.h"
#include "platform/qt/LoopPump.h"
#include "platform/sharedmem.h"
#include "platform/text.h"
#include "support/QtApp.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "sync/app/OrvaneApp.h"
#include "sync/app/OrvaneDlg.h"
#include "sync/app/SyncGlobals.h"
#include "sync/desktop/Desktop.h"
#include "sync/ui/Dialogs.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/StateDlg.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kAccount = "demo";
constexpr const char* kPassword = "secret";

// The visible dialogs of the program now.
std::vector<QDialog*> OpenDialogs() {
    std::vector<QDialog*> open;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible()) open.push_back(dialog);
    }
    return open;
}

template <class T>
int CountOpen() {
    int count = 0;
    for (QDialog* dialog : OpenDialogs()) count += dynamic_cast<T*>(dialog) != nullptr ? 1 : 0;
    return count;
}

// One run of the program with the desktop's windows; the test's step function is called
// every 20 ms on the program's thread until the run ends.
class ProgramOnDesktop {
public:
    ProgramOnDesktop() {
        TestApp();
        server_ = std::make_unique<testsupport::RunningServer>(
            box_, testsupport::ServerAccounts{{kAccount, kPassword}});
        EXPECT_TRUE(commandListener_.Listen(plat::LocalPipePath("WritePipe")));
        EXPECT_TRUE(replyListener_.Listen(plat::LocalPipePath("ReadPipe")));
    }
    ~ProgramOnDesktop() { plat::SharedMemory::Remove(table_); }

    // `reachable`: the profile names the test server, else an address where nothing
    // answers (the login never succeeds). `login`: the client hands a login over.
    int Run(bool reachable, bool login, const std::function<void(ProgramOnDesktop&)>& step) {
        const std::string address = reachable ? "127.0.0.1:" + std::to_string(server_->Port()) : "127.0.0.1:1";
        testsupport::WriteFile(box_.ConfigHome() / "Parv" / "Orvane.ini",
                               "ServerTime=1\nServerAddress=" + address + "/dravik\n");
        CLanguageIni& language = CLanguageIni::Global();
        auto shell = std::make_shared<orvane_desktop::QtSyncShell>(language);
        auto tray = std::make_shared<orvane_desktop::QtSyncTray>(language, shell.get());
        OrvaneOptions options;
        options.shell = shell;
        options.tray = tray;
        options.chooser = std::make_shared<orvane_desktop::QtFolderChooser>(language, *shell);
        options.serverPollMs = 500;
        options.networkPollMs = 50;
        options.networkProbe = [] { return true; };
        options.sharedTableName = plat::ToUtf16(table_);
        options.hostLoop = [](plat::MessageLoop& loop) -> std::shared_ptr<void> {
            return std::make_shared<plat::qt::LoopPump>(loop);
        };
        COrvaneApp app(options);
        shell->Bind(&app);
        tray->Bind(&app);
        app_ = &app;
        connected_ = false;
        givenUp_ = false;
        exitAskedAt_.reset();
        const Clock::time_point started = Clock::now();
        std::thread client([&] {
            if (commandListener_.Accept(command_, 20000) != plat::PipeStatus::Ok) return;
            if (replyListener_.Accept(reply_, 20000) != plat::PipeStatus::Ok) return;
            if (login) {
                const std::string hello = std::string("\x08\x01UserName:") + kAccount + "Password:" + kPassword;
                command_.Write(hello.data(), hello.size());
            }
            connected_ = true;
        });
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (!connected_ || app.MainWindowId() == plat::kNoWindow) return;
            if (!givenUp_ && Clock::now() - (exitAskedAt_ ? *exitAskedAt_ : started) > std::chrono::seconds(30)) {
                // The run did not end (or never got to its exit): the test fails, and the
                // run is ended with its windows closed.
                ADD_FAILURE() << (exitAskedAt_ ? "the program still runs 30 s after its exit"
                                               : "the run did not reach its exit in 30 s");
                givenUp_ = true;
                for (QDialog* dialog : OpenDialogs()) dialog->reject();
                app.RequestExit();
                return;
            }
            if (givenUp_) return;
            step(*this);
        });
        driver.start(20);
        const int code = app.Run();
        driver.stop();
        client.join();
        command_.Close();
        reply_.Close();
        app_ = nullptr;
        return code;
    }

    COrvaneApp& App() { return *app_; }
    bool SendByte(std::uint8_t byte) { return command_.WriteByte(byte); }
    bool PostCommand(std::uint32_t command) {
        return plat::PostMessage(app_->MainWindowId(), orvane::kWmCommand, command, 0);
    }
    void ExitAsked() { exitAskedAt_ = Clock::now(); }
    testsupport::Sandbox& Box() { return box_; }

private:
    testsupport::Sandbox box_;
    std::string table_ = "OrvaneWindowsTest-" + std::to_string(::getpid());
    std::unique_ptr<testsupport::RunningServer> server_;
    plat::LocalPipeListener commandListener_;
    plat::LocalPipeListener replyListener_;
    plat::LocalPipe command_;
    plat::LocalPipe reply_;
    COrvaneApp* app_ = nullptr;
    std::atomic<bool> connected_{false};
    std::optional<Clock::time_point> exitAskedAt_;
    bool givenUp_ = false;
};

enum class ExitPath { Menu, Pipe, Signal };

const char* NameOf(ExitPath path) {
    switch (path) {
        case ExitPath::Menu: return "menu";
        case ExitPath::Pipe: return "pipe";
        case ExitPath::Signal: return "signal";
    }
    return "";
}

// A window of the program: how it is opened and how it is recognised.
struct WindowCase {
    const char* name;
    bool reachable;  // the login gets through to the server
    bool login;
    // Asks the program to open the window; false while it cannot ask yet.
    std::function<bool(ProgramOnDesktop&)> open;
    std::function<bool()> isOpen;
};

std::vector<WindowCase> WindowCases() {
    const auto command = [](std::uint32_t id) {
        return [id](ProgramOnDesktop& run) { return run.PostCommand(id); };
    };
    return {
        {"about box", false, false, command(orvane::kCmdAbout), [] { return CountOpen<CBanbenInfo>() == 1; }},
        {"update notice", false, false, command(orvane::kCmdCheckUpdate), [] { return CountOpen<CUpdateDlg>() == 1; }},
        {"sync-details window", false, false, command(orvane::kCmdSyncDetails),
         [] { return CountOpen<CStateDlg>() == 1; }},
        {"account confirmation", false, true,
         // Asked once the login was handed over.
         [](ProgramOnDesktop& run) {
             return !Globals().LoginUser().empty() && run.PostCommand(orvane::kCmdChangeAccount);
         },
         // Beside the box that tells of the failed login.
         [] {
             const std::vector<QDialog*> open = OpenDialogs();
             return std::count_if(open.begin(), open.end(), [](QDialog* dialog) {
                        return dynamic_cast<CDeleteUserInfo*>(dialog) != nullptr &&
                               dialog->windowTitle() == QStringLiteral("更换账号");
                    }) == 1;
         }},
        {"folder browser", false, false, [](ProgramOnDesktop& run) { return run.SendByte(7); },
         [] { return CountOpen<QFileDialog>() == 1; }},
        // Opens by itself after the login: the account has no folder yet.
        {"folder dialog of the first login", true, true, [](ProgramOnDesktop&) { return true; },
         [] { return CountOpen<CSetCloudPathDlg>() == 1; }},
    };
}

void ExitThrough(ExitPath path, ProgramOnDesktop& run) {
    switch (path) {
        case ExitPath::Menu: run.PostCommand(orvane::kCmdExit); break;
        case ExitPath::Pipe: run.SendByte(2); break;
        // What the program's signal thread does on SIGTERM.
        case ExitPath::Signal: run.App().RequestExit(); break;
    }
}

class OrvaneWindows : public ::testing::TestWithParam<ExitPath> {};

TEST_P(OrvaneWindows, ExitWithAnyWindowOpenEndsTheRunAndANewStartWorks) {
    ProgramOnDesktop program;
    const fs::path proposal = program.Box().Home() / "Documents" / "Nuvet云盘" / kAccount;
    for (const WindowCase& c : WindowCases()) {
        SCOPED_TRACE(std::string(c.name) + ", exit by " + NameOf(GetParam()));
        bool opened = false, asked = false, exited = false;
        const int code = program.Run(c.reachable, c.login, [&](ProgramOnDesktop& run) {
            if (exited) return;
            if (!asked) {
                asked = c.open(run);
                return;
            }
            if (!opened) {
                opened = c.isOpen();
                return;
            }
            ExitThrough(GetParam(), run);
            run.ExitAsked();
            exited = true;
        });
        EXPECT_TRUE(opened);
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(OpenDialogs().empty()) << OpenDialogs().size() << " dialogs still open";
        // The login's folder dialog ended by the exit: nothing of the account was made.
        EXPECT_FALSE(fs::exists(proposal));
    }

    // A plain start afterwards runs and ends as usual.
    bool exited = false;
    EXPECT_EQ(program.Run(false, false,
                          [&](ProgramOnDesktop& run) {
                              if (exited) return;
                              ExitThrough(GetParam(), run);
                              run.ExitAsked();
                              exited = true;
                          }),
              0);
}

INSTANTIATE_TEST_SUITE_P(ByEveryPath, OrvaneWindows,
                         ::testing::Values(ExitPath::Menu, ExitPath::Pipe, ExitPath::Signal),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

}  // namespace
