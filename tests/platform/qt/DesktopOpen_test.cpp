// Opening with the desktop's opener and hearing when it failed: a stand-in opener on PATH
// ends with each status, and only a failing one is reported.
#include "platform/qt/DesktopOpen.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QObject>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <string>

#include "support/sandbox.h"
#include "support/wait.h"

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "DesktopOpen_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// An "xdg-open" that writes what it was given into `seen` and ends with `status`.
void FakeOpener(const std::filesystem::path& folder, int status, const std::filesystem::path& seen) {
    const auto path = folder / "xdg-open";
    std::ofstream(path) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << seen.string() << "'\nexit " << status << "\n";
    ::chmod(path.c_str(), 0755);
}

bool Watching(QObject& context) { return !context.findChildren<QTimer*>().isEmpty(); }

TEST(DesktopOpen, AFailingOpenerIsReportedOnceAndASucceedingOneIsNot) {
    App();
    testsupport::Sandbox box;
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (box.Dir("bin").string() + ":/usr/bin:/bin").c_str(), 1);
    const struct {
        const char* name;
        int status;
        bool folder;
        bool reported;
    } cases[] = {{"no file manager", 3, true, true},
                 {"the file manager opened it", 0, true, false},
                 {"no browser", 4, false, true},
                 {"the browser opened it", 0, false, false}};
    for (const auto& c : cases) {
        const auto seen = box.Dir("seen") / c.name;
        FakeOpener(box.Dir("bin"), c.status, seen);
        QObject context;
        int reports = 0;
        const std::string target = c.folder ? box.Dir("some folder").string() : "http://127.0.0.1:9/a%20b";
        if (c.folder) plat::qt::OpenLocalPathReported(target, &context, [&] { ++reports; });
        else plat::qt::OpenAddressReported(target, &context, [&] { ++reports; });
        ASSERT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return !Watching(context);
        })) << c.name;
        QCoreApplication::processEvents();
        EXPECT_EQ(reports, c.reported ? 1 : 0) << c.name;
        EXPECT_EQ(testsupport::ReadFile(seen), target) << c.name;
    }
    ::setenv("PATH", oldPath.c_str(), 1);
}

TEST(DesktopOpen, WhatNoOpenerTakesIsReportedAtOnce) {
    App();
    QObject context;
    int reports = 0;
    plat::qt::OpenLocalPathReported("relative/folder", &context, [&] { ++reports; });
    plat::qt::OpenAddressReported("not an address at all", &context, [&] { ++reports; });
    plat::qt::OpenAddressReported("file:///etc", &context, [&] { ++reports; });
    EXPECT_EQ(reports, 3);
    EXPECT_FALSE(Watching(context));
}

}  // namespace
