#pragma once
// What the cloud browser and the transfer list need of the controller and its services,
// as one narrow interface: listings and folder operations, the transfer queue and its
// lists, the edit tasks, the texts of the language in force, tips for the tray and the
// bus registration. ControlServices implements it over the controller; tests supply a
// fake. Every call comes from the UI thread, except Subscribe/Unsubscribe's listener,
// whose slots the bus runs on its own thread.
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <vector>

#include "client/core/CloudRecords.h"
#include "client/core/Config.h"
#include "client/core/EditRecords.h"
#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"

class ClientControl;

class ClientServices {
public:
    virtual ~ClientServices() = default;

    // Listings (see ClientControl): the root listing, one page of a folder.
    virtual bool GetRootListing(CloudListing& listing) = 0;
    virtual int OpenFolder(CloudListing& listing, const std::string& key, int isRootName, int page, int pageSize) = 0;
    // Folder operations: 1 (or true) on success.
    virtual int CreateMultiLayers(const std::string& parentRef, const std::string& name) = 0;
    virtual int Rename(const std::string& reference, const std::string& newName) = 0;
    virtual bool Delete(const std::string& parentRef, const std::vector<std::string>& references) = 0;
    virtual bool Restore(const std::vector<std::string>& references) = 0;
    virtual int GetLoginState() const = 0;
    // The HTTP error code (HttpErrorCode) of the last failed listing or folder operation
    // above; HttpErrorNotLoggedIn also when the server session is gone (no call was made).
    virtual int LastError() const = 0;
    // A lost server session: one new login with the credentials of the current login.
    // True when the session is back.
    virtual bool RenewSession() = 0;

    // The transfer queue.
    virtual void AddBatchTask(const TransferBatchTask& batch) = 0;
    virtual std::list<TransferFileTask> CopyWaitingTasks() = 0;
    virtual std::list<TransferFileTask> CopyRunningTasks() = 0;
    virtual std::deque<TransferItem> CopyFinishedTasks() = 0;
    virtual std::deque<TransferItem> CopyFailedTasks() = 0;
    // Removes the item of `id` from the queue's failed list; false when none has it.
    virtual bool RemoveFailedTask(std::int32_t id) = 0;

    // The edit and preview tasks: AddTask's result (0 added, 1 to 4 refused).
    virtual int AddEditTask(const EditPreviewTaskInfo& info) = 0;
    virtual std::list<EditListEntry> CopyEditTasks() = 0;

    // The display text of an English key in the language in force; the language's code.
    virtual std::string Text(const std::string& key) const = 0;
    virtual std::string CurrentLanguage() const = 0;
    virtual Config GetConfig() const = 0;
    // Hands a tip to the tray window (a source 5, type 3 bus message).
    virtual void ForwardTip(const std::string& text) = 0;

    // Bus registration while the bus runs; Unsubscribe returns once no slot of the
    // listener runs or will run.
    virtual bool Subscribe(MessageListener* listener) = 0;
    virtual void Unsubscribe(MessageListener* listener) = 0;
};

// The interface over the program's controller (not owned; it outlives the windows).
class ControlServices final : public ClientServices {
public:
    explicit ControlServices(ClientControl& control) : control_(control) {}

    bool GetRootListing(CloudListing& listing) override;
    int OpenFolder(CloudListing& listing, const std::string& key, int isRootName, int page, int pageSize) override;
    int CreateMultiLayers(const std::string& parentRef, const std::string& name) override;
    int Rename(const std::string& reference, const std::string& newName) override;
    bool Delete(const std::string& parentRef, const std::vector<std::string>& references) override;
    bool Restore(const std::vector<std::string>& references) override;
    int GetLoginState() const override;
    int LastError() const override { return lastError_; }
    bool RenewSession() override;
    void AddBatchTask(const TransferBatchTask& batch) override;
    std::list<TransferFileTask> CopyWaitingTasks() override;
    std::list<TransferFileTask> CopyRunningTasks() override;
    std::deque<TransferItem> CopyFinishedTasks() override;
    std::deque<TransferItem> CopyFailedTasks() override;
    bool RemoveFailedTask(std::int32_t id) override;
    int AddEditTask(const EditPreviewTaskInfo& info) override;
    std::list<EditListEntry> CopyEditTasks() override;
    std::string Text(const std::string& key) const override;
    std::string CurrentLanguage() const override;
    Config GetConfig() const override;
    void ForwardTip(const std::string& text) override;
    bool Subscribe(MessageListener* listener) override;
    void Unsubscribe(MessageListener* listener) override;

private:
    // The result of a server call, with its error code kept for LastError.
    int Keep(int result, int error);

    ClientControl& control_;
    int lastError_ = 0;
};
