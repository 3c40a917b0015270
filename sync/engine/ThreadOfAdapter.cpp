#include "sync/engine/ThreadOfAdapter.h"

#include "platform/netprobe.h"

CThreadOfAdapter::CThreadOfAdapter(SyncApp* a, SyncWindow* d) : CWorkerLoop(a, d, u"CThreadOfAdapter") {}

CThreadOfAdapter::~CThreadOfAdapter() { StopAndWait(); }

void CThreadOfAdapter::SetProbe(Probe probe) { probe_ = std::move(probe); }

bool CThreadOfAdapter::Poll() { return probe_ ? probe_() : plat::NetworkConnected(); }

bool CThreadOfAdapter::Bind() {
    app = static_cast<SyncApp*>(param1);
    dialog = static_cast<SyncWindow*>(param2);
    return app != nullptr && dialog != nullptr;
}

std::uint32_t CThreadOfAdapter::RunPass(std::uint32_t) { return AdapterMonOnRunHandler(); }

std::uint32_t CThreadOfAdapter::AdapterMonOnRunHandler() {
    if (IsStopResult(CheckBreak("CThreadOfAdapter::AdapterMonOnRunHandler", 159))) return 0;
    // The first poll sets the flag without telling anyone.
    g_bNetworkUp = Poll();
    for (;;) {
        // The wait reads like a checkpoint: an event index (quit or break) means stop.
        const std::uint32_t result = g_pTerminateEvent != nullptr
                                         ? plat::WaitAny({g_pTerminateEvent, &breakEvent}, pollMs)
                                         : plat::WaitAny({&breakEvent}, pollMs);
        if (IsStopResult(result)) return 0;
        const bool up = Poll();
        if (up != g_bNetworkUp.load()) {
            g_bNetworkUp = up;
            if (dialog != nullptr) dialog->ResetAdapterTimer();
        }
    }
}
