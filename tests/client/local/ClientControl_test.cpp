// The controller against the test server: the working folders, login and logout with the
// saved logins and their bus messages, listings with their action flags, the settings it
// hands its services, the language of the saved login, and a logout while transfers and
// edits run (every thread ends, nothing is left behind).
#include "client/local/ClientControl.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "client/core/ActionFlags.h"
#include "support/ClientServerFixture.h"
#include "support/ClientTestSupport.h"
#include "support/wait.h"

namespace {
namespace fs = std::filesystem;
using clienttest::CopyMessage;
using clienttest::EditingDesktop;
using clienttest::FakeEditor;
using clienttest::HoldRequests;
using clienttest::PostedMessage;
using clienttest::RefuseRequests;
using ServerFixture = clienttest::ServerFixture<WinFileSystemAdapter>;
using clienttest::WriteFiles;
using testsupport::ReadFile;
using testsupport::WaitUntil;
using testsupport::WriteFile;

// Keeps a copy of every message the bus delivers.
class RecordingListener : public MessageListener {
public:
    void OnLoginResult(const TextNotice& n) override { Add(MessageLoginResult, n); }
    void OnLogoutResult(const std::string& t) override { Add(MessageLogoutResult, t); }
    void OnTip(const std::string& t) override { Add(MessageTip, t); }
    void OnInfoTip(const std::string& t) override { Add(MessageInfoTip, t); }
    void OnLanguageChanged(const std::string& t) override { Add(MessageLanguageChanged, t); }

    std::vector<PostedMessage> OfType(std::int32_t type) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<PostedMessage> out;
        for (const PostedMessage& m : messages_)
            if (m.type == type) out.push_back(m);
        return out;
    }

private:
    template <class T>
    void Add(std::int32_t type, const T& payload) {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(CopyMessage(ControlMessage::Make(0, type, payload)));
    }
    std::mutex mutex_;
    std::vector<PostedMessage> messages_;
};

class ClientControlTest : public ServerFixture {
protected:
    void SetUp() override {
        ServerFixture::SetUp();
        desktop = std::make_unique<EditingDesktop>(box.Dir("app"));
        editor = &desktop->editor;
        data = P("data");
        control = MakeControl();
        facade.SetControl(control.get());
        ASSERT_TRUE(facade.AddMessageListener(&listener));
    }
    void TearDown() override {
        server->ClearFaults();
        server->ReleaseDelays();
        if (control) {
            control->Logout();
            control->Bus().Stop();
        }
        control.reset();
        desktop.reset();
        ServerFixture::TearDown();
    }
    std::unique_ptr<ClientControl> MakeControl(const std::string& appDir = std::string()) {
        auto c = std::make_unique<ClientControl>();
        c->SetFileSystem(&desktop->files);
        c->SetConfig(config);
        EXPECT_EQ(c->SetDirectories(appDir.empty() ? P("app") : appDir, data), 1);
        return c;
    }
    UserInfo Alice(const std::string& password = "secret") {
        UserInfo user;
        user.Account = "alice";
        user.Password = password;
        user.ServerDomainName = server->BaseUrl();
        user.LanguageCode = "zh-CN";
        user.KeepPassword = 1;
        user.AutoLogin = 1;
        return user;
    }
    std::vector<std::string> Texts(std::int32_t type) {
        std::vector<std::string> out;
        for (const PostedMessage& m : listener.OfType(type)) out.push_back(m.notice ? m.notice->text : m.text);
        return out;
    }
    TransferBatchTask Upload(const std::vector<std::string>& paths) {
        TransferBatchTask batch;
        batch.direction = TransferUpward;
        batch.destinationRef = Home();
        batch.paths = paths;
        return batch;
    }

    std::unique_ptr<EditingDesktop> desktop;
    FakeEditor* editor = nullptr;
    Config config;
    std::string data;
    RecordingListener listener;
    std::unique_ptr<ClientControl> control;
    ClientControlFacade facade;
};

TEST_F(ClientControlTest, WorkingFoldersAreFreshExceptUploadAndUnsentEdits) {
    control.reset();
    WriteFile(data + "/PreView/abc/old.txt", "old");
    WriteFile(data + "/Download/x.3.draviktemp", "partial");
    WriteFile(data + "/Upload/keep.txt", "keep");
    WriteFile(data + "/Edit/stray.bin", "stray");
    control = MakeControl();
    facade.SetControl(control.get());
    for (const char* folder : {"/Config", "/PreView", "/Edit", "/Download"}) {
        EXPECT_TRUE(fs::is_directory(data + folder)) << folder;
        // Copies of the user's cloud files: nobody else may enter.
        EXPECT_EQ(fs::status(data + folder).permissions() & fs::perms::all, fs::perms::owner_all) << folder;
    }
    for (const char* folder : {"/PreView", "/Edit", "/Download"}) EXPECT_TRUE(fs::is_empty(data + folder)) << folder;
    EXPECT_EQ(ReadFile(data + "/Upload/keep.txt"), "keep");
    EXPECT_EQ(control->UploadDirectory(), data + "/Upload");

    ClientControl bare;
    EXPECT_EQ(bare.SetDirectories(P("app"), data), 0) << "no file system";
    bare.Bus().Stop();
}

TEST_F(ClientControlTest, LoginAndLogoutWithSavedLogins) {
    EXPECT_EQ(control->Login(Alice("wrong")), 0);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
    ASSERT_EQ(control->Login(Alice()), 1);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedIn);
    EXPECT_EQ(control->Login(Alice()), 0) << "already logged in";

    const CurrentUser user = control->GetCurrentUser();
    EXPECT_EQ(user.GetAccount(), "alice");
    EXPECT_EQ(user.GetHomeFolder(), Home());
    EXPECT_EQ(user.GetTrashHome(), Trash());
    EXPECT_FALSE(user.GetDisplayName().empty());
    EXPECT_EQ(control->GetLastLoginUser().Account, "alice");

    const std::string saved = control->ConfigDirectory() + "/UserInfoList.xml";
    ASSERT_TRUE(fs::exists(saved));
    struct stat st {};
    ASSERT_EQ(::stat(saved.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(control->Logout(), 1);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
    EXPECT_EQ(control->GetCurrentUser().GetDisplayName(), user.GetDisplayName()) << "kept after logout";
    EXPECT_EQ(control->Logout(), 1);
    EXPECT_EQ(control->OpenFolder(*std::make_unique<CloudListing>(), "CloudRoot", 1, 1, 10), 0);

    // Tips of the windows pass through with the controller's source only. The bus keeps
    // order: once the marker is in, everything posted before it is too.
    control->ForwardViewMessage(ControlMessage::Make(MessageSourceService, MessageTip, std::string("ignored")));
    control->ForwardViewMessage(ControlMessage::Make(MessageSourceControl, MessageTip, std::string("marker")));
    ASSERT_TRUE(WaitUntil([&] { return !Texts(MessageTip).empty(); }));
    EXPECT_EQ(Texts(MessageTip), std::vector<std::string>{"marker"});
    EXPECT_EQ(Texts(MessageLoginResult),
              (std::vector<std::string>{"Sorry, login failed. Please login again.",
                                        "Welcome " + user.GetDisplayName() + ". You're in Dravik now."}));
    const auto results = listener.OfType(MessageLoginResult);
    EXPECT_FALSE(results[0].notice->ok);
    EXPECT_TRUE(results[1].notice->ok);
    EXPECT_EQ(Texts(MessageLogoutResult), std::vector<std::string>{user.GetDisplayName() + ", see you next time."});

    // The next start finds the login, its password and its automatic login.
    auto next = MakeControl();
    ASSERT_TRUE(next->LoadUserInfoList());
    const std::vector<UserInfo> users = next->GetUsers();
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0].Account, "alice");
    EXPECT_EQ(users[0].Password, "secret");
    EXPECT_EQ(next->GetAutoLoginIndex(), 0);
    next->Bus().Stop();
}

TEST_F(ClientControlTest, ALoginWithoutAUsableUserRecordFailsAndKeepsNothing) {
    // The login is accepted but its user record names no home folder: no welcome, no
    // saved login, nothing for the sync program, and the server session is ended.
    testserver::Fault noHome{"login", testserver::FaultKind::ReplaceInBody};
    noHome.from = "\"homeFolder\":\"workspace://SpacesStore/";
    noHome.to = "\"homeFolder\":\"";
    server->InjectFault(noHome);
    EXPECT_EQ(control->Login(Alice()), 0);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
    EXPECT_EQ(control->Http().GetLoginState(), HttpLoggedOut);
    EXPECT_TRUE(control->GetLastLoginUser().Account.empty()) << "nothing to hand to the sync program";
    EXPECT_TRUE(control->GetUsers().empty());
    EXPECT_FALSE(control->Transfers().IsRunning());
    CloudListing root;
    EXPECT_FALSE(control->GetRootListing(root));
    ASSERT_TRUE(WaitUntil([&] { return !Texts(MessageLoginResult).empty(); }));
    EXPECT_EQ(Texts(MessageLoginResult), std::vector<std::string>{"Sorry, login failed. Please login again."});
    EXPECT_FALSE(listener.OfType(MessageLoginResult)[0].notice->ok);

    // The next attempt, with a good record, logs in.
    EXPECT_EQ(control->Login(Alice()), 1);
}

TEST_F(ClientControlTest, ALostSessionIsRenewedOnceWithTheCredentialsOfTheLogin) {
    ASSERT_EQ(control->Login(Alice()), 1);
    server->ClearRequests();
    testserver::Fault lost{"list", testserver::FaultKind::Status, 401};
    server->InjectFault(lost);
    CloudListing listing;
    int error = -1;
    EXPECT_EQ(control->OpenFolder(listing, "MyDocument", 1, 1, 50, &error), 0);
    EXPECT_EQ(error, HttpErrorNotLoggedIn);

    ASSERT_TRUE(control->RenewSession());
    EXPECT_EQ(server->Requests("login").size(), 1u);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedIn);
    EXPECT_EQ(control->GetCurrentUser().GetHomeFolder(), Home());
    EXPECT_EQ(control->OpenFolder(listing, "MyDocument", 1, 1, 50, &error), 1);
    EXPECT_EQ(error, HttpErrorNone);
    EXPECT_TRUE(Texts(MessageLoginResult).size() <= 1u) << "a renewal posts no login message";

    // A renewal the server refuses leaves the HTTP client logged out; after a logout
    // there is nothing to renew.
    testserver::Fault refused{"login", testserver::FaultKind::Status, 500};
    server->InjectFault(refused);
    EXPECT_FALSE(control->RenewSession());
    EXPECT_EQ(control->Http().GetLoginState(), HttpLoggedOut);
    control->Logout();
    EXPECT_FALSE(control->RenewSession());
    EXPECT_EQ(server->Requests("login").size(), 2u);
}

TEST_F(ClientControlTest, ListingsCarryTheirActionFlags) {
    server->PutFile("alice", "/a.txt", "a");
    server->PutFile("alice", "/b.unknownext", "b");
    const std::string folder = server->MakeFolder("alice", "/folder");
    server->PutFile("alice", "/gone.txt", "g");
    server->Remove("alice", "/gone.txt");

    CloudListing listing;
    listing.children.resize(3);
    EXPECT_EQ(control->OpenFolder(listing, "CloudRoot", 1, 1, 50), 0);
    EXPECT_TRUE(listing.children.empty()) << "emptied even when refused";
    ASSERT_EQ(control->Login(Alice()), 1);

    ASSERT_EQ(control->OpenFolder(listing, "CloudRoot", 1, 1, 50), 1);
    EXPECT_EQ(listing.children.size(), 2u);

    ASSERT_EQ(control->OpenFolder(listing, "MyDocument", 1, 1, 50), 1);
    EXPECT_EQ(listing.node.name, "MyDocument");
    EXPECT_EQ(listing.node.kindFlags, 7);
    EXPECT_EQ(listing.node.rootKind, RootKindMyDocument);
    std::map<std::string, std::uint16_t> flags;
    for (const CloudNode& child : listing.children) flags[child.name] = child.actionFlags;
    const std::uint16_t all = ActionFlagsFromPermissions(kPermCh | kPermC | kPermW | kPermD | kPermDown);
    EXPECT_EQ(flags["a.txt"], all) << "an application opens .txt";
    EXPECT_EQ(flags["b.unknownext"], WithoutApplication(all));
    EXPECT_EQ(flags["folder"], all);

    ASSERT_EQ(control->OpenFolder(listing, "RecycleBin", 1, 1, 50), 1);
    EXPECT_EQ(listing.node.rootKind, RootKindRecycleBin);
    EXPECT_EQ(listing.node.actionFlags, 0);
    ASSERT_EQ(listing.children.size(), 1u);
    EXPECT_EQ(listing.children[0].actionFlags, 0x82);

    ASSERT_EQ(control->OpenFolder(listing, "CollaborateGroup", 1, 1, 50), 1);
    EXPECT_EQ(listing.node.name, "CollaborateGroup");
    EXPECT_EQ(listing.node.nodeRef, "CollaborateGroup");
    EXPECT_EQ(listing.totalRecords, static_cast<std::int32_t>(listing.children.size()));
    EXPECT_EQ(listing.hasMoreItems, 0);

    ASSERT_EQ(control->OpenFolder(listing, folder, 0, 1, 50), 1);
    EXPECT_EQ(listing.node.name, "folder");

    EXPECT_EQ(control->CreateMultiLayers(Home(), "x/y"), 1);
    const auto made = server->Find("alice", "/x/y");
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->folder);
    EXPECT_EQ(facade.Rename(server->Find("alice", "/a.txt")->ref, "renamed.txt"), 1);
    EXPECT_TRUE(server->Find("alice", "/renamed.txt"));
}

TEST_F(ClientControlTest, ServicesWorkWithTheConfiguredSettings) {
    config.TransFileNumberAtSameTime = 1;
    config.DefaultDomainName = "https://configured.example";
    control->SetConfig(config);
    std::string domain;
    EXPECT_EQ(facade.GetDefaultDomainName(domain), 1);
    EXPECT_EQ(domain, "https://configured.example");

    ASSERT_EQ(control->Login(Alice()), 1);
    HoldRequests(*server, "upload", std::chrono::seconds(5));
    control->Transfers().AddBatchTask(Upload(WriteFiles(P("up"), 3, "f")));
    ASSERT_TRUE(WaitUntil(
        [&] {
            server->ReleaseDelays();
            std::deque<TransferItem> done;
            control->CopyFinishedTasks(done);
            return done.size() == 3;
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(server->MaxInFlight("upload"), 1);
}

TEST_F(ClientControlTest, TheLanguageOfTheLoggedInUserIsSaved) {
    control.reset();
    control = MakeControl(fs::path(CLIENT_LANGUAGE_DIR).parent_path().string());
    facade.SetControl(control.get());
    ASSERT_TRUE(facade.AddMessageListener(&listener));
    ASSERT_EQ(control->Login(Alice()), 1);
    EXPECT_EQ(control->SetLanguage("en"), 1);
    ASSERT_TRUE(WaitUntil([&] { return !Texts(MessageLanguageChanged).empty(); }));
    EXPECT_EQ(Texts(MessageLanguageChanged), std::vector<std::string>{"en"});

    auto next = MakeControl();
    ASSERT_TRUE(next->LoadUserInfoList());
    ASSERT_EQ(next->GetUsers().size(), 1u);
    EXPECT_EQ(next->GetUsers()[0].LanguageCode, "en");
    next->Bus().Stop();
}

TEST_F(ClientControlTest, LogoutEndsTransfersAndEditsAndLeavesNothingBehind) {
    config.TransFileNumberAtSameTime = 2;
    control->SetConfig(config);
    ASSERT_EQ(control->Login(Alice()), 1);

    // An open edit whose last save did not reach the server.
    const std::string doc = server->PutFile("alice", "/doc.txt", "hello");
    EditPreviewTaskInfo info;
    info.size = 5;
    info.remoteName = "/doc.txt";
    info.reference = doc;
    info.parentRef = Home();
    ASSERT_EQ(control->Edits().AddTask(info), 0);
    ASSERT_TRUE(WaitUntil([&] { return editor->Started().size() == 1; }));
    RefuseRequests(*server, "upload");
    editor->Send("append -unsent");
    EditTaskStatus status;
    ASSERT_TRUE(WaitUntil([&] { return control->Edits().GetTask(doc, status) && status.failedUploads >= 1; }));
    server->ClearFaults();

    // Transfers held by the server.
    HoldRequests(*server, "upload", std::chrono::seconds(60));
    control->Transfers().AddBatchTask(Upload(WriteFiles(P("up"), 3, "f")));
    ASSERT_TRUE(WaitUntil([&] { return server->InFlight("upload") == 2; }));

    EXPECT_EQ(control->Logout(), 1);
    EXPECT_EQ(control->GetLoginState(), ClientLoggedOut);
    EXPECT_EQ(control->Transfers().RunningTransfers(), 0u);
    EXPECT_EQ(control->Transfers().WorkerThreads(), 0u);
    EXPECT_FALSE(control->Transfers().IsRunning());
    EXPECT_EQ(control->Edits().TaskCount(), 0u);
    EXPECT_EQ(control->Edits().ThreadCount(), 0u);
    std::deque<TransferItem> failed;
    control->CopyFailedTasks(failed);
    EXPECT_EQ(std::count_if(failed.begin(), failed.end(), [](const TransferItem& i) { return i.kind == TransferOrdinary; }),
              2)
        << "the cancelled uploads";
    for (const auto& e : fs::directory_iterator(control->DownloadDirectory())) ADD_FAILURE() << e.path();
    EXPECT_TRUE(control->GetRecoveredEdits().empty()) << "offered to their login only";

    // The unsent edit is offered at the next login.
    server->ClearFaults();
    server->ReleaseDelays();
    ASSERT_EQ(control->Login(Alice()), 1);
    ASSERT_TRUE(WaitUntil([&] { return !Texts(MessageInfoTip).empty(); }));
    EXPECT_NE(Texts(MessageInfoTip)[0].find("doc.txt"), std::string::npos);
    const auto kept = control->GetRecoveredEdits();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(ReadFile(kept[0].localFolder + "/doc.txt"), "hello-unsent");
    EXPECT_TRUE(control->DiscardRecoveredEdit(doc));
    EXPECT_TRUE(control->GetRecoveredEdits().empty());
}

}  // namespace
