#include "sync/ui/StatePageModels.h"

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <sstream>

#include "platform/text.h"
#include "sync/ui/LanguageIni.h"

std::u16string SizeText(std::int64_t size) {
    std::ostringstream text;
    text << std::setprecision(5);
    constexpr std::int64_t kGB = std::int64_t{1} << 30, kMB = std::int64_t{1} << 20, kKB = 1024;
    if (size >= kGB) text << static_cast<double>(size) * (1.0 / static_cast<double>(kGB)) << " GB";
    else if (size >= kMB) text << static_cast<double>(size) * (1.0 / static_cast<double>(kMB)) << " MB";
    else if (size >= kKB) text << static_cast<double>(size) * (1.0 / static_cast<double>(kKB)) << " KB";
    else text << size << " B";
    return plat::ToUtf16(text.str());
}

std::u16string_view DirectionKey(std::uint32_t bLocal, std::uint32_t bDelete) {
    if (bLocal && bDelete) return u"本地删除";
    if (bLocal) return u"本地下载";
    if (bDelete) return u"云端删除";
    return u"云端上传";
}

std::u16string PathText(const std::string& utf8Path) {
    // A row's path may hold '\\' separators; the user reads those of this system.
    std::u16string path = plat::ToUtf16(utf8Path);
    std::replace(path.begin(), path.end(), u'\\', u'/');
    return path;
}

namespace {

std::u16string PercentText(double percent) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0.2f %%", percent);
    return plat::ToUtf16(buffer);
}

}  // namespace

// ================================================================= shared

StatePageModel::StatePageModel(CLanguageIni& language) : language_(language) {}

StatePageModel::~StatePageModel() { Close(); }

void StatePageModel::Open() {
    if (IsOpen()) return;
    plat::MessageLoop* loop = plat::MessageLoop::Current();
    if (loop == nullptr) return;
    window_ = loop->CreateWindow([this](plat::Message& message) { return Proc(message); });
    const plat::WindowId window = window_;
    auto sink = std::make_shared<FeedSink>([window](const FeedEvent& event) {
        plat::PostMessage(window, kWmFeed, 0, 0, plat::Payload::Make<FeedEvent>(event));
    });
    rows_.clear();
    shown_ = 0;
    Register(std::move(sink));
    if (view_) view_->RowsReset();
    StartFill();
    OnOpened();
}

void StatePageModel::Close() {
    if (!IsOpen()) return;
    // Unregistering first: what the list delivers later goes to a window that is gone.
    Unregister();
    const plat::WindowId window = window_;
    window_ = plat::kNoWindow;
    plat::DestroyWindow(window);
    fillQueued_ = false;
}

plat::MsgResult StatePageModel::Proc(plat::Message& message) {
    switch (message.message) {
        case kWmFeed:
            if (const FeedEvent* event = message.payload.Get<FeedEvent>()) OnFeed(*event);
            break;
        case kWmFill:
            fillQueued_ = false;
            FillChunk();
            break;
        case plat::kWmTimer: OnTimer(message.wParam); break;
        default: break;
    }
    return 0;
}

void StatePageModel::StartFill() {
    if (shown_ >= rows_.size() || fillQueued_ || !IsOpen()) return;
    fillQueued_ = plat::PostMessage(window_, kWmFill);
}

void StatePageModel::FillChunk() {
    const std::size_t count = std::min<std::size_t>(kFillChunk, rows_.size() - shown_);
    if (count == 0) return;
    const std::size_t first = shown_;
    shown_ += count;
    if (view_) view_->RowsInserted(static_cast<int>(first), static_cast<int>(count));
    if (shown_ < rows_.size()) StartFill();
    else OnFilled();
}

void StatePageModel::InsertShown(std::size_t index, PageRow row) {
    index = std::min(index, shown_);
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(index), std::move(row));
    ++shown_;
    if (view_) view_->RowsInserted(static_cast<int>(index), 1);
}

void StatePageModel::RemoveAt(std::size_t index) {
    if (index >= rows_.size()) return;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    if (index < shown_) {
        --shown_;
        if (view_) view_->RowsRemoved(static_cast<int>(index), 1);
    }
}

void StatePageModel::ResetRows() {
    rows_.clear();
    shown_ = 0;
    if (view_) view_->RowsReset();
}

void StatePageModel::SetStatus(std::u16string text, int icon) {
    statusText_ = std::move(text);
    if (icon != 0) statusIcon_ = icon;
    NotifyStatus();
}

void StatePageModel::NotifyStatus() {
    if (view_) view_->StatusChanged();
}

// ================================================================= running page

RunningPageModel::RunningPageModel(CLanguageIni& language, Environment environment)
    : StatePageModel(language), env_(std::move(environment)) {
    statusIcon_ = kIconIdle;
}

RunningPageModel::~RunningPageModel() { Close(); }

void RunningPageModel::Register(std::shared_ptr<FeedSink> sink) {
    for (const SyncDoingItem& item : CStateDoingPage::OpenPage(std::move(sink))) rows_.push_back(MakeRow(item));
}

void RunningPageModel::Unregister() {
    CStateDoingPage::SetPage(nullptr);
    statusTimer_ = 0;
    progressTimer_ = false;
    dirty_.clear();
}

void RunningPageModel::OnOpened() {
    frame_ = 0;
    RefreshButton();
    KillStatusTimer();
    StartStatusTimer(rows_.empty() ? kTimerIdle : kTimerAnimate);
    WriteStatusLine();
}

PageRow RunningPageModel::MakeRow(const SyncDoingItem& item) const {
    PageRow row;
    row.rowId = item.rowId;
    row.deletion = item.bDelete != 0;
    row.path = PathText(item.Path);
    row.size = SizeText(item.Size);
    row.direction = language_.GetString(DirectionKey(item.bLocal, item.bDelete));
    row.percent = item.percent;
    // The last reported progress (an item not reported yet shows "0 %").
    row.last = item.percent > 0 ? PercentText(item.percent) : u"0 %";
    return row;
}

int RunningPageModel::IndexOfRow(std::int64_t rowId) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].rowId == rowId) return static_cast<int>(i);
    }
    return -1;
}

void RunningPageModel::StartStatusTimer(std::uintptr_t id) {
    KillStatusTimer();
    statusTimer_ = id;
    // The animation shows its first frame at once, not a check mark while items run.
    if (id == kTimerAnimate && statusIcon_ != kIconFrame0 && statusIcon_ != kIconFrame1) {
        statusIcon_ = kIconFrame0;
        frame_ = 1;
        NotifyStatus();
    }
    plat::SetTimer(window_, id, id == kTimerAnimate ? 600 : 1000);
}

void RunningPageModel::KillStatusTimer() {
    if (statusTimer_ != 0) plat::KillTimer(window_, statusTimer_);
    statusTimer_ = 0;
}

void RunningPageModel::WriteStatusLine() {
    SetStatus(language_.Format(u"正在同步: %d", {static_cast<std::int64_t>(rows_.size())}), 0);
}

void RunningPageModel::OnFeed(const FeedEvent& event) {
    switch (event.message) {
        case WM_STATE_ADD_ITEM: {
            const bool allShown = shown_ == rows_.size();
            if (allShown) InsertShown(rows_.size(), MakeRow(event.doing));
            else rows_.push_back(MakeRow(event.doing));
            // Rule A: an addition starts the animation unless it or the pause display runs.
            if (statusTimer_ != kTimerAnimate && statusTimer_ != kTimerPaused) StartStatusTimer(kTimerAnimate);
            WriteStatusLine();
            break;
        }
        case WM_STATE_PROGRESS: {
            const int index = IndexOfRow(event.wParam);
            if (index < 0) break;
            rows_[static_cast<std::size_t>(index)].percent = event.percent;
            if (std::find(dirty_.begin(), dirty_.end(), static_cast<std::int32_t>(event.wParam)) == dirty_.end())
                dirty_.push_back(static_cast<std::int32_t>(event.wParam));
            if (!progressTimer_) {
                progressTimer_ = true;
                plat::SetTimer(window_, kTimerProgress, kProgressPeriodMs);
            }
            break;
        }
        case WM_STATE_REMOVE_ITEM: {
            const int index = IndexOfRow(event.wParam);
            if (index >= 0) RemoveAt(static_cast<std::size_t>(index));
            // Rule B.
            if (rows_.empty()) {
                if (statusTimer_ != kTimerIdle && statusTimer_ != kTimerPaused) StartStatusTimer(kTimerIdle);
            } else if (statusTimer_ != kTimerAnimate && statusTimer_ != kTimerPaused) {
                StartStatusTimer(kTimerAnimate);
            }
            WriteStatusLine();
            break;
        }
        case WM_STATE_CLEAR:
            ResetRows();
            dirty_.clear();
            if (statusTimer_ != kTimerIdle && statusTimer_ != kTimerPaused) StartStatusTimer(kTimerIdle);
            WriteStatusLine();
            break;
        default: break;
    }
}

void RunningPageModel::FlushProgress() {
    for (std::int32_t rowId : dirty_) {
        const int index = IndexOfRow(rowId);
        if (index < 0) continue;
        PageRow& row = rows_[static_cast<std::size_t>(index)];
        row.last = PercentText(row.percent);
        if (static_cast<std::size_t>(index) < shown_ && view_) view_->RowChanged(index);
    }
    dirty_.clear();
}

void RunningPageModel::OnTimer(std::uintptr_t id) {
    switch (id) {
        case kTimerAnimate:
            statusIcon_ = frame_ % 2 == 0 ? kIconFrame0 : kIconFrame1;
            ++frame_;
            NotifyStatus();
            break;
        case kTimerIdle: {
            const bool scanning = env_.localScanning && env_.localScanning();
            if (!scanning && env_.inStep && !env_.inStep()) {
                // Nothing runs, but the program is not in step yet (a change waits, an item
                // failed): the line keeps its count and the timer looks again.
                if (statusIcon_ == kIconIdle) SetStatus(statusText_, kIconFrame0);
                break;
            }
            KillStatusTimer();
            SetStatus(language_.GetString(scanning ? u"正在计算本地云盘数据..." : u"所有文件已经同步完成"), kIconIdle);
            break;
        }
        case kTimerPaused:
            KillStatusTimer();
            SetStatus(language_.GetString(u"暂停同步..."), kIconPaused);
            break;
        case kTimerProgress:
            if (dirty_.empty()) {
                plat::KillTimer(window_, kTimerProgress);
                progressTimer_ = false;
            } else {
                FlushProgress();
            }
            break;
        default: break;
    }
}

void RunningPageModel::RefreshButton() {
    const bool paused = env_.paused && env_.paused();
    buttonText_ = language_.GetString(paused ? u"恢复同步" : u"暂停同步");
    NotifyStatus();
}

void RunningPageModel::ClickPause() {
    if (env_.togglePause) env_.togglePause();
    UpdatePauseButton();
}

void RunningPageModel::UpdatePauseButton() {
    RefreshButton();
    if (!IsOpen()) return;
    const bool paused = env_.paused && env_.paused();
    KillStatusTimer();
    // The paused display follows after its timer's second; nothing waits on this thread.
    if (paused) StartStatusTimer(kTimerPaused);
    else StartStatusTimer(rows_.empty() ? kTimerIdle : kTimerAnimate);
}

// ================================================================= finished and failed pages

DonePageModel::DonePageModel(CLanguageIni& language, bool failed) : StatePageModel(language), failed_(failed) {
    statusIcon_ = kIconIdle;
}

DonePageModel::~DonePageModel() { Close(); }

void DonePageModel::Register(std::shared_ptr<FeedSink> sink) {
    const std::vector<SyncDoneItem> items =
        failed_ ? CStateDoneFailedPage::OpenPage(std::move(sink)) : CStateDonePage::OpenPage(std::move(sink));
    rows_.reserve(items.size());
    for (const SyncDoneItem& item : items) rows_.push_back(MakeRow(item));
}

void DonePageModel::Unregister() {
    if (failed_) CStateDoneFailedPage::SetPage(nullptr);
    else CStateDonePage::SetPage(nullptr);
}

void DonePageModel::OnOpened() { WriteStatusLine(); }

std::u16string DonePageModel::ButtonText() const { return language_.GetString(u"清除历史记录"); }

PageRow DonePageModel::MakeRow(const SyncDoneItem& item) const {
    PageRow row;
    row.deletion = item.bDelete != 0;
    row.path = PathText(item.Path);
    row.size = SizeText(item.Size);
    row.direction = language_.GetString(DirectionKey(item.bLocal, item.bDelete));
    row.last = plat::ToUtf16(item.Time);
    row.status = language_.GetString(failed_ ? u"失败" : u"成功");
    if (failed_ && !item.Reason.empty()) row.reason = language_.Format(plat::ToUtf16(item.Reason), {item.ReasonCode});
    return row;
}

void DonePageModel::WriteStatusLine() {
    // Failures are flagged with a warning, never with the check mark of a finished list.
    SetStatus(language_.Format(failed_ ? u"同步失败: %d" : u"同步完成: %d", {static_cast<std::int64_t>(rows_.size())}),
              failed_ && !rows_.empty() ? kIconWarning : kIconIdle);
}

void DonePageModel::OnFeed(const FeedEvent& event) {
    if (event.message == WM_STATE_ADD_ITEM) {
        InsertShown(0, MakeRow(event.done));
    } else if (event.message == WM_STATE_CLEAR) {
        ResetRows();
    } else {
        return;
    }
    WriteStatusLine();
}

void DonePageModel::ClickClear() {
    // The rows go at once; the list's own notice of the clearing follows and finds none.
    ResetRows();
    if (failed_) CStateDoneFailedPage::Clear();
    else CStateDonePage::Clear();
    WriteStatusLine();
}
