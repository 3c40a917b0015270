#include "client/core/MessageManage.h"

#include <algorithm>
#include <sstream>

#include "client/core/ClientLog.h"

namespace {
// The bus whose Dispatch runs on this thread (its listener mutex is then held here).
thread_local const MessageManage* t_dispatchingBus = nullptr;

class DispatchScope {
public:
    explicit DispatchScope(const MessageManage* bus) : saved_(t_dispatchingBus) { t_dispatchingBus = bus; }
    ~DispatchScope() { t_dispatchingBus = saved_; }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

private:
    const MessageManage* saved_;
};

// The listener lock, unless this thread already holds it inside Dispatch.
std::unique_lock<std::mutex> LockListeners(const MessageManage* bus, std::mutex& m) {
    if (t_dispatchingBus == bus) return std::unique_lock<std::mutex>();
    return std::unique_lock<std::mutex>(m);
}
}  // namespace

MessageManage::~MessageManage() { Stop(); }

void MessageManage::Start() {
    std::lock_guard<std::mutex> startLock(threadMutex_);
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (running_) return;
    }
    // A thread left by a Stop called from a handler ends on its own; join it first.
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        running_ = true;
    }
    thread_ = std::thread(&MessageManage::ThreadProc, this);
}

void MessageManage::Stop() {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        running_ = false;
    }
    queueReady_.notify_all();
    if (t_dispatchingBus == this) return;  // cannot join itself

    std::lock_guard<std::mutex> startLock(threadMutex_);
    if (thread_.joinable()) thread_.join();
    Clear();
    ClearListeners();
}

bool MessageManage::IsRunning() const {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return running_;
}

bool MessageManage::Post(ControlMessage message) {
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (!running_) return false;  // `message` frees its payload on return
        queue_.push_back(std::move(message));
    }
    queueReady_.notify_one();
    return true;
}

bool MessageManage::AddListener(MessageListener* listener) {
    if (!listener) return false;
    auto lock = LockListeners(this, listenerMutex_);
    if (!IsRunning()) return false;
    if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
        listeners_.push_back(listener);
    return true;
}

void MessageManage::RemoveListener(MessageListener* listener) {
    auto lock = LockListeners(this, listenerMutex_);
    auto it = std::find(listeners_.begin(), listeners_.end(), listener);
    if (it != listeners_.end()) listeners_.erase(it);
}

void MessageManage::Clear() {
    std::deque<ControlMessage> dropped;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        dropped.swap(queue_);
    }
    // The payloads are freed here, outside the lock.
}

void MessageManage::ClearListeners() {
    auto lock = LockListeners(this, listenerMutex_);
    listeners_.clear();
}

std::size_t MessageManage::QueuedCount() const {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return queue_.size();
}

std::size_t MessageManage::ListenerCount() const {
    auto lock = LockListeners(this, listenerMutex_);
    return listeners_.size();
}

namespace {
// True when the message's payload is the record its type carries (or the type selects
// no slot, whatever it carries).
bool PayloadFits(const ControlMessage& m) {
    switch (m.type) {
    case MessageLoginResult: return m.PayloadAs<TextNotice>() != nullptr;
    case MessageLogoutResult:
    case MessageTip:
    case MessageInfoTip:
    case MessageErrorTip:
    case MessageLanguageChanged: return m.PayloadAs<std::string>() != nullptr;
    case MessageTransferTaskAdded:
    case MessageTransferTaskStarted: return m.PayloadAs<TransferFileTask>() != nullptr;
    case MessageTransferProgress: return m.PayloadAs<TransferProgress>() != nullptr;
    case MessageTransferTaskFinished: return m.PayloadAs<TransferItem>() != nullptr;
    case MessageEditTaskState: return m.PayloadAs<EditTaskStateMessage>() != nullptr;
    default: return true;
    }
}
}  // namespace

void MessageManage::Dispatch(const ControlMessage& message) {
    if (!PayloadFits(message)) {
        std::ostringstream line;
        line << "<bus>Message of type " << message.type << " dropped: its payload does not fit the type";
        LogClientInfo(line.str());
        return;
    }
    auto lock = LockListeners(this, listenerMutex_);
    DispatchScope scope(this);
    // A handler may remove listeners (itself included): walk a snapshot and skip those
    // no longer registered.
    const std::vector<MessageListener*> snapshot = listeners_;
    for (MessageListener* listener : snapshot) {
        if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) continue;
        Deliver(*listener, message);
    }
}

void MessageManage::Deliver(MessageListener& l, const ControlMessage& m) {
    // PayloadFits has checked the payload's type.
    switch (m.type) {
    case MessageLoginResult: l.OnLoginResult(*m.PayloadAs<TextNotice>()); break;
    case MessageLogoutResult: l.OnLogoutResult(*m.PayloadAs<std::string>()); break;
    case MessageTip: l.OnTip(*m.PayloadAs<std::string>()); break;
    case MessageInfoTip: l.OnInfoTip(*m.PayloadAs<std::string>()); break;
    case MessageErrorTip: l.OnErrorTip(*m.PayloadAs<std::string>()); break;
    case MessageTransferTaskAdded: l.OnTransferTaskAdded(*m.PayloadAs<TransferFileTask>()); break;
    case MessageTransferTaskStarted: l.OnTransferTaskStarted(*m.PayloadAs<TransferFileTask>()); break;
    case MessageTransferProgress: l.OnTransferProgress(*m.PayloadAs<TransferProgress>()); break;
    case MessageTransferTaskFinished: l.OnTransferTaskFinished(*m.PayloadAs<TransferItem>()); break;
    case MessageLanguageChanged: l.OnLanguageChanged(*m.PayloadAs<std::string>()); break;
    case MessageEditTaskState: l.OnEditTaskState(*m.PayloadAs<EditTaskStateMessage>()); break;
    default: break;  // type 6 and unknown types select no slot
    }
}

void MessageManage::ThreadProc() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    for (;;) {
        queueReady_.wait(lock, [this] { return !running_ || !queue_.empty(); });
        if (!running_) break;
        ControlMessage message = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        Dispatch(message);
        message.Release();
        lock.lock();
    }
}
