#pragma once
// Fixtures of the transfer queue, edit task and controller tests: a sink that keeps a
// copy of every message posted, and a fake editing application that the desktop
// association layer starts for ".txt" files and that the test drives line by line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client/core/EditRecords.h"
#include "client/core/MessageManage.h"
#include "client/core/TransferRecords.h"
#include "client/local/AppAssociation.h"
#include "client/local/WatcherBridge.h"
#include "client/local/WinFileSystemAdapter.h"
#include "dirwatch/DirectoryChanges.h"
#include "support/sandbox.h"
#include "testserver/TestServer.h"

namespace clienttest {

// Holds the requests of `route` in the server for `delay`, or until ReleaseDelays.
inline void HoldRequests(testserver::TestServer& server, const std::string& route, std::chrono::milliseconds delay,
                         int count = testserver::kEveryRequest) {
    testserver::Fault hold{route, testserver::FaultKind::Delay};
    hold.delay = delay;
    hold.count = count;
    server.InjectFault(hold);
}

// Answers every request of `route` with status 500 until the faults are cleared.
inline void RefuseRequests(testserver::TestServer& server, const std::string& route) {
    testserver::Fault refuse{route, testserver::FaultKind::Status, 500};
    refuse.count = testserver::kEveryRequest;
    server.InjectFault(refuse);
}

// Writes `count` files "f0.txt", "f1.txt"... with `content` + their number into `folder`.
inline std::vector<std::string> WriteFiles(const std::string& folder, int count, const std::string& content) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        paths.push_back(folder + "/f" + std::to_string(i) + ".txt");
        testsupport::WriteFile(paths.back(), content + std::to_string(i));
    }
    return paths;
}

// One posted message, its payload copied.
struct PostedMessage {
    std::int32_t source = 0;
    std::int32_t type = 0;
    std::optional<TransferFileTask> task;        // 7, 8
    std::optional<TransferProgress> progress;    // 9
    std::optional<TransferItem> item;            // 10
    std::optional<EditTaskStateMessage> edit;    // 12
    std::optional<TextNotice> notice;            // 1
    std::string text;                            // 2 to 5, 11
};

inline PostedMessage CopyMessage(const ControlMessage& m) {
    PostedMessage p;
    p.source = m.source;
    p.type = m.type;
    if (const auto* t = m.PayloadAs<TransferFileTask>()) p.task = *t;
    if (const auto* t = m.PayloadAs<TransferProgress>()) p.progress = *t;
    if (const auto* t = m.PayloadAs<TransferItem>()) p.item = *t;
    if (const auto* t = m.PayloadAs<EditTaskStateMessage>()) p.edit = *t;
    if (const auto* t = m.PayloadAs<TextNotice>()) p.notice = *t;
    if (const auto* t = m.PayloadAs<std::string>()) p.text = *t;
    return p;
}

class RecordingSink : public SendControlMessageInterface {
public:
    void SendControlMessage(ControlMessage message) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(CopyMessage(message));
    }
    std::vector<PostedMessage> All() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    std::vector<PostedMessage> OfType(std::int32_t type) {
        std::vector<PostedMessage> out;
        for (PostedMessage& m : All())
            if (m.type == type) out.push_back(std::move(m));
        return out;
    }
    // The items of the type-10 messages.
    std::vector<TransferItem> Items() {
        std::vector<TransferItem> out;
        for (const PostedMessage& m : OfType(MessageTransferTaskFinished)) out.push_back(*m.item);
        return out;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<PostedMessage> messages_;
};

// The application of ".txt" files in a hermetic desktop set-up: a shell script that logs
// the file it was started for and then runs the lines the test sends it:
//   "append TEXT"  appends TEXT to the file (a save)
//   "replace TEXT" writes TEXT to a new file and renames it over the file (a safe save)
//   "exit"         ends the application
//   "handover"     hands the file to a background process that holds a lock on it, reads
//                  one more line, appends it and ends; the application itself ends at once
// The script reads its lines from a FIFO that the test holds open; closing it (the
// destructor) ends every script still reading.
class FakeEditor {
public:
    explicit FakeEditor(const std::filesystem::path& root) : root_(root) {
        namespace fs = std::filesystem;
        const fs::path script = root / "editor.sh";
        control_ = (root / "control.fifo").string();
        ready_ = (root / "ready.fifo").string();
        log_ = (root / "started.log").string();
        testsupport::WriteFile(script,
                               "#!/bin/sh\n"
                               "ctl=\"$1\"; ready=\"$2\"; log=\"$3\"; f=\"$4\"\n"
                               "printf '%s\\n' \"$f\" >> \"$log\"\n"
                               "exec 3<\"$ctl\"\n"
                               "while IFS= read -r line <&3; do\n"
                               "  cmd=\"${line%% *}\"; arg=\"${line#* }\"\n"
                               "  case \"$cmd\" in\n"
                               "    append) printf '%s' \"$arg\" >> \"$f\" ;;\n"
                               "    replace) printf '%s' \"$arg\" > \"$f.new\" && mv \"$f.new\" \"$f\" ;;\n"
                               "    exit) exit 0 ;;\n"
                               "    handover)\n"
                               "      flock \"$f\" sh -c 'printf \"locked\\n\" > \"$1\"; IFS= read -r x; "
                               "printf \"%s\" \"$x\" >> \"$2\"' _ \"$ready\" \"$f\" <&3 &\n"
                               "      IFS= read -r x < \"$ready\"\n"
                               "      exit 0 ;;\n"
                               "  esac\n"
                               "done\n");
        ::mkfifo(control_.c_str(), 0600);
        ::mkfifo(ready_.c_str(), 0600);
        // Held for reading and writing: the scripts never wait for a writer, and see the
        // end of input once the test closes it.
        fd_ = ::open(control_.c_str(), O_RDWR | O_CLOEXEC);
        testsupport::WriteFile(root / "xdg/share/mime/globs2", "50:text/plain:*.txt\n");
        testsupport::WriteFile(root / "xdg/share/applications/mimeinfo.cache",
                               "[MIME Cache]\ntext/plain=fakeedit.desktop;\n");
        testsupport::WriteFile(root / "xdg/share/applications/fakeedit.desktop",
                               "[Desktop Entry]\nType=Application\nName=Fake Editor\nExec=sh \"" + script.string() +
                                   "\" \"" + control_ + "\" \"" + ready_ + "\" \"" + log_ + "\" %f\n");
        dirs_.configHome = (root / "xdg/config").string();
        dirs_.dataHome = (root / "xdg/data").string();
        dirs_.dataDirs = {(root / "xdg/share").string()};
        dirs_.binDirs = {"/usr/bin", "/bin"};
    }
    ~FakeEditor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FakeEditor(const FakeEditor&) = delete;
    FakeEditor& operator=(const FakeEditor&) = delete;

    const XdgDirs& Dirs() const { return dirs_; }
    bool Ok() const { return fd_ >= 0; }

    void Send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The files the application was started for, in order.
    std::vector<std::string> Started() const {
        std::vector<std::string> out;
        if (!std::filesystem::exists(log_)) return out;
        std::istringstream in(testsupport::ReadFile(log_));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }

private:
    std::filesystem::path root_;
    std::string control_, ready_, log_;
    XdgDirs dirs_;
    int fd_ = -1;
};

// This machine's file layer with real folder watches, and the fake editor as the
// application of ".txt" files.
struct EditingDesktop {
    explicit EditingDesktop(const std::filesystem::path& root)
        : editor(root), provider(editor.Dirs()), bridge(watcher), files(&bridge, &provider) {}

    FakeEditor editor;
    XdgAssociationProvider provider;
    CDirectoryChangeWatcher watcher;
    WatcherBridge bridge;
    WinFileSystemAdapter files;
};

}  // namespace clienttest
