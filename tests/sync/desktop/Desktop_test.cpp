// The program chooses its desktop: Qt windows with a display, the headless parts (and no
// Qt application at all) without one.
#include "sync/desktop/Desktop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

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

}  // namespace
