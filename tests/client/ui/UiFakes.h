#pragma once
// Fixtures of the client window tests: services over an in-memory cloud and transfer
// queue that record what the windows ask of them, and views that record what the models
// show and answer their questions from a script. Posted work runs when the test drains it
// (the UI thread's queue, in order).
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/ui/CloudBrowserModel.h"
#include "client/ui/ClientServices.h"
#include "client/ui/TransferListModel.h"

namespace uitest {

// A queue of posted work, drained by the test. Post may come from any thread.
class PostQueue {
public:
    void Post(std::function<void()> work) {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(work));
    }
    // Runs posted work, including what it posts, until none is left. How many ran.
    int Drain() {
        int ran = 0;
        for (;;) {
            std::function<void()> work;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (queue_.empty()) return ran;
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
            ++ran;
        }
    }
    std::size_t Pending() {
        std::lock_guard<std::mutex> lock(mutex_);
        return queue_.size();
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};

inline CloudNode Node(const std::string& ref, const std::string& name, bool folder, std::uint16_t flags,
                      std::int64_t size = 0) {
    CloudNode n;
    n.nodeRef = ref;
    n.name = name;
    n.kindFlags = folder ? 1 : 0;
    n.actionFlags = flags;
    n.size = size;
    n.version = "1.0";
    n.modifier.displayName = "Bob";
    return n;
}

// A cloud of folders by key (a root name or a node reference) and a transfer queue.
class FakeServices : public ClientServices {
public:
    struct Folder {
        CloudNode node;
        std::vector<CloudNode> children;
        bool shortPages = false;  // pages from 2 on announce more items but bring fewer
    };

    FakeServices() {
        Folder home;
        home.node = Node("home-ref", "MyDocument", true, 0x60);
        home.node.kindFlags = 7;
        home.node.rootKind = RootKindMyDocument;
        folders["MyDocument"] = home;
        Folder bin;
        bin.node = Node("bin-ref", "RecycleBin", true, 0);
        bin.node.kindFlags = 7;
        bin.node.rootKind = RootKindRecycleBin;
        folders["RecycleBin"] = bin;
        config.FreshCloudDirectoryPageSize = 2;
        config.FreshCloudDirectoryListInterval = 5;
    }

    bool GetRootListing(CloudListing& listing) override {
        calls.push_back("root");
        if (loginState != 2) return false;
        listing.BuildRoot("home-ref", "bin-ref");
        return true;
    }
    int OpenFolder(CloudListing& listing, const std::string& key, int isRootName, int page, int pageSize) override {
        calls.push_back("open " + key + " " + std::to_string(page));
        listing.Clear();
        if (Fails()) return 0;
        if (loginState != 2 || failPages.count(page) != 0) return 0;
        std::string k = key;
        if (!isRootName) {
            for (auto& [name, f] : folders)
                if (f.node.nodeRef == key) k = name;
        }
        const auto it = folders.find(k);
        if (it == folders.end()) return 0;
        const Folder& f = it->second;
        listing.node = f.node;
        const std::size_t first = page <= 1 ? 0 : static_cast<std::size_t>(page - 1) * pageSize;
        const std::size_t size = static_cast<std::size_t>(pageSize);
        for (std::size_t i = first; i < f.children.size() && i < first + size; ++i)
            listing.children.push_back(f.children[i]);
        listing.hasMoreItems = first + size < f.children.size() ? 1 : 0;
        if (f.shortPages && page >= 2) {
            listing.hasMoreItems = 1;
            if (!listing.children.empty()) listing.children.pop_back();
        }
        listing.totalRecords = static_cast<std::int32_t>(f.children.size());
        return 1;
    }
    int CreateMultiLayers(const std::string& parentRef, const std::string& name) override {
        calls.push_back("create " + parentRef + " " + name);
        return !Fails() && succeed ? 1 : 0;
    }
    int Rename(const std::string& reference, const std::string& newName) override {
        calls.push_back("rename " + reference + " " + newName);
        return !Fails() && succeed ? 1 : 0;
    }
    bool Delete(const std::string& parentRef, const std::vector<std::string>& refs) override {
        std::string c = "delete " + parentRef;
        for (const auto& r : refs) c += " " + r;
        calls.push_back(c);
        return !Fails() && succeed;
    }
    bool Restore(const std::vector<std::string>& refs) override {
        std::string c = "restore";
        for (const auto& r : refs) c += " " + r;
        calls.push_back(c);
        return !Fails() && succeed;
    }
    int GetLoginState() const override { return loginState; }
    int LastError() const override { return lastError; }
    bool RenewSession() override {
        ++renewals;
        if (renewalSucceeds) sessionLost = false;
        return renewalSucceeds;
    }
    // A server call against the scripted state: the server is down (transport error), or
    // the session is lost (401) until a renewal succeeds. Sets the last error.
    bool Fails() {
        lastError = serverDown ? HttpErrorTransport : sessionLost ? HttpErrorNotLoggedIn : HttpErrorNone;
        return lastError != HttpErrorNone;
    }

    void AddBatchTask(const TransferBatchTask& batch) override { batches.push_back(batch); }
    std::list<TransferFileTask> CopyWaitingTasks() override { return waiting; }
    std::list<TransferFileTask> CopyRunningTasks() override { return running; }
    std::deque<TransferItem> CopyFinishedTasks() override { return finished; }
    std::deque<TransferItem> CopyFailedTasks() override { return failed; }
    bool RemoveFailedTask(std::int32_t id) override {
        for (auto it = failed.begin(); it != failed.end(); ++it)
            if (it->id == id) {
                failed.erase(it);
                return true;
            }
        return false;
    }

    int AddEditTask(const EditPreviewTaskInfo& info) override {
        editTasks.push_back(info);
        return editResult;
    }
    std::list<EditListEntry> CopyEditTasks() override { return editEntries; }

    std::string Text(const std::string& key) const override {
        const auto it = texts.find(key);
        return it != texts.end() ? it->second : key;
    }
    std::string CurrentLanguage() const override { return "en"; }
    Config GetConfig() const override { return config; }
    void ForwardTip(const std::string& text) override { tips.push_back(text); }
    bool Subscribe(MessageListener* listener) override {
        listeners.push_back(listener);
        return true;
    }
    void Unsubscribe(MessageListener* listener) override { unsubscribed.push_back(listener); }

    // Puts `count` files "f0".."fN" (flags `flags`) into the folder `key`.
    void Fill(const std::string& key, int count, std::uint16_t flags = 0x1F) {
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            folders[key].children.push_back(Node(key + "-f" + n, "f" + n + ".txt", false, flags, 100 + i));
        }
    }
    int CallsStartingWith(const std::string& prefix) const {
        int n = 0;
        for (const auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

    int loginState = 2;
    bool succeed = true;
    bool serverDown = false, sessionLost = false, renewalSucceeds = true;
    int lastError = 0, renewals = 0;
    int editResult = 0;
    std::set<int> failPages;
    Config config;
    std::map<std::string, Folder> folders;
    std::map<std::string, std::string> texts;
    std::vector<std::string> calls;
    std::vector<TransferBatchTask> batches;
    std::vector<EditPreviewTaskInfo> editTasks;
    std::list<EditListEntry> editEntries;
    std::vector<std::string> tips;
    std::vector<MessageListener*> listeners, unsubscribed;
    std::list<TransferFileTask> waiting, running;
    std::deque<TransferItem> finished, failed;
};

class RecordingBrowserView : public CloudBrowserView {
public:
    void Post(std::function<void()> work) override { queue.Post(std::move(work)); }
    void RowsReset() override { ++resets; }
    void RowsAppended(int first, int count) override { appended.push_back({first, count}); }
    void RowChecksChanged() override { ++checkChanges; }
    void StatusChanged(int row) override { statusRows.push_back(row); }
    void ButtonsChanged() override {}
    void PathChanged() override {}
    void TitlesChanged() override { ++retitles; }
    void ArmRefreshTimer(std::chrono::milliseconds interval) override { armed.push_back(interval); }
    void DisarmRefreshTimer() override { ++disarms; }
    void ShowStatus(const std::string& text, bool offerLogin) override {
        statusLine = text;
        statusOffersLogin = offerLogin;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool Confirm(const std::string& caption, const std::string& text) override {
        confirms.push_back(caption + "|" + text);
        return confirmAnswer;
    }
    std::optional<std::string> InputText(const TextInputRequest& request) override {
        inputs.push_back(request);
        return inputAnswer;
    }
    std::optional<std::vector<std::string>> PickLocal(const PickerRequest& request) override {
        pickers.push_back(request);
        return pickerAnswer;
    }
    void OpenTransferList() override { ++transferListOpened; }

    PostQueue queue;
    int resets = 0, checkChanges = 0, retitles = 0, disarms = 0, transferListOpened = 0;
    std::vector<std::pair<int, int>> appended;
    std::vector<int> statusRows;
    std::vector<std::chrono::milliseconds> armed;
    std::vector<std::string> messages, confirms;
    std::string statusLine;
    bool statusOffersLogin = false;
    std::vector<TextInputRequest> inputs;
    std::vector<PickerRequest> pickers;
    bool confirmAnswer = true;
    std::optional<std::string> inputAnswer;
    std::optional<std::vector<std::string>> pickerAnswer;
};

class RecordingTransferView : public TransferListView {
public:
    void Post(std::function<void()> work) override { queue.Post(std::move(work)); }
    void ListChanged(int list) override { ++listChanges[list]; }
    void InsertRows(int list, int first, int count, const std::function<void()>& change) override {
        change();
        inserted[list] += count;
        lastInsert = {first, count};
    }
    void RemoveRows(int list, int first, int count, const std::function<void()>& change) override {
        change();
        removed[list] += count;
    }
    void RowChanged(int list, int) override { ++rowChanges[list]; }
    void CountersChanged() override { ++counterChanges; }
    void TitlesChanged() override { ++retitles; }

    PostQueue queue;
    int listChanges[3] = {0, 0, 0};
    int inserted[3] = {0, 0, 0}, removed[3] = {0, 0, 0}, rowChanges[3] = {0, 0, 0};
    std::pair<int, int> lastInsert{-1, 0};
    int counterChanges = 0, retitles = 0;
};

}  // namespace uitest
