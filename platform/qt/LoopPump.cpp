#include "platform/qt/LoopPump.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <limits>

namespace plat::qt {

LoopPump::LoopPump(plat::MessageLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(loop.WakeFd(), QSocketNotifier::Read) {
    timer_.setSingleShot(true);
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { Pump(); });
    connect(&timer_, &QTimer::timeout, this, [this] { Pump(); });
    loop_.SetNestedRunner([](const std::function<bool()>& finished) {
        // Each pass waits for Qt events (the notifier and the timer among them) and
        // handles them; the pump's ProcessDue is what ends the run.
        while (!finished()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    });
    // Work queued before the pump existed is handled at the first turn of Qt's loop.
    QTimer::singleShot(0, this, [this] { Pump(); });
}

LoopPump::~LoopPump() { loop_.SetNestedRunner(nullptr); }

void LoopPump::Pump() {
    loop_.ProcessDue();
    Rearm();
}

void LoopPump::Rearm() {
    const std::optional<std::uint64_t> due = loop_.NextTimerDueMs();
    if (!due) {
        timer_.stop();
        return;
    }
    const std::uint64_t capped = std::min<std::uint64_t>(*due, std::numeric_limits<int>::max());
    timer_.start(static_cast<int>(capped));
}

}  // namespace plat::qt
