#pragma once
// The client's message bus. Producers (controller, transfer queue, edit tasks, language
// catalogue) post ControlMessage records; one dispatch thread hands each message, in
// posting order, to every registered MessageListener in the slot its type selects, then
// frees the payload.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

// Payload records of other parts of the client (transfer queue, edit tasks).
struct TransferFileTask;
struct TransferProgress;
struct TransferItem;
struct EditTaskStateMessage;

// Payload of a login result (type 1).
struct TextNotice {
    bool ok = false;
    std::string text;
};

// Who posted a message.
enum ControlMessageSource : std::int32_t {
    MessageSourceControl = 5,  // the controller (login, logout, forwarded view tips)
    MessageSourceService = 6,  // the service workers (transfers, edit tasks, languages)
};

// Message types and the payload each carries.
enum ControlMessageType : std::int32_t {
    MessageLoginResult = 1,           // TextNotice
    MessageLogoutResult = 2,          // std::string
    MessageTip = 3,                   // std::string
    MessageInfoTip = 4,               // std::string
    MessageErrorTip = 5,              // std::string
    MessageUnused = 6,                // selects no slot
    MessageTransferTaskAdded = 7,     // TransferFileTask
    MessageTransferTaskStarted = 8,   // TransferFileTask
    MessageTransferProgress = 9,      // TransferProgress
    MessageTransferTaskFinished = 10, // TransferItem
    MessageLanguageChanged = 11,      // std::string, the new language code
    MessageEditTaskState = 12,        // EditTaskStateMessage
};

namespace busdetail {
// One distinct address per payload type; works for types declared but not defined here.
template <class T>
const void* PayloadTag() noexcept {
    static const char tag = 0;
    return &tag;
}
}  // namespace busdetail

// One message: its source, its type and the heap payload it owns. Move-only; the
// payload is freed by Release() or when the message is destroyed, whatever its type.
class ControlMessage {
public:
    ControlMessage() = default;
    ControlMessage(std::int32_t source, std::int32_t type) : source(source), type(type) {}

    // A message owning a heap copy of `value`.
    template <class T>
    static ControlMessage Make(std::int32_t source, std::int32_t type, T value) {
        using P = std::decay_t<T>;
        ControlMessage m(source, type);
        m.payload_ = new P(std::move(value));
        m.free_ = [](void* p) { delete static_cast<P*>(p); };
        m.tag_ = busdetail::PayloadTag<P>();
        return m;
    }
    // A message taking over an existing heap record.
    template <class T>
    static ControlMessage Adopt(std::int32_t source, std::int32_t type, std::unique_ptr<T> payload) {
        ControlMessage m(source, type);
        if (payload) {
            m.payload_ = payload.release();
            m.free_ = [](void* p) { delete static_cast<T*>(p); };
            m.tag_ = busdetail::PayloadTag<T>();
        }
        return m;
    }

    ControlMessage(ControlMessage&& other) noexcept { *this = std::move(other); }
    ControlMessage& operator=(ControlMessage&& other) noexcept {
        if (this != &other) {
            Release();
            source = other.source;
            type = other.type;
            payload_ = std::exchange(other.payload_, nullptr);
            free_ = std::exchange(other.free_, nullptr);
            tag_ = std::exchange(other.tag_, nullptr);
        }
        return *this;
    }
    ControlMessage(const ControlMessage&) = delete;
    ControlMessage& operator=(const ControlMessage&) = delete;
    ~ControlMessage() { Release(); }

    // Frees the payload; the message then carries none.
    void Release() noexcept {
        if (payload_ && free_) free_(payload_);
        payload_ = nullptr;
        free_ = nullptr;
        tag_ = nullptr;
    }

    bool HasPayload() const noexcept { return payload_ != nullptr; }
    // The payload when it is a T, else null.
    template <class T>
    const T* PayloadAs() const noexcept {
        return tag_ == busdetail::PayloadTag<T>() ? static_cast<const T*>(payload_) : nullptr;
    }

    std::int32_t source = 0;
    std::int32_t type = 0;

private:
    void* payload_ = nullptr;
    void (*free_)(void*) = nullptr;
    const void* tag_ = nullptr;
};

// A window or service that receives bus messages. Every slot has an empty default; the
// handlers run on the dispatch thread and must return quickly (copy what they need and
// hand it to their own thread). The payload lives only for the call.
class MessageListener {
public:
    virtual ~MessageListener() = default;
    virtual void OnLoginResult(const TextNotice& notice) {}                // type 1
    virtual void OnLogoutResult(const std::string& text) {}               // type 2
    virtual void OnTip(const std::string& text) {}                        // type 3
    virtual void OnInfoTip(const std::string& text) {}                    // type 4
    virtual void OnErrorTip(const std::string& text) {}                   // type 5
    virtual void OnTransferTaskAdded(const TransferFileTask& task) {}     // type 7
    virtual void OnTransferTaskStarted(const TransferFileTask& task) {}   // type 8
    virtual void OnTransferProgress(const TransferProgress& progress) {}  // type 9
    virtual void OnTransferTaskFinished(const TransferItem& item) {}      // type 10
    virtual void OnLanguageChanged(const std::string& languageCode) {}    // type 11
    virtual void OnEditTaskState(const EditTaskStateMessage& state) {}    // type 12
};

// What services hold of the controller: the sink of their messages.
class SendControlMessageInterface {
public:
    virtual ~SendControlMessageInterface() = default;
    virtual void SendControlMessage(ControlMessage message) = 0;
};

class MessageManage {
public:
    MessageManage() = default;
    // Stops the bus when it still runs (joins the dispatch thread).
    ~MessageManage();
    MessageManage(const MessageManage&) = delete;
    MessageManage& operator=(const MessageManage&) = delete;

    // Starts the dispatch thread; nothing when it already runs.
    void Start();
    // Stops accepting messages and listeners, waits until the dispatch thread has ended
    // (the message being delivered is finished), then frees every queued message and
    // empties the listener list. Called on the dispatch thread (from a handler) it only
    // stops the loop; the thread is joined by a later Stop or the destructor.
    void Stop();
    bool IsRunning() const;

    // Queues the message at the tail while the bus runs and returns true; otherwise the
    // message and its payload are freed and false is returned.
    bool Post(ControlMessage message);

    // Registers a listener while the bus runs (once per pointer); true when it is
    // registered afterwards. The listener is not owned.
    bool AddListener(MessageListener* listener);
    // Removes the listener. When it returns, no handler of that listener is running or
    // will run, unless called from one of its own handlers on the dispatch thread.
    void RemoveListener(MessageListener* listener);
    // Frees every queued message without delivering it.
    void Clear();
    void ClearListeners();

    // Hands one message to every registered listener, in registration order, in the
    // slot its type selects. A payload that is not of the type's record type reaches no
    // slot. Runs on the dispatch thread; public for tests.
    void Dispatch(const ControlMessage& message);

    std::size_t QueuedCount() const;
    std::size_t ListenerCount() const;

private:
    void ThreadProc();
    static void Deliver(MessageListener& listener, const ControlMessage& message);

    mutable std::mutex queueMutex_;  // guards queue_ and running_
    std::condition_variable queueReady_;
    std::deque<ControlMessage> queue_;
    bool running_ = false;

    mutable std::mutex listenerMutex_;  // held while handlers run
    std::vector<MessageListener*> listeners_;

    std::mutex threadMutex_;  // serialises Start and Stop
    std::thread thread_;
};
