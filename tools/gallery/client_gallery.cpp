// The client program's windows for the gallery: the login dialog (closed and with its
// advanced part), the about box, the text input, the file-and-folder picker, the tray menu
// in its states, the settings and version dialogs (client_settings.cpp), the button skins
// and the icons; in Chinese and in English.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "Gallery.h"
#include "client/local/ClientControl.h"
#include "client/local/WinFileSystemAdapter.h"
#include "client/ui/AboutDlg.h"
#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientDesktop.h"
#include "client/ui/ClientResources.h"
#include "client/ui/ClientTray.h"
#include "client/ui/DialogInputText.h"
#include "client/ui/FolderFileSelectDialog.h"
#include "client/ui/LoginDlg.h"
#include "client/ui/QtClientTray.h"
#include "client/ui/QtTexts.h"
#include "client/ui/UiTexts.h"
#include "platform/msgloop/MessageLoop.h"
#include "platform/qt/ToolkitLanguage.h"

using namespace gallery;

namespace {

class SilentDesktop final : public ClientDesktop {
public:
    void MessageBox(const std::string&, const std::string&, BoxIcon) override {}
    void OpenAddress(const std::string&, std::function<void()>) override {}
    void OpenFolder(const std::string&, std::function<void()>) override {}
};

// Runs `dialog` (through its own exec) and saves it once it shows.
template <class Dialog>
void SaveRunning(Dialog& dialog, const QString& name, plat::MessageLoop& loop, std::function<void()> more = {},
                 std::function<bool()> ready = {}) {
    QTimer::singleShot(0, [&dialog, name, &loop, more, ready] {
        // What the window waits for (a listing read on another thread), at most a while.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ready && !ready() && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        Settle(loop);
        Save(dialog.grab().toImage(), name);
        if (more) more();
        dialog.reject();
    });
    dialog.exec();
}

void SaveMenu(const std::vector<client_tray::MenuItem>& items, const QString& name) {
    std::unique_ptr<QMenu> menu(QtClientTray::MakeMenu(items, plat::kNoWindow, nullptr));
    menu->adjustSize();
    Save(menu->grab().toImage(), name);
    for (QAction* action : menu->actions()) {
        if (QMenu* sub = action->menu()) {
            sub->adjustSize();
            Save(sub->grab().toImage(), name + "-sync");
        }
    }
}

void Skins() {
    struct Skin {
        const char* name;
        int ids[4];
    } skins[] = {{"OK", {209, 208, 211, 210}},      {"Cancel", {213, 212, 215, 214}},
                 {"Login", {219, 217, 221, 220}},   {"Advance (closed)", {223, 222, 225, 224}},
                 {"Advance (open)", {227, 226, 229, 228}}};
    const char* states[] = {"normal", "pressed", "hover", "disabled"};
    QImage sheet(4 * 260 + 150, 5 * 56 + 40, QImage::Format_ARGB32);
    sheet.fill(QColor(0xf5, 0xf7, 0xfa));
    QPainter painter(&sheet);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int s = 0; s < 4; ++s) painter.drawText(150 + s * 260, 24, QString::fromLatin1(states[s]));
    for (int row = 0; row < 5; ++row) {
        const int y = 40 + row * 56;
        painter.setPen(Qt::black);
        painter.drawText(10, y + 22, QString::fromLatin1(skins[row].name));
        for (int s = 0; s < 4; ++s) {
            const QPixmap bitmap = client_ui::Bitmap(skins[row].ids[s]);
            painter.drawPixmap(150 + s * 260, y, bitmap);
            if (row < 3) {
                painter.setPen(s == 3 ? QColor(0xa0, 0xa0, 0xa0) : QColor(Qt::white));
                painter.drawText(QRect(150 + s * 260, y, bitmap.width(), bitmap.height()), Qt::AlignCenter,
                                 QString::fromLatin1(skins[row].name));
            }
        }
    }
    painter.end();
    Save(sheet, "client/skins");

    QImage icons(3 * 80 + 20, 100, QImage::Format_ARGB32);
    icons.fill(Qt::white);
    QPainter p(&icons);
    int x = 10;
    for (int id : {128, 198, 197}) {
        p.drawPixmap(x, 10, client_ui::Bitmap(id, QSize(64, 64)));
        p.drawText(QRect(x, 76, 64, 20), Qt::AlignCenter, QString::number(id));
        x += 80;
    }
    p.end();
    Save(icons, "client/icons");
    Save(client_ui::Bitmap(client_ui::kAboutBanner).toImage(), "client/bitmap203");
    Save(client_ui::Bitmap(client_ui::kLoginLogo).toImage(), "client/bitmap216");
}

}  // namespace

void ClientGallery(plat::MessageLoop& loop) {
    QTemporaryDir data;
    const std::string appDir = QCoreApplication::applicationDirPath().toStdString();
    WinFileSystemAdapter files;
    SilentDesktop desktop;
    for (const char* code : {"zh-CN", "en"}) {
        const QString suffix = std::string(code) == "en" ? QStringLiteral("-en") : QString();
        ClientControl control;
        control.SetFileSystem(&files);
        control.SetDirectories(appDir, data.path().toStdString());
        control.SetLanguage(code);
        plat::qt::UseToolkitLanguage(code);
        ClientControlFacade facade(&control);
        FacadeTexts texts(facade);
        Config config;
        config.DefaultLanguageCode = code;
        config.DefaultDomainName = "https://cloud.dravik.com";
        {
            CLoginDlg login(control, config, texts, desktop);
            SaveRunning(login, "client/login" + suffix, loop, [&] {
                login.findChild<QComboBox*>(QStringLiteral("1012"))->setEditText(QStringLiteral("demo@dravik.com"));
                login.findChild<QLineEdit*>(QStringLiteral("1010"))->setText(QStringLiteral("secret"));
                login.SetAdvancedOpen(true);
                Settle(loop);
                Save(login.grab().toImage(), "client/login-advanced" + suffix);
            });
        }
        {
            CAboutDlg about(texts, "1.0.0.0");
            SaveRunning(about, "client/about" + suffix, loop);
        }
        {
            CDialogInputText input;
            input.caption = QText(texts, "Input Window - Rename");
            input.prompt = QText(texts, "Old name is \"") + QStringLiteral("季度报告.final.docx") + QText(texts, "\", Input the new Name:");
            input.okText = QText(texts, "OK");
            input.cancelText = QText(texts, "Cancel");
            input.resetText = QText(texts, "Reset");
            input.initialText = QStringLiteral("季度报告.final.docx");
            SaveRunning(input, "client/input-rename" + suffix, loop);
        }
        {
            QTemporaryDir folder;
            QDir(folder.path()).mkpath(QStringLiteral("照片"));
            QDir(folder.path()).mkpath(QStringLiteral("Projects"));
            std::ofstream(folder.path().toStdString() + "/notes.txt") << "notes";
            std::ofstream(folder.path().toStdString() + "/报告.docx") << "report";
            std::ofstream(folder.path().toStdString() + "/Quarterly report of the regional offices 2024 (final).docx")
                << "report";
            CFolderFileSelectDialog picker(nullptr, QText(texts, "Select files and folders to upload - Dravik"),
                                           QText(texts, "All files and folders") + QStringLiteral(" (*)"));
            picker.SetTexts(QText(texts, "Item Name:"), QText(texts, "Upload"), QText(texts, "Cancel"));
            picker.setDirectory(folder.path());
            // Shown at its own first size, once the folder's items are listed.
            bool listed = false;
            if (auto* model = picker.findChild<QFileSystemModel*>(QStringLiteral("qt_filesystem_model"))) {
                QObject::connect(model, &QFileSystemModel::directoryLoaded, [&listed] { listed = true; });
            }
            SaveRunning(picker, "client/picker" + suffix, loop, {}, [&listed] { return listed; });
        }
        SaveMenu(client_tray::BuildMenu({false, false, false}, texts), "client/tray-logged-out" + suffix);
        SaveMenu(client_tray::BuildMenu({true, false, false}, texts), "client/tray-logged-in" + suffix);
        SaveMenu(client_tray::BuildMenu({true, true, true}, texts), "client/tray-sync-paused" + suffix);
        ClientSettingsGallery(control.Languages(), desktop, suffix, loop);
        control.Bus().Stop();
    }
    Skins();
}
