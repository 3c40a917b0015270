// The cloud browser's logic over an in-memory cloud: navigation and the page loop, the
// button states, checks and the header box, the commands with their questions and
// rights, the edit status column and the refresh after uploads; the bus slots only post.
#include "client/ui/CloudBrowserModel.h"

#include <gtest/gtest.h>

#include <functional>

#include "UiFakes.h"

namespace {

using uitest::FakeServices;
using uitest::Node;
using uitest::RecordingBrowserView;

// Opens the window and enters its first root folder (the home folder).
void OpenAndEnterFirst(CloudBrowserModel& m, RecordingBrowserView& v) {
    m.Open();
    v.queue.Drain();
    m.ActivateRow(0);
    v.queue.Drain();
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        services.texts = {{"MyDocument", "My Files"}, {"RecycleBin", "Bin"}};
        model.Open();
        view.queue.Drain();
    }
    // Double-clicks the row named `name` and lets the reload run.
    void Enter(const std::string& name) {
        for (int row = 0; row < model.RowCount(); ++row)
            if (model.Row(row).name == name) {
                model.ActivateRow(row);
                view.queue.Drain();
                return;
            }
        FAIL() << "no row " << name;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (int row = 0; row < model.RowCount(); ++row) out.push_back(model.Row(row).name);
        return out;
    }

    FakeServices services;
    RecordingBrowserView view;
    CloudBrowserModel model{services, view};
};

TEST_F(BrowserTest, OpensAtTheRootWithTranslatedRootNamesAndAnEmptyPath) {
    ASSERT_EQ(model.RowCount(), 2);
    EXPECT_EQ(model.CellText(0, 0), "My Files");
    EXPECT_EQ(model.CellText(1, 0), "Bin");
    EXPECT_EQ(model.CellText(0, 4), "");  // root nodes carry no modifier
    EXPECT_EQ(model.PathText(), "");
    EXPECT_EQ(services.listeners, std::vector<MessageListener*>{&model});
    model.Close();
    EXPECT_EQ(services.unsubscribed, std::vector<MessageListener*>{&model});
}

TEST_F(BrowserTest, NavigatesDownAndUpRebuildingTheRootFromTheController) {
    services.folders["MyDocument"].children = {Node("docs-ref", "Docs", true, 0x7F)};
    services.folders["Docs"].node = Node("docs-ref", "Docs", true, 0x7F);
    services.Fill("Docs", 1);
    Enter("MyDocument");
    EXPECT_EQ(model.PathText(), "/My Files");
    EXPECT_EQ(Names(), std::vector<std::string>{"Docs"});
    Enter("Docs");
    EXPECT_EQ(model.Stack().listings.size(), 3u);
    EXPECT_EQ(model.PathText(), "/My Files/Docs");
    EXPECT_EQ(Names(), std::vector<std::string>{"f0.txt"});

    // Up from depth 3 reloads the parent from the server.
    services.calls.clear();
    model.GoUp();
    view.queue.Drain();
    EXPECT_EQ(services.calls, (std::vector<std::string>{"open MyDocument 0"}));
    EXPECT_EQ(Names(), std::vector<std::string>{"Docs"});
    // Up from depth 2 builds the root again without asking the server for a listing.
    services.calls.clear();
    model.GoUp();
    view.queue.Drain();
    EXPECT_EQ(services.CallsStartingWith("root"), 1);
    EXPECT_EQ(services.CallsStartingWith("open CloudRoot"), 0);
    EXPECT_EQ(model.Stack().listings.size(), 1u);
    EXPECT_EQ(model.PathText(), "");
}

TEST_F(BrowserTest, PageLoopReplacesWithTheFirstPagesAndAppendsTheRest) {
    services.Fill("MyDocument", 5);  // page size 2: pages 0 and 1 bring f0 f1, 2 f2 f3, 3 f4
    services.calls.clear();
    view.appended.clear();
    Enter("MyDocument");
    EXPECT_EQ(services.calls, (std::vector<std::string>{"open MyDocument 0", "open MyDocument 1",
                                                        "open MyDocument 2", "open MyDocument 3"}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"f0.txt", "f1.txt", "f2.txt", "f3.txt", "f4.txt"}));
    // Pages from 2 on only add their rows.
    EXPECT_EQ(view.appended, (std::vector<std::pair<int, int>>{{2, 2}, {4, 1}}));
}

TEST_F(BrowserTest, PageLoopStopsOnAFailedOrShortPageKeepingWhatItHas) {
    const struct {
        const char* name;
        bool failPage2, shortPages;
        std::vector<std::string> pages;
        std::size_t rows;
    } cases[] = {
        {"failed page", true, false, {"0", "1", "2"}, 2},
        {"short page", false, true, {"0", "1", "2"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServices s;
        s.Fill("MyDocument", 6);
        s.folders["MyDocument"].shortPages = c.shortPages;
        if (c.failPage2) s.failPages = {2};
        RecordingBrowserView v;
        CloudBrowserModel m(s, v);
        m.Open();
        v.queue.Drain();
        m.ActivateRow(0);
        s.calls.clear();
        v.queue.Drain();
        std::vector<std::string> pages;
        for (const auto& call : s.calls) pages.push_back(call.substr(call.rfind(' ') + 1));
        EXPECT_EQ(pages, c.pages);
        EXPECT_EQ(static_cast<std::size_t>(m.RowCount()), c.rows);
        EXPECT_EQ(m.Stack().Top().children.size(), c.rows);
    }
}

TEST_F(BrowserTest, ButtonsFollowTheFolderAndTheCheckedRows) {
    const struct {
        const char* name;
        std::uint16_t folderFlags;
        std::vector<CloudNode> rows;
        std::vector<int> checked;
        const char* expected;  // N U D X R r E(e/p) B(visible/enabled)
    } cases[] = {
        {"nothing checked", 0x60, {Node("a", "a.txt", false, 0x1F)}, {}, "N U - - - - - -"},
        {"no rights here", 0x00, {Node("a", "a.txt", false, 0x1F)}, {}, "- - - - - - - -"},
        {"one editable file", 0x60, {Node("a", "a.txt", false, 0x1F)}, {0}, "N U D X - r e -"},
        {"one preview file", 0x60, {Node("a", "a.txt", false, 0x11)}, {0}, "N U D - - - p -"},
        {"one folder", 0x60, {Node("a", "A", true, 0x1F)}, {0}, "N U D X - r - -"},
        {"two rows: flags ANDed", 0x60, {Node("a", "a.txt", false, 0x1F), Node("b", "b.txt", false, 0x1D)},
         {0, 1}, "N U D - - - - -"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServices s;
        s.folders["MyDocument"].node.actionFlags = c.folderFlags;
        s.folders["MyDocument"].children = c.rows;
        RecordingBrowserView v;
        CloudBrowserModel m(s, v);
        OpenAndEnterFirst(m, v);
        for (int row : c.checked) m.SetChecked(row, true);
        const BrowserButtons& b = m.Buttons();
        std::string got;
        got += b.newFolder ? "N " : "- ";
        got += b.upload ? "U " : "- ";
        got += b.download ? "D " : "- ";
        got += b.remove ? "X " : "- ";
        got += b.restore ? "R " : "- ";
        got += b.rename ? "r " : "- ";
        got += !b.edit ? "- " : b.editIsPreview ? "p " : "e ";
        got += b.emptyBinVisible ? (b.emptyBinEnabled ? "B" : "b") : "-";
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(b.editCaption, b.editIsPreview ? "Preview" : "Edit");
    }
}

TEST_F(BrowserTest, RecycleBinAllowsOnlyDeleteAndRestoreAndRefusesToOpen) {
    services.folders["RecycleBin"].children = {Node("x", "X", true, 0x82), Node("y", "y.txt", false, 0x82)};
    Enter("RecycleBin");
    EXPECT_TRUE(model.Buttons().emptyBinVisible);
    EXPECT_TRUE(model.Buttons().emptyBinEnabled);
    model.SetChecked(0, true);
    model.SetChecked(1, true);
    const BrowserButtons& b = model.Buttons();
    EXPECT_TRUE(b.remove && b.restore);
    EXPECT_FALSE(b.newFolder || b.upload || b.download || b.rename || b.edit);
    // A double-click on a folder of the bin opens it as a file, which is refused.
    model.ActivateRow(0);
    EXPECT_EQ(model.Stack().listings.size(), 2u);
    EXPECT_EQ(view.messages, std::vector<std::string>{"No permissions to open the file."});
    EXPECT_TRUE(services.editTasks.empty());
}

TEST_F(BrowserTest, EmptyBinIsShownOnlyInTheBinAndDisabledWhenItIsEmpty) {
    EXPECT_FALSE(model.Buttons().emptyBinVisible);
    Enter("RecycleBin");
    EXPECT_TRUE(model.Buttons().emptyBinVisible);
    EXPECT_FALSE(model.Buttons().emptyBinEnabled);
}

TEST_F(BrowserTest, HeaderBoxFollowsTheChecksAndChecksOrClearsAll) {
    services.Fill("MyDocument", 2);
    Enter("MyDocument");
    model.SetChecked(0, true);
    EXPECT_FALSE(model.AllChecked());
    model.SetChecked(1, true);
    EXPECT_TRUE(model.AllChecked());
    model.SetChecked(1, false);
    EXPECT_FALSE(model.AllChecked());
    model.HeaderCheckClicked();
    EXPECT_TRUE(model.AllChecked());
    model.HeaderCheckClicked();
    EXPECT_TRUE(model.CheckedRows().empty());
    // Selection checks and deselection unchecks.
    model.SelectionChanged({1}, {});
    EXPECT_EQ(model.CheckedRows(), std::set<int>{1});
    model.SelectionChanged({0}, {1});
    EXPECT_EQ(model.CheckedRows(), std::set<int>{0});
    // A reload clears the checks.
    model.Refresh();
    EXPECT_TRUE(model.CheckedRows().empty());
}

TEST_F(BrowserTest, DeleteAsksOnlyInTheRecycleBin) {
    services.Fill("MyDocument", 2);
    services.Fill("RecycleBin", 2, 0x82);
    Enter("MyDocument");
    model.SetChecked(1, true);
    model.Delete();
    EXPECT_TRUE(view.confirms.empty());
    EXPECT_EQ(services.calls.back(), "delete home-ref MyDocument-f1");
    EXPECT_EQ(view.queue.Pending(), 1u);  // the reload
    view.queue.Drain();

    model.GoUp();
    view.queue.Drain();
    Enter("RecycleBin");
    model.SetChecked(0, true);
    view.confirmAnswer = false;
    services.calls.clear();
    model.Delete();
    EXPECT_EQ(view.confirms, std::vector<std::string>{"Delete files|Are you sure you want to delete？"});
    EXPECT_TRUE(services.calls.empty());
    view.confirmAnswer = true;
    model.Delete();
    EXPECT_EQ(services.calls, std::vector<std::string>{"delete bin-ref RecycleBin-f0"});
}

TEST_F(BrowserTest, EmptyRecycleBinDeletesTheRowsLoadedSoFar) {
    services.Fill("RecycleBin", 3, 0x82);
    services.failPages = {2};  // only the first page (2 items) arrives
    Enter("RecycleBin");
    ASSERT_EQ(model.RowCount(), 2);
    view.confirmAnswer = false;
    services.calls.clear();
    model.EmptyRecycleBin();
    EXPECT_TRUE(services.calls.empty());
    view.confirmAnswer = true;
    model.EmptyRecycleBin();
    EXPECT_EQ(services.calls, std::vector<std::string>{"delete bin-ref RecycleBin-f0 RecycleBin-f1"});
    // Logged out: nothing is asked of the server.
    services.loginState = 0;
    services.calls.clear();
    model.EmptyRecycleBin();
    EXPECT_TRUE(services.calls.empty());
}

TEST_F(BrowserTest, DropAndPasteNeedTheUploadRight) {
    const struct {
        const char* name;
        std::uint16_t folderFlags;
        bool queued;
    } cases[] = {{"upload right", 0x40, true}, {"create right only", 0x20, false}, {"no rights", 0x00, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeServices s;
        s.folders["MyDocument"].node.actionFlags = c.folderFlags;
        RecordingBrowserView v;
        CloudBrowserModel m(s, v);
        OpenAndEnterFirst(m, v);
        m.UploadLocalPaths({"/home/u/a.txt", "/home/u/dir"});
        EXPECT_EQ(s.batches.size(), c.queued ? 1u : 0u);
        EXPECT_EQ(v.transferListOpened, c.queued ? 1 : 0);
        EXPECT_EQ(v.messages.size(), c.queued ? 0u : 1u);
        if (c.queued) {
            const TransferBatchTask& b = s.batches.front();
            EXPECT_EQ(b.direction, TransferUpward);
            EXPECT_EQ(b.destinationRef, "home-ref");
            EXPECT_EQ(b.remotePath, "/CloudRoot/MyDocument");
            EXPECT_EQ(b.paths, (std::vector<std::string>{"/home/u/a.txt", "/home/u/dir"}));
        } else {
            EXPECT_EQ(v.messages.front(), "No permission to UPLOAD.");
        }
    }
}

TEST_F(BrowserTest, UploadPickerQueuesOnlyWhatWasChosen) {
    Enter("MyDocument");
    view.pickerAnswer = std::nullopt;  // Cancel
    model.Upload();
    view.pickerAnswer = std::vector<std::string>{};  // OK with nothing chosen
    model.Upload();
    EXPECT_TRUE(services.batches.empty());
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.transferListOpened, 0);
    EXPECT_EQ(services.tips.size(), 2u);  // the drag-and-paste tip each time
    view.pickerAnswer = std::vector<std::string>{"/tmp/x.txt"};
    model.Upload();
    ASSERT_EQ(services.batches.size(), 1u);
    EXPECT_EQ(services.batches[0].paths, std::vector<std::string>{"/tmp/x.txt"});
    EXPECT_FALSE(view.pickers.back().folderOnly);
    EXPECT_EQ(view.transferListOpened, 1);
}

TEST_F(BrowserTest, DownloadTakesOneFolderWithoutItsTrailingSlashes) {
    services.folders["MyDocument"].children = {Node("d", "Dir", true, 0x1F), Node("f", "f.txt", false, 0x1F, 42)};
    Enter("MyDocument");
    model.SetChecked(0, true);
    model.SetChecked(1, true);
    view.pickerAnswer = std::vector<std::string>{"/a", "/b"};
    model.Download();
    EXPECT_TRUE(services.batches.empty());
    view.pickerAnswer = std::vector<std::string>{"/home/u/target//"};
    model.Download();
    ASSERT_EQ(services.batches.size(), 1u);
    const TransferBatchTask& b = services.batches[0];
    EXPECT_TRUE(view.pickers.back().folderOnly);
    EXPECT_EQ(b.direction, TransferDownward);
    EXPECT_EQ(b.target, "/home/u/target");
    EXPECT_EQ(b.paths, (std::vector<std::string>{"d", "f"}));
    ASSERT_EQ(b.items.size(), 2u);
    EXPECT_EQ(b.items[0].isFolder, 1);
    EXPECT_EQ(b.items[0].relativePath, "/Dir");
    EXPECT_EQ(b.items[1].isFolder, 0);
    EXPECT_EQ(b.items[1].size, 42);
    EXPECT_EQ(view.transferListOpened, 1);
}

TEST_F(BrowserTest, NewFolderAndRenameAskForANameAndReloadOnSuccess) {
    services.Fill("MyDocument", 1);
    Enter("MyDocument");

    view.inputAnswer = std::nullopt;
    model.NewFolder();
    EXPECT_EQ(services.CallsStartingWith("create"), 0);
    view.inputAnswer = "Reports";
    model.NewFolder();
    EXPECT_EQ(services.calls.back(), "create home-ref Reports");
    EXPECT_EQ(view.inputs.back().caption, "Input Window - New Folder");
    EXPECT_EQ(view.inputs.back().initialText, "");
    EXPECT_EQ(view.queue.Pending(), 1u);
    view.queue.Drain();

    model.SetChecked(0, true);
    view.inputAnswer = "g.txt";
    model.Rename();
    EXPECT_EQ(view.inputs.back().prompt, "Old name is \"f0.txt\", Input the new Name:");
    EXPECT_EQ(view.inputs.back().initialText, "f0.txt");
    EXPECT_EQ(services.calls.back(), "rename MyDocument-f0 g.txt");
    view.queue.Drain();

    // A failure shows nothing and reloads nothing.
    services.succeed = false;
    model.NewFolder();
    EXPECT_EQ(view.queue.Pending(), 0u);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(BrowserTest, FailedServerActionsSayWhatFailedOnTheStatusLineWithoutBlocking) {
    services.Fill("MyDocument", 2);
    Enter("MyDocument");
    view.inputAnswer = "New name";
    struct Case {
        const char* action;
        std::function<void()> run;
        std::string failure;
    };
    const std::vector<Case> cases = {
        {"open", [&] { model.Refresh(); }, "The folder could not be opened."},
        {"new folder", [&] { model.NewFolder(); }, "The folder could not be created."},
        {"rename", [&] { model.Rename(); }, "The item could not be renamed."},
        {"delete", [&] { model.Delete(); }, "The items could not be deleted."},
        {"restore", [&] { model.Restore(); }, "The items could not be restored."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        model.SetChecked(0, true);
        services.serverDown = true;
        c.run();
        view.queue.Drain();
        EXPECT_EQ(view.statusLine, c.failure + " The server cannot be reached.");
        EXPECT_EQ(model.Status(), view.statusLine);
        EXPECT_FALSE(view.statusOffersLogin);
        EXPECT_TRUE(view.messages.empty()) << "nothing modal";
        EXPECT_EQ(services.renewals, 0) << "an unreachable server is no lost session";

        services.serverDown = false;
        model.SetChecked(0, true);
        c.run();
        view.queue.Drain();
        EXPECT_EQ(view.statusLine, "") << "a success clears the line";
    }
    EXPECT_EQ(CloudBrowserModel::FailureReasonKey(HttpErrorNoPermission), std::string("You have no permission for this."));
}

TEST_F(BrowserTest, ALostSessionGetsOneNewLoginAndTheActionOneMoreTry) {
    services.Fill("MyDocument", 2);
    Enter("MyDocument");

    // Renewed: the listing is asked twice in all and the rows are there.
    services.sessionLost = true;
    const int before = services.CallsStartingWith("open MyDocument 0");
    model.Refresh();
    EXPECT_EQ(services.renewals, 1);
    EXPECT_EQ(services.CallsStartingWith("open MyDocument 0") - before, 2);
    EXPECT_EQ(model.RowCount(), 2);
    EXPECT_EQ(view.statusLine, "");

    // Not renewed: one new login, no second try, and the way to the login dialog.
    services.sessionLost = true;
    services.renewalSucceeds = false;
    view.inputAnswer = "Reports";
    model.NewFolder();
    EXPECT_EQ(services.renewals, 2);
    EXPECT_EQ(services.CallsStartingWith("create"), 1);
    EXPECT_EQ(view.statusLine,
              "The folder could not be created. The session has ended and logging in again failed.");
    EXPECT_TRUE(view.statusOffersLogin);
    EXPECT_EQ(view.queue.Pending(), 0u) << "no reload after a failure";
}

TEST_F(BrowserTest, OpeningFilesShowsTheResultOnlyForADoubleClick) {
    services.folders["MyDocument"].children = {Node("e", "e.txt", false, 0x1F), Node("p", "p.txt", false, 0x11)};
    Enter("MyDocument");
    services.editResult = 2;
    model.ActivateRow(0);
    EXPECT_EQ(view.messages, std::vector<std::string>{"File exists in the edit list."});
    ASSERT_EQ(services.editTasks.size(), 1u);
    const EditPreviewTaskInfo& t = services.editTasks[0];
    EXPECT_EQ(t.kind, EditKindEdit);
    EXPECT_EQ(t.remoteName, "/e.txt");
    EXPECT_EQ(t.remoteFolderPath, "/CloudRoot/MyDocument");
    EXPECT_EQ(t.parentRef, "home-ref");

    // The Edit command: the editing tip for an edit, none for a preview, never a result.
    model.SetChecked(0, true);
    model.Edit();
    EXPECT_EQ(services.tips.size(), 1u);
    model.SetChecked(0, false);
    model.SetChecked(1, true);
    model.Edit();
    EXPECT_EQ(services.tips.size(), 1u);
    EXPECT_EQ(services.editTasks.back().kind, EditKindPreview);
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(BrowserTest, StatusColumnFollowsTheEditTasks) {
    services.Fill("MyDocument", 2);
    Enter("MyDocument");
    EditTaskStateMessage added;
    added.reference = "MyDocument-f1";
    added.parentRef = "home-ref";
    added.kind = EditKindEdit;
    // Slots only post; the row changes once the UI thread runs the work.
    model.OnEditTaskState(added);
    EXPECT_EQ(model.CellText(1, 6), "");
    view.queue.Drain();
    EXPECT_EQ(model.CellText(1, 6), "Editing");

    EditTaskStateMessage download = added;
    download.transferId = 7;
    download.direction = 2;
    model.OnEditTaskState(download);
    view.queue.Drain();
    EXPECT_EQ(model.CellText(1, 6), "Downloading 0.00%");
    TransferProgress progress;
    progress.id = 7;
    progress.total = 200;
    progress.done = 50;
    model.OnTransferProgress(progress);
    TransferProgress other = progress;
    other.id = 99;
    model.OnTransferProgress(other);  // no entry holds it: nothing
    view.queue.Drain();
    EXPECT_EQ(model.CellText(1, 6), "Downloading 25.00%");

    download.removed = 1;
    model.OnEditTaskState(download);
    view.queue.Drain();
    EXPECT_EQ(model.CellText(1, 6), "Editing");
    added.removed = 1;
    model.OnEditTaskState(added);
    view.queue.Drain();
    EXPECT_EQ(model.CellText(1, 6), "");
    EXPECT_TRUE(model.EditEntries().empty());
    // Open tasks at opening are shown in their rows after the reload.
    services.editEntries = {EditListEntry{"MyDocument-f0", "home-ref", -1, EditKindPreview}};
    RecordingBrowserView v;
    CloudBrowserModel m(services, v);
    OpenAndEnterFirst(m, v);
    EXPECT_EQ(m.CellText(0, 6), "Previewing");
}

TEST_F(BrowserTest, UploadsEndingTogetherCauseOneReload) {
    services.Fill("MyDocument", 1);
    Enter("MyDocument");
    TransferItem upload;
    upload.direction = TransferUpward;
    TransferItem download;
    download.direction = TransferDownward;
    model.OnTransferTaskFinished(download);
    view.queue.Drain();
    EXPECT_TRUE(view.armed.empty());
    model.OnTransferTaskFinished(upload);
    model.OnTransferTaskFinished(upload);
    view.queue.Drain();
    EXPECT_EQ(view.armed, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(5000)});
    services.calls.clear();
    model.OnRefreshTimer();
    view.queue.Drain();
    EXPECT_EQ(services.calls, std::vector<std::string>{"open MyDocument 0"});
    // Once fired, the next upload arms it again.
    model.OnTransferTaskFinished(upload);
    view.queue.Drain();
    EXPECT_EQ(view.armed.size(), 2u);
}

TEST_F(BrowserTest, LanguageChangeRetitlesAndReloads) {
    Enter("MyDocument");
    const int retitles = view.retitles;
    services.texts["MyDocument"] = "我的文档";
    services.calls.clear();
    model.OnLanguageChanged("zh-CN");
    EXPECT_EQ(view.retitles, retitles);  // nothing on the bus thread
    view.queue.Drain();
    EXPECT_EQ(view.retitles, retitles + 1);
    EXPECT_EQ(services.calls, std::vector<std::string>{"open MyDocument 0"});
    EXPECT_EQ(model.PathText(), "/我的文档");
}

TEST_F(BrowserTest, RootThatCannotBeListedLeavesAnEmptyWindow) {
    FakeServices s;
    s.loginState = 0;
    RecordingBrowserView v;
    CloudBrowserModel m(s, v);
    m.Open();
    v.queue.Drain();
    EXPECT_EQ(m.RowCount(), 0);
    EXPECT_FALSE(m.HasTop());
    EXPECT_EQ(m.PathText(), "");
    m.Upload();
    m.NewFolder();
    m.UploadLocalPaths({"/x"});
    m.GoUp();
    v.queue.Drain();
    EXPECT_TRUE(s.batches.empty());
    EXPECT_TRUE(v.inputs.empty());
}

}  // namespace
