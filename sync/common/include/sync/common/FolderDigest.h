#pragma once
// Folder digests over the file trees, and the selection of work from the unified tree.
#include <cstdint>
#include <string>
#include <vector>

#include "sync/common/TreeNode.h"

class CSyncBase;

// 32 lower-case hexadecimal digits of the MD5 of the text's UTF-8 form; empty when the
// text is not valid UTF-16.
std::u16string MD5Hex(const std::u16string& text);

namespace BaseFunc {

// Sets the checksum of the folder and, first, of every folder below it: the upper-case MD5
// of the folder text (see FolderDigestText). A folder with any child whose checksum is
// empty gets an empty checksum, and so do its ancestors computed in the same pass. Files
// are left as they are.
void ComputeFolderChecksum(FileNode* folder);
// The text a folder's digest is taken over, from its children as they stand:
// "< - >\n", one line per child in name order ("<file:" lower-case name ":" upper-case
// checksum ":" size ">\n" or "<folder:" lower-case name ":" upper-case checksum ">\n"),
// "< - >\n".
std::string FolderDigestText(const FileNode& folder);
// From the node up through its parents, empties each checksum; stops at the first one
// already empty.
void ClearChecksumUpward(FileNode* node);
// For a folder record, sets `flag` to the combination of the flags of every file below
// `subtree`: 0 when any is 0, else 2 when any is 2, else 1 (1 also for no files). A file
// record keeps its flag.
void AndFileFlags(SyncTaskInfo& record, const TaskNode& subtree);
// True when some node below has a non-zero task.
bool HasPendingTask(const TaskNode* node);

// Appends to `out`, walking the children in name order, every node with the given aspect
// whose task or duty equals `code` (not descending into it); other folders are descended
// into. Every 1000 visited nodes the owner's CheckState may stop the walk: false then.
bool TraverseForTaskNode(CSyncBase* owner, TaskNode* node, std::uint32_t aspect, std::uint32_t code,
                         std::vector<TaskNode*>& out);
// Appends to `out`, in pre-order (folders before their contents), every node below `root`
// with the given aspect and kind whose task is 1 or 2. Every 1000 visited nodes the owner's
// CheckState may stop the walk: false then.
bool TraverseForFileFolder(CSyncBase* owner, TaskNode* root, std::uint32_t aspect, std::uint32_t kind,
                           std::vector<TaskNode*>& out);

}  // namespace BaseFunc
