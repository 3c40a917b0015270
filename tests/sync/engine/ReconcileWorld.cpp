#include "ReconcileWorld.h"

#include <sstream>

#include "sync/common/FolderDigest.h"
#include "sync/common/unicode.h"

namespace enginetest {

namespace {

// The folder node at `path` ("/a/b"), made on the way.
FileNode* Folder(FileNode& root, const std::string& path) {
    if (path.empty()) return &root;
    FileNode* parent = Folder(root, ParentPath(path));
    const std::string name = Name(path);
    auto it = parent->FindChild(std::string_view(name));
    if (it != parent->children.end()) return it->get();
    return parent->InsertChild(SyncFileInfo(0, 0, 0, path)).Node();
}

void CollectNodes(const FileNode& root, std::set<const FileNode*>& out) {
    for (const auto& child : root.children) {
        out.insert(child.get());
        CollectNodes(*child, out);
    }
}

void DumpPlanBelow(const TaskNode& node, const std::string& prefix, std::ostringstream& out) {
    for (const auto& child : node.children) {
        const SyncTaskInfo& r = *child->data;
        const std::string path = prefix + "/" + r.name;
        if (out.tellp() > 0) out << ' ';
        out << path << (r.kind == 0 ? "/" : "") << ":a" << unsigned{r.aspect} << 't' << unsigned{r.task};
        if (r.duty == kDutyMove) out << " move";
        if (r.duty == kDutyCopy) out << " copy";
        DumpPlanBelow(*child, path, out);
    }
}

}  // namespace

void AddItems(FileNode& root, const std::string& spec) {
    std::istringstream in(spec);
    std::string token;
    while (in >> token) {
        const std::size_t eq = token.find('=');
        std::string path = "/" + token.substr(0, eq);
        if (eq == std::string::npos) {
            Folder(root, FakeFs::Norm(path));
            continue;
        }
        std::string content = token.substr(eq + 1);
        std::string nodeRef;
        if (const std::size_t hash = content.find('#'); hash != std::string::npos) {
            nodeRef = content.substr(hash + 1);
            content.resize(hash);
        }
        std::string checksum = content;
        if (!content.empty() && content[0] == '?') {
            checksum.clear();
            content = content.size() > 1 ? content.substr(1) : "?";
        }
        FileNode* parent = Folder(root, ParentPath(path));
        SyncFileInfo record(1, 0, content.size(), path);
        record.checksum = checksum;
        record.nodeRef = nodeRef;
        parent->InsertChild(record);
    }
}

std::string DumpTree(const FileNode& root) {
    std::ostringstream out;
    for (FileNode* node : const_cast<FileNode&>(root).Preorder()) {
        if (out.tellp() > 0) out << ' ';
        out << NodePath(node, 2);
        if (node->data->isFile == 0) {
            out << '/';
        } else {
            out << '=' << node->data->checksum;
        }
    }
    return out.str();
}

std::string DumpPlan(const TaskNode& root) {
    std::ostringstream out;
    DumpPlanBelow(root, std::string(), out);
    return out.str();
}

std::string LocalPath(const std::string& slashPath) {
    std::string out = "\\" + slashPath;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

LocalChangeRecord Change(std::uint32_t kind, const std::string& path, std::uint64_t time, const std::string& newPath) {
    LocalChangeRecord record;
    record.kind = kind;
    record.path = LocalPath(path);
    record.pathKey = BaseFunc::ToLower(record.path);
    if (!newPath.empty()) {
        record.newPath = LocalPath(newPath);
        record.newPathKey = BaseFunc::ToLower(record.newPath);
    }
    record.time = time;
    return record;
}

World::World(const std::string& tracerSpec, const std::string& localSpec, const std::string& serverSpec) {
    BaseFunc::SetConflictTagSource([] { return static_cast<std::uint16_t>(0xAB); });
    AddItems(tracer, tracerSpec);
    AddItems(driver, localSpec);
    AddItems(server, serverSpec);
    for (FileNode* node : driver.Preorder()) {
        if (node->data->isFile != 0) {
            const std::string content = node->data->checksum.empty() ? std::string("?") : node->data->checksum;
            fs.PutFile(fs.root + NodePath(node, 2), content);
        } else {
            fs.PutFolder(fs.root + NodePath(node, 2));
        }
    }
    rc.announce = &announce;
    rc.unknown = &unknown;
}

World::~World() { BaseFunc::SetConflictTagSource({}); }

bool World::Build() { return rc.BuildCycle(&driver, &server, &tracer, &uniform); }

void World::Write(const std::string& path, const std::string& content) { fs.PutFile(fs.root + "/" + path, content); }

void World::Delete(const std::string& path) { fs.Remove(fs.root + "/" + path); }

void World::Unreadable(const std::string& path) {
    fs.PutOther(fs.root + "/" + path);
    unknown.Add("/" + path);
}

void World::Apply(std::vector<LocalChangeRecord> changes, bool sort) {
    LocalChangeBatch list(changes.begin(), changes.end());
    if (sort) rc.SortLocalChanges(list, &driver);
    rc.ApplyLocalChange(list, &driver, &uniform);
}

void World::Hash() {
    for (FileNode* node : driver.Preorder()) {
        if (node->data->isFile != 0 && node->data->checksum.empty()) {
            node->data->checksum = fs.Content(fs.root + NodePath(node, 2));
        }
    }
    rc.RelinkPendingLocal(&uniform);
    if (rc.conflictPending != 0) {
        ++conflictsSeen;
        rc.RenameConflicts(&uniform);
    }
    rc.conflictPending = 0;
}

void World::ServerListing(const std::string& spec) {
    waiter.DeleteChildren();
    AddItems(waiter, spec);
    rc.DropVanishedServerItems(&waiter, &uniform);
    rc.MergeServerChanges(&waiter, &uniform);
    if (rc.conflictPending != 0) {
        ++conflictsSeen;
        rc.RenameConflicts(&uniform);
    }
    rc.conflictPending = 0;
}

void World::Match() {
    BaseFunc::ComputeFolderChecksum(&driver);
    BaseFunc::ComputeFolderChecksum(&server);
    rc.ClearDuties(&uniform);
    rc.MatchPass(&uniform, 1);
    rc.MatchPass(&uniform, 2);
}

TaskNode* World::Node(const std::string& slashPath) {
    return FindNodeByPath(&uniform, 1, LocalPath(slashPath));
}

bool World::LinksValid() const {
    std::set<const FileNode*> local;
    std::set<const FileNode*> remote;
    CollectNodes(driver, local);
    CollectNodes(server, remote);
    for (TaskNode* node : const_cast<TaskNode&>(uniform).Preorder()) {
        const SyncTaskInfo& r = *node->data;
        if (r.localPartner != nullptr && local.count(r.localPartner) == 0) return false;
        if (r.serverPartner != nullptr && remote.count(r.serverPartner) == 0) return false;
    }
    return true;
}

}  // namespace enginetest
