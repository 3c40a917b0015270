#pragma once
// The network monitor: keeps g_bNetworkUp in step with the machine's connection state and
// tells the main window (SyncWindow::ResetAdapterTimer, on this thread) whenever a poll
// sees it change. One RUN command starts the polling loop, which lasts until the quit
// event or the thread's break event is set. The command loop is CWorkerLoop's.
#include <atomic>
#include <cstdint>
#include <functional>

#include "sync/common/WorkerLoop.h"
#include "sync/engine/EngineContext.h"

class CThreadOfAdapter : public CWorkerLoop {
public:
    using Probe = std::function<bool()>;

    CThreadOfAdapter(SyncApp* app, SyncWindow* dialog);
    ~CThreadOfAdapter() override;

    // Replaces the connection probe (tests); call before Start. Empty: the system's
    // (plat::NetworkConnected).
    void SetProbe(Probe probe);

    // The polling loop; returns 0 when a quit or break ends it.
    std::uint32_t AdapterMonOnRunHandler();

    SyncApp* app = nullptr;
    SyncWindow* dialog = nullptr;
    // Time between two polls.
    std::uint32_t pollMs = 2000;

protected:
    bool Bind() override;
    bool IsPassCommand(std::uint32_t command) const override { return command == THREAD_CMD_RUN; }
    std::uint32_t RunPass(std::uint32_t command) override;

private:
    bool Poll();

    Probe probe_;
};
