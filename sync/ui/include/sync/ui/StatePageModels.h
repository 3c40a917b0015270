#pragma once
// What the running, finished and failed pages of the sync-details window show, free of
// any widget: their rows, status line, status icon, button text and status timers.
//
// A page model lives on the UI thread and owns a window of that thread's message loop.
// Opening registers the page with its feed list (sync/common/FeedLists.h) and takes the
// list's items in the same step; the feed's later changes arrive as posted messages, so no
// worker ever waits for the UI thread and the UI thread never waits for a worker's lock.
// The opening copy is inserted in chunks by posted messages (no thread touches the
// rows); items that arrive meanwhile keep their place. Progress is coalesced: a row's text
// changes at most every kProgressPeriodMs.
//
// A PageView (the Qt table model) hears which rows changed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/msgloop/MessageLoop.h"
#include "sync/common/FeedLists.h"

class CLanguageIni;

// The size text of a row: GB, MB or KB with 5 significant digits, else the byte count.
std::u16string SizeText(std::int64_t size);
// The direction key of a row ("本地删除", "本地下载", "云端删除", "云端上传").
std::u16string_view DirectionKey(std::uint32_t bLocal, std::uint32_t bDelete);
// A path as the rows show it: UTF-8 to UTF-16 with '/' separators (every '\\' made '/').
std::u16string PathText(const std::string& utf8Path);

struct PageRow {
    std::int32_t rowId = 0;  // running page: the item's serial
    bool deletion = false;   // image 1 (a deletion), else image 0 (a transfer)
    std::u16string path, size, direction;
    std::u16string last;     // progress ("12.50 %") or the time
    std::u16string status;   // finished and failed pages: "成功" / "失败"
    std::u16string reason;   // failed page: why the item failed, in the user's language
    double percent = 0;
};

class PageView {
public:
    virtual ~PageView() = default;
    virtual void RowsInserted(int first, int count) = 0;
    virtual void RowsRemoved(int first, int count) = 0;
    virtual void RowChanged(int row) = 0;
    virtual void RowsReset() = 0;
    virtual void StatusChanged() = 0;
};

// Shared by the three pages: the rows (a shown prefix of them while the opening copy is
// being inserted), the message window, the view.
class StatePageModel {
public:
    static constexpr int kFillChunk = 200;
    static constexpr std::uint32_t kWmFeed = plat::kWmApp + 0x70;  // a FeedEvent from the list
    static constexpr std::uint32_t kWmFill = plat::kWmApp + 0x71;  // insert the next chunk

    explicit StatePageModel(CLanguageIni& language);
    virtual ~StatePageModel();
    StatePageModel(const StatePageModel&) = delete;
    StatePageModel& operator=(const StatePageModel&) = delete;

    void SetView(PageView* view) { view_ = view; }
    // Opens the page on the calling thread's message loop; Close (or the destructor)
    // unregisters it and drops what is still on its way.
    void Open();
    void Close();
    bool IsOpen() const { return window_ != plat::kNoWindow; }

    int RowCount() const { return static_cast<int>(shown_); }
    const PageRow& Row(int index) const { return rows_[static_cast<std::size_t>(index)]; }
    // Rows still to be inserted from the opening copy.
    std::size_t PendingFill() const { return rows_.size() - shown_; }
    const std::u16string& StatusText() const { return statusText_; }
    int StatusIcon() const { return statusIcon_; }
    plat::WindowId Window() const { return window_; }
    CLanguageIni& Language() const { return language_; }

protected:
    virtual void Register(std::shared_ptr<FeedSink> sink) = 0;
    virtual void Unregister() = 0;
    virtual void OnFeed(const FeedEvent& event) = 0;
    virtual void OnTimer(std::uintptr_t id) {}
    virtual void OnOpened() {}
    virtual void OnFilled() {}

    void StartFill();
    void InsertShown(std::size_t index, PageRow row);
    void RemoveAt(std::size_t index);
    void ResetRows();
    void SetStatus(std::u16string text, int icon);
    void NotifyStatus();

    std::vector<PageRow> rows_;
    std::size_t shown_ = 0;
    PageView* view_ = nullptr;
    plat::WindowId window_ = plat::kNoWindow;
    std::u16string statusText_;
    int statusIcon_ = 0;
    CLanguageIni& language_;

private:
    plat::MsgResult Proc(plat::Message& message);
    void FillChunk();
    bool fillQueued_ = false;
};

// The running page: items being committed, their progress, the pause button.
class RunningPageModel final : public StatePageModel {
public:
    static constexpr std::uintptr_t kTimerAnimate = 100;  // 600 ms: the two icons in turn
    static constexpr std::uintptr_t kTimerIdle = 101;     // 1000 ms once: idle text and icon
    static constexpr std::uintptr_t kTimerPaused = 102;   // 1000 ms once: paused text and icon
    static constexpr std::uintptr_t kTimerProgress = 103; // the coalesced progress texts
    static constexpr std::uint32_t kProgressPeriodMs = 250;
    static constexpr int kIconFrame0 = 263, kIconFrame1 = 264, kIconIdle = 265, kIconPaused = 266;

    struct Environment {
        std::function<bool()> paused;          // the main window's pause flag
        std::function<bool()> localScanning;   // the main window's local-scan flag
        std::function<void()> togglePause;     // the main window's pause/resume command
        // Whether the last cycle ended in step (nothing pending, nothing failed); empty:
        // always. The idle text says "in sync" only then.
        std::function<bool()> inStep = {};
    };
    RunningPageModel(CLanguageIni& language, Environment environment);
    ~RunningPageModel() override;

    // The pause button: its text, a click, and the refresh after a pause change.
    const std::u16string& ButtonText() const { return buttonText_; }
    void ClickPause();
    void UpdatePauseButton();
    // The status timer that runs (0 when none).
    std::uintptr_t RunningTimer() const { return statusTimer_; }
    std::size_t ListCount() const { return rows_.size(); }

private:
    void Register(std::shared_ptr<FeedSink> sink) override;
    void Unregister() override;
    void OnFeed(const FeedEvent& event) override;
    void OnTimer(std::uintptr_t id) override;
    void OnOpened() override;
    void StartStatusTimer(std::uintptr_t id);
    void KillStatusTimer();
    void WriteStatusLine();
    void RefreshButton();
    PageRow MakeRow(const SyncDoingItem& item) const;
    int IndexOfRow(std::int64_t rowId) const;
    void FlushProgress();

    Environment env_;
    std::u16string buttonText_;
    std::uintptr_t statusTimer_ = 0;
    unsigned frame_ = 0;
    std::vector<std::int32_t> dirty_;
    bool progressTimer_ = false;
};

// The finished or the failed page: newest first, a count and a clear button.
class DonePageModel final : public StatePageModel {
public:
    static constexpr int kIconIdle = 265;
    static constexpr int kIconWarning = 270;  // the failed page while it lists failures
    DonePageModel(CLanguageIni& language, bool failed);
    ~DonePageModel() override;
    bool Failed() const { return failed_; }
    // The clear button: empties the list and the rows, and stops inserting the copy.
    void ClickClear();
    std::u16string ButtonText() const;

private:
    void Register(std::shared_ptr<FeedSink> sink) override;
    void Unregister() override;
    void OnFeed(const FeedEvent& event) override;
    void OnOpened() override;
    void WriteStatusLine();
    PageRow MakeRow(const SyncDoneItem& item) const;

    bool failed_;
};
