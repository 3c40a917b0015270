#include "sync/app/LocalPathToTreePath.h"

#include <string_view>

namespace {

// The child named `component` (or with that short name), the first in the tree's order.
const FileNode* FindComponent(const FileNode& node, std::string_view component) {
    for (const auto& child : node.children) {
        const SyncFileInfo& record = *child->data;
        if (record.name == component || (!record.extra.empty() && record.extra == component)) return child.get();
    }
    return nullptr;
}

}  // namespace

int LocalPathToTreePath(const FileNode& driverRoot, const std::string& syncFolder, const std::string& localPath,
                        std::string* treePath) {
    std::string_view folder = syncFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
    const std::string_view path = localPath;
    treePath->clear();
    if (folder.empty()) return 0;

    std::string_view relative;
    if (path == folder) {
        relative = {};
    } else if (folder == "/" && path.size() > 1 && path.front() == '/') {
        relative = path;
    } else if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
               path[folder.size()] == '/') {
        relative = path.substr(folder.size());
    } else {
        return 0;  // not in the sync folder
    }

    std::string found;
    const FileNode* node = &driverRoot;
    std::size_t start = 0;
    while (start < relative.size()) {
        const std::size_t next = relative.find('/', start + 1);
        const std::string_view component =
            relative.substr(start + 1, (next == std::string_view::npos ? relative.size() : next) - start - 1);
        node = FindComponent(*node, component);
        if (!node) {
            *treePath = std::string(relative);
            return 0;
        }
        found += '/';
        found += node->data->name;
        start = next == std::string_view::npos ? relative.size() : next;
    }
    *treePath = std::move(found);
    return 1;
}
