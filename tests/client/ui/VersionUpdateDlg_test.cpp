// The version dialog's widgets offscreen against the test server: Esc and the close box
// never end with the success code, before or during a download; a download ends the
// dialog with 0 and the installer in place; a dialog destroyed during a download joins
// its thread first. And what the callers do with each end code.
#include "client/ui/VersionUpdateDlg.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

#include "support/ClientUiFixture.h"
#include "client/ui/VersionEndAction.h"
#include "platform/qt/LoopPump.h"
#include "support/QtApp.h"
#include "support/server.h"
#include "support/wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class VersionUpdateDlgTest : public ::testing::Test {
protected:
    VersionUpdateDlgTest() : server(box), pump((TestApp(), loop)) {
        server.SetClientVersion("1.0.2", installer);
        options.updateSite = server.BaseUrl();
        options.baseFolder = box.Root().string();
        options.fileVersion = "1.0.0.0";
        options.automatic = true;
    }
    static std::string Translate(const std::string& key) { return key; }
    fs::path Installer() const { return box.Root() / "WindowsClientApplication" / "DravikClient.exe"; }
    void HoldInstaller() {
        testserver::Fault hold{"installer", testserver::FaultKind::Delay};
        hold.delay = 3s;
        server.InjectFault(hold);
    }
    static void PressEscape(QWidget* widget) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(widget, &press);
    }

    testsupport::Sandbox box;
    testsupport::RunningServer server;
    std::string installer = std::string(512 * 1024, 'i');
    plat::MessageLoop loop;
    plat::qt::LoopPump pump;
    VersionUpdate::Options options;
};

TEST_F(VersionUpdateDlgTest, EscapeAndTheCloseBoxEndWithNothingToDo) {
    for (const bool closeBox : {false, true}) {
        CVersionUpdateDlg dialog(options, Translate, loop);
        ASSERT_EQ(dialog.Prepare("1.0.2"), std::nullopt);
        EXPECT_EQ(dialog.objectName(), "103");
        QTimer::singleShot(0, &dialog, [&dialog, closeBox] {
            if (closeBox) {
                dialog.close();
            } else {
                PressEscape(&dialog);
            }
        });
        EXPECT_EQ(dialog.ShowModal(), VersionUpdate::EndNothingToDo) << (closeBox ? "close box" : "Esc");
    }
}

TEST_F(VersionUpdateDlgTest, UpdateDownloadsTheInstaller) {
    CVersionUpdateDlg dialog(options, Translate, loop);
    ASSERT_EQ(dialog.Prepare("1.0.2"), std::nullopt);
    auto* update = dialog.findChild<QPushButton*>("1018");
    auto* progress = dialog.findChild<QProgressBar*>("1072");
    EXPECT_EQ(update->text(), "Update");
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("1078")->isVisibleTo(&dialog));
    QTimer::singleShot(0, update, &QPushButton::click);
    EXPECT_EQ(dialog.ShowModal(), VersionUpdate::EndInstallerReady);
    EXPECT_EQ(dialog.InstallerPath(), Installer().string());
    EXPECT_EQ(testsupport::ReadFile(Installer()), installer);
    EXPECT_EQ(progress->value(), 100);
}

TEST_F(VersionUpdateDlgTest, EscapeDuringTheDownloadCancelsIt) {
    HoldInstaller();
    CVersionUpdateDlg dialog(options, Translate, loop);
    ASSERT_EQ(dialog.Prepare("1.0.2"), std::nullopt);
    auto* update = dialog.findChild<QPushButton*>("1018");
    QTimer::singleShot(0, &dialog, [&] {
        update->click();
        EXPECT_EQ(update->text(), "Cancel update");
        EXPECT_TRUE(dialog.findChild<QProgressBar*>("1072")->isVisible());
        PressEscape(&dialog);
        EXPECT_TRUE(dialog.isVisible()) << "the end comes with the download's result";
    });
    EXPECT_EQ(dialog.ShowModal(), VersionUpdate::EndNothingToDo);
    EXPECT_EQ(dialog.InstallerPath(), "");
    EXPECT_FALSE(fs::exists(Installer()));
}

TEST_F(VersionUpdateDlgTest, ADialogDestroyedDuringTheDownloadJoinsItsThread) {
    HoldInstaller();
    auto dialog = std::make_unique<CVersionUpdateDlg>(options, Translate, loop);
    ASSERT_EQ(dialog->Prepare("1.0.2"), std::nullopt);
    dialog->findChild<QPushButton*>("1018")->click();
    dialog.reset();  // cancels and joins; its window takes no more messages
    loop.ProcessDue();
    EXPECT_FALSE(fs::exists(Installer()));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(box.Root() / "WindowsClientApplication")) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_TRUE(left.empty()) << "the partial download is removed";
}

TEST(VersionEndAction, WhatEachEndCodeShows) {
    struct Case {
        int end;
        bool manual;
        const char* installer;
        std::vector<std::string> boxes;
        std::vector<std::string> folders;
    };
    const std::string saved =
        std::string("Version upgrade: ") + kInstallerSavedKey + "\n/data/WindowsClientApplication/DravikClient.exe";
    const Case cases[] = {
        {0, false, "/data/WindowsClientApplication/DravikClient.exe", {saved}, {"/data/WindowsClientApplication"}},
        {0, true, "/data/WindowsClientApplication/DravikClient.exe", {saved}, {"/data/WindowsClientApplication"}},
        {0, true, "", {}, {}},
        {1, true, "", {"Version upgrade: Failed to detect version!"}, {}},
        {1, false, "", {}, {}},
        {2, false, "", {"Version upgrade: Installation file occupied!"}, {}},
        {3, true, "", {"Version upgrade: Download failed!"}, {}},
        {4, true, "", {}, {}},
        {4, false, "", {}, {}},
    };
    for (const Case& c : cases) {
        clientui::RecordingDesktop desktop;
        ActOnVersionEnd(c.end, c.installer, c.manual, desktop, [](const std::string& key) { return key; });
        EXPECT_EQ(desktop.boxes, c.boxes) << c.end << (c.manual ? " manual" : " automatic");
        EXPECT_EQ(desktop.folders, c.folders) << c.end;
    }
}

}  // namespace
