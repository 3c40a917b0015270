#include "sync/common/FeedLists.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "sync/common/TreeNode.h"

namespace {

// One list with its lock and the open page's sink. A change is made under `lock` and its
// event queued in `outbox` (with the sink open at that moment) before `lock` is let go,
// so events leave in list order. Whichever reporting thread finds nobody delivering
// becomes the deliverer and hands queued events to their sinks with no lock held: a sink
// may take the list lock (a snapshot) and two reporting threads never wait for each
// other. A sink that reports itself only queues; the running deliverer hands it on.
template <typename Item>
struct Feed {
    std::mutex lock;
    std::list<Item> items;
    std::shared_ptr<FeedSink> page;

    std::mutex outboxLock;  // taken after `lock`, never held while a sink runs
    std::deque<std::pair<std::shared_ptr<FeedSink>, FeedEvent>> outbox;
    bool delivering = false;  // guarded by outboxLock
};

// Runs `change` under the list lock; when it yields an event, hands it to the page sink
// in order, outside every lock.
template <typename Item, typename Change>
void Notify(Feed<Item>& feed, Change change) {
    {
        FeedEvent event;
        std::lock_guard<std::mutex> hold(feed.lock);
        if (!change(event)) return;
        if (!feed.page || !*feed.page) return;
        std::lock_guard<std::mutex> queue(feed.outboxLock);
        feed.outbox.emplace_back(feed.page, std::move(event));
    }
    std::unique_lock<std::mutex> queue(feed.outboxLock);
    if (feed.delivering) return;
    feed.delivering = true;
    while (!feed.outbox.empty()) {
        auto next = std::move(feed.outbox.front());
        feed.outbox.pop_front();
        queue.unlock();
        (*next.first)(next.second);
        queue.lock();
    }
    feed.delivering = false;
}

Feed<SyncDoingItem>& Running() {
    static auto* feed = new Feed<SyncDoingItem>;
    return *feed;
}
Feed<SyncDoneItem>& Finished() {
    static auto* feed = new Feed<SyncDoneItem>;
    return *feed;
}
Feed<SyncDoneItem>& Failed() {
    static auto* feed = new Feed<SyncDoneItem>;
    return *feed;
}

std::int32_t g_nextSerial = 0;  // guarded by Running().lock

std::string PartnerChecksum(const TreeNode<SyncTaskInfo>& node) {
    const SyncTaskInfo& task = *node.data;
    if (task.localPartner && !task.localPartner->data->checksum.empty()) return task.localPartner->data->checksum;
    if (task.serverPartner) return task.serverPartner->data->checksum;
    return {};
}

// Progress of the first running item that `match` accepts.
template <typename Match>
void UpdateProgress(Match match, double percent) {
    auto& feed = Running();
    Notify(feed, [&](FeedEvent& event) {
        const auto it = std::find_if(feed.items.begin(), feed.items.end(), match);
        if (it == feed.items.end()) return false;
        it->percent = percent;
        event.message = WM_STATE_PROGRESS;
        event.wParam = it->rowId;
        event.percent = percent;
        return true;
    });
}

void AddDone(Feed<SyncDoneItem>& feed, SyncDoneItem item) {
    Notify(feed, [&](FeedEvent& event) {
        feed.items.push_front(item);
        event.message = WM_STATE_ADD_ITEM;
        event.wParam = -1;
        event.done = std::move(item);
        return true;
    });
}

template <typename Item>
std::vector<Item> Copy(Feed<Item>& feed) {
    std::lock_guard<std::mutex> hold(feed.lock);
    return {feed.items.begin(), feed.items.end()};
}

template <typename Item>
void SetSink(Feed<Item>& feed, std::shared_ptr<FeedSink> sink) {
    std::lock_guard<std::mutex> hold(feed.lock);
    feed.page = std::move(sink);
}

template <typename Item>
std::vector<Item> Open(Feed<Item>& feed, std::shared_ptr<FeedSink> sink) {
    std::lock_guard<std::mutex> hold(feed.lock);
    feed.page = std::move(sink);
    return {feed.items.begin(), feed.items.end()};
}

template <typename Item>
void Empty(Feed<Item>& feed) {
    Notify(feed, [&](FeedEvent& event) {
        feed.items.clear();
        event.message = WM_STATE_CLEAR;
        return true;
    });
}

SyncDoneItem MakeDone(std::uint32_t bLocal, std::uint32_t bDelete, std::int64_t size, std::string file,
                      std::string path, std::string time) {
    SyncDoneItem item;
    item.File = std::move(file);
    item.Path = std::move(path);
    item.Time = std::move(time);
    item.Size = size;
    item.bLocal = bLocal;
    item.bDelete = bDelete;
    return item;
}

}  // namespace

void CStateDoingPage::AddDoingItem(const TreeNode<SyncTaskInfo>* key, std::uint32_t bLocal, std::int64_t size,
                                   std::uint32_t bDelete, std::uint8_t percent, std::string path) {
    SyncDoingItem item;
    item.key = key;
    item.Path = std::move(path);
    item.Size = size;
    item.bLocal = bLocal;
    item.bDelete = bDelete;
    item.percent = percent;
    if (key) item.checksum = PartnerChecksum(*key);

    auto& feed = Running();
    Notify(feed, [&](FeedEvent& event) {
        item.rowId = ++g_nextSerial;
        feed.items.push_back(item);
        event.message = WM_STATE_ADD_ITEM;
        event.doing = std::move(item);
        return true;
    });
}

void CStateDoingPage::UpdateProgressByChecksum(const TreeNode<SyncTaskInfo>& node, double percent) {
    if (percent > 100.0) percent = 100.0;
    const std::string checksum = PartnerChecksum(node);
    if (checksum.empty()) return;
    UpdateProgress([&](const SyncDoingItem& item) { return item.checksum == checksum; }, percent);
}

void CStateDoingPage::UpdateProgressById(const TreeNode<SyncTaskInfo>* key, double percent) {
    UpdateProgress([&](const SyncDoingItem& item) { return item.key == key; }, percent);
}

void CStateDoingPage::RemoveDoingItem(const TreeNode<SyncTaskInfo>* key) {
    auto& feed = Running();
    Notify(feed, [&](FeedEvent& event) {
        const auto it = std::find_if(feed.items.begin(), feed.items.end(),
                                     [&](const SyncDoingItem& item) { return item.key == key; });
        if (it == feed.items.end()) return false;
        event.message = WM_STATE_REMOVE_ITEM;
        event.wParam = it->rowId;
        feed.items.erase(it);
        return true;
    });
}

void CStateDoingPage::ClearDoingItems() { Empty(Running()); }

void CStateDoingPage::SetPage(std::shared_ptr<FeedSink> sink) { SetSink(Running(), std::move(sink)); }
std::vector<SyncDoingItem> CStateDoingPage::OpenPage(std::shared_ptr<FeedSink> sink) {
    return Open(Running(), std::move(sink));
}
std::vector<SyncDoingItem> CStateDoingPage::Snapshot() { return Copy(Running()); }

void CStateDonePage::AddDoneItem(std::uint32_t bLocal, std::uint32_t bDelete, std::int64_t size, std::string file,
                                 std::string path, std::string time) {
    AddDone(Finished(), MakeDone(bLocal, bDelete, size, std::move(file), std::move(path), std::move(time)));
}
void CStateDonePage::SetPage(std::shared_ptr<FeedSink> sink) { SetSink(Finished(), std::move(sink)); }
std::vector<SyncDoneItem> CStateDonePage::OpenPage(std::shared_ptr<FeedSink> sink) {
    return Open(Finished(), std::move(sink));
}
std::vector<SyncDoneItem> CStateDonePage::Snapshot() { return Copy(Finished()); }
void CStateDonePage::AppendHistory(const std::vector<SyncDoneItem>& items) {
    auto& feed = Finished();
    std::lock_guard<std::mutex> hold(feed.lock);
    feed.items.insert(feed.items.end(), items.begin(), items.end());
}
void CStateDonePage::Clear() { Empty(Finished()); }

void CStateDoneFailedPage::AddFailedItem(std::uint32_t bLocal, std::uint32_t bDelete, std::int64_t size,
                                         std::string file, std::string path, std::string time, std::string reason,
                                         std::int64_t reasonCode) {
    SyncDoneItem item = MakeDone(bLocal, bDelete, size, std::move(file), std::move(path), std::move(time));
    item.Reason = std::move(reason);
    item.ReasonCode = reasonCode;
    AddDone(Failed(), std::move(item));
}
void CStateDoneFailedPage::SetPage(std::shared_ptr<FeedSink> sink) { SetSink(Failed(), std::move(sink)); }
std::vector<SyncDoneItem> CStateDoneFailedPage::OpenPage(std::shared_ptr<FeedSink> sink) {
    return Open(Failed(), std::move(sink));
}
std::vector<SyncDoneItem> CStateDoneFailedPage::Snapshot() { return Copy(Failed()); }
void CStateDoneFailedPage::Clear() { Empty(Failed()); }
