#include "sync/common/FolderDigest.h"

#include "platform/md5.h"
#include "platform/text.h"
#include "sync/common/SyncBase.h"

namespace {

constexpr std::uint32_t kCheckEvery = 1000;

// Returns false when the owner's checkpoint says stop; checked once per kCheckEvery visits.
bool KeepGoing(CSyncBase* owner, std::uint32_t& visited, const char* func, int line) {
    if (++visited % kCheckEvery != 0 || owner == nullptr) return true;
    return !IsStopResult(owner->CheckState(func, line));
}

// Digests a folder's subtree; false when some checksum below it (or its own) is empty.
bool DigestFolder(FileNode* folder) {
    bool complete = true;
    for (const auto& child : folder->children) {
        if (child->data->isFile == 0 && !DigestFolder(child.get())) complete = false;
        if (child->data->checksum.empty()) complete = false;
    }
    if (!complete) {
        folder->data->checksum.clear();
        return false;
    }
    folder->data->checksum = BaseFunc::ToUpper(plat::Md5HexLower(BaseFunc::FolderDigestText(*folder)));
    return true;
}

// Combines a file's flag into the running one: 0 wins over 2, 2 over 1.
std::uint32_t CombineFlags(std::uint32_t running, std::uint32_t flag) {
    if (running == 0 || flag == 0) return 0;
    if (running == 2 || flag == 2) return 2;
    return 1;
}

std::uint32_t FilesFlag(const TaskNode& node, std::uint32_t running) {
    for (const auto& child : node.children) {
        if (running == 0) break;
        running = child->data->kind == 0 ? FilesFlag(*child, running) : CombineFlags(running, child->data->flag);
    }
    return running;
}

bool CollectTaskNodes(CSyncBase* owner, TaskNode* node, std::uint32_t aspect, std::uint32_t code,
                      std::vector<TaskNode*>& out, std::uint32_t& visited) {
    for (const auto& child : node->children) {
        const SyncTaskInfo& record = *child->data;
        if (record.aspect == aspect && (record.task == code || record.duty == code)) {
            out.push_back(child.get());
        } else if (record.kind == 0 && !CollectTaskNodes(owner, child.get(), aspect, code, out, visited)) {
            return false;
        }
        if (!KeepGoing(owner, visited, "BaseFunc::TraverseForTaskNode", 839)) return false;
    }
    return true;
}

}  // namespace

std::u16string MD5Hex(const std::u16string& text) {
    std::string bytes;
    if (!plat::Utf16ToUtf8(text, bytes)) return {};
    return plat::ToUtf16(plat::Md5HexLower(bytes));
}

namespace BaseFunc {

std::string FolderDigestText(const FileNode& folder) {
    std::string text = "< - >\n";
    for (const auto& child : folder.children) {
        const SyncFileInfo& record = *child->data;
        if (record.isFile != 0) {
            text += "<file:" + ToLower(record.name) + ":" + ToUpper(record.checksum.str()) + ":" +
                    std::to_string(record.size) + ">\n";
        } else {
            text += "<folder:" + ToLower(record.name) + ":" + ToUpper(record.checksum.str()) + ">\n";
        }
    }
    text += "< - >\n";
    return text;
}

void ComputeFolderChecksum(FileNode* folder) {
    if (folder != nullptr && folder->data->isFile == 0) DigestFolder(folder);
}

void ClearChecksumUpward(FileNode* node) {
    for (; node != nullptr && !node->data->checksum.empty(); node = node->parent) node->data->checksum.clear();
}

void AndFileFlags(SyncTaskInfo& record, const TaskNode& subtree) {
    if (record.kind == 0) record.flag = FilesFlag(subtree, 1);
}

bool HasPendingTask(const TaskNode* node) {
    if (node == nullptr) return false;
    for (const auto& child : node->children) {
        if (child->data->task != 0 || HasPendingTask(child.get())) return true;
    }
    return false;
}

bool TraverseForTaskNode(CSyncBase* owner, TaskNode* node, std::uint32_t aspect, std::uint32_t code,
                         std::vector<TaskNode*>& out) {
    std::uint32_t visited = 0;
    return node == nullptr || CollectTaskNodes(owner, node, aspect, code, out, visited);
}

bool TraverseForFileFolder(CSyncBase* owner, TaskNode* root, std::uint32_t aspect, std::uint32_t kind,
                           std::vector<TaskNode*>& out) {
    if (root == nullptr) return true;
    std::uint32_t visited = 0;
    for (TaskNode* node : root->Preorder()) {
        const SyncTaskInfo& record = *node->data;
        if (record.aspect == aspect && record.kind == kind && record.IsCreateOrUpdate()) out.push_back(node);
        if (!KeepGoing(owner, visited, "BaseFunc::TraverseForFileFolder", 862)) return false;
    }
    return true;
}

}  // namespace BaseFunc
