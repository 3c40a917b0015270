#include "client/ui/ClientServices.h"

#include "client/local/ClientControl.h"

bool ControlServices::GetRootListing(CloudListing& listing) { return control_.GetRootListing(listing); }

int ControlServices::OpenFolder(CloudListing& listing, const std::string& key, int isRootName, int page,
                                int pageSize) {
    return control_.OpenFolder(listing, key, isRootName, page, pageSize);
}

int ControlServices::CreateMultiLayers(const std::string& parentRef, const std::string& name) {
    return control_.CreateMultiLayers(parentRef, name);
}

int ControlServices::Rename(const std::string& reference, const std::string& newName) {
    return control_.Rename(reference, newName);
}

bool ControlServices::Delete(const std::string& parentRef, const std::vector<std::string>& references) {
    if (control_.GetLoginState() != ClientLoggedIn) return false;
    int error = 0;
    return control_.Http().Delete(parentRef, references, &error) == 1;
}

bool ControlServices::Restore(const std::vector<std::string>& references) {
    if (control_.GetLoginState() != ClientLoggedIn) return false;
    int error = 0;
    return control_.Http().Restore(references, &error) == 1;
}

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
