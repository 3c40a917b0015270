#pragma once
// The sync-details feed lists: the items being committed now (running), the items
// committed successfully (finished, newest first) and the items that failed (newest
// first). They live for the whole run, each behind its own lock, whether or not the
// sync-details window is open; the commit threads and the HTTP client report into them
// from any thread.
//
// An open page registers a sink. Every change is handed to the sink as a copy, in list
// order, with no lock of the list held, so a page never blocks a worker while it holds a
// lock and a page handler may take the list lock itself (a snapshot). The event may be
// handed on by another reporting thread that is delivering at that moment. A page opens with OpenPage, which
// registers its sink and copies the list under the same lock: each item is then either
// in the copy or reported to the sink afterwards, never both and never neither. A sink
// may still be called once after the page unregistered (a delivery that had started),
// so it must only post (to a window that may be gone). Running items are identified by a
// serial number, assigned when the item is added (the first is 1); the page uses it as
// the row id. The task node given at add time is only used as a key afterwards: its
// partner's checksum is copied when the item is added and never read again.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

template <typename T> class TreeNode;
struct SyncTaskInfo;

struct SyncDoingItem {
    const TreeNode<SyncTaskInfo>* key = nullptr;  // identity only, never dereferenced
    std::string Path;
    std::int64_t Size = 0;
    std::uint32_t bLocal = 0;   // 0 applied on the server, 1 on the local disk
    std::uint32_t bDelete = 0;  // 1 deletion, 0 transfer
    double percent = 0;         // last reported percentage
    std::int32_t rowId = 0;     // the item's serial: row id on the running page
    std::string checksum;       // the partner file's checksum when the item was added
};

// One finished or failed item; also the record of the history file.
struct SyncDoneItem {
    std::string File;
    std::string Path;
    std::string Time;
    std::int64_t Size = 0;
    std::uint32_t bLocal = 0;
    std::uint32_t bDelete = 0;
    std::int64_t Index = 0;
    // A failed item: why it failed, as a key of the program's language table (empty when
    // nothing is known), and the number its "%d" shows (an HTTP status, say).
    std::string Reason;
    std::int64_t ReasonCode = 0;
};

// Page messages (the numbers the pages' windows use).
constexpr std::uint32_t WM_STATE_ADD_ITEM = 0x8065;
constexpr std::uint32_t WM_STATE_PROGRESS = 0x8066;
constexpr std::uint32_t WM_STATE_REMOVE_ITEM = 0x8067;
constexpr std::uint32_t WM_STATE_CLEAR = 0x8068;

// What a page receives. `wParam` follows the page messages: the row id for the running
// page's progress and removal, -1 (insert at the top) for finished and failed rows.
// WM_STATE_CLEAR on any page: its list was emptied.
struct FeedEvent {
    std::uint32_t message = 0;
    std::int64_t wParam = 0;
    double percent = 0;
    SyncDoingItem doing;  // WM_STATE_ADD_ITEM on the running page
    SyncDoneItem done;    // WM_STATE_ADD_ITEM on the finished or failed page
};

// A page's receiver; typically it posts the event to the page's window.
using FeedSink = std::function<void(const FeedEvent&)>;

class CStateDoingPage {
public:
    static void AddDoingItem(const TreeNode<SyncTaskInfo>* key, std::uint32_t bLocal, std::int64_t size,
                             std::uint32_t bDelete, std::uint8_t percent, std::string path);
    // Progress of the first running item whose partner checksum (taken when it was added)
    // equals that of `node`'s partner; the percentage is clamped to 100.
    static void UpdateProgressByChecksum(const TreeNode<SyncTaskInfo>& node, double percent);
    // Progress of the first running item added with this key (passed on unclamped).
    static void UpdateProgressById(const TreeNode<SyncTaskInfo>* key, double percent);
    static void RemoveDoingItem(const TreeNode<SyncTaskInfo>* key);
    static void ClearDoingItems();

    // The running page's sink (null when the page is closed).
    static void SetPage(std::shared_ptr<FeedSink> sink);
    // Registers the page's sink and returns the running items it must show, oldest first.
    static std::vector<SyncDoingItem> OpenPage(std::shared_ptr<FeedSink> sink);
    // Copies of the running items, oldest first.
    static std::vector<SyncDoingItem> Snapshot();
};

class CStateDonePage {
public:
    static void AddDoneItem(std::uint32_t bLocal, std::uint32_t bDelete, std::int64_t size, std::string file,
                            std::string path, std::string time);
    static void SetPage(std::shared_ptr<FeedSink> sink);
    // Registers the page's sink and returns the finished items, newest first.
    static std::vector<SyncDoneItem> OpenPage(std::shared_ptr<FeedSink> sink);
    // Copies of the finished items, newest first.
    static std::vector<SyncDoneItem> Snapshot();
    // Appends items at the back (history read at start-up, newest first).
    static void AppendHistory(const std::vector<SyncDoneItem>& items);
    // Empties the list; an open page gets WM_STATE_CLEAR.
    static void Clear();
};

class CStateDoneFailedPage {
public:
    // `reason` and `reasonCode`: see SyncDoneItem.
    static void AddFailedItem(std::uint32_t bLocal, std::uint32_t bDelete, std::int64_t size, std::string file,
                              std::string path, std::string time, std::string reason = {},
                              std::int64_t reasonCode = 0);
    static void SetPage(std::shared_ptr<FeedSink> sink);
    static std::vector<SyncDoneItem> OpenPage(std::shared_ptr<FeedSink> sink);
    static std::vector<SyncDoneItem> Snapshot();
    // Empties the list (also at the start of each commit run); an open page gets
    // WM_STATE_CLEAR.
    static void Clear();
};
