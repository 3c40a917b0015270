// The windows offscreen: the message box's modes and results, the update notice's two
// phases, the version box, the folder dialog's cancel, and the sync-details window with
// its three pages (ids, tabs that fit, rows from producer threads).
#include "sync/ui/Dialogs.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <atomic>
#include <thread>

#include "support/QtApp.h"
#include "support/feedlists.h"
#include "support/sandbox.h"
#include "sync/common/TreeNode.h"
#include "sync/ui/LanguageIni.h"
#include "sync/ui/StateDlg.h"

namespace {

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
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

TEST_F(DialogsTest, UpdateNoticeShowsOnlyTheCheckingLineThenTheResult) {
    CUpdateDlg notice(language);
    notice.show();
    auto visible = [&](const char* id) { return notice.findChild<QWidget*>(QString::fromLatin1(id))->isVisible(); };
    EXPECT_TRUE(visible("1175"));
    for (const char* id : {"1", "2", "1171", "1172", "1173", "1174", "1176"}) EXPECT_FALSE(visible(id)) << id;
    notice.ShowPhase(true);
    EXPECT_FALSE(visible("1175"));
    for (const char* id : {"1", "2", "1171", "1172", "1173", "1174", "1176"}) EXPECT_TRUE(visible(id)) << id;
    notice.findChild<QPushButton*>(QStringLiteral("1"))->click();  // "立即升级": stays open
    EXPECT_TRUE(notice.isVisible());
    notice.findChild<QPushButton*>(QStringLiteral("2"))->click();
    EXPECT_FALSE(notice.isVisible());
}

TEST_F(DialogsTest, VersionBoxShowsTheVersionOrNothing) {
    CBanbenInfo box1(language, "1.0.0.0");
    EXPECT_EQ(box1.VersionText(), QStringLiteral("1.0.0.0"));
    CBanbenInfo box2(language, "");
    EXPECT_TRUE(box2.VersionText().isEmpty());
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
    dialog.reject();
    EXPECT_EQ(model.cancels, 1);
    EXPECT_EQ(dialog.ShownFolder(), QString::fromStdU16String(model.folder));
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
