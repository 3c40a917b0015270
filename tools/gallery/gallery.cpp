// Renders every window of both programs to PNG files for review by eye. The sync program: the
// sync-details window on each of its pages (Chinese and English), the tray menus, the
// icons, the tab control in every style, the boxes, the update notice in each result and
// the folder dialog; the client's windows (client_gallery.cpp, client_browser.cpp). Offscreen, with a few rows of
// sample data.
//
//   gallery [output folder]      (default: ./gallery)
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QWidget>

#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Gallery.h"
#include "client_browser.h"
#include "platform/msgloop/MessageLoop.h"
#include "sync/common/FeedLists.h"
#include "sync/common/TreeNode.h"
#include "sync/ui/Dialogs.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/Resources.h"
#include "sync/ui/StateDlg.h"
#include "sync/ui/SystemTray.h"
#include "sync/ui/tabctrl/TabCtrlStyles.h"
#include "sync/ui/tabctrl/TabCtrlWindow.h"
#include "sync/ui/tabctrl/TabDC.h"

namespace gallery {

QString g_out;
int g_failures = 0;

void Save(const QImage& image, const QString& name) {
    const QString path = g_out + "/" + name + ".png";
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!image.save(path)) {
        std::cerr << "cannot write " << path.toStdString() << "\n";
        ++g_failures;
    }
}

void Settle(plat::MessageLoop& loop) {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        while (loop.ProcessDue() > 0) {
        }
    }
}

void SaveWidget(QWidget& widget, const QString& name, plat::MessageLoop& loop) {
    widget.show();
    Settle(loop);
    Save(widget.grab().toImage(), name);
}

}  // namespace gallery

namespace {

using namespace gallery;

std::vector<std::unique_ptr<TaskNode>> g_tasks;

void SampleData() {
    CStateDoingPage::ClearDoingItems();
    CStateDonePage::Clear();
    CStateDoneFailedPage::Clear();
    const struct {
        const char* path;
        std::int64_t size;
        std::uint32_t local, deletion;
        double percent;
    } running[] = {{"/文档/季度报告.docx", 1843200, 0, 0, 42.5},
                   {"/照片/2024/海边.jpg", 5242880 + 123456, 1, 0, 87.25},
                   {"/旧资料/草稿.txt", 2048, 0, 1, 0},
                   {"/项目/设计稿/首页-最终版-v3.psd", 1610612736, 0, 0, 3.1}};
    for (const auto& r : running) {
        g_tasks.push_back(std::make_unique<TaskNode>(SyncTaskInfo()));
        CStateDoingPage::AddDoingItem(g_tasks.back().get(), r.local, r.size, r.deletion, 0, r.path);
        CStateDoingPage::UpdateProgressById(g_tasks.back().get(), r.percent);
    }
    const struct {
        const char* file;
        const char* path;
        std::int64_t size;
        std::uint32_t local, deletion;
        const char* time;
    } done[] = {{"合同.pdf", "/合同/合同.pdf", 356000, 0, 0, "2024-05-12 09:14:03"},
                {"readme.md", "/项目/readme.md", 812, 1, 0, "2024-05-12 09:13:58"},
                {"old.log", "/日志/old.log", 73400320, 1, 1, "2024-05-12 09:12:40"},
                {"预算.xlsx", "/财务/预算.xlsx", 95232, 0, 0, "2024-05-12 09:10:11"},
                {"截图.png", "/截图.png", 1048576, 1, 0, "2024-05-12 09:08:27"},
                {"临时.tmp", "/临时.tmp", 0, 0, 1, "2024-05-12 09:05:00"}};
    for (auto it = std::rbegin(done); it != std::rend(done); ++it)
        CStateDonePage::AddDoneItem(it->local, it->deletion, it->size, it->file, it->path, it->time);
    CStateDoneFailedPage::AddFailedItem(0, 0, 20971520, "视频.mp4", "/视频/视频.mp4", "2024-05-12 09:15:22",
                                        "服务器拒绝了请求 (HTTP %d)", 507);
    CStateDoneFailedPage::AddFailedItem(1, 0, 4096, "锁定.docx", "/文档/锁定.docx", "2024-05-12 09:11:05",
                                        "没有权限");
}

void DetailsWindow(CLanguageIni& language, plat::MessageLoop& loop, const QString& suffix) {
    for (int tab = 0; tab < 3; ++tab) {
        bool paused = false;
        CStateDlg dialog(language, {[&] { return paused; }, [] { return false; }, [] {}});
        dialog.Tabs().SelectItem(dialog.Tabs().GetItemHandle(tab));
        dialog.Tabs().Update();
        const char* names[] = {"running", "finished", "failed"};
        SaveWidget(dialog, QStringLiteral("details/%1%2").arg(names[tab]).arg(suffix), loop);
        if (tab == 0) {
            // Two seconds later the animation has moved on; a hovered tab.
            HTAB second = dialog.Tabs().GetItemHandle(1);
            dialog.Tabs().OnMouseMove(second->rect.l + 10, second->rect.t + 10);
            dialog.TabWindow().repaint();
            Save(dialog.grab().toImage(), QStringLiteral("details/running-hover%1").arg(suffix));
        }
    }
}

void Menus(CLanguageIni& language, const QString& suffix) {
    const struct {
        int id;
        bool paused;
        const char* name;
    } forms[] = {{129, false, "menu129"}, {129, true, "menu129-paused"}, {203, false, "menu203"}};
    for (const auto& form : forms) {
        const auto text = orvane_ui::ResourceText(QStringLiteral(":/orvane/menus/%1.menu").arg(form.id));
        std::optional<TrayMenu> menu = text ? ParseMenuResource(form.id, *text) : std::nullopt;
        if (!menu) {
            ++g_failures;
            continue;
        }
        for (TrayMenuItem& item : menu->items)
            if (!item.separator()) item.text = language.GetString(std::u16string_view(item.text));
        menu->SetText(CSystemTray::kCmdSyncControl, language.GetString(form.paused ? u"恢复同步" : u"暂停同步"));
        QMenu qmenu;
        for (const TrayMenuItem& item : menu->items) {
            if (item.separator()) {
                qmenu.addSeparator();
                continue;
            }
            QAction* action = qmenu.addAction(QString::fromStdU16String(item.text));
            action->setEnabled(!item.disabled);
            if (item.checked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
        }
        qmenu.setDefaultAction(qmenu.actions().front());
        qmenu.adjustSize();
        Save(qmenu.grab().toImage(), QStringLiteral("tray/%1%2").arg(form.name).arg(suffix));
    }
}

void Icons() {
    const int ids[] = {128, 268, 249, 251, 252, 253, 254, 263, 264, 265, 266, 270, 131, 132};
    QImage sheet(static_cast<int>(std::size(ids)) * 72, 110, QImage::Format_ARGB32);
    sheet.fill(QColor(240, 240, 240));
    QPainter painter(&sheet);
    int x = 0;
    for (int id : ids) {
        painter.drawPixmap(x + 4, 4, orvane_ui::PixmapById(id, QSize(64, 64)));
        painter.drawPixmap(x + 4, 72, orvane_ui::PixmapById(id, QSize(16, 16)));
        painter.drawPixmap(x + 24, 72, orvane_ui::PixmapById(id, QSize(22, 22)));
        painter.drawText(QRect(x, 94, 72, 16), Qt::AlignCenter, QString::number(id));
        x += 72;
    }
    painter.end();
    Save(sheet, QStringLiteral("tray/icons"));
    Save(orvane_ui::PixmapById(257, QSize(364, 154)).toImage(), QStringLiteral("boxes/bitmap257"));
    Save(orvane_ui::PixmapById(269, QSize(492, 328)).toImage(), QStringLiteral("boxes/bitmap269"));
}

// The buttons' glyphs: close, menu, menu (partial), left, left (off), right, right (off).
std::unique_ptr<PixmapImageList> Glyphs() {
    std::vector<QPixmap> glyphs;
    for (int i = 0; i < 7; ++i) {
        QPixmap p(14, 14);
        p.fill(Qt::transparent);
        QPainter g(&p);
        g.setPen(QPen(Qt::black, 1.6));
        g.setRenderHint(QPainter::Antialiasing);
        if (i == 0) {
            g.drawLine(4, 4, 10, 10);
            g.drawLine(10, 4, 4, 10);
        } else if (i <= 2) {
            g.setBrush(Qt::black);
            g.drawPolygon(QPolygon({QPoint(3, 5), QPoint(11, 5), QPoint(7, 9)}));
            if (i == 2) g.drawLine(3, 3, 11, 3);
        } else if (i <= 4) {
            g.setBrush(Qt::black);
            g.drawPolygon(QPolygon({QPoint(9, 3), QPoint(9, 11), QPoint(5, 7)}));
        } else {
            g.setBrush(Qt::black);
            g.drawPolygon(QPolygon({QPoint(5, 3), QPoint(5, 11), QPoint(9, 7)}));
        }
        glyphs.push_back(p);
    }
    return std::make_unique<PixmapImageList>(TabSize{14, 14}, std::move(glyphs));
}

void TabStyles() {
    auto glyphs = Glyphs();
    for (bool withButtons : {false, true}) {
        TabCtrlComplex tabs;
        QWidget parent;
        auto* window = new TabCtrlWindow(tabs, &parent);
        window->resize(withButtons ? 360 : 420, 96);
        std::vector<QWidget*> pages;
        const char16_t* texts[] = {u"正在同步", u"同步完成", u"同步失败", u"Disabled"};
        for (int i = 0; i < (withButtons ? 4 : 3); ++i) {
            auto* page = new QWidget(window);
            page->setAutoFillBackground(true);
            QPalette p = page->palette();
            p.setColor(QPalette::Window, Qt::white);
            page->setPalette(p);
            pages.push_back(page);
            HTAB tab = tabs.AddItem(page, texts[i], -1);
            if (i == 3) tabs.DisableItem(tab, true);
        }
        if (withButtons) {
            tabs.SetSystemImageList(glyphs.get());
            tabs.SetBehavior(TabCtrl::BehaviorScroll);
        }
        tabs.SetMinTextHeight(20);
        for (const auto& named : tabs.AllStyles()) {
            for (auto layout : {TabCtrl::LayoutTop, TabCtrl::LayoutBottom}) {
                tabs.SetLayout(layout);
                tabs.InstallStyle(named.style);
                tabs.SelectItem(tabs.GetItemHandle(1));
                tabs.Update();
                HTAB hover = tabs.GetItemHandle(2);
                tabs.OnMouseMove(hover->rect.l + 8, (hover->rect.t + hover->rect.b) / 2);
                QImage image(window->size(), QImage::Format_ARGB32);
                image.fill(Qt::white);
                {
                    QPainter painter(&image);
                    window->render(&painter);
                }
                Save(image, QStringLiteral("tabctrl/%1%2%3")
                                .arg(QString::fromLatin1(named.name))
                                .arg(layout == TabCtrl::LayoutTop ? "" : "-bottom")
                                .arg(withButtons ? "-buttons" : ""));
            }
        }
    }
}

struct SampleFolderModel : CloudPathDialogModel {
    std::u16string folder = u"/home/someone/Documents/Nuvet云盘/account.name@example.com(1)";
    std::u16string PromptKey() const override { return u"该账户第一次登陆云盘，请指定云盘目录，若不指定则按默认路径存储："; }
    std::u16string Folder() const override { return folder; }
    void Browse(QWidget*) override {}
    void Cancel() override {}
};

void Boxes(CLanguageIni& language, plat::MessageLoop& loop, const QString& suffix) {
    {
        CBanbenInfo about(language, "1.0.0.0");
        SaveWidget(about, "boxes/about" + suffix, loop);
    }
    {
        CDeleteUserInfo confirm(language, u"更换账号",
                                u"您确定要更换帐号吗？\n更换帐号后，当前帐号的文件将不再和\n云盘保持同步。", 2);
        SaveWidget(confirm, "boxes/confirm" + suffix, loop);
    }
    {
        CDeleteUserInfo notice(language, u"提示信息", u"连接服务器失败\n请稍后重试", 1);
        SaveWidget(notice, "boxes/notice" + suffix, loop);
    }
    {
        // The notice in each of its results; the page's answer is handed over by hand.
        const struct {
            const char* name;
            const char* site;
            const char* served;  // null: still checking
        } results[] = {{"update-checking", "http://updates.example.com", nullptr},
                       {"update-newer", "http://updates.example.com", "1.0.7"},
                       {"update-latest", "http://updates.example.com", "1.0.0"},
                       {"update-failed", "http://updates.example.com", ""},
                       {"update-nosite", "", nullptr}};
        for (const auto& r : results) {
            auto answer = std::make_shared<std::promise<std::string>>();
            std::shared_future<std::string> later = answer->get_future().share();
            UpdateCheck check{"1.0.0.0", r.site, [later](const std::string&) { return later.get(); }, {}};
            CUpdateDlg update(language, std::move(check));
            if (r.served != nullptr) update.TakeVersion(r.served);
            SaveWidget(update, QStringLiteral("boxes/%1%2").arg(QString::fromLatin1(r.name)).arg(suffix), loop);
            answer->set_value(std::string());  // the check's thread ends
            while (update.Model().Current() == UpdateNoticeModel::State::Checking) Settle(loop);
        }
    }
    {
        CDeleteUserInfo told(language, u"提示信息",
                             language.Format(u"没有文件管理器能打开文件夹：%s", {u"/home/user/Documents/Nuvet云盘/demo"}), 1);
        SaveWidget(told, "boxes/open-failed" + suffix, loop);
    }
    {
        SampleFolderModel model;
        CSetCloudPathDlg folder(language, model);
        SaveWidget(folder, "boxes/folder" + suffix, loop);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("gallery");
    plat::MessageLoop loop;
    const std::string lang = (QCoreApplication::applicationDirPath() + "/../bin/language/language.ini").toStdString();
    CLanguageIni language(QFileInfo(QString::fromStdString(lang)).exists()
                              ? lang
                              : (QCoreApplication::applicationDirPath() + "/language/language.ini").toStdString());
    SampleData();
    for (int english = 0; english < 2; ++english) {
        language.SetLanguage(english ? CLanguageIni::kEnglish : CLanguageIni::kChinese);
        const QString suffix = english ? QStringLiteral("-en") : QString();
        DetailsWindow(language, loop, suffix);
        Menus(language, suffix);
        Boxes(language, loop, suffix);
    }
    Icons();
    TabStyles();
    ClientGallery(loop);
    ClientBrowserGallery(loop);
    CStateDoingPage::ClearDoingItems();
    g_tasks.clear();
    std::cout << "gallery written to " << QDir(g_out).absolutePath().toStdString() << "\n";
    return g_failures == 0 ? 0 : 1;
}
