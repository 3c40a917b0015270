#include "client/ui/CloudBrowserModel.h"

#include <algorithm>
#include <memory>

#include "client/core/TextHelpers.h"
#include "client/ui/ListTexts.h"

namespace {

using namespace browser_flags;

constexpr std::int32_t kKindRootOrGroup = 0x04;

// 100-nanosecond ticks of a steady clock: the pace of status redraws.
std::int64_t NowTicks() {
    using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

CloudBrowserModel::CloudBrowserModel(ClientServices& services, CloudBrowserView& view)
    : services_(services), view_(view) {}

CloudBrowserModel::~CloudBrowserModel() { Close(); }

void CloudBrowserModel::Open() {
    closing_ = false;
    timerArmed_ = false;
    rowsFolder_.clear();
    const Config config = services_.GetConfig();
    refreshInterval_ = std::chrono::milliseconds(std::int64_t{config.FreshCloudDirectoryListInterval} * 1000);
    redrawStepTicks_ = std::int64_t{config.EditProgressRedrawStep} * 10;
    GoRoot();
    checked_.clear();
    Retitle();
    UpdateButtons();
    edits_ = services_.CopyEditTasks();
    for (EditListEntry& e : edits_) e.browserIndex = -1;
    MarkRows(0);
    subscribed_ = services_.Subscribe(this);
}

void CloudBrowserModel::Close() {
    if (subscribed_) {
        services_.Unsubscribe(this);
        subscribed_ = false;
    }
    if (!closing_) DisarmTimer();
    closing_ = true;
}

// ---- navigation and loading ---------------------------------------------------------------

void CloudBrowserModel::GoRoot() {
    stack_.listings.clear();
    CloudListing root;
    if (services_.GetRootListing(root)) {
        stack_.listings.push_back(std::move(root));
        displayPath_ = stack_.GetPath();
    } else {
        displayPath_.clear();
    }
    FillRows(-1);
}

void CloudBrowserModel::GoUp() {
    const std::size_t depth = stack_.listings.size();
    if (depth < 3) {
        GoRoot();
        return;
    }
    stack_.listings.resize(depth - 1);
    displayPath_ = stack_.GetPath();
    PostRefresh();
}

void CloudBrowserModel::ActivateRow(int row) {
    if (!HasTop() || row < 0 || row >= static_cast<int>(stack_.Top().children.size())) return;
    const CloudNode& node = stack_.Top().children[static_cast<std::size_t>(row)];
    if (node.IsFolder() && (node.actionFlags & kRecycled) == 0) {
        CloudListing next;
        next.node = node;
        next.hasMoreItems = 1;
        stack_.listings.push_back(std::move(next));
        displayPath_ = stack_.GetPath();
        PostRefresh();
        return;
    }
    const int result = OpenFile(row);
    if (const char* key = EditResultKey(result); key[0] != '\0') view_.ShowMessage(Text(key));
}

std::string CloudBrowserModel::TopKey() const {
    if (!HasTop()) return std::string();
    const CloudNode& node = stack_.Top().node;
    return (node.kindFlags & kKindRootOrGroup) != 0 ? node.name : node.nodeRef;
}

void CloudBrowserModel::PostRefresh() {
    view_.Post([this] { Refresh(); });
}

void CloudBrowserModel::Refresh() {
    DisarmTimer();
    for (EditListEntry& e : edits_) e.browserIndex = -1;
    if (closing_) return;
    if (!HasTop()) {
        FillRows(-1);
        return;
    }
    const std::string key = TopKey();
    const int isRootName = (stack_.Top().node.kindFlags & kKindRootOrGroup) != 0 ? 1 : 0;
    for (int page = 0;; ++page) {
        if (closing_ || TopKey() != key) break;
        if (LoadPage(page, key, isRootName) != 2) break;
    }
}

int CloudBrowserModel::LoadPage(int page, const std::string& key, int isRootName) {
    const int pageSize = static_cast<int>(services_.GetConfig().FreshCloudDirectoryPageSize);
    CloudListing listing;
    int result = 0;
    int added = 0;
    if (!RunServerAction("The folder could not be opened.",
                         [&] { return services_.OpenFolder(listing, key, isRootName, page, pageSize) != 0; })) {
        result = 0;
    } else if (page >= 2) {
        if (stack_.UpdateTop(listing) == 0) {
            result = 3;
        } else {
            added = static_cast<int>(listing.children.size());
            if (listing.hasMoreItems != 0) {
                result = added == pageSize ? 2 : 0;
                if (result == 0) added = 0;
            } else {
                result = 1;
            }
        }
    } else {
        if (HasTop()) stack_.listings.pop_back();
        stack_.listings.push_back(std::move(listing));
        stack_.DecorateNames();
        displayPath_ = stack_.GetPath();
        result = stack_.Top().hasMoreItems != 0 ? 2 : 1;
        added = -1;
    }
    // A failed or short page, or a changed folder, leaves the rows as the top listing
    // holds them: a full rebuild.
    FillRows(added > 0 ? added : -1);
    return result;
}

void CloudBrowserModel::FillRows(int added) {
    const std::vector<CloudNode> none;
    const std::vector<CloudNode>& children = HasTop() ? stack_.Top().children : none;
    const std::string topRef = HasTop() ? stack_.Top().node.nodeRef : std::string();
    if (added <= 0 || rowsFolder_ != topRef || added > static_cast<int>(children.size()) ||
        rows_.size() + static_cast<std::size_t>(added) != children.size()) {
        rows_ = children;
        checked_.clear();
        rowsFolder_ = topRef;
        MarkRows(0);
        view_.PathChanged();
        view_.RowsReset();
    } else {
        const int first = static_cast<int>(rows_.size());
        rows_.insert(rows_.end(), children.end() - added, children.end());
        MarkRows(first);
        view_.RowsAppended(first, added);
    }
    for (EditListEntry& e : edits_) DrawStatus(e);
    UpdateButtons();
}

// ---- rows and checks ----------------------------------------------------------------------

std::string CloudBrowserModel::CellText(int row, int column) const {
    if (row < 0 || row >= RowCount()) return std::string();
    const CloudNode& node = rows_[static_cast<std::size_t>(row)];
    const bool stamped = (node.kindFlags & kKindRootOrGroup) == 0;
    switch (column) {
        case 0:
            return node.rootKind != RootKindNone ? Text(node.name) : node.name;
        case 1:
            return node.version;
        case 2:
            if (node.IsFolder()) return std::string();
            if (node.actionFlags & kEdit) return Text("Edit");
            if (node.actionFlags & kPreview) return Text("Preview");
            return Text("No permission");
        case 3:
            return node.IsFolder() ? std::string() : FormatByteSize(node.size);
        case 4:
            return stamped ? node.modifier.displayName : std::string();
        case 5:
            return stamped ? TimeToSecond(node.modifier.time) : std::string();
        case 6:
            for (const EditListEntry& e : edits_)
                if (e.browserIndex == row && HasTop() && e.parentRef == stack_.Top().node.nodeRef)
                    return StatusText(e);
            return std::string();
        default:
            return std::string();
    }
}

void CloudBrowserModel::SetChecked(int row, bool checked) {
    if (row < 0 || row >= RowCount() || IsChecked(row) == checked) return;
    if (checked)
        checked_.insert(row);
    else
        checked_.erase(row);
    UpdateButtons();
    view_.RowChecksChanged();
}

void CloudBrowserModel::SelectionChanged(const std::vector<int>& selected, const std::vector<int>& deselected) {
    bool changed = false;
    for (int row : deselected)
        if (row >= 0 && row < RowCount()) changed |= checked_.erase(row) != 0;
    for (int row : selected)
        if (row >= 0 && row < RowCount()) changed |= checked_.insert(row).second;
    if (!changed) return;
    UpdateButtons();
    view_.RowChecksChanged();
}

void CloudBrowserModel::HeaderCheckClicked() {
    if (AllChecked()) {
        checked_.clear();
    } else {
        for (int row = 0; row < RowCount(); ++row) checked_.insert(row);
    }
    UpdateButtons();
    view_.RowChecksChanged();
}

// ---- what the window shows ------------------------------------------------------------------

bool CloudBrowserModel::InRecycleBin() const { return HasTop() && stack_.Top().node.name == "RecycleBin"; }

std::string CloudBrowserModel::Heading(int column) const {
    if (column < 0 || column >= 7 || kHeadingKeys[column][0] == '\0') return std::string();
    return Text(kHeadingKeys[column]);
}

std::string CloudBrowserModel::PathText() const {
    return ShownCloudPath(displayPath_, [this](const std::string& key) { return Text(key); });
}

void CloudBrowserModel::UpdateButtons() {
    BrowserButtons b;
    const std::uint16_t here = HasTop() ? stack_.Top().node.actionFlags : 0;
    b.emptyBinVisible = InRecycleBin();
    b.emptyBinEnabled = b.emptyBinVisible && !stack_.Top().children.empty();
    b.newFolder = (here & kNewFolder) != 0;
    b.upload = (here & kUpload) != 0;
    b.editCaption = Text("Edit");
    std::uint16_t all = 0xFF;
    for (int row : checked_) all &= rows_[static_cast<std::size_t>(row)].actionFlags;
    if (!checked_.empty()) {
        b.download = (all & kDownload) != 0;
        b.remove = (all & kDelete) != 0;
        b.restore = (all & kRecycled) != 0;
    }
    if (checked_.size() == 1) {
        b.rename = (all & kRename) != 0;
        const CloudNode& node = rows_[static_cast<std::size_t>(*checked_.begin())];
        if (!node.IsFolder()) {
            if (all & kEdit) {
                b.edit = true;
                b.editCaption = Text("Edit");
            } else if (all & kPreview) {
                b.edit = true;
                b.editIsPreview = true;
                b.editCaption = Text("Preview");
            }
        }
    }
    buttons_ = b;
    view_.ButtonsChanged();
}

void CloudBrowserModel::Retitle() {
    view_.TitlesChanged();
    UpdateButtons();
    PostRefresh();
}

// ---- edit list and status column -------------------------------------------------------------

void CloudBrowserModel::MarkRows(int first) {
    for (int row = std::max(first, 0); row < RowCount(); ++row)
        for (EditListEntry& e : edits_)
            if (e.reference == rows_[static_cast<std::size_t>(row)].nodeRef) e.browserIndex = row;
}

std::string CloudBrowserModel::StatusText(const EditListEntry& e) const {
    if (e.transferId != -1 && e.transferDirection != 0)
        return Text(e.transferDirection == 1 ? "Uploading" : "Downloading") + " " + PercentText(e.done, e.total);
    return Text(e.kind == EditKindPreview ? "Previewing" : "Editing");
}

void CloudBrowserModel::DrawStatus(EditListEntry& entry) {
    if (!HasTop() || entry.parentRef != stack_.Top().node.nodeRef || entry.browserIndex < 0 ||
        entry.browserIndex >= RowCount())
        return;
    entry.browserTicks = NowTicks();
    view_.StatusChanged(entry.browserIndex);
}

void CloudBrowserModel::ApplyEditState(const EditTaskStateMessage& state) {
    if (state.direction != 0) {
        for (EditListEntry& e : edits_) {
            if (e.reference != state.reference) continue;
            if (state.removed != 0) {
                e.transferId = -1;
                e.transferDirection = 0;
                e.total = e.done = e.speed = 0;
            } else {
                e.transferId = state.transferId;
                e.transferDirection = state.direction;
            }
            DrawStatus(e);
        }
        return;
    }
    if (state.removed == 0) {
        EditListEntry e;
        e.reference = state.reference;
        e.parentRef = state.parentRef;
        e.kind = state.kind;
        for (int row = 0; row < RowCount(); ++row)
            if (rows_[static_cast<std::size_t>(row)].nodeRef == state.reference) {
                e.browserIndex = row;
                break;
            }
        edits_.push_back(e);
        DrawStatus(edits_.back());
        return;
    }
    for (auto it = edits_.begin(); it != edits_.end();) {
        if (it->reference != state.reference) {
            ++it;
            continue;
        }
        const int row = it->browserIndex;
        const bool shown = HasTop() && it->parentRef == stack_.Top().node.nodeRef && row >= 0 && row < RowCount();
        it = edits_.erase(it);
        if (shown) view_.StatusChanged(row);
    }
}

void CloudBrowserModel::ApplyProgress(const TransferProgress& progress) {
    for (EditListEntry& e : edits_) {
        if (e.transferId != progress.id) continue;
        e.total = progress.total;
        e.done = progress.done;
        e.speed = progress.speed;
        if (NowTicks() > e.browserTicks + redrawStepTicks_) DrawStatus(e);
        return;
    }
}

// ---- server actions and the status line --------------------------------------------------

const char* CloudBrowserModel::FailureReasonKey(int error) {
    // The browser has already tried a new login when it names a lost session.
    if (error == HttpErrorNotLoggedIn) return "The session has ended and logging in again failed.";
    if (error == HttpErrorNone) return "The server refused the request.";
    return ::FailureReasonKey(error);
}

bool CloudBrowserModel::RunServerAction(const char* failureKey, const std::function<bool()>& call) {
    bool ok = call();
    if (!ok && services_.LastError() == HttpErrorNotLoggedIn && services_.RenewSession()) ok = call();
    if (ok) {
        SetStatus(std::string(), false);
        return true;
    }
    const int error = services_.LastError();
    SetStatus(Text(failureKey) + " " + Text(FailureReasonKey(error)), error == HttpErrorNotLoggedIn);
    return false;
}

void CloudBrowserModel::SetStatus(const std::string& text, bool offerLogin) {
    if (status_ == text && statusOffersLogin_ == offerLogin) return;
    status_ = text;
    statusOffersLogin_ = offerLogin;
    view_.ShowStatus(status_, statusOffersLogin_);
}

// ---- refresh timer -----------------------------------------------------------------------

void CloudBrowserModel::ArmRefreshAfterUpload() {
    if (closing_ || timerArmed_) return;
    timerArmed_ = true;
    view_.ArmRefreshTimer(refreshInterval_);
}

void CloudBrowserModel::OnRefreshTimer() {
    DisarmTimer();
    PostRefresh();
}

void CloudBrowserModel::DisarmTimer() {
    if (!timerArmed_) return;
    timerArmed_ = false;
    view_.DisarmRefreshTimer();
}

// ---- bus slots: copy and hand over to the UI thread -----------------------------------------

void CloudBrowserModel::OnTransferProgress(const TransferProgress& progress) {
    view_.Post([this, copy = progress] { ApplyProgress(copy); });
}

void CloudBrowserModel::OnTransferTaskFinished(const TransferItem& item) {
    if (item.direction == TransferUpward) view_.Post([this] { ArmRefreshAfterUpload(); });
}

void CloudBrowserModel::OnLanguageChanged(const std::string&) {
    view_.Post([this] { Retitle(); });
}

void CloudBrowserModel::OnEditTaskState(const EditTaskStateMessage& state) {
    view_.Post([this, copy = state] { ApplyEditState(copy); });
}

// ---- commands ------------------------------------------------------------------------------

const char* CloudBrowserModel::EditResultKey(int result) {
    switch (result) {
        case 1: return "Add download task failed.";
        case 2: return "File exists in the edit list.";
        case 3: return "Exceed the maximum of the edit file. Please CLOSE some open files.";
        case 4: return "Local file has been occupied.";
        case 5: return "No permissions to open the file.";
        default: return "";
    }
}

EditPreviewTaskInfo CloudBrowserModel::TaskFor(const CloudNode& node, std::int32_t kind) const {
    EditPreviewTaskInfo info;
    info.kind = kind;
    info.size = node.size;
    info.remoteName = "/" + node.name;
    info.remoteFolderPath = displayPath_;
    info.reference = node.nodeRef;
    info.parentRef = HasTop() ? stack_.Top().node.nodeRef : std::string();
    return info;
}

int CloudBrowserModel::OpenFile(int row) {
    if (!HasTop() || row < 0 || row >= static_cast<int>(stack_.Top().children.size())) return -1;
    const CloudNode& node = stack_.Top().children[static_cast<std::size_t>(row)];
    if (node.actionFlags & kEdit) return services_.AddEditTask(TaskFor(node, EditKindEdit));
    if (node.actionFlags & kPreview) return services_.AddEditTask(TaskFor(node, EditKindPreview));
    return 5;
}

void CloudBrowserModel::QueueUpload(const std::vector<std::string>& paths) {
    if (paths.empty() || !HasTop()) return;
    TransferBatchTask batch;
    batch.direction = TransferUpward;
    batch.destinationRef = stack_.Top().node.nodeRef;
    batch.remotePath = displayPath_;
    batch.paths = paths;
    services_.AddBatchTask(batch);
    view_.OpenTransferList();
}

PickerRequest CloudBrowserModel::Picker(bool folderOnly, const char* titleKey, const std::string& filter) const {
    PickerRequest request;
    request.folderOnly = folderOnly;
    request.title = Text(titleKey);
    request.filter = filter;
    request.nameLabel = Text("Item Name:");
    request.okText = Text("OK");
    request.refusalText = Text("You can't open this location using this program. Please try a different location.");
    return request;
}

void CloudBrowserModel::Upload() {
    if (!HasTop()) return;
    services_.ForwardTip(Text(
        "You can upload folder(s) and/or file(s) by drag it to main window, or use 'Ctrl+C' to copy folder(s) "
        "and/or file(s) and then 'Ctrl+V' to paste them in main window more easily."));
    const std::optional<std::vector<std::string>> chosen = view_.PickLocal(
        Picker(false, "Select files and folders to upload - Dravik", Text("All files and folders") + "(*.*)"));
    if (!chosen) return;
    std::vector<std::string> paths;
    for (const std::string& p : *chosen)
        if (!p.empty()) paths.push_back(ToSlashPath(p));
    QueueUpload(paths);  // OK with nothing chosen queues nothing
}

void CloudBrowserModel::UploadLocalPaths(const std::vector<std::string>& localPaths) {
    std::vector<std::string> paths;
    for (const std::string& p : localPaths)
        if (!p.empty()) paths.push_back(ToSlashPath(p));
    if (paths.empty() || !HasTop()) return;
    // The same right as the Upload button.
    if ((stack_.Top().node.actionFlags & kUpload) == 0) {
        view_.ShowMessage(Text("No permission to UPLOAD."));
        return;
    }
    QueueUpload(paths);
}

void CloudBrowserModel::NewFolder() {
    if (!HasTop()) return;
    TextInputRequest request;
    request.caption = Text("Input Window - New Folder");
    request.prompt = Text("Input the new Folder Name:");
    request.okText = Text("OK");
    request.cancelText = Text("Cancel");
    request.resetText = Text("Reset");
    const std::optional<std::string> name = view_.InputText(request);
    if (!name || name->empty()) return;
    const std::string parent = stack_.Top().node.nodeRef;
    if (RunServerAction("The folder could not be created.",
                        [&] { return services_.CreateMultiLayers(parent, *name) == 1; })) {
        PostRefresh();
    }
}

void CloudBrowserModel::Download() {
    if (checked_.empty() || !HasTop()) return;
    const std::optional<std::vector<std::string>> chosen =
        view_.PickLocal(Picker(true, "Select folder to save download files - Dravik", Text("Folders") + "(*.)"));
    if (!chosen || chosen->size() != 1) return;
    std::string target = ToSlashPath(chosen->front());
    while (target.size() > 1 && target.back() == '/') target.pop_back();
    if (target.empty()) return;
    TransferBatchTask batch;
    batch.direction = TransferDownward;
    batch.destinationRef = stack_.Top().node.nodeRef;
    batch.remotePath = displayPath_;
    batch.target = target;
    const std::vector<CloudNode>& children = stack_.Top().children;
    for (int row : checked_) {
        if (row < 0 || row >= static_cast<int>(children.size())) continue;
        const CloudNode& node = children[static_cast<std::size_t>(row)];
        batch.paths.push_back(node.nodeRef);
        TransferEntry entry;
        entry.isFolder = node.kindFlags == 1 ? 1 : 0;
        entry.relativePath = "/" + node.name;
        entry.reference = node.nodeRef;
        entry.size = node.size;
        batch.items.push_back(entry);
    }
    if (batch.paths.empty()) return;
    services_.AddBatchTask(batch);
    view_.OpenTransferList();
}

std::vector<std::string> CloudBrowserModel::CheckedReferences() const {
    std::vector<std::string> refs;
    for (int row : checked_)
        if (row >= 0 && row < RowCount()) refs.push_back(rows_[static_cast<std::size_t>(row)].nodeRef);
    return refs;
}

void CloudBrowserModel::Delete() {
    if (!HasTop()) return;
    if (InRecycleBin() && !view_.Confirm(Text("Delete files"), Text("Are you sure you want to delete？"))) return;
    const std::vector<std::string> refs = CheckedReferences();
    if (refs.empty() || services_.GetLoginState() != 2) return;
    const std::string parent = stack_.Top().node.nodeRef;
    if (RunServerAction("The items could not be deleted.", [&] { return services_.Delete(parent, refs); })) {
        PostRefresh();
    }
}

void CloudBrowserModel::Restore() {
    const std::vector<std::string> refs = CheckedReferences();
    if (refs.empty() || services_.GetLoginState() != 2) return;
    if (RunServerAction("The items could not be restored.", [&] { return services_.Restore(refs); })) PostRefresh();
}

void CloudBrowserModel::Rename() {
    if (checked_.size() != 1) return;
    const CloudNode node = rows_[static_cast<std::size_t>(*checked_.begin())];
    TextInputRequest request;
    request.caption = Text("Input Window - Rename");
    request.prompt = Text("Old name is \"") + node.name + Text("\", Input the new Name:");
    request.okText = Text("OK");
    request.cancelText = Text("Cancel");
    request.resetText = Text("Reset");
    request.initialText = node.name;
    const std::optional<std::string> name = view_.InputText(request);
    if (!name || name->empty() || *name == node.name) return;
    if (RunServerAction("The item could not be renamed.",
                        [&] { return services_.Rename(node.nodeRef, *name) == 1; })) {
        PostRefresh();
    }
}

void CloudBrowserModel::Edit() {
    if (checked_.size() != 1 || !HasTop()) return;
    const int row = *checked_.begin();
    if (row >= static_cast<int>(stack_.Top().children.size())) return;
    const CloudNode& node = stack_.Top().children[static_cast<std::size_t>(row)];
    if (node.IsFolder()) return;
    if (node.actionFlags & kEdit) {
        services_.ForwardTip(Text("Edit file by double click, auto-upload when save it local."));
        services_.AddEditTask(TaskFor(node, EditKindEdit));
    } else if (node.actionFlags & kPreview) {
        services_.AddEditTask(TaskFor(node, EditKindPreview));
    }
}

void CloudBrowserModel::EmptyRecycleBin() {
    if (!HasTop()) return;
    if (!view_.Confirm(Text("Empty Recycle Bin"), Text("Are you sure you want to empty the Recycle Bin？"))) return;
    std::vector<std::string> refs;
    for (const CloudNode& node : stack_.Top().children) refs.push_back(node.nodeRef);
    if (refs.empty() || services_.GetLoginState() != 2) return;
    const std::string bin = stack_.Top().node.nodeRef;
    if (RunServerAction("The Recycle Bin could not be emptied.", [&] { return services_.Delete(bin, refs); })) {
        PostRefresh();
    }
}
