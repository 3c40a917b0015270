#include "client/ui/TransferListModel.h"

#include <algorithm>

#include "client/core/TextHelpers.h"
#include "client/ui/ListTexts.h"
#include "client/ui/UiTexts.h"

namespace {

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The services' texts for FormatTranslated.
class ServiceTexts final : public UiTexts {
public:
    explicit ServiceTexts(const ClientServices& services) : services_(services) {}
    std::string Text(const std::string& key) const override { return services_.Text(key); }

private:
    const ClientServices& services_;
};

bool KnownDirection(std::int32_t direction) { return direction == TransferUpward || direction == TransferDownward; }

}  // namespace

TransferListModel::TransferListModel(ClientServices& services, TransferListView& view)
    : services_(services), view_(view) {}

TransferListModel::~TransferListModel() { Close(); }

void TransferListModel::Open() {
    tab_ = 0;
    ready_.store(true);
    subscribed_ = services_.Subscribe(this);
    view_.Post([this] { Retitle(); });
}

void TransferListModel::Close() {
    ready_.store(false);
    if (subscribed_) {
        services_.Unsubscribe(this);
        subscribed_ = false;
    }
}

// ---- what the window shows -------------------------------------------------------------------

const std::deque<TransferRow>& TransferListModel::Rows(int list) const {
    return lists_[std::clamp(list, 0, 2)];
}

std::string TransferListModel::CellText(int list, int row, int column) const {
    const std::deque<TransferRow>& rows = Rows(list);
    if (row < 0 || row >= static_cast<int>(rows.size())) return std::string();
    const TransferRow& r = rows[static_cast<std::size_t>(row)];
    auto direction = [&] { return Text(r.direction == TransferUpward ? "Upload" : "Download"); };
    auto type = [&] {
        return Text(r.kind == TransferOrdinary ? "Transfer" : r.kind == TransferEdit ? "Edit" : "Preview");
    };
    switch (column) {
        case 0: return list == Running || r.path.empty() ? r.name : r.path;
        case 1: return r.isFolder ? std::string() : FormatByteSize(r.size);
        case 2:
            if (list == Running) return r.progress.empty() ? Text("Waitting") : r.progress;
            return r.finishTime;
        case 3: return direction();
        case 4: return type();
        case 5:
            if (list == Running) return std::string();
            return r.state == TransferFinished    ? Text("Success")
                   : r.state == TransferFailed    ? Text("Fail")
                   : r.state == TransferCancelled ? Text("Cancel")
                                                  : std::string();
        case 6: return list == Failed ? Text("Retry") : std::string();
        case 7:
            if (list != Failed) return std::string();
            return r.failure == TransferFailureNone && !r.reason.empty() ? r.reason : Text(FailureReasonKey(r.failure));
        default: return std::string();
    }
}

std::string TransferListModel::Heading(int list, int column) const {
    static const char* const running[] = {"Name", "Size", "Progress", "Direction", "Type"};
    static const char* const finished[] = {"Name",  "Size",      "Finish Time", "Direction",
                                           "Type",  "State",     "Operation",   "Reason"};
    if (column < 0 || column >= ColumnCount(list)) return std::string();
    return Text(list == Running ? running[column] : finished[column]);
}

std::string TransferListModel::TabText(int tab) const {
    static const char* const keys[] = {"Transferring List", "Succeed List", "Failed List"};
    return Text(keys[std::clamp(tab, 0, 2)]);
}

std::string TransferListModel::Tip(std::int32_t id) const {
    const auto it = tips_.find(id);
    return it != tips_.end() ? it->second : std::string();
}

std::string TransferListModel::CounterText() const {
    // A translation whose placeholders differ from its key's is not used.
    const ServiceTexts texts(services_);
    switch (tab_) {
        case 0:
            return FormatTranslated(texts, "Total / Waiting / Transferring: %d / %d / %d",
                                    {std::to_string(RowCount(Running)), std::to_string(WaitingCount()),
                                     std::to_string(transferring_)});
        case 1: return FormatTranslated(texts, "Tranfer Succeed: %d", {std::to_string(RowCount(Succeeded))});
        default: return FormatTranslated(texts, "Tranfer Failed: %d", {std::to_string(RowCount(Failed))});
    }
}

void TransferListModel::SelectTab(int tab) {
    tab_ = std::clamp(tab, 0, 2);
    view_.CountersChanged();
}

// ---- rows -------------------------------------------------------------------------------------

template <class Record>
TransferRow TransferListModel::RowFrom(const Record& record) {
    TransferRow r;
    r.id = record.id;
    r.state = record.state;
    r.direction = record.direction;
    r.kind = record.kind;
    r.isFolder = record.isFolder;
    r.size = record.size;
    r.name = LastComponent(record.relativePath);
    return r;
}

TransferRow TransferListModel::RowOf(const TransferFileTask& task, bool running) {
    TransferRow r = RowFrom(task);
    if (running) r.progress = "0.0%";
    return r;
}

TransferRow TransferListModel::RowOf(const TransferItem& item) const {
    TransferRow r = RowFrom(item);
    r.finishTime = TimeToSecond(item.finishTime);
    r.failure = item.failure;
    r.reason = item.reason;
    // Where it went: the cloud folder of an upload, the local file of a download.
    r.path = item.direction == TransferUpward
                 ? ShownCloudPath(item.remoteFolderPath + item.remoteName, [this](const std::string& k) { return Text(k); })
                 : item.localFolder + item.relativePath;
    return r;
}

int TransferListModel::Find(const std::deque<TransferRow>& rows, std::int32_t id, int from, int to) {
    const int end = to < 0 ? static_cast<int>(rows.size()) : std::min(to, static_cast<int>(rows.size()));
    for (int i = std::max(from, 0); i < end; ++i) {
        ++examined_;
        if (rows[static_cast<std::size_t>(i)].id == id) return i;
    }
    return -1;
}

int TransferListModel::ListOf(std::int32_t id) const {
    const auto it = listOf_.find(id);
    return it == listOf_.end() ? -1 : it->second;
}

void TransferListModel::Index(std::int32_t id, int list) { listOf_[id] = list; }

void TransferListModel::ReIndex() {
    listOf_.clear();
    for (int list = 0; list < 3; ++list)
        for (const TransferRow& r : lists_[list]) listOf_.emplace(r.id, list);
}

void TransferListModel::RemoveRow(int list, int row) {
    std::deque<TransferRow>& rows = lists_[list];
    const std::int32_t id = rows[static_cast<std::size_t>(row)].id;
    view_.RemoveRows(list, row, 1, [&] { rows.erase(rows.begin() + row); });
    if (ListOf(id) == list) listOf_.erase(id);
}

void TransferListModel::RecordTip(std::int32_t id, const std::string& localFolder, const std::string& relativePath) {
    tips_.emplace(id, localFolder + relativePath);
}

// ---- snapshot ---------------------------------------------------------------------------------

void TransferListModel::Refresh() {
    if (!ready_.load()) return;  // a snapshot is pending
    ready_.store(false);
    view_.Post([this] { Reload(); });
}

void TransferListModel::Retitle() {
    view_.TitlesChanged();
    if (ready_.load()) {
        ready_.store(false);
        view_.Post([this] { Reload(); });
    }
}

void TransferListModel::Reload() {
    if (ready_.load()) return;
    // Ready first, then the copies: an event raised after this point is applied after the
    // snapshot (and changes nothing when the snapshot already holds it).
    ready_.store(true);
    const std::list<TransferFileTask> waiting = services_.CopyWaitingTasks();
    const std::list<TransferFileTask> running = services_.CopyRunningTasks();
    const std::deque<TransferItem> finished = services_.CopyFinishedTasks();
    const std::deque<TransferItem> failed = services_.CopyFailedTasks();
    tips_.clear();
    for (auto& list : lists_) list.clear();
    for (const TransferFileTask& t : running) {
        lists_[Running].push_back(RowOf(t, true));
        RecordTip(t.id, t.localFolder, t.relativePath);
    }
    transferring_ = static_cast<int>(running.size());
    for (const TransferFileTask& t : waiting) {
        lists_[Running].push_back(RowOf(t, false));
        RecordTip(t.id, t.localFolder, t.relativePath);
    }
    // The most recent item on top.
    for (auto it = finished.rbegin(); it != finished.rend(); ++it) lists_[Succeeded].push_back(RowOf(*it));
    for (auto it = failed.rbegin(); it != failed.rend(); ++it) lists_[Failed].push_back(RowOf(*it));
    ReIndex();
    for (int list = 0; list < 3; ++list) view_.ListChanged(list);
    view_.CountersChanged();
}

// ---- live events ------------------------------------------------------------------------------

void TransferListModel::OnTransferTaskAdded(const TransferFileTask& task) {
    if (ready_.load()) view_.Post([this, copy = task] { ApplyAdded(copy); });
}

void TransferListModel::OnTransferTaskStarted(const TransferFileTask& task) {
    if (ready_.load()) view_.Post([this, copy = task] { ApplyStarted(copy); });
}

void TransferListModel::OnTransferProgress(const TransferProgress& progress) {
    if (ready_.load()) view_.Post([this, copy = progress] { ApplyProgress(copy); });
}

void TransferListModel::OnTransferTaskFinished(const TransferItem& item) {
    if (ready_.load()) view_.Post([this, copy = item] { ApplyFinished(copy); });
}

void TransferListModel::OnLanguageChanged(const std::string&) {
    view_.Post([this] { Retitle(); });
}

void TransferListModel::ApplyAdded(const TransferFileTask& task) {
    if (!ready_.load() || ListOf(task.id) >= 0) return;
    std::deque<TransferRow>& rows = lists_[Running];
    const int at = static_cast<int>(rows.size());
    view_.InsertRows(Running, at, 1, [&] { rows.push_back(RowOf(task, false)); });
    Index(task.id, Running);
    RecordTip(task.id, task.localFolder, task.relativePath);
    view_.CountersChanged();
}

void TransferListModel::ApplyStarted(const TransferFileTask& task) {
    if (!ready_.load()) return;
    std::deque<TransferRow>& rows = lists_[Running];
    bool changed = false;
    // Waiting tasks start in their order: the row is found near the top of the waiting rows.
    if (ListOf(task.id) == Running) {
        const int row = Find(rows, task.id, transferring_);
        if (row >= 0) {
            RemoveRow(Running, row);
            changed = true;
        }
    }
    if (ListOf(task.id) < 0) {
        view_.InsertRows(Running, transferring_, 1, [&] { rows.insert(rows.begin() + transferring_, RowOf(task, true)); });
        ++transferring_;
        Index(task.id, Running);
        RecordTip(task.id, task.localFolder, task.relativePath);
        changed = true;
    }
    if (changed) view_.CountersChanged();
}

void TransferListModel::ApplyProgress(const TransferProgress& progress) {
    if (!ready_.load() || transferring_ <= 0 || ListOf(progress.id) != Running) return;
    const int row = Find(lists_[Running], progress.id, 0, transferring_);
    if (row < 0) return;
    lists_[Running][static_cast<std::size_t>(row)].progress = PercentText(progress.done, progress.total);
    view_.RowChanged(Running, row);
}

void TransferListModel::ApplyFinished(const TransferItem& item) {
    if (!ready_.load()) return;
    if (ListOf(item.id) == Running) {
        // Running rows come first: a finished transfer is found among the first few.
        const int row = Find(lists_[Running], item.id);
        if (row >= 0) {
            if (row < transferring_) --transferring_;
            RemoveRow(Running, row);
        }
    }
    const int target = item.state == TransferFinished ? Succeeded : Failed;
    if (ListOf(item.id) < 0) {
        std::deque<TransferRow>& rows = lists_[target];
        view_.InsertRows(target, 0, 1, [&] { rows.push_front(RowOf(item)); });
        Index(item.id, target);
    }
    RecordTip(item.id, item.localFolder, item.relativePath);
    view_.CountersChanged();
}

// ---- retry and delete ---------------------------------------------------------------------------

bool TransferListModel::Retry(const TransferItem& item) {
    if (!KnownDirection(item.direction)) return false;
    TransferBatchTask batch;
    batch.destinationRef = item.destinationRef;
    batch.remotePath = item.remoteFolderPath;
    const std::string local = item.localFolder + item.relativePath;
    if (item.direction == TransferUpward) {
        batch.direction = TransferUpward;
        batch.paths = {local};
        batch.baseLocalFolder = local.substr(0, local.size() - std::min(local.size(), item.remoteName.size()));
    } else {
        batch.direction = TransferDownward;
        const std::size_t slash = local.find_last_of('/');
        batch.target = slash == std::string::npos ? std::string() : local.substr(0, slash);
        batch.paths = {item.reference};
        TransferEntry entry;
        entry.isFolder = item.isFolder ? 1 : 0;
        entry.relativePath = item.remoteName;
        entry.reference = item.reference;
        entry.size = item.size;
        batch.items = {entry};
    }
    services_.AddBatchTask(batch);
    services_.RemoveFailedTask(item.id);
    return true;
}

void TransferListModel::FailedCellClicked(int row, int column) {
    if (column != kRetryColumn || row < 0 || row >= RowCount(Failed)) return;
    const std::int32_t id = lists_[Failed][static_cast<std::size_t>(row)].id;
    for (const TransferItem& item : services_.CopyFailedTasks()) {
        if (item.id != id) continue;
        // An item of a direction the queue does not know stays listed.
        if (!Retry(item)) return;
        RemoveRow(Failed, row);
        view_.CountersChanged();
        return;
    }
}

void TransferListModel::RetryAll() {
    const std::deque<TransferItem> failed = services_.CopyFailedTasks();
    std::vector<TransferItem> kept;
    std::deque<TransferRow>& rows = lists_[Failed];
    for (int row = static_cast<int>(rows.size()) - 1; row >= 0; --row) {
        const std::int32_t id = rows[static_cast<std::size_t>(row)].id;
        const auto it = std::find_if(failed.begin(), failed.end(), [&](const TransferItem& i) { return i.id == id; });
        if (it == failed.end() || !KnownDirection(it->direction)) continue;
        rows.erase(rows.begin() + row);
        listOf_.erase(id);
        kept.push_back(*it);
    }
    if (kept.empty()) return;
    for (const TransferItem& item : kept) Retry(item);
    view_.ListChanged(Failed);
    view_.CountersChanged();
}

void TransferListModel::DeleteFailed(const std::vector<int>& selected) {
    std::vector<int> rows = selected;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    bool changed = false;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it < 0 || *it >= RowCount(Failed)) continue;
        const std::int32_t id = lists_[Failed][static_cast<std::size_t>(*it)].id;
        services_.RemoveFailedTask(id);
        lists_[Failed].erase(lists_[Failed].begin() + *it);
        listOf_.erase(id);
        changed = true;
    }
    if (!changed) return;
    view_.ListChanged(Failed);
    view_.CountersChanged();
}
