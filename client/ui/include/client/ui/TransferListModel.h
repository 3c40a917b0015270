#pragma once
// What the transfer list window (CTransferListDlg) knows and decides, free of any widget:
// the running list (tasks running, then tasks waiting), the succeeded and the failed
// list, their counters, the rows' tips, and the retry and delete commands of the failed
// list.
//
// The rows come from a snapshot of the transfer queue (at opening, on Refresh and on a
// language change) and between snapshots from the queue's bus events. A ready flag keeps
// the two apart: while a snapshot is pending the bus slots drop their events, and the
// snapshot is taken after the flag is set again, so an event raised around the copy is
// either in the copy or applied after it; applying an event is idempotent by task id, so
// one that is both changes nothing twice.
//
// Threads: the bus slots run on the bus thread; they read the ready flag, copy the
// payload and hand it to the UI thread through the view's Post. Everything else runs on
// the UI thread. Close (or the destructor) unregisters the listener; once it returns no
// slot runs any more.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "client/core/HttpClient.h"
#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"
#include "client/ui/ClientServices.h"

class TransferListView {
public:
    virtual ~TransferListView() = default;
    // Runs `work` later on the UI thread, after what was posted before it.
    virtual void Post(std::function<void()> work) = 0;
    // The rows of one list changed (0 running, 1 succeeded, 2 failed): all of them anew.
    virtual void ListChanged(int list) = 0;
    // Finer changes that live events make, so that a long list is not rebuilt for each:
    // `change` inserts rows [first, first + count) or removes them (the view runs it
    // between its own notices), or the cells of one row changed.
    virtual void InsertRows(int list, int first, int count, const std::function<void()>& change) = 0;
    virtual void RemoveRows(int list, int first, int count, const std::function<void()>& change) = 0;
    virtual void RowChanged(int list, int row) = 0;
    virtual void CountersChanged() = 0;
    virtual void TitlesChanged() = 0;
};

// One row of any of the three lists.
struct TransferRow {
    std::int32_t id = -1;
    std::int32_t state = TransferWaiting;
    std::int32_t direction = 0;
    std::int32_t kind = TransferOrdinary;
    bool isFolder = false;
    std::int64_t size = 0;
    std::string name;          // the text after the last '/' of the relative path
    std::string path;          // finished lists: where the item went (cloud path or local path)
    std::int32_t failure = 0;  // failed list: why (TransferFailure or an HTTP error code)
    std::string reason;        // failed list: the queue's own words, when it has no code
    std::string progress;      // running list: "0.0%" or "12.50%"; "" for a waiting row
    std::string finishTime;    // finished lists: date and time to the second
};

class TransferListModel final : public MessageListener {
public:
    enum List : int { Running = 0, Succeeded = 1, Failed = 2 };
    // Column widths are W × n / 902 of the window's width W.
    static constexpr int kRunningWeights[5] = {320, 80, 80, 80, 80};
    static constexpr int kFinishedWeights[8] = {320, 80, 120, 80, 80, 80, 60, 150};
    static constexpr int kRetryColumn = 6;
    static constexpr int kReasonColumn = 7;  // failed list only

    TransferListModel(ClientServices& services, TransferListView& view);
    ~TransferListModel() override;
    TransferListModel(const TransferListModel&) = delete;
    TransferListModel& operator=(const TransferListModel&) = delete;

    // Opening: ready, registered on the bus, then a re-title that takes the first snapshot.
    void Open();
    // Leaves the bus and drops what is posted later.
    void Close();

    // ---- what the window shows
    const std::deque<TransferRow>& Rows(int list) const;
    int RowCount(int list) const { return static_cast<int>(Rows(list).size()); }
    int ColumnCount(int list) const { return list == Running ? 5 : list == Succeeded ? 6 : 8; }
    std::string CellText(int list, int row, int column) const;
    std::string Heading(int list, int column) const;
    // The tip of a row: the local path of its task, when one was recorded.
    std::string Tip(std::int32_t id) const;
    std::string CounterText() const;
    std::string Caption() const { return Text("Transfer List"); }
    std::string TabText(int tab) const;
    std::string ButtonText(const char* key) const { return Text(key); }
    int WaitingCount() const { return RowCount(Running) - transferring_; }
    int TransferringCount() const { return transferring_; }
    bool Ready() const { return ready_.load(); }
    int CurrentTab() const { return tab_; }

    // ---- commands (UI thread)
    void SelectTab(int tab);
    // Refresh: a new snapshot, unless one is pending.
    void Refresh();
    // A click on a cell of the failed list: the Retry column retries the row's item.
    void FailedCellClicked(int row, int column);
    void RetryAll();
    // Deletes the given rows of the failed list (and their items from the queue).
    void DeleteFailed(const std::vector<int>& rows);

    // ---- bus slots (bus thread)
    void OnTransferTaskAdded(const TransferFileTask& task) override;
    void OnTransferTaskStarted(const TransferFileTask& task) override;
    void OnTransferProgress(const TransferProgress& progress) override;
    void OnTransferTaskFinished(const TransferItem& item) override;
    void OnLanguageChanged(const std::string& languageCode) override;

    // ---- the same on the UI thread (what the slots post)
    void ApplyAdded(const TransferFileTask& task);
    void ApplyStarted(const TransferFileTask& task);
    void ApplyProgress(const TransferProgress& progress);
    void ApplyFinished(const TransferItem& item);
    void Retitle();
    // Takes the snapshot (while the ready flag is clear).
    void Reload();
    // How many rows the live events have looked at so far while finding a task's row:
    // bounded per event, however long the lists are.
    std::uint64_t RowsExamined() const { return examined_; }

private:
    std::string Text(const std::string& key) const { return services_.Text(key); }
    template <class Record>
    static TransferRow RowFrom(const Record& record);
    static TransferRow RowOf(const TransferFileTask& task, bool running);
    TransferRow RowOf(const TransferItem& item) const;
    void RecordTip(std::int32_t id, const std::string& localFolder, const std::string& relativePath);
    int Find(const std::deque<TransferRow>& rows, std::int32_t id, int from = 0, int to = -1);
    // Removes row `row` of a list with its notice.
    void RemoveRow(int list, int row);
    // The list that holds a row of `id`, or -1 (kept with every change of the rows).
    int ListOf(std::int32_t id) const;
    void Index(std::int32_t id, int list);
    void ReIndex();
    // Queues the item again; false (nothing queued) for an unknown direction.
    bool Retry(const TransferItem& item);

    ClientServices& services_;
    TransferListView& view_;
    // Deques: the newest finished item goes on top and a started task leaves near the
    // front, each at a cost that does not grow with the list.
    std::deque<TransferRow> lists_[3];
    std::unordered_map<std::int32_t, int> listOf_;  // id -> list of its row
    std::uint64_t examined_ = 0;
    int transferring_ = 0;  // the first rows of the running list
    int tab_ = 0;
    std::map<std::int32_t, std::string> tips_;
    std::atomic<bool> ready_{false};
    bool subscribed_ = false;
};
