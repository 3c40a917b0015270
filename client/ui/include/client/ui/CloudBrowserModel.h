#pragma once
// What the cloud browser window (CMainDlg) knows and decides, free of any widget: the
// navigation stack from the cloud root to the folder shown, the page loop that loads that
// folder, the rows with their check marks, the state of every button, the status column
// of files open for editing or preview, and the commands (upload, new folder, download,
// delete, restore, rename, edit, empty recycle bin, drop and paste of local files).
//
// Threads. Everything runs on the UI thread, where the server calls of the commands and
// the page loop block it as they run. The model is a bus listener while it is open: its
// slots (transfer progress, finished transfer, language change, edit task state) run on
// the bus thread, copy their payload and hand it to the UI thread through the view's
// Post; nothing the slots touch is shared with the UI thread. Close (or the destructor)
// unregisters the listener; once it returns no slot runs any more, and work still posted
// is dropped by the view together with the window.
//
// The view (the Qt window, or a recording fake in tests) shows what the model holds and
// answers its questions (pickers, input dialog, confirmation, messages).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/core/CloudRecords.h"
#include "client/core/EditRecords.h"
#include "client/core/HttpClient.h"
#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"
#include "client/ui/ClientServices.h"

// The one-line input the New Folder and Rename commands ask for.
struct TextInputRequest {
    std::string caption, prompt, okText, cancelText, resetText;
    std::string initialText;
};

// The file-and-folder picker the Upload and Download commands open.
struct PickerRequest {
    bool folderOnly = false;    // Download: exactly one folder
    std::string title, filter, nameLabel, okText, refusalText;
    std::string initialFolder;  // the user's home folder
};

class CloudBrowserView {
public:
    virtual ~CloudBrowserView() = default;
    // Runs `work` later on the UI thread, after what was posted before it.
    virtual void Post(std::function<void()> work) = 0;

    virtual void RowsReset() = 0;                     // every row anew
    virtual void RowsAppended(int first, int count) = 0;
    virtual void RowChecksChanged() = 0;              // check marks (and the header box)
    virtual void StatusChanged(int row) = 0;          // the status column of one row
    virtual void ButtonsChanged() = 0;
    virtual void PathChanged() = 0;
    virtual void TitlesChanged() = 0;                 // caption, headings, button captions

    // The one-shot refresh timer.
    virtual void ArmRefreshTimer(std::chrono::milliseconds interval) = 0;
    virtual void DisarmRefreshTimer() = 0;

    // The status line under the list: what the last server action that failed failed
    // with, without blocking ("" hides it). `offerLogin` adds the way to the login dialog.
    virtual void ShowStatus(const std::string& text, bool offerLogin) = 0;

    // Modal questions and messages.
    virtual void ShowMessage(const std::string& text) = 0;
    // OK/Cancel with the exclamation icon; true for OK.
    virtual bool Confirm(const std::string& caption, const std::string& text) = 0;
    // The typed text on OK; nothing on Cancel.
    virtual std::optional<std::string> InputText(const TextInputRequest& request) = 0;
    // The chosen local paths (UTF-8, '/' separators) on OK, possibly none; nothing on Cancel.
    virtual std::optional<std::vector<std::string>> PickLocal(const PickerRequest& request) = 0;
    // Opens (or raises) the transfer list window.
    virtual void OpenTransferList() = 0;
};

// The state of the buttons.
struct BrowserButtons {
    bool newFolder = false, upload = false, download = false, remove = false, restore = false, rename = false;
    bool edit = false;
    bool editIsPreview = false;  // the Edit button reads "Preview" with the preview bitmaps
    std::string editCaption;     // "Edit", the edit text or the preview text
    bool emptyBinVisible = false, emptyBinEnabled = false;
};

// Action bits of a node (ActionFlags.h names them for the controller's side).
namespace browser_flags {
constexpr std::uint16_t kDownload = 0x01, kDelete = 0x02, kRename = 0x04, kEdit = 0x08, kPreview = 0x10,
                        kNewFolder = 0x20, kUpload = 0x40, kRecycled = 0x80;
}

class CloudBrowserModel final : public MessageListener {
public:
    // Column widths are W × n / 902 of the window's width W.
    static constexpr int kColumnWeights[7] = {320, 40, 60, 80, 60, 120, 120};
    static constexpr const char* kHeadingKeys[7] = {"Name", "Ver", "Permission", "Size", "Modifier", "Modify Time", ""};

    CloudBrowserModel(ClientServices& services, CloudBrowserView& view);
    ~CloudBrowserModel() override;
    CloudBrowserModel(const CloudBrowserModel&) = delete;
    CloudBrowserModel& operator=(const CloudBrowserModel&) = delete;

    // Opening: the root listing, the texts, the edit list, the bus registration.
    void Open();
    // Closing: leaves the bus, disarms the timer and stops a page loop under way.
    void Close();

    // ---- navigation and loading
    void GoRoot();
    void GoUp();
    // A double-click on a row: enters a folder or opens a file.
    void ActivateRow(int row);
    // Reloads the current folder page by page (the refresh button, the timer, a command).
    void Refresh();
    // Asks for a Refresh later on the UI thread.
    void PostRefresh();
    // The refresh timer fired.
    void OnRefreshTimer();
    // Re-reads every text in the language in force, then reloads the folder.
    void Retitle();

    // ---- rows and checks
    int RowCount() const { return static_cast<int>(rows_.size()); }
    const CloudNode& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    // Column texts of a row (columns 0 to 6).
    std::string CellText(int row, int column) const;
    bool IsChecked(int row) const { return checked_.count(row) != 0; }
    const std::set<int>& CheckedRows() const { return checked_; }
    bool AllChecked() const { return !rows_.empty() && checked_.size() == rows_.size(); }
    void SetChecked(int row, bool checked);
    // Selection follows checks: a row that gains the selection is checked, one that loses
    // it is unchecked.
    void SelectionChanged(const std::vector<int>& selected, const std::vector<int>& deselected);
    // The header box: unchecks every row when all are checked, else checks all.
    void HeaderCheckClicked();

    // ---- what the window shows
    const BrowserButtons& Buttons() const { return buttons_; }
    std::string PathText() const;
    const std::string& DisplayPath() const { return displayPath_; }
    std::string Caption() const { return Text("Dravik"); }
    std::string Heading(int column) const;
    std::string ButtonCaption(const char* key) const { return Text(key); }
    const CloudNavigationStack& Stack() const { return stack_; }
    bool HasTop() const { return !stack_.listings.empty(); }
    bool InRecycleBin() const;
    std::vector<EditListEntry> EditEntries() const { return {edits_.begin(), edits_.end()}; }
    // The status line's text ("" when hidden) and whether it offers the login dialog.
    const std::string& Status() const { return status_; }
    bool StatusOffersLogin() const { return statusOffersLogin_; }

    // ---- commands
    void Upload();
    void NewFolder();
    void Download();
    void Delete();
    void Restore();
    void Rename();
    void Edit();
    void EmptyRecycleBin();
    void TransferList() { view_.OpenTransferList(); }
    // Local files dropped on the window or pasted from the clipboard ('/' paths).
    void UploadLocalPaths(const std::vector<std::string>& paths);
    // The result of opening row `row` as a file (0 added, 1 to 5 refused, -1 nothing).
    int OpenFile(int row);
    // The message of an edit task's result ("" for 0).
    static const char* EditResultKey(int result);

    // ---- bus slots (bus thread)
    void OnTransferProgress(const TransferProgress& progress) override;
    void OnTransferTaskFinished(const TransferItem& item) override;
    void OnLanguageChanged(const std::string& languageCode) override;
    void OnEditTaskState(const EditTaskStateMessage& state) override;

    // The same, on the UI thread (what the slots post).
    void ApplyProgress(const TransferProgress& progress);
    void ApplyEditState(const EditTaskStateMessage& state);
    void ArmRefreshAfterUpload();

    // The reason shown for a failed server action's HTTP error code.
    static const char* FailureReasonKey(int error);

private:
    std::string Text(const std::string& key) const { return services_.Text(key); }
    // Runs one server action (`call` is true on success). A lost session gets one new
    // login and the action one more try. A failure shows `failureKey` and its reason on
    // the status line (with the way to the login dialog when the session is gone); a
    // success clears the line.
    bool RunServerAction(const char* failureKey, const std::function<bool()>& call);
    void SetStatus(const std::string& text, bool offerLogin);
    // Loads one page: 0 failed, 1 the last page, 2 more follow, 3 the folder changed.
    int LoadPage(int page, const std::string& key, int isRootName);
    std::string TopKey() const;
    // Rows from the top listing: all anew, or its last `added` children appended.
    void FillRows(int added);
    void UpdateButtons();
    void MarkRows(int first);
    std::string StatusText(const EditListEntry& entry) const;
    void DrawStatus(EditListEntry& entry);
    std::vector<std::string> CheckedReferences() const;
    EditPreviewTaskInfo TaskFor(const CloudNode& node, std::int32_t kind) const;
    PickerRequest Picker(bool folderOnly, const char* titleKey, const std::string& filter) const;
    void QueueUpload(const std::vector<std::string>& paths);
    void DisarmTimer();

    ClientServices& services_;
    CloudBrowserView& view_;
    CloudNavigationStack stack_;
    std::string displayPath_;
    std::string rowsFolder_;  // the folder whose children the rows are
    std::vector<CloudNode> rows_;
    std::set<int> checked_;
    std::list<EditListEntry> edits_;
    BrowserButtons buttons_;
    std::chrono::milliseconds refreshInterval_{5000};
    std::int64_t redrawStepTicks_ = 5000;
    bool timerArmed_ = false;
    std::string status_;
    bool statusOffersLogin_ = false;
    bool subscribed_ = false;
    bool closing_ = false;
};
