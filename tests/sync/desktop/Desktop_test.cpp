// The program chooses its desktop: Qt windows with a display, the headless parts (and no
// Qt application at all) without one. The program's windows leave the tray menu
// answering, and what the desktop cannot open is told to the user.
#include "sync/desktop/Desktop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <thread>

#include <sys/stat.h>

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>

#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/msgloop/MessageLoop.h"
#include "platform/qt/LoopPump.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "sync/ui/Dialogs.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/QtTrayBackend.h"
#include "sync/ui/StateDlg.h"
#include "sync/ui/SystemTray.h"

namespace {

TEST(Desktop, ADisplayIsAnnouncedByEitherVariable) {
    const struct {
        const char* display;
        const char* wayland;
        bool expected;
    } cases[] = {{nullptr, nullptr, false}, {"", "", false}, {":0", nullptr, true}, {nullptr, "wayland-0", true},
                 {"", "wayland-0", true}, {":1", "", true}};
    for (const auto& c : cases) {
        EXPECT_EQ(orvane_desktop::HasDisplay(c.display, c.wayland), c.expected)
            << (c.display ? c.display : "(unset)") << " / " << (c.wayland ? c.wayland : "(unset)");
    }
}

TEST(Desktop, WithoutADisplayTheProgramRunsHeadlessWithoutQt) {
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    int argc = 1;
    char name[] = "Desktop_test";
    char* argv[] = {name, nullptr};
    std::unique_ptr<orvane_desktop::Desktop> desktop = orvane_desktop::Desktop::Start(argc, argv);
    EXPECT_EQ(desktop, nullptr);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    // The program's options then keep their headless defaults.
    OrvaneOptions options;
    EXPECT_EQ(options.shell, nullptr);
    EXPECT_EQ(options.tray, nullptr);
    EXPECT_FALSE(options.hostLoop);
}

TEST(Desktop, ABoxAWorkerAsksForIsShownByTheUiThreadWithoutTheWorkerWaiting) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int argc = 1;
    char name[] = "Desktop_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    CLanguageIni language("/nonexistent/language.ini");
    orvane_desktop::QtSyncShell shell(language);
    std::thread worker([&] { shell.MessageBox("提示信息", "连接服务器失败\n请稍后重试"); });
    worker.join();  // returned without any box being closed
    auto boxShown = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->objectName() == QStringLiteral("255")) return true;
        return false;
    };
    EXPECT_FALSE(boxShown());  // nothing is made off the UI thread
    ASSERT_TRUE(testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        return boxShown();
    }));
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A Qt application of its own for one test, offscreen.
struct OffscreenApp {
    bool offscreen = ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0;  // before the application
    int argc = 1;
    char name[13] = "Desktop_test";
    char* argv[2] = {name, nullptr};
    QApplication app{argc, argv};
};

std::string ShippedLanguageFile() {
    const char* source = std::getenv("DRAVIK_SOURCE_DIR");
    return source ? std::string(source) + "/resources/orvane/language/language.ini" : std::string();
}

std::vector<QDialog*> Shown(const QString& id) {
    std::vector<QDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible() && d->objectName() == id) found.push_back(d);
    return found;
}

// Runs the event loop's work (deferred deletions too, as the program's loop does) until
// `done`.
bool Pump(const std::function<bool()>& done) {
    return testsupport::WaitUntil([&] {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return done();
    });
}

TEST(Desktop, TheTrayMenuAnswersWhileEachWindowIsOpen) {
    OffscreenApp app;
    {
        plat::MessageLoop loop;
        plat::qt::LoopPump pump(loop);
        testsupport::Sandbox box;
        CLanguageIni language(ShippedLanguageFile());
        orvane_desktop::QtSyncShell shell(language);
        shell.SetUpdateSite("");  // no check: the notice says so at once
        // The main window: the tray's commands arrive here and open the windows, as the
        // program's main window does.
        std::vector<std::uintptr_t> commands;
        const plat::WindowId main = loop.CreateWindow([&](plat::Message& m) -> plat::MsgResult {
            if (m.message != CSystemTray::kWmCommand) return 0;
            commands.push_back(m.wParam);
            if (m.wParam == 32776) shell.RunDetails();
            if (m.wParam == 32815) shell.RunAbout();
            if (m.wParam == 32779) shell.RunUpdateNotice();
            return 0;
        });
        QtTrayBackend backend;
        CSystemTray tray(backend, language, {[] { return false; }, [] { return 2; }});
        tray.Create(u"tip", 268, 129, false);  // no notification area offscreen: the menu still works
        tray.SetTargetWnd(main);

        // Right click, choose `command`: true when the main window got it.
        auto choose = [&](std::uint32_t command) {
            const std::size_t before = commands.size();
            plat::PostMessage(tray.Window(), CSystemTray::WM_TRAY_NOTIFY, 129, CSystemTray::kWmRButtonUp);
            if (!Pump([&] { return backend.OpenMenu() != nullptr; })) return false;
            QAction* action = backend.OpenMenu()->findChild<QAction*>(QString::number(command));
            if (action == nullptr || !action->isEnabled()) return false;
            action->trigger();
            backend.OpenMenu()->close();
            return Pump([&] { return commands.size() > before && commands.back() == command; });
        };

        const struct {
            std::uint32_t command;
            const char* window;
        } windows[] = {{32776, "173"}, {32815, "267"}, {32779, "172"}};
        for (const auto& w : windows) {
            ASSERT_TRUE(choose(w.command)) << w.window;
            ASSERT_TRUE(Pump([&] { return Shown(w.window).size() == 1; })) << w.window;
            QDialog* first = Shown(w.window).front();
            EXPECT_EQ(first->windowModality(), Qt::NonModal) << w.window;
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << w.window;
            // The menu answers while the window shows; the same command again raises the
            // open window instead of making a second one.
            EXPECT_TRUE(choose(32774)) << w.window;
            EXPECT_TRUE(choose(w.command)) << w.window;
            EXPECT_EQ(Shown(w.window), std::vector<QDialog*>{first}) << w.window;
        }
        // All three open at once; each closes on its own.
        EXPECT_EQ(Shown("173").size() + Shown("267").size() + Shown("172").size(), 3u);
        Shown("267").front()->reject();
        EXPECT_TRUE(Pump([&] { return shell.About() == nullptr; })) << "closed windows go";
        EXPECT_TRUE(shell.DetailsOpen());
        shell.CloseDetails();
        EXPECT_FALSE(shell.DetailsOpen());
        EXPECT_EQ(shell.Details(), nullptr);
        ASSERT_NE(shell.UpdateNotice(), nullptr);
        EXPECT_EQ(shell.UpdateNotice()->Model().Current(), UpdateNoticeModel::State::NoSite);
        // Settings and Help do nothing here: they show greyed.
        plat::PostMessage(tray.Window(), CSystemTray::WM_TRAY_NOTIFY, 129, CSystemTray::kWmRButtonUp);
        ASSERT_TRUE(Pump([&] { return backend.OpenMenu() != nullptr; }));
        for (const char* id : {"32780", "32813"})
            EXPECT_FALSE(backend.OpenMenu()->findChild<QAction*>(QString::fromLatin1(id))->isEnabled()) << id;
        backend.OpenMenu()->close();
        QCoreApplication::processEvents();
        plat::DestroyWindow(main);
    }
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(Desktop, WhatNoProgramOpensIsToldWithoutWaiting) {
    OffscreenApp app;
    testsupport::Sandbox box;
    // A desktop whose opener finds no program (as xdg-open ends without a file manager).
    const auto opener = box.Dir("bin") / "xdg-open";
    std::ofstream(opener) << "#!/bin/sh\nexit 3\n";
    ::chmod(opener.c_str(), 0755);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (box.Dir("bin").string() + ":/usr/bin:/bin").c_str(), 1);
    CLanguageIni language(ShippedLanguageFile());
    language.SetLanguage(CLanguageIni::kEnglish);
    {
        orvane_desktop::QtSyncShell shell(language);
        const std::string folder = box.Dir("Nuvet云盘").string();
        const struct {
            std::function<void()> open;
            std::string told;
        } cases[] = {
            {[&] { shell.OpenFolder(QString::fromStdString(folder).toStdU16String()); },
             "No file manager could open the folder: " + folder},
            {[&] { shell.OpenUrl("http://127.0.0.1:9/dravik"); },
             "No web browser could open the address: http://127.0.0.1:9/dravik"},
        };
        for (const auto& c : cases) {
            c.open();  // returns at once
            auto told = [&] {
                for (QDialog* d : Shown("255"))
                    for (QLabel* l : d->findChildren<QLabel*>())
                        if (l->text().toStdString() == c.told) return true;
                return false;
            };
            ASSERT_TRUE(Pump(told)) << c.told;
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the notice blocks nothing";
            for (QDialog* d : Shown("255")) d->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    ::setenv("PATH", oldPath.c_str(), 1);
}

}  // namespace
