#pragma once
// Turns the full path of a changed local item, as the directory watcher reports it, into
// the item's path in the Driver tree (the local listing), with the names the tree
// records. A removed item, or the old name of a renamed one, no longer exists on disk, so
// its recorded names come from the tree.
#include <string>

#include "sync/common/TreeNode.h"

// `localPath` and `syncFolder` are UTF-8 with '/' separators (a trailing '/' of the folder
// does not count). The path must be the folder itself or lie below it, whole components
// compared byte for byte.
//
// Each component of the path below the folder is looked up among the children of the
// node reached so far, in the tree's order: the first child whose name, or whose short
// name (the record's `extra`, when it has one), equals it byte for byte. On success the
// result is 1 and `treePath` holds "/" and a name for each level ("" for the folder
// itself). When a component is not found (an empty one never is) the result is 0 and
// `treePath` holds the path below the folder as given, starting with "/"; when the path
// does not lie in the folder, 0 with `treePath` empty.
//
// The caller holds the tree lock of the Driver tree.
int LocalPathToTreePath(const FileNode& driverRoot, const std::string& syncFolder, const std::string& localPath,
                        std::string* treePath);
