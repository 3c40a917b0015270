// Edit and preview tasks against the test server, with a fake editing application that
// the desktop association layer starts and the real directory watcher: saves go back to
// the server, a busy upload gathers later saves, failures are retried without a login
// only once one is back, an application that hands the file over keeps the edit alive,
// and content that never reached the server survives the end of the tasks.
#include "client/local/EditPreviewTaskManage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/ClientServerFixture.h"
#include "support/ClientTestSupport.h"
#include "client/local/TransferManage.h"
#include "support/wait.h"

namespace {
namespace fs = std::filesystem;
using clienttest::EditingDesktop;
using clienttest::FakeEditor;
using clienttest::HoldRequests;
using clienttest::RecordingSink;
using clienttest::RefuseRequests;
using ServerFixture = clienttest::ServerFixture<WinFileSystemAdapter>;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

class EditTaskTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        LoginAlice();
        desktop = std::make_unique<EditingDesktop>(box.Dir("app"));
        ASSERT_TRUE(desktop->editor.Ok());
        editor = &desktop->editor;
        local = &desktop->files;
        editDir = P("data/Edit");
        previewDir = P("data/PreView");
        for (const std::string& d : {editDir, previewDir, P("data/Download")}) fs::create_directories(d);
        Config config;
        config.EditFileNumberAtSameTime = 5;
        queue.SetServices(http.get(), &sink, local, &edits, P("data/Download"));
        queue.SetConfig(config);
        http->AddListener(&queue);
        queue.Start();
        edits.SetServices(editDir, previewDir, local, &queue, &sink);
        edits.SetConfig(config);
        edits.SetOwner("alice", server->BaseUrl());
        timing.retryFirstMs = 50;
        timing.retryMaxMs = 400;
        timing.handOverGraceMs = 300;
        timing.pollMs = 20;
        edits.SetTiming(timing);
        docRef = server->PutFile("alice", "/doc.txt", "hello");
    }
    void TearDown() override {
        edits.StopAll();
        EXPECT_EQ(edits.ThreadCount(), 0u);
        queue.Stop();
        server->ClearFaults();
        server->ReleaseDelays();
        http->Logout();
        EXPECT_TRUE(queue.WaitForTransfers(std::chrono::seconds(30)));
        http->RemoveListener(&queue);
        desktop.reset();  // the scripts still reading end
        ServerFixture::TearDown();
    }

    EditPreviewTaskInfo Info(const std::string& ref, const std::string& name, int kind = EditKindEdit) {
        EditPreviewTaskInfo info;
        info.kind = kind;
        info.size = 5;
        info.remoteFolderPath = "/CloudRoot/MyDocument";
        info.remoteName = "/" + name;
        info.reference = ref;
        info.parentRef = Home();
        return info;
    }
    EditTaskStatus Status(const std::string& ref) {
        EditTaskStatus status;
        edits.GetTask(ref, status);
        return status;
    }
    // Opens doc.txt for editing and waits until its application runs.
    void OpenDoc() {
        ASSERT_EQ(edits.AddTask(Info(docRef, "doc.txt")), 0);
        ASSERT_TRUE(WaitUntil([&] { return editor->Started().size() == 1; }));
        ASSERT_TRUE(WaitUntil([&] { return Status(docRef).info.state == EditStateOpen; }));
    }
    // An edit saved while the server refuses uploads, then ended (a logout).
    void KeepUnsentEdit(const std::string& text) {
        RefuseRequests(*server, "upload");
        OpenDoc();
        editor->Send("append " + text);
        ASSERT_TRUE(WaitUntil([&] { return Status(docRef).failedUploads >= 1; }));
        ASSERT_TRUE(WaitUntil([&] { return ReadFile(DocFolder() + "/doc.txt") == "hello" + text; }));
        edits.StopAll();
    }
    std::string DocFolder() const { return editDir + "/" + EditTaskFolderName(docRef); }
    std::string Content(const std::string& path) {
        const auto entry = server->Find("alice", path, true);
        return entry ? entry->content : "<missing>";
    }
    std::size_t Uploads() { return server->Requests("upload").size(); }
    bool Ended() { return WaitUntil([&] { return edits.TaskCount() == 0 && edits.ThreadCount() == 0; }); }

    std::unique_ptr<EditingDesktop> desktop;
    FakeEditor* editor = nullptr;
    WinFileSystemAdapter* local = nullptr;
    RecordingSink sink;
    TransferManage queue;
    EditPreviewTaskManage edits;
    EditPreviewTaskManage::Timing timing;
    std::string editDir, previewDir, docRef;
};

TEST_F(EditTaskTest, EverySaveGoesBackAndTheTaskEndsWithItsApplication) {
    OpenDoc();
    EXPECT_EQ(editor->Started()[0], DocFolder() + "/doc.txt");
    EXPECT_EQ(ReadFile(DocFolder() + "/doc.txt"), "hello");

    editor->Send("append -more");
    ASSERT_TRUE(WaitUntil([&] { return Content("/doc.txt") == "hello-more"; }));
    // A save through a new file renamed over the old one.
    editor->Send("replace rewritten");
    ASSERT_TRUE(WaitUntil([&] { return Content("/doc.txt") == "rewritten"; }));
    ASSERT_TRUE(WaitUntil([&] { return Status(docRef).info.state == EditStateOpen; }));
    EXPECT_EQ(Uploads(), 2u);
    // The upload's copy was staged outside the task's folder.
    std::vector<std::string> inFolder;
    for (const auto& e : fs::directory_iterator(DocFolder())) inFolder.push_back(e.path().filename().string());
    EXPECT_EQ(inFolder, std::vector<std::string>{"doc.txt"});

    editor->Send("exit");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Uploads(), 2u);
    EXPECT_TRUE(edits.RecoveredCopies("alice", server->BaseUrl()).empty());

    // The browser heard the task come, download, upload twice and go (a change that
    // brings nothing new may add an upload's end of its own).
    std::vector<std::string> states;
    for (const auto& m : sink.OfType(MessageEditTaskState)) {
        states.push_back(std::to_string(m.edit->removed) + ":" + std::to_string(m.edit->direction));
    }
    ASSERT_GE(states.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(states.begin(), states.begin() + 4),
              (std::vector<std::string>{"0:0", "0:2", "1:2", "0:1"}));
    EXPECT_EQ(states.back(), "1:0");
    EXPECT_EQ(std::count(states.begin(), states.end(), "0:1"), 2);
}

TEST_F(EditTaskTest, AnApplicationThatChangesNothingUploadsNothing) {
    OpenDoc();
    editor->Send("exit");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Uploads(), 0u);
    EXPECT_EQ(Content("/doc.txt"), "hello");
}

TEST_F(EditTaskTest, SavesDuringARunningUploadLeadToExactlyOneMore) {
    HoldRequests(*server, "upload", std::chrono::seconds(30), 1);
    OpenDoc();
    editor->Send("append A");
    ASSERT_TRUE(WaitUntil([&] { return server->InFlight("upload") == 1; }));
    editor->Send("append B");
    editor->Send("append C");
    ASSERT_TRUE(WaitUntil([&] {
        const EditTaskStatus s = Status(docRef);
        return s.info.changed == 1 && s.info.size == 8;
    }));
    server->ReleaseDelays();
    ASSERT_TRUE(WaitUntil([&] { return Content("/doc.txt") == "helloABC"; }));
    ASSERT_TRUE(WaitUntil([&] { return Status(docRef).info.state == EditStateOpen; }));
    EXPECT_EQ(Uploads(), 2u);
    editor->Send("exit");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Uploads(), 2u);
}

TEST_F(EditTaskTest, AFailingUploadIsRetriedLaterButNeverWhileLoggedOut) {
    RefuseRequests(*server, "upload");
    OpenDoc();
    editor->Send("append X");
    ASSERT_TRUE(WaitUntil([&] { return Uploads() >= 3 && Status(docRef).failedUploads >= 3; }));
    EXPECT_EQ(Status(docRef).info.state, EditStateUploading);

    http->Logout();
    ASSERT_TRUE(WaitUntil([&] { return Status(docRef).waitingForLogin; }));
    const std::size_t loggedOut = Uploads();
    LoginAlice();
    EXPECT_EQ(Uploads(), loggedOut) << "nothing was sent while logged out";
    server->ClearFaults();
    ASSERT_TRUE(WaitUntil([&] { return Content("/doc.txt") == "helloX"; }));
    EXPECT_EQ(Uploads(), loggedOut + 1);
    ASSERT_TRUE(WaitUntil([&] { return Status(docRef).info.state == EditStateOpen; }));
    EXPECT_EQ(Status(docRef).failedUploads, 0);
    editor->Send("exit");
    ASSERT_TRUE(Ended());
}

TEST_F(EditTaskTest, AnApplicationThatHandsTheFileOverKeepsTheEditAlive) {
    timing.handOverGraceMs = 1;
    edits.SetTiming(timing);
    OpenDoc();
    editor->Send("handover");
    ASSERT_TRUE(WaitUntil([&] { return Status(docRef).applicationEnded; }));
    EXPECT_EQ(edits.TaskCount(), 1u) << "the file is still held";
    editor->Send("-late");
    ASSERT_TRUE(WaitUntil([&] { return Content("/doc.txt") == "hello-late"; }));
    ASSERT_TRUE(Ended());
    EXPECT_EQ(Content("/doc.txt"), "hello-late");
}

TEST_F(EditTaskTest, APreviewIsReadOnlyAndLeavesTheListOnceItsApplicationStarted) {
    ASSERT_EQ(edits.AddTask(Info(docRef, "doc.txt", EditKindPreview)), 0);
    ASSERT_TRUE(WaitUntil([&] { return editor->Started().size() == 1; }));
    ASSERT_TRUE(Ended());
    const std::string file = previewDir + "/" + EditTaskFolderName(docRef) + "/doc.txt";
    EXPECT_EQ(editor->Started()[0], file);
    EXPECT_EQ(ReadFile(file), "hello");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    EXPECT_EQ(Uploads(), 0u);
}

TEST_F(EditTaskTest, WithoutAnApplicationTheUserIsToldWhereTheCopyIs) {
    const std::string ref = server->PutFile("alice", "/data.zzq", "hello");
    for (int kind : {EditKindPreview, EditKindEdit}) {
        const std::size_t before = sink.OfType(MessageErrorTip).size();
        ASSERT_EQ(edits.AddTask(Info(ref, "data.zzq", kind)), 0) << kind;
        ASSERT_TRUE(Ended()) << kind;
        const std::string copy =
            (kind == EditKindPreview ? previewDir : editDir) + "/" + EditTaskFolderName(ref) + "/data.zzq";
        ASSERT_TRUE(WaitUntil([&] { return sink.OfType(MessageErrorTip).size() == before + 1; })) << kind;
        const std::string text = sink.OfType(MessageErrorTip).back().text;
        EXPECT_NE(text.find("No application"), std::string::npos) << text;
        EXPECT_NE(text.find(copy), std::string::npos) << text;
        EXPECT_EQ(ReadFile(copy), "hello") << "the copy stays where the message says";
        EXPECT_TRUE(editor->Started().empty());
    }
}

TEST_F(EditTaskTest, LimitsDuplicatesAndNamesThatCannotBeLocalFiles) {
    Config config;
    config.EditFileNumberAtSameTime = 2;
    edits.SetConfig(config);
    const std::string other = server->PutFile("alice", "/other.txt", "other");
    const std::string third = server->PutFile("alice", "/third.txt", "third");
    for (const char* name : {"../doc.txt", "a/doc.txt", "", ".."}) {
        EXPECT_EQ(edits.AddTask(Info(docRef, name)), 1) << name;
    }
    EXPECT_EQ(edits.AddTask(Info("workspace://SpacesStore/", "doc.txt")), 1);
    EXPECT_EQ(edits.AddTask(Info(docRef, "doc.txt")), 0);
    EXPECT_EQ(edits.AddTask(Info(docRef, "doc.txt")), 2);
    EXPECT_EQ(edits.AddTask(Info(other, "other.txt", EditKindPreview)), 0);
    EXPECT_EQ(edits.AddTask(Info(third, "third.txt")), 3);
    std::list<EditListEntry> rows;
    EXPECT_EQ(edits.CopyEntries(rows), 1);
    EXPECT_LE(rows.size(), 2u);
    EXPECT_FALSE(edits.RemoveTask("workspace://SpacesStore/none"));
}

TEST_F(EditTaskTest, ContentThatNeverReachedTheServerIsKeptAndUploadedWhenOpenedAgain) {
    // Logout: the task ends, its copy stays.
    KeepUnsentEdit("-kept");
    EXPECT_EQ(edits.TaskCount(), 0u);
    EXPECT_EQ(edits.ThreadCount(), 0u);
    auto kept = edits.RecoveredCopies("alice", server->BaseUrl());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].record.reference, docRef);
    EXPECT_TRUE(edits.RecoveredCopies("bob", server->BaseUrl()).empty()) << "only its own login's";
    edits.SetOwner("bob", server->BaseUrl());
    EXPECT_EQ(edits.AddTask(Info(docRef, "doc.txt")), 4) << "another login's copy is not deleted";
    EXPECT_EQ(ReadFile(DocFolder() + "/doc.txt"), "hello-kept");
    edits.SetOwner("alice", server->BaseUrl());

    // A restart: the copy and its record are found again, anything else is cleared away.
    WriteFile(editDir + "/stray.bin", "stray");
    WriteFile(editDir + "/uploaded/u.txt", "u");
    EditCopyRecord done;
    done.reference = "workspace://SpacesStore/uploaded";
    done.remoteName = "/u.txt";
    done.account = "alice";
    done.server = server->BaseUrl();
    ASSERT_TRUE(local->GetFileMD5(editDir + "/uploaded/u.txt", done.uploadedMD5));
    WriteFile(editDir + "/uploaded.task", done.ToText());
    edits.RecoverEditCopies();
    kept = edits.RecoveredCopies("alice", server->BaseUrl());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].localFolder, DocFolder());
    EXPECT_FALSE(fs::exists(editDir + "/stray.bin"));
    EXPECT_FALSE(fs::exists(editDir + "/uploaded"));
    EXPECT_FALSE(fs::exists(editDir + "/uploaded.task"));

    // Opened again, it goes up without being downloaded over.
    server->ClearFaults();
    const std::size_t downloads = server->Requests("content").size();
    ASSERT_EQ(edits.ReopenRecoveredCopy(docRef), 0);
    ASSERT_TRUE(WaitUntil([&] { return Content("/doc.txt") == "hello-kept"; }));
    EXPECT_EQ(server->Requests("content").size(), downloads);
    EXPECT_TRUE(edits.RecoveredCopies("alice", server->BaseUrl()).empty());
    ASSERT_TRUE(WaitUntil([&] { return Status(docRef).info.state == EditStateOpen; }));

    // Once uploaded, a later restart keeps nothing.
    edits.StopAll();
    edits.RecoverEditCopies();
    EXPECT_TRUE(edits.RecoveredCopies("alice", server->BaseUrl()).empty());
    EXPECT_TRUE(fs::is_empty(editDir));
}

TEST_F(EditTaskTest, AKeptCopyCanBeDiscarded) {
    KeepUnsentEdit("-dropped");
    ASSERT_EQ(edits.RecoveredCopies("alice", server->BaseUrl()).size(), 1u);
    EXPECT_TRUE(edits.DiscardRecoveredCopy(docRef));
    EXPECT_FALSE(edits.DiscardRecoveredCopy(docRef));
    EXPECT_FALSE(fs::exists(DocFolder()));
    edits.RecoverEditCopies();
    EXPECT_TRUE(edits.RecoveredCopies("alice", server->BaseUrl()).empty());
}

}  // namespace
