// The browser and the transfer list over the real controller against the test server:
// listing page by page, new folder, delete into the recycle bin, restore and purge with
// its question, and an upload by drop that the transfer list follows from waiting to
// succeeded through the bus.
#include "client/ui/ClientServices.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "UiFakes.h"
#include "client/local/ClientControl.h"
#include "client/local/WinFileSystemAdapter.h"
#include "support/sandbox.h"
#include "support/server.h"
#include "support/wait.h"

namespace {

using testsupport::WaitUntil;
using uitest::RecordingBrowserView;
using uitest::RecordingTransferView;

class ServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        server = std::make_unique<testsupport::RunningServer>(box);
        control = std::make_unique<ClientControl>();
        control->SetFileSystem(&files);
        Config config;
        config.FreshCloudDirectoryPageSize = 2;
        control->SetConfig(config);
        ASSERT_EQ(control->SetDirectories(box.Dir("app").string(), box.Dir("data").string()), 1);
        UserInfo user;
        user.Account = testsupport::kServerAccount;
        user.Password = testsupport::kServerPassword;
        user.ServerDomainName = server->BaseUrl();
        user.LanguageCode = "en";
        ASSERT_EQ(control->Login(user), 1);
        services = std::make_unique<ControlServices>(*control);
    }
    void TearDown() override {
        browser.reset();
        transfers.reset();
        control->Logout();
        control->Bus().Stop();
        control.reset();
        server.reset();
    }
    void OpenBrowser() {
        browser = std::make_unique<CloudBrowserModel>(*services, view);
        browser->Open();
        view.queue.Drain();
    }
    void Enter(const std::string& name) {
        for (int row = 0; row < browser->RowCount(); ++row)
            if (browser->Row(row).name == name) {
                browser->ActivateRow(row);
                view.queue.Drain();
                return;
            }
        FAIL() << "no row " << name;
    }
    int RowOf(const std::string& name) const {
        for (int row = 0; row < browser->RowCount(); ++row)
            if (browser->Row(row).name == name) return row;
        return -1;
    }
    bool InTrash(const std::string& path) const {
        for (const auto& e : server->Trash(testsupport::kServerAccount))
            if (e.path == path) return true;
        return false;
    }

    testsupport::Sandbox box;
    std::unique_ptr<testsupport::RunningServer> server;
    WinFileSystemAdapter files;
    std::unique_ptr<ClientControl> control;
    std::unique_ptr<ControlServices> services;
    RecordingBrowserView view;
    std::unique_ptr<CloudBrowserModel> browser;
    RecordingTransferView transferView;
    std::unique_ptr<TransferListModel> transfers;
};

TEST_F(ServicesTest, BrowserListsPagesAndChangesTheServer) {
    for (int i = 0; i < 5; ++i) server->PutFile(testsupport::kServerAccount, "/f" + std::to_string(i) + ".txt", "x");
    OpenBrowser();
    ASSERT_EQ(browser->RowCount(), 2);
    Enter("MyDocument");
    EXPECT_EQ(browser->RowCount(), 5);
    EXPECT_EQ(browser->PathText(), "/MyDocument");
    EXPECT_TRUE(browser->Buttons().upload);
    EXPECT_TRUE(browser->Buttons().newFolder);

    view.inputAnswer = "Reports";
    browser->NewFolder();
    view.queue.Drain();
    EXPECT_TRUE(server->Find(testsupport::kServerAccount, "/Reports").has_value());
    EXPECT_GE(RowOf("Reports"), 0);

    browser->SetChecked(RowOf("f3.txt"), true);
    browser->Delete();
    view.queue.Drain();
    EXPECT_TRUE(view.confirms.empty());
    EXPECT_TRUE(InTrash("/f3.txt"));
    EXPECT_EQ(RowOf("f3.txt"), -1);

    browser->GoUp();
    Enter("RecycleBin");
    ASSERT_GE(RowOf("f3.txt"), 0);
    EXPECT_EQ(browser->Row(RowOf("f3.txt")).actionFlags, 0x82);
    browser->SetChecked(RowOf("f3.txt"), true);
    browser->Restore();
    view.queue.Drain();
    EXPECT_FALSE(InTrash("/f3.txt"));
    EXPECT_TRUE(server->Find(testsupport::kServerAccount, "/f3.txt").has_value());

    server->Remove(testsupport::kServerAccount, "/f4.txt");
    browser->Refresh();
    ASSERT_GE(RowOf("f4.txt"), 0);
    browser->SetChecked(RowOf("f4.txt"), true);
    view.confirmAnswer = false;
    browser->Delete();
    EXPECT_TRUE(InTrash("/f4.txt"));
    view.confirmAnswer = true;
    browser->EmptyRecycleBin();
    view.queue.Drain();
    EXPECT_EQ(view.confirms.size(), 2u);
    EXPECT_TRUE(server->Trash(testsupport::kServerAccount).empty());
    EXPECT_EQ(browser->RowCount(), 0);
    EXPECT_FALSE(browser->Buttons().emptyBinEnabled);
}

TEST_F(ServicesTest, TransferListFollowsADroppedUploadToTheSucceededList) {
    OpenBrowser();
    Enter("MyDocument");
    transfers = std::make_unique<TransferListModel>(*services, transferView);
    transfers->Open();
    transferView.queue.Drain();
    const std::string local = (box.Root() / "up.txt").string();
    testsupport::WriteFile(local, "hello");
    browser->UploadLocalPaths({local});
    EXPECT_EQ(view.transferListOpened, 1);
    ASSERT_TRUE(WaitUntil([&] {
        transferView.queue.Drain();
        return transfers->RowCount(TransferListModel::Succeeded) == 1;
    }));
    EXPECT_EQ(transfers->RowCount(TransferListModel::Running), 0);
    EXPECT_EQ(transfers->CellText(TransferListModel::Succeeded, 0, 0), "/MyDocument/up.txt") << "with its folder";
    EXPECT_EQ(transfers->Tip(transfers->Rows(TransferListModel::Succeeded)[0].id), local);
    EXPECT_TRUE(server->Find(testsupport::kServerAccount, "/up.txt").has_value());
    // The browser reloads once the refresh interval after the upload has passed.
    ASSERT_TRUE(WaitUntil([&] {
        view.queue.Drain();
        return !view.armed.empty();
    }));
}

}  // namespace
