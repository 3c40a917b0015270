#include "client/app/ClientInstance.h"

ClientInstance::~ClientInstance() {
    Stop();
    lock_.Release();
}

ClientInstance::Claim ClientInstance::ClaimOrRaise() {
    switch (lock_.TryAcquire(kLockName)) {
        case plat::NamedLock::Result::Acquired:
            return Claim::First;
        case plat::NamedLock::Result::HeldElsewhere: {
            plat::LocalPipe link;
            if (plat::ConnectLocalPipe(plat::LocalPipePath(kRaiseLink), link, nullptr, 5000) == plat::PipeStatus::Ok)
                link.WriteByte(1);
            return Claim::Second;
        }
        case plat::NamedLock::Result::Failed:
            break;
    }
    return Claim::Failed;
}

bool ClientInstance::Listen(std::function<void()> onRaise) {
    if (thread_.joinable()) return true;
    onRaise_ = std::move(onRaise);
    if (!listener_.Listen(plat::LocalPipePath(kRaiseLink))) return false;
    stop_ = false;
    thread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void ClientInstance::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    listener_.Close();
}

void ClientInstance::AcceptLoop() {
    while (!stop_.load()) {
        plat::LocalPipe link;
        // Short waits, so a stop is noticed within a quarter of a second.
        const plat::PipeStatus status = listener_.Accept(link, 250);
        if (status == plat::PipeStatus::Timeout) continue;
        if (status != plat::PipeStatus::Ok) return;  // the listener broke: no more raises
        char byte = 0;
        std::size_t received = 0;
        if (link.Read(&byte, 1, received, 1000) == plat::PipeStatus::Ok && received == 1 && onRaise_) onRaise_();
    }
}
