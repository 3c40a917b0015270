// The browser and transfer list windows offscreen over the fake services: every control
// by its id, buttons following the model, check boxes and the header box, Ctrl+V once per
// key press, Enter that never closes, a drop, work posted from the bus thread, and the
// transfer list's tabs, counters and retry click.
#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QTabBar>
#include <QMouseEvent>
#include <QUrl>

#include <gtest/gtest.h>

#include <thread>

#include "UiFakes.h"
#include "client/ui/BitButtonNL.h"
#include "client/ui/MainDlg.h"
#include "client/ui/TransferListDlg.h"
#include "support/QtApp.h"
#include "support/wait.h"

namespace {

using testsupport::WaitUntil;
using uitest::FakeServices;
using uitest::Node;

// A left click at `pos` of `widget`: press and release.
void Click(QWidget* widget, const QPoint& pos) {
    const QPointF global = widget->mapToGlobal(QPointF(pos));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(pos), global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(pos), global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class BrowserWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestApp();
        services.folders["MyDocument"].children = {Node("d", "Dir", true, 0x7F), Node("a", "a.txt", false, 0x1F),
                                                   Node("b", "b.txt", false, 0x11)};
        dialog = std::make_unique<CMainDlg>(services, [this] { ++transferListOpened; });
        dialog->show();
        Settle();
    }
    void EnterHome() {
        dialog->Model().ActivateRow(0);
        Settle();
    }
    bool Enabled(int id) { return dialog->Button(id)->isEnabled(); }
    void Key(int key, Qt::KeyboardModifiers modifiers, bool autoRepeat = false) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(&dialog->List(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(&dialog->List(), &release);
    }

    FakeServices services;
    std::unique_ptr<CMainDlg> dialog;
    int transferListOpened = 0;
};

TEST_F(BrowserWindowTest, EveryControlCarriesItsId) {
    EXPECT_EQ(dialog->objectName(), "129");
    for (const char* id : {"1019", "1032", "1027", "1026", "1028", "1029", "1033", "1031", "1030", "1042", "1034",
                           "1025", "1018", "1035"})
        EXPECT_NE(dialog->findChild<QWidget*>(id), nullptr) << id;
    EXPECT_EQ(dialog->windowTitle(), "Dravik");
    EXPECT_EQ(dialog->Table().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Name");
}

TEST_F(BrowserWindowTest, ButtonsAndPathFollowTheFolderAndChecks) {
    // At the root nothing but navigation is possible and the path is empty.
    EXPECT_FALSE(Enabled(CMainDlg::kIdNewFolder));
    EXPECT_FALSE(Enabled(CMainDlg::kIdUpload));
    EXPECT_FALSE(dialog->Button(CMainDlg::kIdEmptyBin)->isVisible());
    EXPECT_EQ(dialog->PathLabelText(), "");
    EnterHome();
    EXPECT_EQ(dialog->Table().rowCount(), 3);
    EXPECT_EQ(dialog->PathLabelText(), "/MyDocument");
    EXPECT_TRUE(Enabled(CMainDlg::kIdNewFolder));
    EXPECT_TRUE(Enabled(CMainDlg::kIdUpload));
    EXPECT_FALSE(Enabled(CMainDlg::kIdDownload));

    // Selecting the preview-only file: the Edit button reads Preview.
    dialog->List().selectRow(2);
    Settle();
    EXPECT_EQ(dialog->Model().CheckedRows(), std::set<int>{2});
    EXPECT_TRUE(Enabled(CMainDlg::kIdDownload));
    EXPECT_TRUE(Enabled(CMainDlg::kIdEdit));
    EXPECT_EQ(dialog->Button(CMainDlg::kIdEdit)->text(), "Preview");
    EXPECT_EQ(dialog->Table().data(dialog->Table().index(2, 0), Qt::CheckStateRole).toInt(), Qt::Checked);
}

TEST_F(BrowserWindowTest, CheckBoxesToggleSingleRowsAndTheHeaderBoxChecksAll) {
    EnterHome();
    QTableView& list = dialog->List();
    auto clickBox = [&](int row) {
        const QRect cell = list.visualRect(dialog->Table().index(row, 0));
        Click(list.viewport(), QPoint(cell.left() + 6, cell.center().y()));
        Settle();
    };
    clickBox(0);
    clickBox(1);
    EXPECT_EQ(dialog->Model().CheckedRows(), (std::set<int>{0, 1}));
    EXPECT_FALSE(dialog->HeaderChecked());
    clickBox(2);
    EXPECT_TRUE(dialog->HeaderChecked());
    clickBox(1);
    EXPECT_EQ(dialog->Model().CheckedRows(), (std::set<int>{0, 2}));
    EXPECT_FALSE(dialog->HeaderChecked());
    // The header box: all, then none.
    auto* header = list.horizontalHeader();
    const QPoint box(header->sectionViewportPosition(0) + 10, header->height() / 2);
    Click(header->viewport(), box);
    Settle();
    EXPECT_TRUE(dialog->Model().AllChecked());
    EXPECT_EQ(list.selectionModel()->selectedRows().size(), 3);
    Click(header->viewport(), box);
    Settle();
    EXPECT_TRUE(dialog->Model().CheckedRows().empty());
    EXPECT_TRUE(list.selectionModel()->selectedRows().isEmpty());
}

TEST_F(BrowserWindowTest, PasteActsOncePerPressAndEnterNeverCloses) {
    EnterHome();
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile("/tmp/one.txt"), QUrl::fromLocalFile("/tmp/two")});
    QApplication::clipboard()->setMimeData(mime);
    Key(Qt::Key_V, Qt::ControlModifier);
    Key(Qt::Key_V, Qt::ControlModifier, true);  // the key held down: no second paste
    Key(Qt::Key_V, Qt::NoModifier);
    Settle();
    ASSERT_EQ(services.batches.size(), 1u);
    EXPECT_EQ(services.batches[0].paths, (std::vector<std::string>{"/tmp/one.txt", "/tmp/two"}));
    EXPECT_EQ(transferListOpened, 1);

    Key(Qt::Key_Return, Qt::NoModifier);
    Key(Qt::Key_Enter, Qt::KeypadModifier);
    Settle();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 0);
}

TEST_F(BrowserWindowTest, DropQueuesAnUpload) {
    EnterHome();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/tmp/dropped.txt")});
    QDropEvent drop(QPointF(100, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    static_cast<QObject*>(dialog.get())->event(&drop);
    Settle();
    ASSERT_EQ(services.batches.size(), 1u);
    EXPECT_EQ(services.batches[0].paths, std::vector<std::string>{"/tmp/dropped.txt"});
}

TEST_F(BrowserWindowTest, BusSlotsReachTheWindowThroughItsThread) {
    EnterHome();
    EditTaskStateMessage state;
    state.reference = "a";
    state.parentRef = "home-ref";
    std::thread bus([&] { dialog->Model().OnEditTaskState(state); });
    bus.join();
    ASSERT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return dialog->Table().data(dialog->Table().index(1, 6), Qt::DisplayRole).toString() == "Editing";
    }));
}

TEST(TransferListWindowTest, TabsCountersAndRetry) {
    TestApp();
    FakeServices services;
    TransferFileTask running;
    running.id = 1;
    running.state = TransferRunning;
    running.relativePath = "/r.txt";
    services.running = {running};
    TransferItem failed;
    failed.id = 2;
    failed.state = TransferFailed;
    failed.direction = TransferUpward;
    failed.localFolder = "/home/u";
    failed.relativePath = "/f.txt";
    failed.remoteName = "/f.txt";
    services.failed = {failed};
    CTransferListDlg dialog(services);
    dialog.show();
    Settle();
    EXPECT_EQ(dialog.objectName(), "131");
    for (const char* id : {"1036", "1039", "1066", "1067", "1041", "1042", "1040"})
        EXPECT_NE(dialog.findChild<QWidget*>(id), nullptr) << id;
    EXPECT_EQ(dialog.windowTitle(), "Transfer List");
    EXPECT_EQ(dialog.Tabs().tabText(2), "Failed List");
    EXPECT_EQ(dialog.CounterText(), "Total / Waiting / Transferring: 1 / 0 / 1");
    EXPECT_TRUE(dialog.List(0).isVisible());
    EXPECT_FALSE(dialog.RetryAllButton()->isVisible());

    dialog.Tabs().setCurrentIndex(2);
    Settle();
    EXPECT_FALSE(dialog.List(0).isVisible());
    EXPECT_TRUE(dialog.List(2).isVisible());
    EXPECT_TRUE(dialog.RetryAllButton()->isVisible());
    EXPECT_EQ(dialog.CounterText(), "Tranfer Failed: 1");

    QTableView& list = dialog.List(2);
    const QRect retry = list.visualRect(list.model()->index(0, TransferListModel::kRetryColumn));
    Click(list.viewport(), retry.center());
    Settle();
    ASSERT_EQ(services.batches.size(), 1u);
    EXPECT_EQ(services.batches[0].paths, std::vector<std::string>{"/home/u/f.txt"});
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_EQ(dialog.CounterText(), "Tranfer Failed: 0");
}

}  // namespace
