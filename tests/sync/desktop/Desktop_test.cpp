// The program chooses its desktop: Qt windows with a display, the headless parts (and no
// Qt application at all) without one.
#include "sync/desktop/Desktop.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include <thread>

#include "support/wait.h"
#include "sync/ui/LanguageIni.h"

#include <cstdlib>

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

}  // namespace
