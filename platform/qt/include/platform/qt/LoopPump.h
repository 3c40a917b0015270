#pragma once
// Qt's event loop drives a message loop (platform/msgloop), so that Qt windows, modal
// dialogs, the loop's windows, their timers and the messages of worker threads all run
// together on one thread.
//
// The pump watches the loop's wake descriptor with a QSocketNotifier and keeps one
// single-shot QTimer set to the delay of the loop's next timer; either of them makes it
// handle what is due (ProcessDue) and re-arm the timer. It also takes over the loop's
// nested runs (RunModal): they spin Qt's event loop until they are finished, so a Qt
// dialog that runs modally inside a window procedure keeps the loop going, and the other
// way round.
//
// Make it on the loop's owner thread, after a Q(Core|Gui)Application exists; it must die
// before the loop. Engine code never sees it: it only ever talks to the loop.
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/msgloop/MessageLoop.h"

namespace plat::qt {

class LoopPump final : public QObject {
public:
    explicit LoopPump(plat::MessageLoop& loop, QObject* parent = nullptr);
    // Gives the nested runs back to the loop's own runner.
    ~LoopPump() override;

    // Handles what is due now (also called by the notifier and the timer).
    void Pump();

private:
    void Rearm();

    plat::MessageLoop& loop_;
    QSocketNotifier notifier_;
    QTimer timer_;
};

}  // namespace plat::qt
