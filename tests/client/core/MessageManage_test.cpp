#include "client/core/MessageManage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/wait.h"

namespace {
using testsupport::WaitUntil;

// A payload that counts its live copies.
struct Counted {
    static inline std::atomic<int> alive{0};
    Counted() { ++alive; }
    Counted(const Counted&) { ++alive; }
    ~Counted() { --alive; }
};

// Records what reaches it, as "slot:text".
class Recorder : public MessageListener {
public:
    explicit Recorder(std::string name = "") : name_(std::move(name)) {}
    void OnLoginResult(const TextNotice& n) override { Add("login:" + std::string(n.ok ? "1" : "0") + n.text); }
    void OnLogoutResult(const std::string& t) override { Add("logout:" + t); }
    void OnTip(const std::string& t) override { Add("tip:" + t); }
    void OnInfoTip(const std::string& t) override { Add("info:" + t); }
    void OnErrorTip(const std::string& t) override { Add("error:" + t); }
    void OnLanguageChanged(const std::string& t) override { Add("language:" + t); }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_.size();
    }

protected:
    void Add(const std::string& e) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
        if (shared) shared->push_back(name_ + ">" + e);
    }

public:
    std::vector<std::string>* shared = nullptr;  // a log several listeners write (on the bus thread)

private:
    std::string name_;
    std::mutex mutex_;
    std::vector<std::string> events_;
};

ControlMessage Text(int type, const std::string& text) {
    return ControlMessage::Make(MessageSourceControl, type, text);
}

TEST(MessageBus, EachTypeReachesItsSlot) {
    MessageManage bus;
    bus.Start();
    Recorder r;
    ASSERT_TRUE(bus.AddListener(&r));
    EXPECT_TRUE(bus.Post(ControlMessage::Make(MessageSourceControl, MessageLoginResult, TextNotice{true, "hi"})));
    bus.Post(Text(MessageLogoutResult, "bye"));
    bus.Post(Text(MessageTip, "t"));
    bus.Post(Text(MessageInfoTip, "i"));
    bus.Post(Text(MessageErrorTip, "e"));
    bus.Post(ControlMessage(MessageSourceControl, MessageUnused));
    bus.Post(Text(MessageUnused, "nobody"));
    bus.Post(Text(42, "unknown type"));
    bus.Post(Text(MessageTransferTaskAdded, "not a transfer task"));
    bus.Post(ControlMessage::Make(MessageSourceService, MessageInfoTip, 7));  // wrong payload
    bus.Post(ControlMessage(MessageSourceService, MessageInfoTip));           // no payload
    bus.Post(ControlMessage::Make(MessageSourceService, MessageLanguageChanged, std::string("en")));
    ASSERT_TRUE(WaitUntil([&] { return r.Count() >= 6; }));
    ASSERT_TRUE(WaitUntil([&] { return bus.QueuedCount() == 0; }));
    bus.Stop();
    EXPECT_EQ(r.Events(),
              (std::vector<std::string>{"login:1hi", "logout:bye", "tip:t", "info:i", "error:e", "language:en"}));
}

TEST(MessageBus, PayloadsAreFreedWhateverHappens) {
    Counted::alive = 0;
    {
        MessageManage bus;
        // Not running: refused and freed.
        EXPECT_FALSE(bus.Post(ControlMessage::Make(MessageSourceService, 99, Counted{})));
        EXPECT_EQ(Counted::alive, 0);
        bus.Start();
        Recorder r;
        bus.AddListener(&r);
        bus.Post(ControlMessage::Make(MessageSourceService, MessageUnused, Counted{}));
        bus.Post(ControlMessage::Make(MessageSourceService, MessageErrorTip, Counted{}));
        bus.Post(ControlMessage::Make(MessageSourceService, 1234, Counted{}));
        bus.Post(Text(MessageErrorTip, "last"));
        ASSERT_TRUE(WaitUntil([&] { return r.Count() == 1; }));
        EXPECT_EQ(Counted::alive, 0);
        EXPECT_EQ(r.Events()[0], "error:last");
        bus.Stop();
    }
    // Adopted records are freed too.
    {
        MessageManage bus;
        auto m = ControlMessage::Adopt(MessageSourceService, 5, std::make_unique<Counted>());
        EXPECT_EQ(Counted::alive, 1);
        EXPECT_TRUE(m.HasPayload());
        ControlMessage moved = std::move(m);
        EXPECT_FALSE(m.HasPayload());
        moved.Release();
        EXPECT_FALSE(moved.HasPayload());
        EXPECT_EQ(Counted::alive, 0);
    }
}

TEST(MessageBus, ManyProducersEveryMessageOnceInOrder) {
    constexpr int kProducers = 6;
    constexpr int kEach = 400;
    MessageManage bus;
    bus.Start();
    Recorder r;
    bus.AddListener(&r);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&bus, p] {
            for (int i = 0; i < kEach; ++i)
                ASSERT_TRUE(bus.Post(Text(MessageInfoTip, std::to_string(p) + ":" + std::to_string(i))));
        });
    }
    for (auto& t : producers) t.join();
    ASSERT_TRUE(WaitUntil([&] { return r.Count() == kProducers * kEach; }));
    std::map<int, int> next;
    for (const std::string& e : r.Events()) {
        const std::size_t colon = e.find(':', 5);
        const int p = std::stoi(e.substr(5, colon - 5));
        const int i = std::stoi(e.substr(colon + 1));
        EXPECT_EQ(i, next[p]) << "producer " << p;
        next[p] = i + 1;
    }
    for (int p = 0; p < kProducers; ++p) EXPECT_EQ(next[p], kEach);
    bus.Stop();
}

TEST(MessageBus, EachMessageReachesAllListenersBeforeTheNext) {
    MessageManage bus;
    bus.Start();
    std::vector<std::string> log;  // written on the bus thread only
    Recorder a("a");
    Recorder b("b");
    a.shared = &log;
    b.shared = &log;
    bus.AddListener(&a);
    bus.AddListener(&b);
    EXPECT_TRUE(bus.AddListener(&a)) << "registered already";
    EXPECT_EQ(bus.ListenerCount(), 2u);
    for (int i = 0; i < 3; ++i) bus.Post(Text(MessageTip, std::to_string(i)));
    ASSERT_TRUE(WaitUntil([&] { return b.Count() == 3; }));
    bus.Stop();  // joins: `log` is ours again
    EXPECT_EQ(log, (std::vector<std::string>{"a>tip:0", "b>tip:0", "a>tip:1", "b>tip:1", "a>tip:2", "b>tip:2"}));
}

TEST(MessageBus, RegistrationRules) {
    MessageManage bus;
    Recorder r;
    EXPECT_FALSE(bus.AddListener(&r)) << "not before the bus runs";
    bus.Start();
    EXPECT_FALSE(bus.AddListener(nullptr));
    EXPECT_TRUE(bus.AddListener(&r));
    Recorder other;
    bus.RemoveListener(&other);  // not registered: nothing changes
    EXPECT_EQ(bus.ListenerCount(), 1u);
    bus.RemoveListener(&r);
    EXPECT_EQ(bus.ListenerCount(), 0u);
    bus.Post(Text(MessageTip, "x"));
    ASSERT_TRUE(WaitUntil([&] { return bus.QueuedCount() == 0; }));
    EXPECT_EQ(r.Count(), 0u);
}

TEST(MessageBus, StopJoinsAndEmptiesEverything) {
    Counted::alive = 0;
    MessageManage bus;
    bus.Start();
    // A listener that holds the bus thread until released, so messages pile up.
    struct Gate : Recorder {
        std::atomic<bool> open{false};
        std::atomic<bool> entered{false};
        void OnTip(const std::string& t) override {
            entered = true;
            open.wait(false);
            Add("tip:" + t);
        }
    } gate;
    bus.AddListener(&gate);
    bus.Post(Text(MessageTip, "first"));
    ASSERT_TRUE(WaitUntil([&] { return gate.entered.load(); }));
    for (int i = 0; i < 5; ++i) bus.Post(ControlMessage::Make(MessageSourceService, MessageTip, Counted{}));
    EXPECT_EQ(bus.QueuedCount(), 5u);

    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        bus.Stop();
        stopped = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return !bus.IsRunning(); }));
    EXPECT_FALSE(bus.Post(Text(MessageTip, "late"))) << "no message is queued once stopping";
    EXPECT_FALSE(stopped) << "Stop waits for the message being delivered";
    gate.open = true;
    gate.open.notify_all();
    stopper.join();
    EXPECT_EQ(gate.Events(), (std::vector<std::string>{"tip:first"}));
    EXPECT_EQ(bus.QueuedCount(), 0u);
    EXPECT_EQ(bus.ListenerCount(), 0u);
    EXPECT_EQ(Counted::alive, 0) << "undelivered payloads are freed";
    EXPECT_FALSE(bus.AddListener(&gate));
    bus.Stop();  // a second stop is harmless
}

TEST(MessageBus, HandlersMayRemoveListenersAndPost) {
    MessageManage bus;
    bus.Start();
    Recorder after("after");
    struct SelfRemover : Recorder {
        MessageManage* bus = nullptr;
        void OnTip(const std::string& t) override {
            Add("tip:" + t);
            bus->RemoveListener(this);
            bus->Post(Text(MessageInfoTip, "from handler " + t));
        }
    } remover;
    remover.bus = &bus;
    bus.AddListener(&remover);
    bus.AddListener(&after);
    bus.Post(Text(MessageTip, "1"));
    bus.Post(Text(MessageTip, "2"));
    ASSERT_TRUE(WaitUntil([&] { return after.Count() == 3; }));
    EXPECT_EQ(remover.Events(), (std::vector<std::string>{"tip:1"}));
    // The handler's post and the second tip race; both arrive.
    auto events = after.Events();
    std::sort(events.begin(), events.end());
    EXPECT_EQ(events, (std::vector<std::string>{"info:from handler 1", "tip:1", "tip:2"}));
    bus.Stop();
}

TEST(MessageBus, RegistrationWhileHandlersPostDoesNotDeadlock) {
    MessageManage bus;
    bus.Start();
    struct Echo : Recorder {
        MessageManage* bus = nullptr;
        void OnTip(const std::string& t) override {
            Add("tip:" + t);
            bus->Post(Text(MessageInfoTip, t));
        }
    } echo;
    echo.bus = &bus;
    bus.AddListener(&echo);
    std::atomic<bool> done{false};
    std::thread churn([&] {
        Recorder passer;
        while (!done) {
            bus.AddListener(&passer);
            bus.RemoveListener(&passer);
        }
    });
    for (int i = 0; i < 300; ++i) bus.Post(Text(MessageTip, std::to_string(i)));
    EXPECT_TRUE(WaitUntil([&] { return echo.Count() == 600; }));
    done = true;
    churn.join();
    bus.Stop();
}

TEST(MessageBus, StopFromAHandlerEndsTheLoop) {
    auto bus = std::make_unique<MessageManage>();
    bus->Start();
    struct Stopper : Recorder {
        MessageManage* bus = nullptr;
        void OnTip(const std::string& t) override {
            Add("tip:" + t);
            bus->Stop();
        }
    } stopper;
    stopper.bus = bus.get();
    bus->AddListener(&stopper);
    bus->Post(Text(MessageTip, "stop"));
    ASSERT_TRUE(WaitUntil([&] { return !bus->IsRunning(); }));
    bus.reset();  // joins the ended thread
    EXPECT_EQ(stopper.Events(), (std::vector<std::string>{"tip:stop"}));
}

}  // namespace
