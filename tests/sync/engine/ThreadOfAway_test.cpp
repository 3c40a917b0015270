// The commit-to-server thread against a scripted server: each pass, the rows it writes, the
// trees after it, and the run's report in every way a run can end.
#include <thread>

#include <gtest/gtest.h>

#include "CommitTestSupport.h"
#include "support/synclogcapture.h"
#include "sync/engine/ThreadOfAway.h"
#include "sync/net/WinHttpClient.h"

using namespace committest;

namespace {

const auto* const kQuitEnvironment = ::testing::AddGlobalTestEnvironment(new QuitEventEnvironment);

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

class AwayTest : public CommitFixture {
protected:
    void SetUp() override {
        CommitFixture::SetUp();
        away.SetServerOps(&ops);
    }
    void TearDown() override {
        std::uint32_t code = 0;
        away.Stop(code);
        CommitFixture::TearDown();
    }

    // A local folder copied from the server folder /orig: /copy with f1 and sub/f2.
    TaskNode* FolderCopy() {
        Server("/orig/f1", true, 1, "C1");
        Server("/orig/sub/f2", true, 2, "C2");
        Local("/orig/f1", true, 1, "C1");
        Local("/orig/sub/f2", true, 2, "C2");
        Task("/orig/f1", 1, 0, 0);
        Task("/orig/sub/f2", 1, 0, 0);
        Local("/copy/f1", true, 1, "C1");
        Local("/copy/sub/f2", true, 2, "C2");
        TaskNode* copy = Task("/copy", 0, 1, 1, 5);
        Task("/copy/f1", 1, 1, 1);
        Task("/copy/sub", 0, 1, 1);
        Task("/copy/sub/f2", 1, 1, 1);
        copy->data->source = FindServer("/orig");
        return copy;
    }

    CThreadOfAway away{&app, &window};
};

TEST_F(AwayTest, RunWithNothingToDoReportsSuccess) {
    LogCapture log;
    const Message report = RunOnce(away);
    EXPECT_TRUE(report.sent);
    EXPECT_EQ(report.wParam, 0u);
    EXPECT_EQ(report.lParam, 2);
    EXPECT_TRUE(ops.Calls().empty());
    EXPECT_TRUE(HasLine(log.Lines(), "Client operation -> Server operation. filepath:ThreadOfAway line:181"));
}

TEST_F(AwayTest, QuitAtStartReportsFailureWithoutWork) {
    Local("/a.txt", true, 1, "A");
    Task("/a.txt", 1, 1, 1);
    g_pTerminateEvent->Set();
    LogCapture log;
    const Message report = RunOnce(away);
    EXPECT_EQ(report.lParam, 1);
    EXPECT_TRUE(ops.Calls().empty());
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    EXPECT_FALSE(HasLine(log.Lines(), "Client operation"));
}

TEST_F(AwayTest, UploadsNewAndModifiedFilesAndKeepsTheServerNode) {
    Local("/Dir", false);
    Server("/Dir", false);
    Task("/Dir", 0, 0, 0);
    Local("/Dir/New File.TXT", true, 5, "AAA");
    Task("/Dir/New File.TXT", 1, 1, 1);
    Local("/Dir/mod.txt", true, 7, "BBB");
    FileNode* oldServer = Server("/Dir/mod.txt", true, 3, "OLD");
    TaskNode* modified = Task("/Dir/mod.txt", 1, 1, 2);

    const Message report = RunOnce(away);
    EXPECT_EQ(report.lParam, 2);

    // Pre-order, names compared ignoring case: mod.txt comes first.
    const auto calls = ops.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "upload");
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"ref:/Dir", "ref:/Dir/mod.txt", "BBB", "/Dir/mod.txt", "7"}));
    EXPECT_EQ(calls[0].current.opCode, 2u);
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"ref:/Dir", "", "AAA", "/Dir/New File.TXT", "5"}));
    EXPECT_EQ(calls[1].current.opCode, 1u);
    EXPECT_EQ(calls[1].current.state, 0u);
    EXPECT_EQ(calls[1].current.kind, 1u);
    EXPECT_EQ(calls[1].current.path1, "\\dir\\new file.txt");

    FileNode* added = FindServer("/Dir/New File.TXT");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->data->nodeRef, "workspace://SpacesStore/new2");
    EXPECT_EQ(added->data->checksum, "AAA");
    EXPECT_EQ(FindTask("/Dir/New File.TXT")->data->serverPartner, added);
    EXPECT_EQ(FindServer("/Dir/mod.txt"), oldServer);
    EXPECT_EQ(oldServer->data->checksum, "BBB");
    EXPECT_EQ(oldServer->data->size, 7u);
    EXPECT_EQ(oldServer->data->nodeRef, "workspace://SpacesStore/new1");
    EXPECT_EQ(modified->data->aspect, 0u);
    EXPECT_EQ(modified->data->task, 0u);
    EXPECT_EQ(modified->data->flag, 1u);

    EXPECT_EQ(Paths(CStateDonePage::Snapshot()), (std::vector<std::string>{"/Dir/New File.TXT", "/Dir/mod.txt"}));
    EXPECT_EQ(CStateDonePage::Snapshot().front().bLocal, 0u);
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    // The last operation stays after the run, ended, so the echo filter can still match it.
    const SyncOperation after = app.awayOperation.Snapshot();
    EXPECT_EQ(after.opCode, 1u);
    EXPECT_EQ(after.state, 2u);
    EXPECT_NE(after.endMs, 0u);
}

TEST_F(AwayTest, FoldersAreCreatedTopmostFirstUnderTheirNewParents) {
    Local("/a/b/c", false);
    Task("/a", 0, 1, 1);
    Task("/a/b", 0, 1, 1);
    Task("/a/b/c", 0, 1, 1);
    EXPECT_EQ(RunOnce(away).lParam, 2);
    const auto calls = ops.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"ref:home", "a"}));
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"workspace://SpacesStore/new1", "b"}));
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{"workspace://SpacesStore/new2", "c"}));
    FileNode* c = FindServer("/a/b/c");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->data->isFile, 0u);
    EXPECT_EQ(NodePath(c, 2), "/a/b/c");
}

TEST_F(AwayTest, CopyCreatesMissingParentsTopmostFirst) {
    Server("/src/x.txt", true, 4, "CX");
    Local("/src/x.txt", true, 4, "CX");
    Task("/src/x.txt", 1, 0, 0);
    Local("/p/q/x.txt", true, 4, "CX");
    Task("/p", 0, 1, 1);
    Task("/p/q", 0, 1, 1);
    TaskNode* x = Task("/p/q/x.txt", 1, 1, 1, 5);
    x->data->source = FindServer("/src/x.txt");

    EXPECT_EQ(RunOnce(away).lParam, 2);
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"createFolder", "createFolder", "copy"}));
    const auto calls = ops.Calls();
    EXPECT_EQ(calls[0].args[1], "p");
    EXPECT_EQ(calls[1].args[1], "q");
    EXPECT_EQ(calls[2].args,
              (std::vector<std::string>{"ref:/src", "ref:/src/x.txt", "workspace://SpacesStore/new2"}));
    EXPECT_EQ(calls[2].current.opCode, 5u);
    EXPECT_EQ(calls[2].current.path1, "\\src\\x.txt");
    EXPECT_EQ(calls[2].current.path2, "\\p\\q\\x.txt");
    FileNode* copied = FindServer("/p/q/x.txt");
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->data->nodeRef, "workspace://SpacesStore/new3");
    EXPECT_EQ(x->data->serverPartner, copied);
    EXPECT_EQ(x->data->duty, 0u);
    EXPECT_EQ(Paths(CStateDonePage::Snapshot()), (std::vector<std::string>{"/p", "/p/q", "/p/q/x.txt"}));
}

TEST_F(AwayTest, FolderCopyListsItsFilesAndFinishesEverythingBelow) {
    FolderCopy();
    std::vector<std::string> running;
    ops.respond = [&](const Call& call, CSyncBase*, ServerCallResult&) {
        if (call.op == "copy") running = Paths(CStateDoingPage::Snapshot());
        return true;
    };
    EXPECT_EQ(RunOnce(away).lParam, 2);
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"copy"}));
    EXPECT_EQ(running, (std::vector<std::string>{"/copy/f1", "/copy/sub/f2"}));
    EXPECT_EQ(Paths(CStateDonePage::Snapshot()),
              (std::vector<std::string>{"/copy", "/copy/f1", "/copy/sub", "/copy/sub/f2"}));
    FileNode* copy = FindServer("/copy");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->data->nodeRef, "workspace://SpacesStore/new1");
    // The copy's items have references of their own on the server, not the original's.
    EXPECT_EQ(FindServer("/copy/sub/f2")->data->nodeRef, "");
    EXPECT_EQ(NodePath(FindServer("/copy/sub/f2"), 2), "/copy/sub/f2");
    EXPECT_EQ(FindServer("/orig/sub/f2")->data->nodeRef, "ref:/orig/sub/f2");
    EXPECT_EQ(FindTask("/copy/sub/f2")->data->serverPartner, FindServer("/copy/sub/f2"));
    EXPECT_EQ(FindTask("/copy/sub/f2")->data->task, 0u);
}

TEST_F(AwayTest, MoveAcrossFoldersMovesAndSameParentMoveRenames) {
    FileNode* moved = Server("/a/old.txt", true, 1, "K");
    Server("/b", false);
    Local("/a", false);
    Local("/b/old.txt", true, 1, "K");
    Task("/a", 0, 0, 0);
    Task("/b", 0, 0, 0);
    TaskNode* oldPlace = Task("/a/old.txt", 1, 1, 3);
    Task("/b/old.txt", 1, 1, 1, 4)->data->source = oldPlace;

    FileNode* renamed = Server("/r/one.txt", true, 1, "R");
    Local("/r/two.txt", true, 1, "R");
    Task("/r", 0, 0, 0);
    TaskNode* oldName = Task("/r/one.txt", 1, 1, 3);
    Task("/r/two.txt", 1, 1, 1, 4)->data->source = oldName;

    EXPECT_EQ(RunOnce(away).lParam, 2);
    const auto calls = ops.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].op, "move");
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"ref:/a", "ref:/a/old.txt", "ref:/b"}));
    EXPECT_EQ(calls[0].current.opCode, 4u);
    EXPECT_EQ(calls[1].op, "rename");
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"ref:/r/one.txt", "two.txt"}));
    EXPECT_EQ(calls[1].current.opCode, 6u);
    EXPECT_EQ(calls[1].current.path1, "\\r\\one.txt");
    EXPECT_EQ(calls[1].current.path2, "\\r\\two.txt");

    EXPECT_EQ(FindServer("/b/old.txt"), moved);
    EXPECT_EQ(moved->data->nodeRef, "workspace://SpacesStore/new1");
    EXPECT_EQ(FindServer("/a/old.txt"), nullptr);
    EXPECT_EQ(FindServer("/r/two.txt"), renamed);
    EXPECT_EQ(renamed->data->nodeRef, "ref:/r/one.txt");
    EXPECT_EQ(FindServer("/r/one.txt"), nullptr);
    // The old places were taken by the moves: nothing is left for the delete pass.
    EXPECT_EQ(FindTask("/a/old.txt"), nullptr);
    EXPECT_EQ(FindTask("/r/one.txt"), nullptr);
}

TEST_F(AwayTest, DeletingAFolderFinishesItAndEverythingBelowIt) {
    Server("/gone/a.txt", true, 3);
    Server("/gone/sub/b.txt", true, 4);
    Task("/gone", 0, 1, 3);
    Task("/gone/a.txt", 1, 1, 3);
    Task("/gone/sub", 0, 1, 3);
    Task("/gone/sub/b.txt", 1, 1, 3);
    std::vector<SyncDoingItem> running;
    ops.respond = [&](const Call&, CSyncBase*, ServerCallResult&) {
        running = CStateDoingPage::Snapshot();
        return true;
    };
    EXPECT_EQ(RunOnce(away).lParam, 2);
    ASSERT_EQ(ops.Calls().size(), 1u);
    EXPECT_EQ(ops.Calls()[0].args, (std::vector<std::string>{"ref:home", "ref:/gone"}));
    EXPECT_EQ(Paths(running), (std::vector<std::string>{"/gone/a.txt", "/gone/sub/b.txt"}));
    EXPECT_EQ(running.front().bDelete, 1u);
    const auto done = CStateDonePage::Snapshot();
    EXPECT_EQ(Paths(done), (std::vector<std::string>{"/gone", "/gone/a.txt", "/gone/sub", "/gone/sub/b.txt"}));
    EXPECT_TRUE(std::all_of(done.begin(), done.end(), [](const SyncDoneItem& i) { return i.bDelete == 1; }));
    EXPECT_EQ(FindTask("/gone"), nullptr);
    EXPECT_EQ(FindServer("/gone"), nullptr);
}

TEST_F(AwayTest, AFolderReplacesAServerFileAndAFileReplacesAServerFolder) {
    Local("/x", false);
    Server("/x", true, 9);
    Task("/x", 0, 1, 1);
    Local("/y.txt", true, 2, "Y");
    Server("/y.txt/inner", true, 1);
    TaskNode* y = Task("/y.txt", 1, 1, 1);
    Task("/y.txt/inner", 1, 0, 0);

    EXPECT_EQ(RunOnce(away).lParam, 2);
    const auto calls = ops.Calls();
    ASSERT_EQ(ops.Ops(), (std::vector<std::string>{"delete", "createFolder", "delete", "upload"}));
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"ref:home", "ref:/x"}));
    EXPECT_EQ(calls[0].current.opCode, 3u);
    EXPECT_EQ(calls[0].current.kind, 1u);
    EXPECT_EQ(calls[1].current.opCode, 1u);
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{"ref:home", "ref:/y.txt"}));
    EXPECT_EQ(calls[2].current.kind, 0u);
    EXPECT_EQ(calls[3].args[1], "");  // uploaded as a new file

    FileNode* x = FindServer("/x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->data->isFile, 0u);
    EXPECT_EQ(x->data->nodeRef, "workspace://SpacesStore/new2");
    FileNode* file = FindServer("/y.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->data->isFile, 1u);
    EXPECT_TRUE(file->children.empty());
    EXPECT_EQ(y->data->serverPartner, file);
    EXPECT_TRUE(y->children.empty());
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
}

TEST_F(AwayTest, FailedItemsGoToTheFailedListOnly) {
    // A delete the server refuses, and an upload whose tree update cannot be made.
    Server("/gone/a.txt", true, 3);
    Task("/gone", 0, 1, 3);
    Task("/gone/a.txt", 1, 1, 3);
    Local("/taken.txt", true, 1, "T");
    Server("/taken.txt", true, 1, "OTHER");
    Task("/taken.txt", 1, 1, 1);
    ops.respond = [](const Call& call, CSyncBase*, ServerCallResult& result) {
        if (call.op != "delete") return true;
        result.status = 404;
        return false;
    };
    LogCapture log;
    EXPECT_EQ(RunOnce(away).lParam, 1);  // a run with a failed item reports a failure
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"delete", "upload"}));
    const auto failed = CStateDoneFailedPage::Snapshot();
    EXPECT_EQ(Paths(failed), (std::vector<std::string>{"/gone", "/gone/a.txt", "/taken.txt"}));
    EXPECT_EQ(std::count_if(failed.begin(), failed.end(), [](const SyncDoneItem& i) { return i.bDelete == 1; }), 2);
    EXPECT_TRUE(CStateDonePage::Snapshot().empty());
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    ASSERT_NE(FindTask("/gone"), nullptr);
    EXPECT_EQ(FindTask("/gone")->data->task, 3u);
    EXPECT_NE(FindServer("/gone/a.txt"), nullptr);
    const auto lines = log.Lines();
    EXPECT_TRUE(HasLine(lines, "服务器删除失败！ filepath:ThreadOfAway line:867"));
    EXPECT_TRUE(HasLine(lines, "网络通信异常！Code = 404 filepath:ThreadOfAway line:873"));
    EXPECT_TRUE(HasLine(lines, "插入节点失败! filepath:ThreadOfAway line:1252"));
    EXPECT_TRUE(window.Of(WM_PIPE_EXIT).empty());
    EXPECT_EQ(Reasons(failed), (std::map<std::string, std::string>{
                                   {"/taken.txt", failreason::kNameTaken},
                                   {"/gone", std::string(failreason::kServerRefused) + " 404"},
                                   {"/gone/a.txt", std::string(failreason::kServerRefused) + " 404"}}));
}

TEST_F(AwayTest, EachFailedRowSaysWhatTheServerCallReported) {
    namespace e = httperr;
    const struct {
        const char* path;
        std::uint32_t status;
        std::string reason;
    } cases[] = {
        {"/a.txt", 403, std::string(failreason::kServerRefused) + " 403"},
        {"/b.txt", 507, std::string(failreason::kServerRefused) + " 507"},
        {"/c.txt", e::kCertificateRejected, failreason::kCertificate},
        {"/d.txt", e::kCannotConnect, failreason::kUnreachable},
        {"/e.txt", e::kTimeout, failreason::kNoAnswer},
        {"/f.txt", e::kFileRead, failreason::kFileRead},
        {"/g.txt", e::kInvalidResponse, failreason::kBadReply},
        {"/h.txt", 0, failreason::kServerCallFailed},
        {"/i.txt", e::kRedirectFailed, std::string(failreason::kNetwork) + " " + std::to_string(e::kRedirectFailed)},
    };
    std::map<std::string, std::uint32_t> statusOf;
    std::map<std::string, std::string> expected;
    for (const auto& c : cases) {
        Local(c.path, true, 1, c.path);
        Task(c.path, 1, 1, 1);
        statusOf[c.path] = c.status;
        expected[c.path] = c.reason;
    }
    ops.respond = [&](const Call& call, CSyncBase*, ServerCallResult& result) {
        result.status = statusOf.at(call.args.at(3));  // the upload's relative path
        return false;
    };
    EXPECT_EQ(RunOnce(away).lParam, 1);
    EXPECT_EQ(Reasons(CStateDoneFailedPage::Snapshot()), expected);
}

TEST_F(AwayTest, AFailedCopyIsUploadedByTheLaterPasses) {
    FolderCopy();
    ops.respond = [](const Call& call, CSyncBase*, ServerCallResult& result) {
        if (call.op != "copy") return true;
        result.status = 404;
        return false;
    };
    LogCapture log;
    EXPECT_EQ(RunOnce(away).lParam, 1);  // a run with a failed item reports a failure
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"copy", "createFolder", "createFolder", "upload", "upload"}));
    EXPECT_EQ(Paths(CStateDoneFailedPage::Snapshot()),
              (std::vector<std::string>{"/copy", "/copy/f1", "/copy/sub", "/copy/sub/f2"}));
    EXPECT_EQ(Paths(CStateDonePage::Snapshot()),
              (std::vector<std::string>{"/copy", "/copy/f1", "/copy/sub", "/copy/sub/f2"}));
    EXPECT_NE(FindServer("/copy/sub/f2"), nullptr);
    EXPECT_TRUE(HasLine(log.Lines(), "网络通信异常！Code = 404. filepath:ThreadOfAway line:519"));
}

TEST_F(AwayTest, OnlyARealBadGatewayOfTheCallEndsTheProgram) {
    for (const char* name : {"/a.txt", "/b.txt", "/c.txt"}) {
        Local(name, true, 1, "S");
        Task(name, 1, 1, 1);
    }
    const std::vector<std::uint32_t> statuses{502, 500, 0};
    std::size_t n = 0;
    ops.respond = [&](const Call&, CSyncBase*, ServerCallResult& result) {
        result.status = statuses[n++];
        return false;
    };
    LogCapture log;
    EXPECT_EQ(RunOnce(away).lParam, 1);  // a run with a failed item reports a failure
    EXPECT_EQ(ops.Calls().size(), 3u);
    const auto exits = window.Of(WM_PIPE_EXIT);
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_FALSE(exits[0].sent);
    const auto lines = log.Lines();
    EXPECT_TRUE(HasLine(lines, "网络通信异常！Code = 502 filepath:ThreadOfAway line:1212"));
    EXPECT_TRUE(HasLine(lines, "关网失效，退出同步功能. filepath:ThreadOfAway line:1221"));
    EXPECT_TRUE(HasLine(lines, "网络通信异常！Code = 500 filepath:ThreadOfAway line:1212"));
    EXPECT_EQ(CStateDoneFailedPage::Snapshot().size(), 3u);
}

TEST_F(AwayTest, NetworkLostMidRunEndsItBeforeTheNextItem) {
    Server("/s1", true, 1, "A");
    Server("/s2", true, 1, "B");
    Local("/c1", true, 1, "A");
    Local("/c2", true, 1, "B");
    Task("/c1", 1, 1, 1, 5)->data->source = FindServer("/s1");
    Task("/c2", 1, 1, 1, 5)->data->source = FindServer("/s2");
    Local("/new.txt", true, 1, "N");
    Task("/new.txt", 1, 1, 1);
    ops.respond = [](const Call&, CSyncBase*, ServerCallResult&) {
        g_bNetworkUp = false;
        return true;
    };
    const Message report = RunOnce(away);
    EXPECT_EQ(report.lParam, 1);
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"copy"}));
    // The unworked copy keeps its running row; the file pass never listed anything.
    EXPECT_EQ(Paths(CStateDoingPage::Snapshot()), (std::vector<std::string>{"/c2"}));
}

TEST_F(AwayTest, BreakDuringAnItemLetsItsRequestFinishThenEndsTheRun) {
    Local("/a.txt", true, 1, "A");
    Local("/b.txt", true, 1, "B");
    Task("/a.txt", 1, 1, 1);
    Task("/b.txt", 1, 1, 1);
    ops.respond = [&](const Call&, CSyncBase* owner, ServerCallResult&) {
        owner->breakEvent.Set();
        return true;
    };
    EXPECT_EQ(RunOnce(away).lParam, 1);
    EXPECT_EQ(ops.Calls().size(), 1u);
    // The break comes before the tree update, which is given up: the item stays to be
    // found again by the next cycle, its rows stay where they are.
    EXPECT_EQ(FindServer("/a.txt"), nullptr);
    EXPECT_EQ(FindTask("/a.txt")->data->task, 1u);
    EXPECT_TRUE(CStateDonePage::Snapshot().empty());
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
    EXPECT_EQ(Paths(CStateDoingPage::Snapshot()), (std::vector<std::string>{"/a.txt", "/b.txt"}));
}

TEST_F(AwayTest, AnAbortDuringAnItemLetsItFinishThenEndsTheRun) {
    // A local change that touches the run: the item under way is completed (trees and
    // rows), the rest waits for the next cycle, and the run still reports.
    Local("/a.txt", true, 1, "A");
    Local("/b.txt", true, 1, "B");
    Task("/a.txt", 1, 1, 1);
    Task("/b.txt", 1, 1, 1);
    ops.respond = [&](const Call&, CSyncBase* owner, ServerCallResult&) {
        owner->abortEvent.Set();
        return true;
    };
    const Message report = RunOnce(away);
    EXPECT_TRUE(report.sent);
    EXPECT_EQ(report.lParam, 1);
    EXPECT_EQ(ops.Calls().size(), 1u);
    EXPECT_NE(FindServer("/a.txt"), nullptr);
    EXPECT_EQ(Paths(CStateDonePage::Snapshot()), (std::vector<std::string>{"/a.txt"}));
    EXPECT_EQ(Paths(CStateDoingPage::Snapshot()), (std::vector<std::string>{"/b.txt"}));
}

TEST_F(AwayTest, EntriesWhoseNodesAnEarlierItemErasedAreDropped) {
    // The move to /a_dest takes the old folder /b_src away, and with it a later entry of
    // the same move list.
    Server("/b_src/inner.txt", true, 1, "I");
    Server("/c_old.txt", true, 1, "O");
    Local("/a_dest/inner.txt", true, 1, "I");
    Local("/b_src/inner.txt", true, 1, "O");
    TaskNode* oldFolder = Task("/b_src", 0, 1, 3);
    Task("/a_dest", 0, 1, 1, 4)->data->source = oldFolder;
    Task("/a_dest/inner.txt", 1, 1, 1);
    TaskNode* oldFile = Task("/c_old.txt", 1, 1, 3);
    Task("/b_src/inner.txt", 1, 1, 1, 4)->data->source = oldFile;

    EXPECT_EQ(RunOnce(away).lParam, 2);
    // Same parent (the root): the folder is renamed.
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"rename", "delete"}));
    EXPECT_EQ(FindTask("/b_src"), nullptr);
    EXPECT_EQ(NodePath(FindServer("/a_dest/inner.txt"), 2), "/a_dest/inner.txt");
    EXPECT_TRUE(CStateDoingPage::Snapshot().empty());
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
}

TEST_F(AwayTest, AStoppedRunAndARunDroppedByTheStopAreBothReported) {
    Local("/a.txt", true, 1, "A");
    Task("/a.txt", 1, 1, 1);
    std::atomic<bool> inside{false};
    ops.respond = [&](const Call&, CSyncBase* owner, ServerCallResult& result) {
        inside = true;
        owner->breakEvent.Wait(20000);  // the request stops at its checkpoint
        result.status = 0;
        return false;
    };
    away.Start();
    away.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return inside.load(); }));
    away.PostCommand(THREAD_CMD_RUN);  // queued behind the run under way
    std::thread stopper([&] {
        std::uint32_t code = 0;
        away.Stop(code);
    });
    EXPECT_TRUE(testsupport::WaitUntil([&] { return window.Of(WM_SIGMA_CONFORM).size() == 2; }));
    stopper.join();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !away.IsAlive(); }));
    for (const Message& m : window.Of(WM_SIGMA_CONFORM)) {
        EXPECT_FALSE(m.sent);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, 1);
    }
    // The stop came while the item ran: its running row stays, no failed row.
    EXPECT_TRUE(CStateDoneFailedPage::Snapshot().empty());
}

TEST_F(AwayTest, ARunWhilePausedIsIgnored) {
    away.Start();
    away.PostCommand(THREAD_CMD_PAUSE);
    away.PostCommand(THREAD_CMD_RUN);
    away.PostCommand(THREAD_CMD_RESUME);
    away.PostCommand(THREAD_CMD_RUN);
    ASSERT_TRUE(testsupport::WaitUntil([&] { return window.Of(WM_SIGMA_CONFORM).size() == 1; }));
    EXPECT_TRUE(testsupport::WaitUntil([&] { return away.doneEvent.IsSet(); }));
    EXPECT_EQ(window.Of(WM_SIGMA_CONFORM).size(), 1u);
    EXPECT_EQ(away.state.load(), 2u);
}

TEST_F(AwayTest, BindingWithoutAWindowEndsTheThread) {
    CThreadOfAway orphan(&app, nullptr);
    orphan.Start();
    EXPECT_TRUE(testsupport::WaitUntil([&] { return !orphan.IsAlive(); }));
    EXPECT_EQ(orphan.exitCode.load(), 0xFFFFFFFFu);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The look at the server before a run: one listing, merged as a newer server listing, and
// every item whose server side changed since the cycle's listing decided again.

class AwayFreshListingTest : public AwayTest {
public:
    // The server as it stands now: starts as a copy of the cycle's server tree.
    FileNode* Now(const std::string& path, bool file = true, std::uint64_t size = 0,
                  const std::string& checksum = std::string()) {
        return AddItem(&now, path, file, size, checksum, true);
    }
    void TakeNowFromCycle() {
        now.DeleteChildren();
        *now.data = *app.ServerTree.data;
        for (const auto& child : app.ServerTree.children) now.InsertSubtree(*child);
        ops.listing = &now;
    }
    void RemoveNow(const std::string& path) {
        FileNode* node = FindFileNodeByPath(&now, 2, path);
        ASSERT_NE(node, nullptr);
        node->parent->EraseChild(node->parent->FindChild(*node->data));
    }

    FileNode now{SyncFileInfo("Waiter")};
};

TEST_F(AwayFreshListingTest, OneListingPerRunAndNoneWithoutWork) {
    // Nothing to carry: no listing.
    Local("/same.txt", true, 1, "S");
    Server("/same.txt", true, 1, "S");
    Task("/same.txt", 1, 0, 0);
    EXPECT_EQ(RunOnce(away).lParam, 2);
    EXPECT_EQ(ops.listings.load(), 0);

    // Three items of three passes: one listing, before the first request.
    Local("/a.txt", true, 1, "A");
    Task("/a.txt", 1, 1, 1);
    Server("/gone.txt", true, 1, "G");
    Task("/gone.txt", 1, 1, 3);
    Local("/f", false);
    Task("/f", 0, 1, 1);
    std::atomic<int> listingsAtFirstCall{-1};
    ops.respond = [&](const Call&, CSyncBase*, ServerCallResult&) {
        int unset = -1;
        listingsAtFirstCall.compare_exchange_strong(unset, ops.listings.load());
        return true;
    };
    EXPECT_EQ(RunOnce(away).lParam, 2);
    EXPECT_EQ(ops.listings.load(), 1);
    EXPECT_EQ(listingsAtFirstCall.load(), 1);
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"delete", "createFolder", "upload"}));
}

TEST_F(AwayFreshListingTest, AFailedListingChangesNothingOnTheServer) {
    Server("/gone.txt", true, 1, "G");
    Task("/gone.txt", 1, 1, 3);
    ops.listing = nullptr;
    ops.listStatus = 502;
    EXPECT_EQ(RunOnce(away).lParam, 1);
    EXPECT_TRUE(ops.Calls().empty());
    EXPECT_NE(FindTask("/gone.txt"), nullptr);
    // The bad gateway ends the program as for any other call.
    EXPECT_EQ(window.Of(WM_PIPE_EXIT).size(), 1u);
}

TEST_F(AwayFreshListingTest, AnUploadOverAServerEditKeepsBothVersions) {
    testsupport::WriteFile(root / "b.txt", "local edit");
    Local("/b.txt", true, 10, "LOCAL");
    Server("/b.txt", true, 4, "BASE");
    TaskNode* b = Task("/b.txt", 1, 1, 2);
    TakeNowFromCycle();
    FindFileNodeByPath(&now, 2, "/b.txt")->data->checksum = "SERVER";

    EXPECT_EQ(RunOnce(away).lParam, 2);
    // The server's edit is not replaced: the local version goes up as a new item under
    // its backup name, and the server's version is left to download.
    const auto calls = ops.Calls();
    ASSERT_EQ(ops.Ops(), (std::vector<std::string>{"upload"}));
    EXPECT_EQ(calls[0].args[1], "");
    EXPECT_NE(calls[0].args[3], "/b.txt");
    EXPECT_EQ(b->data->aspect, 2u);
    EXPECT_NE(b->data->task, 0u);
    EXPECT_EQ(FindServer("/b.txt")->data->checksum, "SERVER");
    EXPECT_FALSE(std::filesystem::exists(root / "b.txt"));
    std::size_t backups = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        if (testsupport::ReadFile(entry.path()) == "local edit") ++backups;
    }
    EXPECT_EQ(backups, 1u);
}

// Local deletes against what the server did meanwhile: `serverNow` changes the fresh
// listing; `deletes` are the server references that may still be deleted.
struct DeleteCase {
    const char* name;
    std::function<void(AwayFreshListingTest&)> serverNow;
    std::vector<std::string> deletes;
    // Paths whose unified record must carry a download afterwards.
    std::vector<std::string> downloads;
};

TEST_F(AwayFreshListingTest, DeletesOnlyWhatTheServerStillHoldsUnchanged) {
    const std::vector<DeleteCase> cases = {
        {"unchanged: the delete is sent", [](AwayFreshListingTest&) {}, {"ref:/d"}, {}},
        {"edited file: restored instead",
         [](AwayFreshListingTest& t) { FindFileNodeByPath(&t.now, 2, "/d/k.txt")->data->checksum = "EDIT"; },
         {},
         {"/d", "/d/k.txt"}},
        {"new item in the folder: it and its folder stay",
         [](AwayFreshListingTest& t) { t.Now("/d/new.txt", true, 3, "NEW"); },
         {"ref:/d/k.txt"},
         {"/d", "/d/new.txt"}},
        {"already gone (a delete whose reply was lost): not sent again",
         [](AwayFreshListingTest& t) { t.RemoveNow("/d"); },
         {},
         {}},
    };
    for (const DeleteCase& c : cases) {
        SCOPED_TRACE(c.name);
        app.UniformTree.DeleteChildren();
        app.ServerTree.DeleteChildren();
        ops.respond = nullptr;
        const std::size_t callsBefore = ops.Calls().size();
        Server("/d/k.txt", true, 1, "K");
        Task("/d", 0, 1, 3);
        Task("/d/k.txt", 1, 1, 3);
        TakeNowFromCycle();
        c.serverNow(*this);

        EXPECT_EQ(RunOnce(away).lParam, 2);
        std::vector<std::string> deleted;
        const auto calls = ops.Calls();
        for (std::size_t i = callsBefore; i < calls.size(); ++i) {
            ASSERT_EQ(calls[i].op, "delete");
            deleted.push_back(calls[i].args[1]);
        }
        EXPECT_EQ(deleted, c.deletes);
        for (const std::string& path : c.downloads) {
            const TaskNode* node = FindTask(path);
            ASSERT_NE(node, nullptr) << path;
            EXPECT_EQ(node->data->aspect, 2u) << path;
            EXPECT_EQ(node->data->task, 1u) << path;
        }
    }
}

TEST_F(AwayFreshListingTest, AMoveWhoseSourceTheServerEditedBecomesAnUpload) {
    // /old.txt renamed locally to /new.txt (a move of the server item), while the server
    // edited /old.txt: the edit stays where it is, the local file goes up as a new item.
    Server("/old.txt", true, 3, "OLD");
    TaskNode* source = Task("/old.txt", 1, 1, 3);
    Local("/new.txt", true, 3, "OLD");
    TaskNode* moved = Task("/new.txt", 1, 1, 1, 4);
    moved->data->source = source;
    TakeNowFromCycle();
    FindFileNodeByPath(&now, 2, "/old.txt")->data->checksum = "EDIT";

    EXPECT_EQ(RunOnce(away).lParam, 2);
    EXPECT_EQ(ops.Ops(), (std::vector<std::string>{"upload"}));
    ASSERT_NE(FindTask("/old.txt"), nullptr);
    EXPECT_EQ(FindTask("/old.txt")->data->aspect, 2u);
    EXPECT_EQ(FindServer("/old.txt")->data->checksum, "EDIT");
}

TEST_F(AwayFreshListingTest, FilesThatReplaceServerContentGoFirst) {
    // In pre-order the new file comes first; the modified one is uploaded before it, as
    // close as the run allows to the look at the server.
    Local("/a new.txt", true, 1, "N");
    Task("/a new.txt", 1, 1, 1);
    Local("/z mod.txt", true, 1, "M");
    Server("/z mod.txt", true, 1, "OLD");
    Task("/z mod.txt", 1, 1, 2);
    EXPECT_EQ(RunOnce(away).lParam, 2);
    const auto calls = ops.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].args[3], "/z mod.txt");
    EXPECT_EQ(calls[1].args[3], "/a new.txt");
    EXPECT_EQ(ops.listings.load(), 1);
}
