#include "sync/common/WorkerLoop.h"

#include <utility>

CWorkerLoop::CWorkerLoop(void* p1, void* p2, std::u16string threadName, bool syncTag) : CThread(p1, p2) {
    hasEvent = 1;
    useSyncTag = syncTag ? 1 : 0;
    name = std::move(threadName);
}

CWorkerLoop::~CWorkerLoop() { StopAndWait(); }

void CWorkerLoop::OnStopRequested() {
    stopRequested_ = true;
    breakEvent.Set();
}

void CWorkerLoop::BeginPass() {
    state = kWorkerRunning;
    breakEvent.Reset();
    abortEvent.Reset();
    doneEvent.Reset();
}

std::uint32_t CWorkerLoop::ThreadHandler() {
    for (;;) {
        std::uint32_t command = 0;
        GetCommand(command);
        switch (command) {
            case THREAD_CMD_BIND:
                stopRequested_ = false;  // a new start of the thread
                if (!Bind()) return 0xFFFFFFFFu;
                break;
            case THREAD_CMD_PAUSE:
                if (state != kWorkerPaused) state = kWorkerPaused;
                break;
            case THREAD_CMD_RESUME:
                if (state == kWorkerPaused) state = kWorkerResumed;
                break;
            case THREAD_CMD_EXIT:
                OnExit();
                return 0;
            default: {
                // QUERY_STATE reads the state; NOP, RESERVED and the commands of other
                // workers are ignored; a pass asked for while paused is dropped.
                if (!IsPassCommand(command) || state == kWorkerPaused) break;
                BeginPass();
                PreparePass(command);
                if (stopRequested_) breakEvent.Set();
                const std::uint32_t result = RunPass(command);
                doneEvent.Set();
                AfterPass(command, result);
                break;
            }
        }
    }
}
