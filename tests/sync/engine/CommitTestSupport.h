#pragma once
// Shared parts of the commit thread tests: a main window that records what it is told, a
// scripted server, tree builders that link partners by path, and a fixture that runs one
// commit run and waits for its report.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "platform/fileops.h"
#include "platform/text.h"
#include "support/feedlists.h"
#include "support/sandbox.h"
#include "support/wait.h"
#include "sync/common/SyncBase.h"
#include "sync/common/TreeNode.h"
#include "sync/engine/CommitServerOps.h"
#include "sync/engine/CommitThread.h"
#include "sync/engine/EngineContext.h"
#include "sync/engine/FailReasons.h"
#include "sync/engine/SyncMessages.h"

namespace committest {

struct Message {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    bool sent = false;  // SendMessage (else PostMessage)
};

class RecordingWindow : public SyncWindow {
public:
    bool PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        Record(Message{message, wParam, lParam, false});
        return true;
    }
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        Record(Message{message, wParam, lParam, true});
        return 0;
    }
    void OnGammaConform(std::uintptr_t, std::intptr_t) override {}
    void ResetAdapterTimer() override { ++adapterResets; }

    std::vector<Message> Of(std::uint32_t message) const {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<Message> out;
        for (const Message& m : messages_) {
            if (m.message == message) out.push_back(m);
        }
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.clear();
    }

    std::atomic<int> adapterResets{0};

private:
    void Record(const Message& m) {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.push_back(m);
    }
    mutable std::mutex lock_;
    std::vector<Message> messages_;
};

// The process-wide quit event for the whole test program (the local scan tests' own).
using QuitEventEnvironment = drivertest::QuitEventEnvironment;

// One server call as the scripted server saw it.
struct Call {
    std::string op;  // "createFolder", "copy", "move", "delete", "rename", "upload", "download"
    std::vector<std::string> args;
    SyncOperation current;  // the operation record while the call ran
};

// A server that answers every call with success and a fresh reference, unless `respond`
// says otherwise. Downloads write `contents[nodeRef]` below `root` through a temporary file,
// or hand it to `place` when it is set.
class FakeServerOps : public CommitServerOps {
public:
    using Respond = std::function<bool(const Call&, CSyncBase* owner, ServerCallResult& result)>;

    ServerCallResult CreateFolder(CSyncBase* owner, SyncOperationSlot* op, const std::string& parentRef,
                                  const std::string& name) override {
        return Answer(MakeCall("createFolder", {parentRef, name}), owner, op);
    }
    ServerCallResult Copy(CSyncBase* owner, SyncOperationSlot* op, const std::string& sourceParentRef,
                          const std::string& sourceRef, const std::string& targetFolderRef) override {
        return Answer(MakeCall("copy", {sourceParentRef, sourceRef, targetFolderRef}), owner, op);
    }
    ServerCallResult Move(CSyncBase* owner, SyncOperationSlot* op, const std::string& sourceParentRef,
                          const std::string& sourceRef, const std::string& targetFolderRef) override {
        return Answer(MakeCall("move", {sourceParentRef, sourceRef, targetFolderRef}), owner, op);
    }
    ServerCallResult Delete(CSyncBase* owner, SyncOperationSlot* op, const std::string& parentRef,
                            const std::string& itemRef) override {
        return Answer(MakeCall("delete", {parentRef, itemRef}), owner, op, false);
    }
    ServerCallResult Rename(CSyncBase* owner, SyncOperationSlot* op, const std::string& itemRef,
                            const std::string& newName) override {
        return Answer(MakeCall("rename", {itemRef, newName}), owner, op, false);
    }
    ServerCallResult UploadFile(CSyncBase* owner, SyncOperationSlot* op, const TaskNode& progress,
                                const Upload& u) override {
        return Answer(
            MakeCall("upload", {u.destinationRef, u.updateRef, u.checksum, u.relativePath, std::to_string(u.size)}),
            owner, op);
    }
    // The server's tree as it stands: a copy of `listing` (null: the listing fails with
    // `listStatus`). Listings are counted, not recorded as calls.
    ServerCallResult ListServer(CSyncBase*, FileNode* into) override {
        ++listings;
        ServerCallResult result;
        if (listing == nullptr) {
            result.status = listStatus;
            return result;
        }
        into->DeleteChildren();
        *into->data = *listing->data;
        for (const auto& child : listing->children) into->InsertSubtree(*child);
        result.ok = true;
        return result;
    }
    ServerCallResult DownloadFile(CSyncBase* owner, SyncOperationSlot* op, const TaskNode*,
                                  const Download& d) override {
        ServerCallResult result =
            Answer(MakeCall("download", {d.nodeRef, d.relativePath, std::to_string(d.size)}), owner, op, false);
        if (!result.ok) return result;
        if (place) {
            result.status = place(d.relativePath, contents[d.nodeRef]);
            result.ok = result.status == 0;
            return result;
        }
        std::string relative = Slashed(d.relativePath);
        while (!relative.empty() && relative.front() == '/') relative.erase(relative.begin());
        const std::filesystem::path target = root / relative;
        std::filesystem::create_directories(target.parent_path());
        const std::filesystem::path temp = target.parent_path() / ".fake-download.tmp";
        testsupport::WriteFile(temp, contents[d.nodeRef]);
        if (std::filesystem::is_directory(target)) std::filesystem::rename(target, target.string() + ".aside");
        std::filesystem::rename(temp, target);
        return result;
    }

    std::vector<Call> Calls() const {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }
    std::vector<std::string> Ops() const {
        std::vector<std::string> ops;
        for (const Call& c : Calls()) ops.push_back(c.op);
        return ops;
    }

    Respond respond;
    const FileNode* listing = nullptr;
    std::uint32_t listStatus = 0;
    std::atomic<int> listings{0};
    std::map<std::string, std::string> contents;
    std::filesystem::path root;
    // Puts a download's content at its record path in place of the real disk; the status
    // of the failed request (0: in place).
    std::function<std::uint32_t(const std::string& relativePath, const std::string& content)> place;

private:
    static Call MakeCall(std::string op, std::vector<std::string> args) {
        Call call;
        call.op = std::move(op);
        call.args = std::move(args);
        return call;
    }
    static std::string Slashed(std::string path) {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }

    ServerCallResult Answer(Call call, CSyncBase* owner, SyncOperationSlot* op, bool givesRef = true) {
        if (op != nullptr) call.current = op->Snapshot();
        int serial;
        {
            std::lock_guard<std::mutex> hold(lock_);
            calls_.push_back(call);
            serial = ++serial_;
        }
        ServerCallResult result;
        result.ok = true;
        if (givesRef) result.nodeRef = "workspace://SpacesStore/new" + std::to_string(serial);
        if (respond && !respond(call, owner, result)) result.ok = false;
        if (result.ok && op != nullptr) {
            op->Update([](SyncOperation& o) {
                o.state = 1;
                o.sentMs = 1;
            });
        }
        return result;
    }

    mutable std::mutex lock_;
    std::vector<Call> calls_;
    int serial_ = 0;
};

// Tree builders. Record paths use '/' with a leading '/' (as the listings make them);
// server items get the reference "ref:<path>".
inline FileNode* AddItem(FileNode* root, const std::string& path, bool file, std::uint64_t size = 0,
                         const std::string& checksum = std::string(), bool server = false) {
    FileNode* node = root;
    std::string at;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t cut = path.find('/', start);
        const std::string name = path.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
        at += "/" + name;
        const bool last = cut == std::string::npos;
        auto it = node->FindChild(std::string_view(name));
        if (it == node->children.end()) {
            SyncFileInfo record(last && file ? 1 : 0, 0, last ? size : 0, at);
            if (last) record.checksum = checksum;
            if (server) record.nodeRef = "ref:" + at;
            node = node->InsertChild(record).Node();
        } else {
            node = it->get();
        }
        if (last) break;
        start = cut + 1;
    }
    return node;
}

class CommitFixture : public ::testing::Test {
protected:
    void SetUp() override {
        root = sandbox.Dir("sync");
        app.syncFolder = plat::ToUtf16(root.string());
        app.mainWindow = &window;
        app.ServerTree.data->nodeRef = "ref:home";
        app.UniformTree.data->localPartner = &app.DriverTree;
        app.UniformTree.data->serverPartner = &app.ServerTree;
        app.UniformTree.data->flag = 1;
        ops.root = root;
        ops.listing = &app.ServerTree;
        g_bNetworkUp = true;
        if (g_pTerminateEvent != nullptr) g_pTerminateEvent->Reset();
        testsupport::EmptyFeedLists::Reset();
    }
    void TearDown() override {
        if (g_pTerminateEvent != nullptr) g_pTerminateEvent->Reset();
        g_bNetworkUp = true;
    }

    FileNode* Local(const std::string& path, bool file = true, std::uint64_t size = 0,
                    const std::string& checksum = std::string()) {
        return AddItem(&app.DriverTree, path, file, size, checksum);
    }
    FileNode* Server(const std::string& path, bool file = true, std::uint64_t size = 0,
                     const std::string& checksum = std::string()) {
        return AddItem(&app.ServerTree, path, file, size, checksum, true);
    }
    // The unified node at `path` (made along the way), its partners linked by path, with
    // the given work.
    TaskNode* Task(const std::string& path, std::uint32_t kind, std::uint32_t aspect, std::uint32_t task,
                   std::uint32_t duty = 0) {
        TaskNode* node = &app.UniformTree;
        std::string at;
        std::size_t start = 1;
        for (;;) {
            const std::size_t cut = path.find('/', start);
            const bool last = cut == std::string::npos;
            const std::string name = path.substr(start, last ? std::string::npos : cut - start);
            at += "/" + name;
            auto it = node->FindChild(std::string_view(name));
            if (it == node->children.end()) {
                SyncTaskInfo record;
                record.name = name;
                record.kind = last ? kind : 0;
                record.flag = 1;
                record.localPartner = FindFileNodeByPath(&app.DriverTree, 2, at);
                record.serverPartner = FindFileNodeByPath(&app.ServerTree, 2, at);
                node = node->InsertChild(record).Node();
            } else {
                node = it->get();
            }
            if (last) break;
            start = cut + 1;
        }
        node->data->aspect = aspect;
        node->data->task = task;
        node->data->duty = duty;
        node->data->flag = 0;
        return node;
    }
    TaskNode* FindTask(const std::string& path) { return FindNodeByPath(&app.UniformTree, 2, path); }
    FileNode* FindLocal(const std::string& path) { return FindFileNodeByPath(&app.DriverTree, 2, path); }
    FileNode* FindServer(const std::string& path) { return FindFileNodeByPath(&app.ServerTree, 2, path); }

    // Starts the thread, runs one commit run and waits for its report and its end.
    Message RunOnce(CCommitThread& thread) {
        if (!thread.IsAlive()) thread.Start();
        const std::size_t before = window.Of(WM_SIGMA_CONFORM).size();
        thread.PostCommand(THREAD_CMD_RUN);
        EXPECT_TRUE(testsupport::WaitUntil([&] { return window.Of(WM_SIGMA_CONFORM).size() > before; }));
        EXPECT_TRUE(testsupport::WaitUntil([&] { return thread.doneEvent.IsSet(); }));
        const auto reports = window.Of(WM_SIGMA_CONFORM);
        return reports.empty() ? Message{} : reports.back();
    }

    static std::vector<std::string> Paths(const std::vector<SyncDoneItem>& items) {
        std::vector<std::string> out;
        for (const auto& i : items) out.push_back(i.Path);
        std::sort(out.begin(), out.end());
        return out;
    }
    // Path -> the reason a failed row gives ("key" or "key code").
    static std::map<std::string, std::string> Reasons(const std::vector<SyncDoneItem>& items) {
        std::map<std::string, std::string> out;
        for (const auto& i : items) {
            out[i.Path] = i.Reason + (i.ReasonCode != 0 ? " " + std::to_string(i.ReasonCode) : std::string());
        }
        return out;
    }
    static std::vector<std::string> Paths(const std::vector<SyncDoingItem>& items) {
        std::vector<std::string> out;
        for (const auto& i : items) out.push_back(i.Path);
        std::sort(out.begin(), out.end());
        return out;
    }

    testsupport::Sandbox sandbox;
    std::filesystem::path root;
    SyncApp app;
    RecordingWindow window;
    FakeServerOps ops;
};

}  // namespace committest
