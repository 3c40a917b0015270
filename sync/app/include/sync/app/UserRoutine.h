#pragma once
// The sync program's state files, all in one XML layout (root element "Orvane"):
// - "Tracer.txt", "Server.txt", "Driver.txt": trees, one nested "fileitem" element per
//   node with the attributes iF, t, h, N, P, F;
// - "UserInfo.txt": the known accounts, one "UserInfo" element each (never a password);
// - "history.txt": the finished items of the sync-details window, one "Item" each.
//
// Saves build a fresh document and write it through a temporary file that is renamed
// into place; they return their real result and leave the old file untouched on failure.
// Loads use a file only when it parses: a file that does not is kept aside by the XML
// library and counts as missing. Paths are UTF-8. None of these routines locks anything:
// callers hold the locks of the trees and lists they pass.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sync/common/TreeNode.h"
#include "sync/common/UserRecord.h"
#include "sync/common/FeedLists.h"

class XmlElement;
class XmlElementSink;

namespace UserRoutine {

// ------------------------------------------------------------------- tree files

// Writes the tree below `root` (the root itself is not written), paths with the separator
// of `mode` (see WriteTreeNode), and logs the label, ":" and "成功" or "失败". True when the
// file was written.
bool SaveTreeFile(const FileNode& root, const std::string& path, std::string_view label, int mode);
// Writes the synchronised state of the unified tree (see WriteTracerNode); logs
// "同步历史列表文件存储" with the result.
bool SaveTracerFile(const TaskNode& root, const std::string& path);

// One "fileitem" per child of `node`, recursively, appended to `parent` (the elements
// go to the sink inside its open element). Each item's path is its NodePath with '\\'
// separators when mode is 1, '/' otherwise.
int WriteTreeNode(const FileNode& node, XmlElementSink& parent, int mode);
int WriteTreeNode(const FileNode& node, XmlElement& parent, int mode);
// One "fileitem" per child of the unified-tree node that is in step (flag 1) or carries
// an update (2) or delete (3) task and has a partner: the local partner when in step or
// when the task goes from server to local, else the server partner. Values: the kind,
// the name, the partner's checksum (files only), no node reference, the partner's path
// with '\\' separators and its size. A folder's children follow; a file's never.
int WriteTracerNode(const TaskNode& node, XmlElementSink& parent);
int WriteTracerNode(const TaskNode& node, XmlElement& parent);

// Reads the child elements of `element` into new children of `node`: 1 when every one
// was taken in. A name that is already taken at its level (ignoring case) stops that
// level; a name that cannot be a path component (empty, ".", "..", holding '/', '\\' or
// a control character) is skipped with its subtree. `depth` starts at 1; levels deeper
// than kMaxTreeDepth are not read.
inline constexpr int kMaxTreeDepth = 2048;
int ReadTreeFile(const XmlElement& element, FileNode& node, int depth);

// Empties the tree, gives its root a fresh record named `rootName` and reads the file
// into it. False when the file is missing or unusable (the tree then stays empty) or not
// every element was taken in.
bool LoadTreeFile(FileNode& root, const std::string& path, const char* rootName = "Tracer");

// ------------------------------------------------------------------ user list

// Writes the accounts (without passwords) and logs the label with the result.
bool SaveUserInfoList(const std::string& path, std::string_view label, const std::vector<CurrentUser>& users);
void WriteUserInfoFile(XmlElement& parent, const std::vector<CurrentUser>& users);
// Appends one record per child element; always 1.
int ReadUserInfoFile(const XmlElement& element, std::vector<CurrentUser>& users);
// Empties `users` and reads the file into it; false when the file is missing or unusable.
bool LoadUserInfoList(const std::string& path, std::vector<CurrentUser>& users);

// ---------------------------------------------------------------------- history

bool SaveHistoryFile(const std::string& path, const std::vector<SyncDoneItem>& items);
void WriteHistoryFile(XmlElement& parent, const std::vector<SyncDoneItem>& items);
// Appends one entry per child element; always 1.
int ReadHistoryFile(const XmlElement& element, std::vector<SyncDoneItem>& items);
// Appends the file's entries to `items`; false when the file is missing or unusable.
bool LoadHistoryFile(const std::string& path, std::vector<SyncDoneItem>& items);

}  // namespace UserRoutine

// The finished list of the sync-details window and its file "history.txt". The file is
// read into the list once per account: a second login of the same account reads nothing.
// When another account logs in, the list is written to the file and emptied first, so
// the entries are neither doubled nor lost. Any thread.
class SyncHistory {
public:
    explicit SyncHistory(std::string path) : path_(std::move(path)) {}

    // Reads the file into the finished list unless it was read for `account` already.
    // True when the file was read.
    bool ReadOnce(const std::string& account);
    // Writes the finished list to the file; its real result.
    bool Save();

private:
    std::mutex lock_;
    std::string path_;
    bool loaded_ = false;
    std::string account_;
};
