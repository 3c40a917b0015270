#include "sync/common/SyncBase.h"

#include <log4cpp/Category.hh>

#include <array>
#include <cstddef>

#include "sync/common/SyncLog.h"

CEventEx* g_pTerminateEvent = nullptr;
CEventEx* g_pSuspendEvent = nullptr;
CEventEx* g_pResumeEvent = nullptr;

CEventEx::CEventEx(const std::string& name, bool manualReset, bool initiallySet, NameClaim claim)
    : plat::Event(manualReset, initiallySet), name_(name) {
    if (claim == NameClaim::Exclusive && lock_.TryAcquire(name_) == plat::NamedLock::Result::HeldElsewhere) {
        alreadyExisted = 1;
    }
}

bool SyncGlobalEventsReady() { return g_pTerminateEvent != nullptr; }

namespace {

// Polls (or waits on) a checkpoint's event list in which optional events may be
// missing: a missing event counts as never set and keeps its index for the others.
template <std::size_t N>
std::uint32_t WaitFirstSet(const std::array<plat::Event*, N>& events, std::uint32_t timeoutMs) {
    std::array<plat::Waitable*, N> present{};
    std::array<std::uint32_t, N> index{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (events[i] == nullptr) continue;
        present[count] = events[i];
        index[count] = static_cast<std::uint32_t>(i);
        ++count;
    }
    const std::uint32_t r = plat::WaitAny(std::span<plat::Waitable* const>(present.data(), count), timeoutMs);
    return r < count ? index[r] : r;
}

void LogStop(const char* func, int line, const char* message, int sourceLine) {
    SyncLog().info(std::string(func != nullptr ? func : "") + "() #" + std::to_string(line) + message +
                   "CommonTypes line:" + std::to_string(sourceLine));
}

}  // namespace

std::uint32_t CSyncBase::CheckBreak(const char* func, int line) {
    if (g_pTerminateEvent == nullptr) return kSyncGlobalMissing;
    const std::uint32_t r = WaitFirstSet(std::array<plat::Event*, 2>{g_pTerminateEvent, &breakEvent}, 0);
    if (r == 0) LogStop(func, line, ": Quit object is signaled. filepath:", 557);
    if (r == 1) LogStop(func, line, ": Break object is signaled. filepath:", 566);
    return r;
}

std::uint32_t CSyncBase::CheckState(const char* func, int line) {
    if (g_pTerminateEvent == nullptr) return kSyncGlobalMissing;
    const std::uint32_t r =
        WaitFirstSet(std::array<plat::Event*, 3>{g_pTerminateEvent, g_pSuspendEvent, &breakEvent}, 0);
    if (r == 0) LogStop(func, line, ": Quit object is signaled. filepath:", 604);
    if (r == 1) LogStop(func, line, ": Thread state change to Suspend. filepath:", 612);
    if (r == 2) LogStop(func, line, ": Break object is signaled. filepath:", 620);
    return r;
}

std::uint32_t CSyncBase::PollBreak() {
    if (g_pTerminateEvent == nullptr) return kSyncGlobalMissing;
    return WaitFirstSet(std::array<plat::Event*, 3>{g_pTerminateEvent, &breakEvent, &abortEvent}, 0);
}

std::uint32_t CSyncBase::PollSuspend() {
    if (g_pTerminateEvent == nullptr) return kSyncGlobalMissing;
    return WaitFirstSet(std::array<plat::Event*, 4>{g_pTerminateEvent, g_pSuspendEvent, &breakEvent, &abortEvent}, 0);
}

std::uint32_t CSyncBase::WaitForPeer(plat::Event* peerDone) {
    if (peerDone == nullptr || g_pTerminateEvent == nullptr) return kSyncGlobalMissing;
    return WaitFirstSet(std::array<plat::Event*, 4>{g_pTerminateEvent, &breakEvent, &abortEvent, peerDone},
                        plat::kInfinite);
}

COrvaneDlg* CSyncBase::GetOwnerDialog() { return nullptr; }

void CSyncBase::OnProgress(const TreeNode<SyncTaskInfo>*, std::uint32_t, double) {}
