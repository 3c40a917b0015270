// The flag query: the answer from the unified tree, and the local socket that serves it
// to other programs of the user.
#include "sync/app/FlagQueryEndpoint.h"

#include <log4cpp/Category.hh>

#include <algorithm>
#include <chrono>
#include <climits>

#include "platform/fileops.h"
#include "platform/longpath.h"
#include "shm/SyncValues.h"
#include "sync/common/FolderDigest.h"
#include "sync/common/SyncLog.h"
#include "sync/common/TreeNode.h"
#include "sync/common/unicode.h"
#include "sync/engine/EngineContext.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kRequestHeaderSize = 12;  // u64 expected flag, u32 byte count
constexpr std::uint32_t kLongestPathBytes = 2 * kLongestPathChars;
// A serving thread whose accept failed (no descriptors left, say) tries again after this.
constexpr std::uint32_t kAcceptRetryMs = 100;

std::uint64_t LoadLe(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
    return value;
}

// Reads exactly `size` bytes before `deadline`; false when the peer was silent, slow,
// went away or the connection was shut down.
bool ReadExactly(plat::LocalPipe& peer, unsigned char* buffer, std::size_t size, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        std::size_t received = 0;
        const int waitMs = static_cast<int>(std::min<long long>(left, INT_MAX));
        if (peer.Read(buffer + done, size - done, received, waitMs) != plat::PipeStatus::Ok) return false;
        done += received;
    }
    return true;
}

// Removes the query sockets of earlier runs that ended without removing them (nobody
// listens there any more). Only one sync program runs per runtime folder.
void RemoveEndedQuerySockets(const std::string& folder, const std::string& keep) {
    std::vector<plat::fs::Entry> entries;
    if (!plat::fs::ListDirectory(folder, entries)) return;
    for (const plat::fs::Entry& entry : entries) {
        if (!IsSyncQuerySocketName(entry.name)) continue;
        const std::string path = plat::fs::Join(folder, entry.name);
        if (path == keep || entry.kind != plat::fs::Kind::Special) continue;
        plat::LocalPipe probe;
        if (plat::ConnectLocalPipe(path, probe, nullptr, 0) == plat::PipeStatus::Timeout) {
            plat::fs::RemoveFile(path);
        }
    }
}

}  // namespace

int AnswerFlagQuery(SyncApp& app, std::uint64_t expected, const char16_t* path, std::size_t units) {
    std::lock_guard<std::recursive_mutex> edit(app.treeEditLock);
    plat::MutexHolder trees(app.treeLock);

    std::string name;
    if (!UTF16toUTF8(path, units, name)) {
        SyncLog().debug("call COrvaneDlg::OnCopyData, receive filename=<not text>");
        return 0;
    }
    SyncLog().debug("call COrvaneDlg::OnCopyData, receive filename='" + EscapeForLog(name) + "'");
    if (name.empty()) return 0;
    if (name.front() != '\\') name.insert(name.begin(), '\\');
    TaskNode* node = FindNodeByPath(&app.UniformTree, 1, name);
    if (node == nullptr) return 0;
    SyncTaskInfo record = *node->data;
    BaseFunc::AndFileFlags(record, *node);
    return record.flag == expected ? 1 : 0;
}

// ---------------------------------------------------------------- the socket

FlagQueryEndpoint::FlagQueryEndpoint(SyncApp& app, Limits limits) : app_(app), limits_(limits) {
    limits_.connections = std::max(1u, limits_.connections);
}

FlagQueryEndpoint::~FlagQueryEndpoint() { Stop(); }

bool FlagQueryEndpoint::Start(const std::string& path) {
    Stop();
    if (path.empty()) return false;
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) RemoveEndedQuerySockets(path.substr(0, slash), path);
    if (!listener_.Listen(path)) {
        SyncLog().error("The flag query socket cannot be made: " + plat::fs::LastErrorText());
        return false;
    }
    stopped_.Reset();
    open_.assign(limits_.connections, nullptr);
    for (std::size_t slot = 0; slot < limits_.connections; ++slot) {
        threads_.emplace_back([this, slot] { Serve(slot); });
    }
    return true;
}

void FlagQueryEndpoint::Stop() {
    if (!listener_.IsListening()) return;
    stopped_.Set();
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (plat::LocalPipe* peer : open_) {
            if (peer != nullptr) peer->Shutdown();
        }
    }
    listener_.Shutdown();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    open_.clear();
    listener_.Close();
}

void FlagQueryEndpoint::Serve(std::size_t slot) {
    while (!stopped_.IsSet()) {
        plat::LocalPipe peer;
        const plat::PipeStatus status = listener_.Accept(peer, 0xFFFFFFFFu);
        if (status == plat::PipeStatus::Closed) return;
        if (status != plat::PipeStatus::Ok) {
            stopped_.Wait(kAcceptRetryMs);
            continue;
        }
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (stopped_.IsSet()) return;
            open_[slot] = &peer;
        }
        Handle(peer);
        std::lock_guard<std::mutex> hold(lock_);
        open_[slot] = nullptr;
    }
}

void FlagQueryEndpoint::Handle(plat::LocalPipe& peer) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(limits_.timeLimitMs);
    unsigned char header[kRequestHeaderSize];
    if (!ReadExactly(peer, header, sizeof header, deadline)) {
        SyncLog().debug("Flag query: no whole request within the time limit");
        return;
    }
    const std::uint64_t expected = LoadLe(header, 8);
    const auto byteCount = static_cast<std::uint32_t>(LoadLe(header + 8, 4));
    if (byteCount % 2 != 0 || byteCount > kLongestPathBytes) {
        SyncLog().debug("Flag query refused: a path of " + std::to_string(byteCount) + " bytes");
        return;
    }
    std::vector<unsigned char> bytes(byteCount);
    if (!ReadExactly(peer, bytes.data(), bytes.size(), deadline)) {
        SyncLog().debug("Flag query: no whole request within the time limit");
        return;
    }
    std::u16string path(byteCount / 2, u'\0');
    for (std::size_t i = 0; i < path.size(); ++i) {
        path[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    const int answer = AnswerFlagQuery(app_, expected, path.data(), path.size());
    peer.WriteByte(static_cast<std::uint8_t>(answer));
}
