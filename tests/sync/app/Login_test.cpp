#include "sync/app/Login.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/sandbox.h"
#include "sync/app/SyncGlobals.h"
#include "sync/app/UserRoutine.h"
#include "support/synclogcapture.h"
#include "sync/engine/EngineContext.h"

namespace {

namespace fs = std::filesystem;
using plat::ToUtf16;
using plat::ToUtf8;

CurrentUser User(const std::string& name, const std::string& path, std::uint32_t autoLogin = 0) {
    CurrentUser user;
    user.UserName = name;
    user.Path = path;
    user.AutoLogin = autoLogin;
    return user;
}

class FakeWindow : public LoginWindow {
public:
    void LoginBegin() override { ++begun; }
    int begun = 0;
};

class RecordingBoxes : public MessageBoxes {
public:
    void Show(const BoxMessage& message) override { shown.push_back(message); }
    std::vector<BoxMessage> shown;
};

// Runs the dialog as a user would: records how it was opened, then acts.
class ScriptedChooser : public FolderChooser {
public:
    void RunSetCloudPath(CSetCloudPath& dialog) override {
        ++runs;
        modes.push_back(dialog.GetMode());
        proposals.push_back(ToUtf8(dialog.Proposal()));
        if (act) {
            act(dialog);
        } else {
            dialog.Cancel();
        }
    }
    std::optional<std::u16string> BrowseForFolder(std::u16string_view, const std::u16string&) override {
        return std::nullopt;
    }
    std::function<void(CSetCloudPath&)> act;
    int runs = 0;
    std::vector<std::int32_t> modes;
    std::vector<std::string> proposals;
};

class LoginTest : public ::testing::Test {
protected:
    LoginTest()
        : data_(sandbox_.Dir("data").string()),
          documents_(sandbox_.Dir("Documents").string()),
          login_(LoginEnvironment{&globals_, &app_, &window_, &chooser_, data_, documents_}) {}

    std::string Proposal(const std::string& account) { return documents_ + "/Nuvet云盘/" + account; }
    std::string TracerOf(const std::string& account) { return data_ + "/" + account + "/Tracer.txt"; }

    void SignIn(const std::string& account) {
        ASSERT_EQ(login_.Logging(account, "pw-" + account), 1);
        ASSERT_EQ(login_.EndLogin(), 1);
    }

    std::vector<CurrentUser> SavedUsers() {
        std::vector<CurrentUser> users;
        UserRoutine::LoadUserInfoList(data_ + "/UserInfo.txt", users);
        return users;
    }

    void WriteTracer(const std::string& account, const std::string& itemName) {
        FileNode tree(SyncFileInfo("Tracer"));
        tree.InsertChild(SyncFileInfo(1, 0, 1, "\\" + itemName));
        fs::create_directories(fs::path(TracerOf(account)).parent_path());
        ASSERT_TRUE(UserRoutine::SaveTreeFile(tree, TracerOf(account), "test", 1));
    }

    std::vector<std::string> TracerNames() {
        std::vector<std::string> names;
        for (const auto& child : app_.TracerTree.children) names.push_back(child->data->name);
        return names;
    }

    testsupport::Sandbox sandbox_;
    std::string data_;
    std::string documents_;
    SyncGlobals globals_;
    SyncApp app_;
    FakeWindow window_;
    ScriptedChooser chooser_;
    Login login_;
};

TEST_F(LoginTest, LoggingRecordsTheHandOverAndStartsALogin) {
    globals_.SetConfiguredServerAddress("127.0.0.1:8080/dravik");
    EXPECT_EQ(login_.Logging("alice", "secret"), 1);
    EXPECT_EQ(window_.begun, 1);
    EXPECT_EQ(globals_.LoginUser(), "alice");
    EXPECT_EQ(globals_.LoginPassword(), "secret");
    const CurrentUser current = globals_.CurrentUserRecord();
    EXPECT_EQ(current.UserName, "alice");
    EXPECT_EQ(current.PassWord, "secret");
    EXPECT_EQ(current.Path, "");
    EXPECT_EQ(current.AutoLogin, 0u);
    EXPECT_EQ(current.MemoPassWord, 1u);
    EXPECT_EQ(globals_.Server().url, "http://127.0.0.1:8080/dravik");
}

TEST_F(LoginTest, AFirstLoginTakesTheProposedFolderAndRecordsTheAccount) {
    LogCapture log;
    SignIn("alice");
    ASSERT_EQ(chooser_.runs, 1);
    EXPECT_EQ(chooser_.modes[0], CSetCloudPath::kFirstLogin);
    EXPECT_EQ(chooser_.proposals[0], Proposal("alice"));

    EXPECT_TRUE(fs::is_directory(Proposal("alice")));
    EXPECT_TRUE(fs::is_directory(data_ + "/alice"));
    EXPECT_EQ(globals_.CurrentSyncFolder(), Proposal("alice"));
    EXPECT_EQ(globals_.TracerPath(), TracerOf("alice"));

    const auto saved = SavedUsers();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].UserName, "alice");
    EXPECT_EQ(saved[0].Path, Proposal("alice"));
    EXPECT_EQ(saved[0].PassWord, "");  // never written
    EXPECT_EQ(globals_.KnownUsers().back().PassWord, "pw-alice");  // kept in memory
    for (const std::string& line : log.Lines()) EXPECT_EQ(line.find("pw-alice"), std::string::npos) << line;
}

TEST_F(LoginTest, AKnownAccountKeepsItsFolderAndMovesToTheEnd) {
    const std::string folder = sandbox_.Dir("mine").string();
    globals_.SetKnownUsers({User("alice", folder + "-old", 1), User("bob", "/b", 0),
                            User("alice", folder, 1)});
    SignIn("alice");
    EXPECT_EQ(chooser_.runs, 0);
    const auto known = globals_.KnownUsers();
    ASSERT_EQ(known.size(), 2u);  // both records of the account went, one came back
    EXPECT_EQ(known[0].UserName, "bob");
    EXPECT_EQ(known[1].UserName, "alice");
    EXPECT_EQ(known[1].Path, folder);  // the last record's folder
    EXPECT_EQ(SavedUsers().size(), 2u);
}

TEST_F(LoginTest, AVanishedFolderIsChosenAgainAndItsStateIsDropped) {
    const std::string gone = sandbox_.Root().string() + "/gone";
    globals_.SetKnownUsers({User("alice", gone, 0)});
    WriteTracer("alice", "old.txt");
    SignIn("alice");
    ASSERT_EQ(chooser_.runs, 1);
    EXPECT_EQ(chooser_.modes[0], CSetCloudPath::kFolderGone);
    EXPECT_FALSE(fs::exists(TracerOf("alice")));
    EXPECT_TRUE(app_.TracerTree.children.empty());
    EXPECT_EQ(app_.TracerTree.data->name, "Tracer");
    EXPECT_EQ(globals_.CurrentSyncFolder(), Proposal("alice"));
}

TEST_F(LoginTest, EachAccountGetsItsOwnTracer) {
    const std::string aliceFolder = sandbox_.Dir("alice-sync").string();
    const std::string bobFolder = sandbox_.Dir("bob-sync").string();
    globals_.SetKnownUsers({User("alice", aliceFolder), User("bob", bobFolder)});
    WriteTracer("alice", "alice.txt");
    WriteTracer("bob", "bob.txt");

    SignIn("bob");
    EXPECT_EQ(globals_.TracerPath(), TracerOf("bob"));
    EXPECT_EQ(TracerNames(), std::vector<std::string>{"bob.txt"});

    SignIn("alice");
    EXPECT_EQ(globals_.TracerPath(), TracerOf("alice"));
    EXPECT_EQ(TracerNames(), std::vector<std::string>{"alice.txt"});
    EXPECT_EQ(globals_.CurrentSyncFolder(), aliceFolder);
}

TEST_F(LoginTest, TheProposalAvoidsFoldersOfOtherAccounts) {
    // Folder texts are compared exactly: another letter case is another folder.
    globals_.SetKnownUsers({User("bob", Proposal("alice")), User("carol", Proposal("alice") + "(1)/"),
                            User("dave", Proposal("Alice") + "(2)")});
    SignIn("alice");
    EXPECT_EQ(chooser_.proposals[0], Proposal("alice") + "(2)");
    EXPECT_EQ(globals_.CurrentSyncFolder(), Proposal("alice") + "(2)");
}

TEST_F(LoginTest, AFolderOfAnotherAccountIsRefusedInTheDialog) {
    const std::string taken = sandbox_.Dir("taken").string();
    const std::string free = sandbox_.Dir("free").string();
    globals_.SetKnownUsers({User("bob", taken)});
    RecordingBoxes boxes;
    std::vector<bool> accepted;
    chooser_.act = [&](CSetCloudPath& dialog) {
        accepted.push_back(dialog.Browse(ToUtf16(taken), boxes));
        accepted.push_back(dialog.Browse(ToUtf16(sandbox_.Root().string() + "/none"), boxes));
        accepted.push_back(dialog.Browse(std::nullopt, boxes));  // browser cancelled
        EXPECT_EQ(ToUtf8(dialog.Folder()), Proposal("alice"));
        accepted.push_back(dialog.Browse(ToUtf16(free + "/"), boxes));
    };
    SignIn("alice");
    EXPECT_EQ(accepted, (std::vector<bool>{false, false, false, true}));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].textKey, std::u16string(kFolderTakenKey));
    EXPECT_EQ(boxes.shown[0].argument, u"bob");
    EXPECT_EQ(boxes.shown[0].captionKey, std::u16string(kWarningCaptionKey));
    EXPECT_EQ(boxes.shown[0].icon, BoxIcon::Information);
    EXPECT_EQ(FormatKeyText(boxes.shown[0].textKey, boxes.shown[0].argument),
              u"当前目录已经被bob占用，请重新选择目录");
    EXPECT_EQ(boxes.shown[1].textKey, std::u16string(kInvalidFolderKey));
    EXPECT_EQ(globals_.CurrentSyncFolder(), free);
}

TEST_F(LoginTest, CancelReturnsTheProposalEvenAfterABrowse) {
    const std::string free = sandbox_.Dir("free").string();
    RecordingBoxes boxes;
    chooser_.act = [&](CSetCloudPath& dialog) {
        ASSERT_TRUE(dialog.Browse(ToUtf16(free), boxes));
        dialog.Cancel();
    };
    SignIn("alice");
    EXPECT_EQ(globals_.CurrentSyncFolder(), Proposal("alice"));
}

TEST_F(LoginTest, AnAccountNameThatCannotNameAFolderIsRefused) {
    for (const char* account : {"../evil", "a/b", "..", "", "tab\tname", "bad\xff"}) {
        ASSERT_EQ(login_.Logging(account, "pw"), 1);
        EXPECT_EQ(login_.EndLogin(), 0) << account;
    }
    EXPECT_EQ(chooser_.runs, 0);
    EXPECT_FALSE(fs::exists(sandbox_.Root() / "evil"));
    EXPECT_FALSE(fs::exists(data_ + "/UserInfo.txt"));
}

TEST_F(LoginTest, AFolderThatCannotBeMadeFailsTheLogin) {
    testsupport::WriteFile(sandbox_.Root() / "file", "x");
    chooser_.act = [&](CSetCloudPath& dialog) { dialog.SetFolder(ToUtf16(sandbox_.Root().string() + "/file/sub")); };
    ASSERT_EQ(login_.Logging("alice", "pw"), 1);
    EXPECT_EQ(login_.EndLogin(), 0);
}

TEST_F(LoginTest, ChangingTheFolderUpdatesTheRecordsAndDropsTheState) {
    SignIn("alice");
    WriteTracer("alice", "old.txt");
    const std::string other = sandbox_.Dir("other").string();
    globals_.SetKnownUsers({User("bob", "/b"), User("alice", Proposal("alice"))});
    ASSERT_TRUE(login_.ChangeFolder(ToUtf16(other)));
    EXPECT_EQ(globals_.CurrentSyncFolder(), other);
    const auto saved = SavedUsers();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0].Path, "/b");
    EXPECT_EQ(saved[1].Path, other);
    EXPECT_FALSE(fs::exists(TracerOf("alice")));
}

TEST(FolderChangeTest, JudgesAPickedFolder) {
    testsupport::Sandbox sandbox;
    const std::string current = sandbox.Dir("Current").string();
    const std::string lower = sandbox.Dir("current").string();
    const std::string taken = sandbox.Dir("taken").string();
    const std::string fresh = sandbox.Dir("fresh").string();
    const std::vector<CurrentUser> known{User("alice", current), User("bob", taken)};
    struct Case {
        std::optional<std::string> picked;
        FolderChange::Verdict verdict;
    };
    const Case cases[] = {
        {std::nullopt, FolderChange::kNoChange},
        {current, FolderChange::kNoChange},
        {current + "/", FolderChange::kNoChange},
        {lower, FolderChange::kNewFolder},  // another letter case is another folder
        {fresh, FolderChange::kNewFolder},
        {taken, FolderChange::kTaken},
        {sandbox.Root().string() + "/missing", FolderChange::kInvalid},
        {"relative/path", FolderChange::kInvalid},
        {"/", FolderChange::kInvalid},
        {"", FolderChange::kInvalid},
    };
    RecordingBoxes boxes;
    for (const Case& c : cases) {
        std::optional<std::u16string> picked;
        if (c.picked) picked = ToUtf16(*c.picked);
        const FolderChange change = CheckFolderChange(picked, ToUtf16(current), "alice", known);
        EXPECT_EQ(change.verdict, c.verdict) << c.picked.value_or("(cancelled)");
        const bool askAgain = ReportFolderRefusal(change, boxes);
        EXPECT_EQ(askAgain, c.verdict == FolderChange::kInvalid || c.verdict == FolderChange::kTaken);
        if (c.verdict == FolderChange::kTaken) {
            EXPECT_EQ(change.otherUser, "bob");
        }
        if (c.verdict == FolderChange::kNewFolder) {
            EXPECT_EQ(ToUtf8(change.folder), *c.picked);
        }
    }
}

TEST(LoginTextTest, TheServersErrorTextIsCutWithinBounds) {
    struct Case {
        const char* reply;
        const char* shown;
    };
    const Case cases[] = {
        {"", "网络访问失败，请检查是否联网"},
        {"{\"error\":\"bad password\"}", "网络返回错误信息：\"bad password\""},
        {"}{x:y", "网络返回错误信息：y"},  // a '}' before the ':' does not count
        {"no markers", "网络返回错误信息：no markers"},
        {"ends:", "网络返回错误信息："},
        {"a:b}c}", "网络返回错误信息：b"},
    };
    for (const Case& c : cases) EXPECT_EQ(LoginFailureText(c.reply), c.shown) << c.reply;
}

TEST(LoginTextTest, TheCookieIsSplitAtItsFirstEquals) {
    EXPECT_EQ(SplitLoginCookie("session=abc=def"), std::make_pair(std::string("session"), std::string("abc=def")));
    EXPECT_EQ(SplitLoginCookie("JSESSIONID=1"), std::make_pair(std::string("JSESSIONID"), std::string("1")));
    EXPECT_EQ(SplitLoginCookie("k="), std::make_pair(std::string("k"), std::string()));
    EXPECT_FALSE(SplitLoginCookie("novalue").has_value());
    EXPECT_FALSE(SplitLoginCookie("=x").has_value());
    EXPECT_FALSE(SplitLoginCookie("").has_value());
}

TEST(MessageBoxTest, HeadlessBoxesAreLoggedAndFormatOnlyTheirArgument) {
    LogCapture log;
    LoggingMessageBoxes boxes;
    boxes.Show(BoxMessage{u"当前目录已经被%s占用，请重新选择目录", u"%d%n", u"警告提示", BoxIcon::Information});
    bool found = false;
    for (const std::string& line : log.Lines()) {
        found = found || line.find("当前目录已经被%d%n占用，请重新选择目录 (警告提示)") != std::string::npos;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(FormatKeyText(u"no marker", u"x"), u"no marker");
    EXPECT_EQ(FormatKeyText(u"%s and %s", u"a"), u"a and %s");
}

TEST(MessageBoxTest, TheHeadlessChooserTakesTheProposal) {
    CSetCloudPath dialog("alice", CSetCloudPath::kFirstLogin, {}, "/docs");
    dialog.Init();
    dialog.SetFolder(u"/elsewhere");
    HeadlessFolderChooser chooser;
    chooser.RunSetCloudPath(dialog);
    EXPECT_EQ(dialog.Folder(), u"/docs/Nuvet云盘/alice");
    EXPECT_FALSE(chooser.BrowseForFolder(CSetCloudPath::kBrowseTitleKey, u"/docs").has_value());
}

}  // namespace
