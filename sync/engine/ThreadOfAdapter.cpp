#include "sync/engine/ThreadOfAdapter.h"

#include "platform/netprobe.h"

CThreadOfAdapter::CThreadOfAdapter(SyncApp* a, SyncWindow* d) : CThread(a, d) {
    hasEvent = 1;
    name = u"CThreadOfAdapter";
}

CThreadOfAdapter::~CThreadOfAdapter() { StopAndWait(); }

void CThreadOfAdapter::OnStopRequested() { breakEvent.Set(); }

void CThreadOfAdapter::SetProbe(Probe probe) { probe_ = std::move(probe); }

bool CThreadOfAdapter::Poll() { return probe_ ? probe_() : plat::NetworkConnected(); }

std::uint32_t CThreadOfAdapter::ThreadHandler() {
    for (;;) {
        std::uint32_t command = 0;
        GetCommand(command);
        switch (command) {
            case THREAD_CMD_BIND:
                app = static_cast<SyncApp*>(param1);
                dialog = static_cast<SyncWindow*>(param2);
                if (app == nullptr || dialog == nullptr) return 0xFFFFFFFFu;
                break;
            case THREAD_CMD_RUN:
                if (state == 3) break;
                state = 2;
                breakEvent.Reset();
                abortEvent.Reset();
                doneEvent.Reset();
                AdapterMonOnRunHandler();
                doneEvent.Set();
                break;
            case THREAD_CMD_PAUSE:
                if (state != 3) state = 3;
                break;
            case THREAD_CMD_RESUME:
                if (state == 3) state = 4;
                break;
            case THREAD_CMD_EXIT:
                return 0;
            default:
                break;
        }
    }
}

std::uint32_t CThreadOfAdapter::AdapterMonOnRunHandler() {
    if (CheckBreak("CThreadOfAdapter::AdapterMonOnRunHandler", 159) < 2) return 0;
    // The first poll sets the flag without telling anyone.
    g_bNetworkUp = Poll();
    for (;;) {
        std::uint32_t result;
        if (g_pTerminateEvent != nullptr) {
            result = plat::WaitAny({g_pTerminateEvent, &breakEvent}, pollMs);
        } else {
            result = plat::WaitAny({&breakEvent}, pollMs);
            if (result == 0) result = 1;
        }
        if (result == 0 || result == 1) return 0;
        const bool up = Poll();
        if (up != g_bNetworkUp.load()) {
            g_bNetworkUp = up;
            if (dialog != nullptr) dialog->ResetAdapterTimer();
        }
    }
}
