#include "client/ui/ClientServices.h"

#include "client/local/ClientControl.h"

bool ControlServices::GetRootListing(CloudListing& listing) { return control_.GetRootListing(listing); }

int ControlServices::Keep(int result, int error) {
    // A call refused before it was made, while logged in, found the HTTP client logged
    // out: the session is gone (an earlier new login failed).
    if (result != 1 && error == HttpErrorNone && control_.GetLoginState() == ClientLoggedIn &&
        control_.Http().GetLoginState() != HttpLoggedIn) {
        error = HttpErrorNotLoggedIn;
    }
    lastError_ = result == 1 ? HttpErrorNone : error;
    return result;
}

int ControlServices::OpenFolder(CloudListing& listing, const std::string& key, int isRootName, int page,
                                int pageSize) {
    int error = 0;
    const int result = control_.OpenFolder(listing, key, isRootName, page, pageSize, &error);
    return Keep(result, error);
}

int ControlServices::CreateMultiLayers(const std::string& parentRef, const std::string& name) {
    int error = 0;
    const int result = control_.CreateMultiLayers(parentRef, name, &error);
    return Keep(result, error);
}

int ControlServices::Rename(const std::string& reference, const std::string& newName) {
    int error = 0;
    const int result = control_.Rename(reference, newName, &error);
    return Keep(result, error);
}

bool ControlServices::Delete(const std::string& parentRef, const std::vector<std::string>& references) {
    if (control_.GetLoginState() != ClientLoggedIn) return Keep(0, HttpErrorNone) == 1;
    int error = 0;
    const int result = control_.Http().Delete(parentRef, references, &error);
    return Keep(result, error) == 1;
}

bool ControlServices::Restore(const std::vector<std::string>& references) {
    if (control_.GetLoginState() != ClientLoggedIn) return Keep(0, HttpErrorNone) == 1;
    int error = 0;
    const int result = control_.Http().Restore(references, &error);
    return Keep(result, error) == 1;
}

bool ControlServices::RenewSession() { return control_.RenewSession(); }

int ControlServices::GetLoginState() const { return control_.GetLoginState(); }

void ControlServices::AddBatchTask(const TransferBatchTask& batch) { control_.Transfers().AddBatchTask(batch); }

std::list<TransferFileTask> ControlServices::CopyWaitingTasks() {
    std::list<TransferFileTask> out;
    control_.CopyWaitingTasks(out);
    return out;
}

std::list<TransferFileTask> ControlServices::CopyRunningTasks() {
    std::list<TransferFileTask> out;
    control_.CopyRunningTasks(out);
    return out;
}

std::deque<TransferItem> ControlServices::CopyFinishedTasks() {
    std::deque<TransferItem> out;
    control_.CopyFinishedTasks(out);
    return out;
}

std::deque<TransferItem> ControlServices::CopyFailedTasks() {
    std::deque<TransferItem> out;
    control_.CopyFailedTasks(out);
    return out;
}

bool ControlServices::RemoveFailedTask(std::int32_t id) { return control_.Transfers().FailedList().RemoveById(id); }

int ControlServices::AddEditTask(const EditPreviewTaskInfo& info) { return control_.Edits().AddTask(info); }

std::list<EditListEntry> ControlServices::CopyEditTasks() {
    std::list<EditListEntry> out;
    control_.CopyEditTasks(out);
    return out;
}

std::string ControlServices::Text(const std::string& key) const { return control_.GetText(key); }

std::string ControlServices::CurrentLanguage() const { return control_.Languages().GetCurrentCode(); }

Config ControlServices::GetConfig() const { return control_.GetConfig(); }

void ControlServices::ForwardTip(const std::string& text) {
    control_.ForwardViewMessage(ControlMessage::Make(MessageSourceControl, MessageTip, text));
}

bool ControlServices::Subscribe(MessageListener* listener) { return control_.Bus().AddListener(listener); }

void ControlServices::Unsubscribe(MessageListener* listener) { control_.Bus().RemoveListener(listener); }
