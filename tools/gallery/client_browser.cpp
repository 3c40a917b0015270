// The gallery's pages of the client's cloud browser and transfer list: both windows with
// sample folders and transfers, in Chinese and in English, through the client's own
// language catalogues.
#include "client_browser.h"

#include "Gallery.h"

#include <QApplication>

#include <iostream>
#include <map>

#include "client/core/LanguageManager.h"
#include "client/ui/MainDlg.h"
#include "client/ui/TransferListDlg.h"

namespace {

CloudNode Sample(const std::string& ref, const std::string& name, bool folder, std::uint16_t flags,
                 std::int64_t size, const char* who, int day, int hour) {
    CloudNode n;
    n.nodeRef = ref;
    n.name = name;
    n.kindFlags = folder ? 1 : 0;
    n.actionFlags = flags;
    n.size = size;
    n.version = folder ? "" : "1." + std::to_string(day % 4);
    n.modifier.displayName = who;
    n.modifier.time = DateTime{2024, 0, 5, static_cast<std::uint8_t>(day), static_cast<std::uint8_t>(hour), 12, 40, 8, 0};
    return n;
}

TransferFileTask SampleTask(std::int32_t id, const std::string& path, std::int64_t size, std::int32_t direction,
                            std::int32_t kind = TransferOrdinary) {
    TransferFileTask t;
    t.id = id;
    t.direction = direction;
    t.kind = kind;
    t.size = size;
    t.localFolder = "/home/user/Documents";
    t.relativePath = path;
    t.remoteFolderPath = "/CloudRoot/MyDocument";
    t.remoteName = path;
    return t;
}

TransferItem SampleItem(std::int32_t id, const std::string& path, std::int64_t size, std::int32_t direction,
                        std::int32_t state, int minute) {
    TransferItem item = TransferItem::FromTask(SampleTask(id, path, size, direction), state);
    item.finishTime = DateTime{2024, 0, 5, 12, 9, static_cast<std::uint8_t>(minute), 5, 8, 0};
    return item;
}

// A cloud of sample folders and a transfer queue, with texts from the language catalogue.
class SampleServices final : public ClientServices {
public:
    explicit SampleServices(LanguageManager& languages) : languages_(languages) {
        CloudListing home;
        home.node.MakeRoot(RootKindMyDocument, "home");
        home.children = {
            Sample("r1", "项目资料", true, 0x7F, 0, "王小明", 12, 9),
            Sample("r2", "Design drafts", true, 0x7F, 0, "Anna Berg", 11, 16),
            Sample("r3", "季度报告-2024Q1.docx", false, 0x7F, 1843200, "王小明", 12, 10),
            Sample("r4", "Budget overview 2024.xlsx", false, 0x7F, 95232, "Anna Berg", 10, 14),
            Sample("r5", "合同扫描件.pdf", false, 0x7B, 3567001, "李华", 9, 11),
            Sample("r6", "team-photo.jpg", false, 0x13, 5365813, "Anna Berg", 8, 8),
            Sample("r7", "readme.md", false, 0x7F, 812, "王小明", 7, 17),
            Sample("r8", "archive-2023.zip", false, 0x01, 734003200, "李华", 6, 15),
        };
        folders_["MyDocument"] = home;
        CloudListing bin;
        bin.node.MakeRoot(RootKindRecycleBin, "bin");
        bin.children = {Sample("b1", "旧草稿", true, 0x82, 0, "王小明", 3, 9),
                        Sample("b2", "notes-old.txt", false, 0x82, 2048, "Anna Berg", 2, 13)};
        folders_["RecycleBin"] = bin;

        running_ = {SampleTask(11, "/照片/海边日落.jpg", 5242880 + 123456, TransferUpward),
                    SampleTask(12, "/项目资料/接口说明.pdf", 1610612, TransferDownward, TransferEdit)};
        waiting_ = {SampleTask(13, "/Design drafts/home-final-v3.psd", 161061273, TransferUpward),
                    SampleTask(14, "/readme.md", 812, TransferDownward, TransferPreview)};
        finished_ = {SampleItem(21, "/合同/合同.pdf", 356000, TransferDownward, TransferFinished, 14),
                     SampleItem(22, "/Budget overview 2024.xlsx", 95232, TransferUpward, TransferFinished, 13),
                     SampleItem(23, "/截图.png", 1048576, TransferUpward, TransferFinished, 12)};
        failed_ = {SampleItem(31, "/视频/发布会.mp4", 209715200, TransferUpward, TransferFailed, 10),
                   SampleItem(32, "/locked.docx", 4096, TransferDownward, TransferCancelled, 11)};
        failed_[0].failure = HttpErrorTransport;
        failed_[1].failure = TransferFailureStopped;
    }

    // The server session is gone and cannot be renewed: every call fails with 401.
    bool sessionGone = false;

    bool GetRootListing(CloudListing& listing) override {
        listing.BuildRoot("home", "bin");
        return true;
    }
    int OpenFolder(CloudListing& listing, const std::string& key, int, int, int) override {
        if (sessionGone) return 0;
        const auto it = folders_.find(key);
        if (it == folders_.end()) return 0;
        listing = it->second;
        listing.hasMoreItems = 0;
        return 1;
    }
    int CreateMultiLayers(const std::string&, const std::string&) override { return 0; }
    int Rename(const std::string&, const std::string&) override { return 0; }
    bool Delete(const std::string&, const std::vector<std::string>&) override { return false; }
    bool Restore(const std::vector<std::string>&) override { return false; }
    int GetLoginState() const override { return 2; }
    int LastError() const override { return sessionGone ? HttpErrorNotLoggedIn : HttpErrorNone; }
    bool RenewSession() override { return false; }
    void AddBatchTask(const TransferBatchTask&) override {}
    std::list<TransferFileTask> CopyWaitingTasks() override { return waiting_; }
    std::list<TransferFileTask> CopyRunningTasks() override { return running_; }
    std::deque<TransferItem> CopyFinishedTasks() override { return finished_; }
    std::deque<TransferItem> CopyFailedTasks() override { return failed_; }
    bool RemoveFailedTask(std::int32_t) override { return false; }
    int AddEditTask(const EditPreviewTaskInfo&) override { return 0; }
    std::list<EditListEntry> CopyEditTasks() override {
        EditListEntry editing{"r3", "home", -1, EditKindEdit};
        EditListEntry uploading{"r7", "home", 40, EditKindEdit, 1, 1000, 425, 0};
        return {editing, uploading};
    }
    std::string Text(const std::string& key) const override { return languages_.LookUp(key); }
    std::string CurrentLanguage() const override { return languages_.GetCurrentCode(); }
    Config GetConfig() const override { return Config(); }
    void ForwardTip(const std::string&) override {}
    bool Subscribe(MessageListener*) override { return false; }
    void Unsubscribe(MessageListener*) override {}

private:
    LanguageManager& languages_;
    std::map<std::string, CloudListing> folders_;
    std::list<TransferFileTask> waiting_, running_;
    std::deque<TransferItem> finished_, failed_;
};

void EnterRow(CMainDlg& dialog, const std::string& name, plat::MessageLoop& loop) {
    CloudBrowserModel& model = dialog.Model();
    for (int row = 0; row < model.RowCount(); ++row)
        if (model.Row(row).name == name) {
            model.ActivateRow(row);
            gallery::Settle(loop);
            return;
        }
}

}  // namespace

void ClientBrowserGallery(plat::MessageLoop& loop) {
    using gallery::SaveWidget;
    LanguageManager languages;
    languages.SetAppDirectory(QCoreApplication::applicationDirPath().toStdString());
    languages.LoadLanguageList();
    for (const char* code : {"zh-CN", "en"}) {
        if (languages.SetLanguage(code) != code) {
            std::cerr << "no client catalogue for " << code << "\n";
            ++gallery::g_failures;
        }
        const QString suffix = std::string(code) == "en" ? QStringLiteral("-en") : QString();
        SampleServices services(languages);
        {
            CMainDlg browser(services, {});
            SaveWidget(browser, "client/browser-root" + suffix, loop);
            EnterRow(browser, "MyDocument", loop);
            browser.Model().SetChecked(2, true);
            SaveWidget(browser, "client/browser" + suffix, loop);
            browser.Model().SetChecked(2, false);
            browser.Model().SetChecked(5, true);
            SaveWidget(browser, "client/browser-preview" + suffix, loop);
            browser.Model().GoRoot();
            EnterRow(browser, "RecycleBin", loop);
            SaveWidget(browser, "client/browser-bin" + suffix, loop);
        }
        {
            // A folder that cannot be opened because the session is gone for good.
            CMainDlg browser(services, {}, nullptr, [] {});
            EnterRow(browser, "MyDocument", loop);
            services.sessionGone = true;
            browser.Model().Refresh();
            SaveWidget(browser, "client/browser-session-lost" + suffix, loop);
            services.sessionGone = false;
        }
        {
            CTransferListDlg transfers(services);
            const char* names[] = {"transfers-running", "transfers-succeeded", "transfers-failed"};
            for (int tab = 0; tab < 3; ++tab) {
                transfers.SelectTab(tab);
                SaveWidget(transfers, QStringLiteral("client/%1%2").arg(names[tab]).arg(suffix), loop);
            }
        }
    }
}
