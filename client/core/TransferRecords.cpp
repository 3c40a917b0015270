#include "client/core/TransferRecords.h"

#include <algorithm>
#include <set>
#include <unordered_map>

TransferItem TransferItem::FromTask(const TransferFileTask& task, std::int32_t state) {
    TransferItem item;
    item.id = task.id;
    item.state = state;
    item.direction = task.direction;
    item.kind = task.kind;
    item.isFolder = task.isFolder;
    item.size = task.size;
    item.localFolder = task.localFolder;
    item.relativePath = task.relativePath;
    item.remoteFolderPath = task.remoteFolderPath;
    item.remoteName = task.remoteName;
    item.reference = task.reference;
    item.destinationRef = task.destinationRef;
    item.finishTime = DateTime::Now();
    item.failure = state == TransferFinished ? TransferFailureNone : task.failure;
    return item;
}

void SyncedTaskList::PushBack(const TransferItem& item) {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.push_back(item);
}

bool SyncedTaskList::RemoveById(std::int32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(items_.begin(), items_.end(), [&](const TransferItem& i) { return i.id == id; });
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
}

bool SyncedTaskList::FindById(std::int32_t id, TransferItem& out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find_if(items_.begin(), items_.end(), [&](const TransferItem& i) { return i.id == id; });
    if (it == items_.end()) return false;
    out = *it;
    return true;
}

std::deque<TransferItem> SyncedTaskList::Copy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_;
}

void SyncedTaskList::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    items_.clear();
}

std::size_t SyncedTaskList::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return items_.size();
}

std::int32_t NextTransferTaskId() {
    static std::atomic<std::int32_t> next{0};
    return next.fetch_add(1);
}

void TransferBatchCounter::Add(std::int32_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    ids_.push_back(id);
    pending_.insert(id);
}

void TransferBatchCounter::Filed(std::int32_t id, bool succeeded) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_.erase(id) == 0) return;
    ++(succeeded ? succeeded_ : failed_);
}

void TransferBatchCounter::ResetLocked() {
    ids_.clear();
    pending_.clear();
    succeeded_ = failed_ = 0;
}

void TransferBatchCounter::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    ResetLocked();
}

std::vector<std::int32_t> TransferBatchCounter::Ids() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ids_;
}

bool TransferBatchCounter::CountBatchResults(const std::vector<TransferItem>& items, int& total, int& succeeded,
                                             int& failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ids_.empty() || items.empty()) return false;
    // The first item of each id, found through a table rather than a search per id.
    std::unordered_map<std::int32_t, std::int32_t> states;
    states.reserve(items.size());
    for (const TransferItem& item : items) states.emplace(item.id, item.state);
    int ok = 0;
    for (const std::int32_t id : ids_) {
        const auto it = states.find(id);
        if (it == states.end()) return false;
        if (it->second == TransferFinished) ++ok;
    }
    total = static_cast<int>(ids_.size());
    succeeded = ok;
    failed = total - ok;
    ResetLocked();
    return true;
}

bool TransferBatchCounter::TakeResults(int& total, int& succeeded, int& failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ids_.empty() || !pending_.empty()) return false;
    total = static_cast<int>(ids_.size());
    succeeded = succeeded_;
    failed = failed_;
    ResetLocked();
    return true;
}

std::string ReferenceIdPart(const std::string& nodeRef) {
    const std::size_t scheme = nodeRef.find("://");
    if (scheme == std::string::npos) return nodeRef;
    const std::size_t slash = nodeRef.find('/', scheme + 3);
    return slash == std::string::npos ? nodeRef.substr(scheme + 3) : nodeRef.substr(slash + 1);
}

RemoteNameParts SplitRemoteName(const std::string& remoteName, bool isFolder) {
    RemoteNameParts parts;
    const std::string rest = !remoteName.empty() && remoteName[0] == '/' ? remoteName.substr(1) : remoteName;
    if (isFolder) {
        parts.folderPath = rest;
        return parts;
    }
    const std::size_t slash = rest.find_last_of('/');
    if (slash == std::string::npos) {
        parts.name = rest;
    } else {
        parts.folderPath = rest.substr(0, slash);
        parts.name = rest.substr(slash + 1);
    }
    return parts;
}

std::optional<std::string> FindDeepestCreatedFolder(const std::string& destination, const std::string& folderPath,
                                                    const std::vector<CloudItem>& created) {
    if (created.empty()) return std::nullopt;
    std::vector<std::string> components;
    for (std::size_t pos = 0; pos <= folderPath.size();) {
        std::size_t end = folderPath.find('/', pos);
        if (end == std::string::npos) end = folderPath.size();
        if (end > pos) components.push_back(folderPath.substr(pos, end - pos));
        pos = end + 1;
    }
    if (components.empty()) return std::nullopt;
    std::string current = destination;
    std::set<std::string> visited{current};
    for (const std::string& component : components) {
        const CloudItem* exact = nullptr;
        const CloudItem* only = nullptr;
        int below = 0;
        for (const CloudItem& item : created) {
            if (item.parentRef != current) continue;
            ++below;
            only = &item;
            if (item.name == component && exact == nullptr) exact = &item;
        }
        const CloudItem* next = exact != nullptr ? exact : (below == 1 ? only : nullptr);
        if (next == nullptr || next->nodeRef.empty() || !visited.insert(next->nodeRef).second) return std::nullopt;
        current = next->nodeRef;
    }
    return current;
}
