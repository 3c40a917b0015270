// The windows offscreen: the message box's modes and results, the update notice against
// the test server's download page, the version box, the folder dialog's cancel and width,
// and the sync-details window with its three pages (ids, tabs that fit, rows from
// producer threads).
#include "sync/ui/Dialogs.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <vector>
#include <thread>

#include "support/QtApp.h"
#include "support/feedlists.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "testserver/TestServer.h"
#include "sync/common/TreeNode.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/StateDlg.h"

namespace {

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    // The program's own language file, for the English texts.
    void UseShippedTexts() {
        const char* source = std::getenv("DRAVIK_SOURCE_DIR");
        ASSERT_NE(source, nullptr);
        language.SetPath(std::string(source) + "/resources/orvane/language/language.ini");
    }
    testsupport::Sandbox box;
    CLanguageIni language{(box.Dir("bin") / "language.ini").string()};
};

TEST_F(DialogsTest, MessageBoxModesAndResults) {
    CDeleteUserInfo two(language, u"更换账号", u"您确定要更换帐号吗？", 2);
    CDeleteUserInfo one(language, u"提示信息", u"连接服务器失败\n请稍后重试", 1);
    EXPECT_EQ(two.windowTitle(), QStringLiteral("更换账号"));
    EXPECT_FALSE(two.CancelButton()->isHidden());
    EXPECT_TRUE(one.CancelButton()->isHidden());
    // Mode 1: OK moves right by its own width, same top and size.
    EXPECT_EQ(one.OkButton()->x(), two.OkButton()->x() + two.OkButton()->width());
    EXPECT_EQ(one.OkButton()->y(), two.OkButton()->y());
    EXPECT_EQ(one.OkButton()->objectName(), QStringLiteral("1"));
    QTimer::singleShot(0, &two, [&] { two.OkButton()->click(); });
    EXPECT_EQ(two.exec(), CDeleteUserInfo::kIdOk);
    QTimer::singleShot(0, &two, [&] { two.CancelButton()->click(); });
    EXPECT_EQ(two.exec(), CDeleteUserInfo::kIdCancel);
    QTimer::singleShot(0, &one, [&] { one.reject(); });  // the close box
    EXPECT_EQ(one.exec(), CDeleteUserInfo::kIdCancel);
}

TEST_F(DialogsTest, MessageBoxGivesItsTextRoomInEitherLanguage) {
    UseShippedTexts();
    for (int lang : {CLanguageIni::kChinese, CLanguageIni::kEnglish}) {
        language.SetLanguage(lang);
        CDeleteUserInfo box(language, u"更换账号",
                            u"您确定要更换帐号吗？\n更换帐号后，当前帐号的文件将不再和\n云盘保持同步。", 2);
        box.show();
        const QLabel* text = box.findChild<QLabel*>(QStringLiteral("-1"));
        ASSERT_NE(text, nullptr);
        const QRect needed(text->pos(), QSize(text->width(), text->heightForWidth(text->width())));
        EXPECT_LT(needed.bottom(), box.OkButton()->y()) << lang << ": the text runs into the buttons";
        EXPECT_LT(needed.right(), box.width() - 4) << lang;
        // No line of the text is broken where the template's narrow field would break it.
        for (const QString& line : text->text().split(QLatin1Char('\n')))
            EXPECT_LE(text->fontMetrics().horizontalAdvance(line), text->width()) << lang << line.toStdString();
        EXPECT_LT(box.CancelButton()->geometry().bottom(), box.height() - 4) << lang;
    }
}

TEST(UpdateNoticeModelTest, TheResultFollowsWhatTheSiteSaid) {
    using State = UpdateNoticeModel::State;
    const struct {
        const char* name;
        const char* own;
        const char* site;
        const char* served;  // null: no check made
        State state;
    } cases[] = {
        {"no site configured", "1.0.0.0", "", nullptr, State::NoSite},
        {"only blanks for a site", "1.0.0.0", "  ", nullptr, State::NoSite},
        {"a newer version", "1.0.0.0", "http://u", "1.0.1", State::Newer},
        {"the same version", "1.0.0.0", "http://u", "1.0.0", State::UpToDate},
        {"the same version with blanks", "1.0.0.0", "http://u", " 1.0.0\n", State::UpToDate},
        {"an older version", "1.2.0.0", "http://u", "1.1.9", State::UpToDate},
        {"compared as the client does", "2.2.9.0", "http://u", "2.2.10", State::UpToDate},
        {"nothing read", "1.0.0.0", "http://u", "", State::Failed},
        {"only blanks read", "1.0.0.0", "http://u", " \n", State::Failed},
    };
    for (const auto& c : cases) {
        UpdateNoticeModel model(c.own, c.site);
        if (c.served != nullptr) {
            EXPECT_EQ(model.Current(), State::Checking) << c.name;
            EXPECT_TRUE(model.Visible(UpdateNoticeModel::kCheckingLine)) << c.name;
            EXPECT_FALSE(model.Visible(1)) << c.name;
            EXPECT_FALSE(model.Visible(2)) << c.name;
            model.TakeVersion(c.served);
        }
        EXPECT_EQ(model.Current(), c.state) << c.name;
        EXPECT_FALSE(model.Visible(UpdateNoticeModel::kCheckingLine)) << c.name;
        EXPECT_TRUE(model.Visible(2)) << c.name;
        EXPECT_EQ(model.Visible(1), c.state == State::Newer) << c.name << ": Update Now only for an update";
        for (int invented : {1172, 1173}) EXPECT_FALSE(model.Visible(invented)) << c.name << ": no date or size is known";
    }
    UpdateNoticeModel late("1.0.0.0", "http://u/");
    late.TakeVersion("2.0");
    late.TakeVersion("");  // a second answer changes nothing
    EXPECT_EQ(late.Current(), State::Newer);
    EXPECT_EQ(late.PageAddress(), "http://u/download.html");
}

// The notice against the test server's download page: what it serves is what shows.
class UpdateNoticeTest : public DialogsTest {
protected:
    void SetUp() override {
        DialogsTest::SetUp();
        UseShippedTexts();
        language.SetLanguage(CLanguageIni::kEnglish);
        testserver::ServerOptions options;
        options.dataDir = box.Dir("server");
        server = std::make_unique<testserver::TestServer>(options);
        server->Start();
    }
    // Opens a notice and waits for its check to end; the texts it shows then.
    std::unique_ptr<CUpdateDlg> Check(const std::string& site, std::vector<std::string>* opened = nullptr) {
        UpdateCheck check{"1.0.0.0", site, {}, [opened](const std::string& address) {
                              if (opened) opened->push_back(address);
                          }};
        auto notice = std::make_unique<CUpdateDlg>(language, std::move(check));
        notice->show();
        EXPECT_TRUE(testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return notice->Model().Current() != UpdateNoticeModel::State::Checking;
        }));
        return notice;
    }
    static QString Text(CUpdateDlg& notice, const char* id) { return notice.findChild<QLabel*>(id)->text(); }
    static bool Shown(CUpdateDlg& notice, const char* id) { return notice.findChild<QWidget*>(id)->isVisible(); }
    std::unique_ptr<testserver::TestServer> server;
};

TEST_F(UpdateNoticeTest, ANewerVersionOnTheSiteIsOfferedWithTheProgramsOwn) {
    server->SetClientVersion("1.0.7", "installer");
    std::vector<std::string> opened;
    auto notice = Check(server->BaseUrl(), &opened);
    EXPECT_EQ(notice->Model().Current(), UpdateNoticeModel::State::Newer);
    EXPECT_EQ(Text(*notice, "1171"), QStringLiteral("Nuvet Cloud 1.0.7"));
    EXPECT_TRUE(Text(*notice, "1176").contains(QStringLiteral("Current version: 1.0.0.0"))) << Text(*notice, "1176").toStdString();
    EXPECT_FALSE(Text(*notice, "1176").contains(QStringLiteral("2012")));
    ASSERT_TRUE(Shown(*notice, "1"));
    notice->findChild<QPushButton*>(QStringLiteral("1"))->click();  // Update Now: the download page
    EXPECT_EQ(opened, std::vector<std::string>{server->BaseUrl() + "/download.html"});
    EXPECT_TRUE(notice->isVisible());
    notice->findChild<QPushButton*>(QStringLiteral("2"))->click();
    EXPECT_FALSE(notice->isVisible());
}

TEST_F(UpdateNoticeTest, TheSameVersionSaysUpToDateAndAFailureSaysSo) {
    server->SetClientVersion("1.0.0", "installer");
    auto same = Check(server->BaseUrl());
    EXPECT_EQ(same->Model().Current(), UpdateNoticeModel::State::UpToDate);
    EXPECT_EQ(Text(*same, "1174"), QStringLiteral("This is the latest version"));
    EXPECT_FALSE(Shown(*same, "1"));
    EXPECT_FALSE(Shown(*same, "1171"));
    EXPECT_EQ(same->findChild<QPushButton*>(QStringLiteral("2"))->text(), QStringLiteral("Close"));

    testserver::Fault error;
    error.route = "versionPage";
    error.status = 500;
    server->InjectFault(error);
    auto failed = Check(server->BaseUrl());
    EXPECT_EQ(failed->Model().Current(), UpdateNoticeModel::State::Failed);
    EXPECT_EQ(Text(*failed, "1174"), QStringLiteral("The update check failed"));
    EXPECT_TRUE(Text(*failed, "1176").contains(QString::fromStdString(server->BaseUrl() + "/download.html")));
    EXPECT_FALSE(Shown(*failed, "1"));

    auto none = Check("");
    EXPECT_EQ(none->Model().Current(), UpdateNoticeModel::State::NoSite);
    EXPECT_EQ(Text(*none, "1174"), QStringLiteral("No check was made"));
    EXPECT_TRUE(Text(*none, "1176").contains(QStringLiteral("No update site is configured")));
}

TEST_F(DialogsTest, VersionBoxShowsTheNameAndVersionInTheLanguage) {
    UseShippedTexts();
    language.SetLanguage(CLanguageIni::kEnglish);
    CBanbenInfo box1(language, "1.0.0.0");
    EXPECT_EQ(box1.VersionText(), QStringLiteral("Version 1.0.0.0"));
    EXPECT_EQ(box1.findChild<QLabel*>(QStringLiteral("name"))->text(), QStringLiteral("Nuvet Cloud"));
    language.SetLanguage(CLanguageIni::kChinese);
    CBanbenInfo box2(language, "");
    EXPECT_TRUE(box2.VersionText().isEmpty());
    EXPECT_EQ(box2.findChild<QLabel*>(QStringLiteral("name"))->text(), QStringLiteral("Nuvet云盘"));
    EXPECT_TRUE(box2.findChild<QWidget*>(QStringLiteral("2"))->isHidden());
}

struct FakeFolderModel : CloudPathDialogModel {
    std::u16string folder = u"/home/u/Documents/Nuvet云盘/demo";
    int cancels = 0;
    std::u16string PromptKey() const override { return u"该账户第一次登陆云盘，请指定云盘目录，若不指定则按默认路径存储："; }
    std::u16string Folder() const override { return folder; }
    void Browse(QWidget*) override { folder = u"/picked"; }
    void Cancel() override {
        ++cancels;
        folder = u"/home/u/Documents/Nuvet云盘/demo";
    }
};

TEST_F(DialogsTest, FolderDialogBrowsesAndCancelReturnsToTheProposal) {
    FakeFolderModel model;
    CSetCloudPathDlg dialog(language, model);
    EXPECT_EQ(dialog.ShownFolder(), QString::fromStdU16String(model.folder));
    dialog.findChild<QPushButton*>(QStringLiteral("1302"))->click();
    EXPECT_EQ(dialog.ShownFolder(), QStringLiteral("/picked"));
    EXPECT_TRUE(dialog.findChild<QLineEdit*>(QStringLiteral("1301"))->isReadOnly());
    dialog.reject();  // the close box
    EXPECT_EQ(model.cancels, 1);
    EXPECT_EQ(dialog.ShownFolder(), QString::fromStdU16String(model.folder));

    // The Cancel button does what the close box does.
    dialog.show();
    dialog.findChild<QPushButton*>(QStringLiteral("1302"))->click();
    dialog.findChild<QPushButton*>(QStringLiteral("2"))->click();
    EXPECT_EQ(model.cancels, 2);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.ShownFolder(), QString::fromStdU16String(model.folder));
}

TEST_F(DialogsTest, FolderDialogShowsAUsualPathWhole) {
    FakeFolderModel model;
    model.folder = u"/home/someone/Documents/Nuvet云盘/account.name@example.com(2)";
    UseShippedTexts();
    for (int lang : {CLanguageIni::kChinese, CLanguageIni::kEnglish}) {
        language.SetLanguage(lang);
        CSetCloudPathDlg dialog(language, model);
        dialog.show();
        const QLineEdit* edit = dialog.findChild<QLineEdit*>(QStringLiteral("1301"));
        const int textWidth = edit->fontMetrics().horizontalAdvance(edit->text());
        EXPECT_LT(textWidth, edit->width() - 8) << lang;
        EXPECT_LE(edit->geometry().right(), dialog.width()) << lang;
        for (const char* id : {"1", "2"}) {
            const auto* button = dialog.findChild<QPushButton*>(QString::fromLatin1(id));
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width()) << id;
        }
        EXPECT_FALSE(dialog.findChild<QPushButton*>(QStringLiteral("1"))->geometry().intersects(
            dialog.findChild<QPushButton*>(QStringLiteral("2"))->geometry()));
    }
}

TEST_F(DialogsTest, SyncDetailsWindowHoldsThreePagesThatFitAndFill) {
    const testsupport::EmptyFeedLists feeds;
    plat::MessageLoop loop;
    for (int i = 0; i < 6; ++i) CStateDonePage::AddDoneItem(0, 0, 1000 + i, "f", "/h" + std::to_string(i), "t");
    bool paused = false;
    {
        CStateDlg dialog(language, {[&] { return paused; }, [] { return false; }, [&] { paused = !paused; }});
        for (const char* id : {"3001", "3010", "3011", "3012", "1238", "1239", "1240", "1306", "1271", "1272", "1273",
                               "1312", "1318", "1319", "1320", "1321"}) {
            EXPECT_NE(dialog.findChild<QWidget*>(QString::fromLatin1(id)), nullptr) << id;
        }
        TabCtrlComplex& tabs = dialog.Tabs();
        ASSERT_EQ(tabs.GetItemCount(), 3);
        EXPECT_FALSE(tabs.IsPartialView());  // the three tabs fit: no text is cut
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("云盘同步详情"));

        // Producers report while the window is open; the rows arrive through the loop.
        std::vector<std::unique_ptr<TaskNode>> nodes;
        for (int i = 0; i < 50; ++i) nodes.push_back(std::make_unique<TaskNode>(SyncTaskInfo()));
        std::thread producer([&] {
            for (int i = 0; i < 50; ++i) {
                CStateDoingPage::AddDoingItem(nodes[i].get(), 0, i, 0, 0, "/run" + std::to_string(i));
                CStateDonePage::AddDoneItem(0, 0, i, "f", "/d" + std::to_string(i), "t");
            }
        });
        producer.join();
        while (loop.ProcessDue() > 0) {
        }
        EXPECT_EQ(dialog.DoingPage().Model().RowCount(), 50);
        EXPECT_EQ(dialog.DonePage().Model().RowCount(), 56);
        EXPECT_EQ(dialog.DonePage().List()->model()->rowCount(), 56);
        EXPECT_EQ(dialog.DonePage().Model().StatusText(), u"同步完成: 56");
        dialog.findChild<QPushButton*>(QStringLiteral("1239"))->click();
        EXPECT_TRUE(paused);
        EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("1239"))->text(), QStringLiteral("恢复同步"));
        CStateDoingPage::ClearDoingItems();
    }
    // Closed: the lists go on without a page.
    CStateDonePage::AddDoneItem(0, 0, 1, "f", "/after", "t");
    while (loop.ProcessDue() > 0) {
    }
}

}  // namespace
