#include "sync/common/ThreadBase.h"

#include <log4cpp/Category.hh>

#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/text.h"
#include "sync/common/SyncLog.h"

std::recursive_mutex& g_csThread() {
    static std::recursive_mutex lock;
    return lock;
}

// One entry of the synchronisation-tag registry: how many started workers of that name
// there are.
struct SyncTagEntry {
    std::u16string name;
    std::uint32_t refCount = 0;
};

namespace {

// Guarded by g_csThread. Workers hold their entry itself, so an entry freed at program
// end and a newer one of the same name never mix.
std::vector<std::shared_ptr<SyncTagEntry>>& SyncTags() {
    static std::vector<std::shared_ptr<SyncTagEntry>> tags;
    return tags;
}

std::shared_ptr<SyncTagEntry> FindTag(const std::u16string& name) {
    for (const auto& e : SyncTags()) {
        if (e->name == name) return e;
    }
    return nullptr;
}

using Guard = std::lock_guard<std::recursive_mutex>;

}  // namespace

CThreadException::CThreadException(CThread* t, std::u16string m, std::uint32_t ty)
    : thread(t), message(std::move(m)), type(ty), utf8_(plat::ToUtf8(message)) {}

bool CThreadException::GetErrorMessage(char16_t* buffer, std::uint32_t size, std::uint32_t* helpContext) const {
    if (helpContext != nullptr) *helpContext = 0;
    if (buffer == nullptr || size == 0) return false;
    const std::size_t n = std::min<std::size_t>(message.size(), size - 1);
    std::copy_n(message.data(), n, buffer);
    buffer[n] = u'\0';
    return true;
}

CThread::CThread(void* p1, void* p2) : param1(p1), param2(p2) {}

CThread::~CThread() {
    StopAndWait();
    Guard lock(g_csThread());
    ReleaseTagLocked();
    commands.clear();
}

void CThread::Start() {
    Guard lock(g_csThread());
    if (alive_) throw CThreadException(this, u"Thread is already started!", CThreadException::kAlreadyStarted);
    JoinThread();  // a thread that ended on its own
    ResetLocked();
    if (hasEvent != 0 && !hEvent) hEvent = std::make_unique<plat::Event>(false, false);
    if (hEvent) hEvent->Reset();
    if (useSyncTag != 0) AcquireTagLocked();
    alive_ = true;
    ended_.Reset();
    state = kWorkerStarted;
    try {
        thread_ = std::thread(&CThread::ThreadProc, this);
    } catch (const std::system_error& e) {
        alive_ = false;
        ended_.Set();
        ResetLocked();
        throw CThreadException(this, GetSystemErrorText(static_cast<std::uint32_t>(e.code().value())),
                               CThreadException::kCreateFailed);
    }
    // The thread cannot read its queue before the lock is left, so BIND comes first.
    std::u16string error;
    PostCommandLocked(THREAD_CMD_BIND, error);
}

bool CThread::Stop(std::uint32_t& code) {
    bool onOwnThread;
    {
        Guard lock(g_csThread());
        onOwnThread = thread_.get_id() == std::this_thread::get_id();
        if (!alive_) {
            JoinThread();
            ResetLocked();
            code = exitCode;
            return true;
        }
        RequestExitLocked();
    }
    OnStopRequested();
    if (!onOwnThread) ended_.Wait(1000);
    Guard lock(g_csThread());
    if (alive_) {
        exitCode = kThreadStillActive;
        code = kThreadStillActive;
        return false;
    }
    JoinThread();
    code = exitCode;
    return true;
}

void CThread::StopAndWait() {
    bool wasAlive;
    bool onOwnThread;
    {
        Guard lock(g_csThread());
        onOwnThread = thread_.get_id() == std::this_thread::get_id();
        wasAlive = alive_;
        if (wasAlive) RequestExitLocked();
    }
    if (wasAlive) OnStopRequested();
    if (!onOwnThread) ended_.Wait(plat::kInfinite);
    Guard lock(g_csThread());
    JoinThread();
}

bool CThread::IsAlive() {
    Guard lock(g_csThread());
    if (alive_) exitCode = kThreadStillActive;
    return alive_;
}

void CThread::PostCommand(std::uint32_t command) {
    Guard lock(g_csThread());
    if (!alive_) return;  // no thread: the command is dropped
    std::u16string error;
    if (!PostCommandLocked(command, error)) {
        throw CThreadException(this, error, CThreadException::kPostFailed);
    }
}

bool CThread::PostCommandLocked(std::uint32_t command, std::u16string& error) {
    error.clear();
    if (hasEvent == 0 || !hEvent || command == 0) return true;
    if (!commands.empty() && commands.back() == command) return true;
    commands.push_back(command);
    hEvent->Set();
    return true;
}

void CThread::GetCommand(std::uint32_t& command) {
    if (hasEvent == 0 || !hEvent) {
        command = 0;
        return;
    }
    for (;;) {
        {
            Guard lock(g_csThread());
            if (!commands.empty()) {
                command = commands.front();
                commands.pop_front();
                return;
            }
        }
        if (!hEvent->Wait(plat::kInfinite)) {
            command = THREAD_CMD_QUERY_STATE;
            return;
        }
    }
}

std::u16string CThread::GetSystemErrorText(std::uint32_t code) {
    return plat::ToUtf16(std::system_category().message(static_cast<int>(code)));
}

void CThread::FreeSyncTags() {
    Guard lock(g_csThread());
    SyncTags().clear();
}

std::uint32_t CThread::SyncTagRefCount(const std::u16string& tagName) {
    Guard lock(g_csThread());
    const auto entry = FindTag(tagName);
    return entry ? entry->refCount : 0;
}

void CThread::ThreadProc() {
    std::uint32_t code = 0xFFFFFFFFu;
    try {
        code = ThreadHandler();
    } catch (const std::exception& e) {
        SyncLog().fatal(std::string("Worker thread ended by an exception: ") + e.what());
    } catch (...) {
        SyncLog().fatal("Worker thread ended by an unknown exception");
    }
    OnThreadExit(code);
    // Whoever waits for the end joins the thread before the object goes away.
    ended_.Set();
}

void CThread::OnThreadExit(std::uint32_t code) {
    Guard lock(g_csThread());
    ReleaseTagLocked();
    alive_ = false;
    state = kWorkerIdle;
    commands.clear();
    exitCode = code;
}

bool CThread::RequestExitLocked() {
    if (commands.empty() || commands.front() != THREAD_CMD_EXIT) commands.push_front(THREAD_CMD_EXIT);
    if (hEvent) hEvent->Set();
    return true;
}

void CThread::JoinThread() {
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // a worker cannot wait for itself
        return;
    }
    thread_.join();
}

void CThread::ResetLocked() {
    state = kWorkerIdle;
    commands.clear();
    ReleaseTagLocked();
}

void CThread::AcquireTagLocked() {
    if (syncTag_) return;
    auto entry = FindTag(name);
    if (!entry) {
        entry = std::make_shared<SyncTagEntry>(SyncTagEntry{name, 0});
        SyncTags().push_back(entry);
    }
    ++entry->refCount;
    syncTag_ = std::move(entry);
}

void CThread::ReleaseTagLocked() {
    if (!syncTag_) return;
    const std::shared_ptr<SyncTagEntry> entry = std::move(syncTag_);
    syncTag_.reset();
    if (--entry->refCount != 0) return;
    auto& tags = SyncTags();
    tags.erase(std::remove(tags.begin(), tags.end(), entry), tags.end());
}
