#include "sync/app/UserRoutine.h"

#include <log4cpp/Category.hh>

#include <cstdlib>
#include <memory>

#include "platform/fileops.h"
#include "xml/XmlDocument.h"
#include "xml/XmlStream.h"
#include "sync/common/CommonTypes.h"
#include "sync/common/SyncLog.h"
#include "sync/common/unicode.h"

namespace UserRoutine {

// Every server listing the program accepts can be saved and read back whole, and its state
// file parses.
static_assert(kMaxServerPathComponents <= static_cast<std::size_t>(kMaxTreeDepth));
static_assert(static_cast<std::size_t>(kMaxTreeDepth) + 1 < XmlDocument::kMaxNesting);

namespace {

constexpr std::string_view kRootName = "Orvane";
constexpr std::string_view kSucceeded = "成功";
constexpr std::string_view kFailed = "失败";

void LogSaveResult(std::string_view label, bool ok, int line) {
    SyncLog().alert(std::string(label) + ":" + std::string(ok ? kSucceeded : kFailed) +
                    " filepath:UserRoutine line:" + std::to_string(line));
}

// A document holding only the declaration and an empty root "Orvane".
XmlElement& NewStateDocument(XmlDocument& doc) {
    return *doc.SetRoot(std::make_unique<XmlElement>(nullptr, kRootName));
}

// Loads a state file into `doc`; true when it exists, parses and is sound. A file that
// does not parse has been moved aside by the XML library.
bool LoadStateDocument(const std::string& path, XmlDocument& doc) {
    if (plat::fs::GetKind(path) != plat::fs::Kind::File) return false;
    if (!doc.Load(path)) {
        SyncLog().alert("State file does not parse, kept aside as '" + EscapeForLog(doc.KeptAsidePath()) +
                        "' filepath:UserRoutine");
        return false;
    }
    return doc.Root() != nullptr && doc.IsValid() && doc.GetParseStatus() != XmlDocument::kParseError;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Optional sign and decimal digits from the start (no digits: 0), saturating at the
// 32-bit limits.
std::int32_t ReadInt32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > 0x80000000LL) {
            value = 0x80000000LL;
            break;
        }
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return static_cast<std::int32_t>(value > 0x7FFFFFFFLL ? 0x7FFFFFFFLL : value);
}

// As ReadInt32, after leading blanks.
std::int32_t ReadInt32AfterBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return ReadInt32(text);
}

// An unsigned decimal number after optional blanks and sign (a minus wraps around), 0
// without digits, the largest value when it does not fit.
std::uint64_t ReadUInt64(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 10); }

// Whether a name read from a state file can be a path component of the sync folder.
bool IsUsableName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

// One record per child element (its name is ignored), each attribute handed to `take`
// in document order as its decoded name and the attribute.
template <class Record, class Take>
void ReadRecords(const XmlElement& element, std::vector<Record>& out, Take take) {
    for (std::size_t i = 0; i < element.ChildCount(); ++i) {
        const XmlElement& item = *element.Child(i);
        Record record{};
        for (std::size_t v = 0; v < item.VariableCount(); ++v) {
            const XmlVariable& variable = *item.Variable(v);
            take(record, variable.GetName(), variable);
        }
        out.push_back(std::move(record));
    }
}

// Opens a "fileitem" with its values; the caller adds its children and closes it.
void OpenFileItem(XmlElementSink& out, std::uint32_t isFile, const std::string& name, const std::string& checksum,
                  const std::string& nodeRef, const std::string& path, std::uint64_t size) {
    out.Open("fileitem");
    out.Variable("iF", static_cast<std::int64_t>(isFile));
    out.Variable("t", name);
    out.Variable("h", checksum);
    out.Variable("N", nodeRef);
    out.Variable("P", path);
    out.Variable("F", static_cast<std::int64_t>(size));
}

// Writes a state file element by element under the root "Orvane", never holding the
// document in memory (a listing of a million files would take hundreds of megabytes).
template <class Write>
bool StreamStateFile(const std::string& path, Write write) {
    XmlStreamWriter out;
    if (!out.Begin(path)) return false;
    out.Open(kRootName);
    write(out);
    out.Close();
    return out.Finish();
}

}  // namespace

// ------------------------------------------------------------------- tree files

bool SaveTreeFile(const FileNode& root, const std::string& path, std::string_view label, int mode) {
    const bool ok = StreamStateFile(path, [&](XmlElementSink& out) { WriteTreeNode(root, out, mode); });
    LogSaveResult(label, ok, 210);
    return ok;
}

bool SaveTracerFile(const TaskNode& root, const std::string& path) {
    const bool ok = StreamStateFile(path, [&](XmlElementSink& out) { WriteTracerNode(root, out); });
    LogSaveResult("同步历史列表文件存储", ok, 228);
    return ok;
}

namespace {

// Writes the children of `node` whose path is `path`; each child's path is built on it in
// place and taken off again.
void WriteChildItems(const FileNode& node, XmlElementSink& out, char separator, std::string& path) {
    const std::size_t base = path.size();
    for (const auto& child : node.children) {
        const SyncFileInfo& r = *child->data;
        path += separator;
        path += r.name;
        OpenFileItem(out, r.isFile, r.name, r.checksum, r.nodeRef, path, r.size);
        WriteChildItems(*child, out, separator, path);
        out.Close();
        path.resize(base);
    }
}

}  // namespace

int WriteTreeNode(const FileNode& node, XmlElementSink& out, int mode) {
    std::string path = NodePath(&node, mode);
    WriteChildItems(node, out, mode == 1 ? '\\' : '/', path);
    return 1;
}

int WriteTreeNode(const FileNode& node, XmlElement& parent, int mode) {
    XmlTreeBuilder out(parent);
    return WriteTreeNode(node, out, mode);
}

int WriteTracerNode(const TaskNode& node, XmlElementSink& out) {
    for (const auto& child : node.children) {
        const SyncTaskInfo& task = *child->data;
        if (task.flag != 1 && task.task != 2 && task.task != 3) continue;
        const FileNode* partner = (task.flag == 1 || task.aspect == 2) ? task.localPartner : task.serverPartner;
        if (!partner) continue;
        const SyncFileInfo& r = *partner->data;
        OpenFileItem(out, task.kind, task.name, task.kind == 1 ? r.checksum : std::string(), std::string(),
                     NodePath(partner, 1), r.size);
        if (task.kind == 0) WriteTracerNode(*child, out);
        out.Close();
    }
    return 1;
}

int WriteTracerNode(const TaskNode& node, XmlElement& parent) {
    XmlTreeBuilder out(parent);
    return WriteTracerNode(node, out);
}

namespace {

// Reads tree-file elements into a tree as they arrive, whether from a file read element
// by element or from a document tree. The first element is the container whose children
// become children of the given node. Rules: an element's name is its record's name unless
// it has a "t" value; a name that cannot be a path component is skipped with its subtree
// and makes the level's result 0; a name already taken at its level (ignoring case) stops
// the level (result 0); a folder's children are read only while its level's result is 1;
// levels deeper than kMaxTreeDepth are not read (result 0).
class TreeFileReader final : public XmlElementVisitor {
public:
    TreeFileReader(FileNode& node, int depth) : node_(node), depth_(depth) {}

    int Result() const { return result_; }

    void Start(std::string_view name, const std::vector<XmlNameValue>& variables) override {
        if (levels_.empty()) {
            levels_.push_back(Enter(&node_, depth_));
            return;
        }
        Level& parent = levels_.back();
        if (parent.node == nullptr || parent.stopped) {
            levels_.push_back(Level{});  // below an element that is not read
            return;
        }
        SyncFileInfo record{std::string(name)};
        for (const auto& [key, value] : variables) {
            if (key == "iF") {
                record.isFile = ReadInt32AfterBlanks(value) != 0 ? 1u : 0u;
            } else if (key == "F") {
                record.size = static_cast<std::uint64_t>(XmlReadInt64(value));
            } else if (key == "t") {
                record.name = value;
            } else if (key == "h") {
                record.checksum = value;
            } else if (key == "N") {
                record.nodeRef = value;
            }
        }
        if (!IsUsableName(record.name)) {
            SyncLog().alert("Unusable name in a state file skipped '" + EscapeForLog(record.name) +
                            "' filepath:UserRoutine");
            parent.skipped = true;
            levels_.push_back(Level{});
            return;
        }
        const bool folder = record.isFile == 0;
        const auto inserted = parent.node->InsertChild(std::move(record));
        if (!inserted.Inserted()) {
            SyncLog().alert("插入节点失败！ filepath:UserRoutine line:97");
            parent.stopped = true;
            levels_.push_back(Level{});
            return;
        }
        if (!folder || parent.result != 1) {
            levels_.push_back(Level{});
            return;
        }
        Level child = Enter(inserted.Node(), parent.depth + 1);
        child.reportsToParent = true;
        levels_.push_back(child);
    }

    void End() override {
        const Level done = levels_.back();
        levels_.pop_back();
        const int result = done.stopped || done.skipped ? 0 : done.result;
        if (levels_.empty()) {
            result_ = result;
        } else if (done.reportsToParent) {
            levels_.back().result = result;
        }
    }

private:
    struct Level {
        FileNode* node = nullptr;  // where the children go; null: they are not read
        int depth = 0;
        int result = 1;
        bool skipped = false;          // a child with an unusable name was left out
        bool stopped = false;          // a name already taken ended the level
        bool reportsToParent = false;  // a folder read because its level's result was 1
    };

    static Level Enter(FileNode* node, int depth) {
        Level level;
        level.depth = depth;
        if (depth > kMaxTreeDepth) {
            SyncLog().alert("State file nested too deeply; the rest of the level is not read. filepath:UserRoutine");
            level.result = 0;
            return level;
        }
        level.node = node;
        return level;
    }

    FileNode& node_;
    const int depth_;
    std::vector<Level> levels_;
    int result_ = 0;
};

}  // namespace

int ReadTreeFile(const XmlElement& element, FileNode& node, int depth) {
    TreeFileReader reader(node, depth);
    VisitElements(element, reader);
    return reader.Result();
}

bool LoadTreeFile(FileNode& root, const std::string& path, const char* rootName) {
    root.DeleteChildren();
    root.SetData(SyncFileInfo(rootName));
    if (plat::fs::GetKind(path) != plat::fs::Kind::File) return false;
    {
        // A file in the writer's own layout is read element by element: a document tree of
        // a million files would take gigabytes. Anything else goes to the document reader.
        std::string text;
        if (plat::fs::ReadWholeFile(path, text) == plat::fs::ReadResult::Read && !text.empty()) {
            TreeFileReader reader(root, 1);
            if (ReadWriterLayout(text, reader) == XmlLayoutRead::kRead) return reader.Result() == 1;
        }
    }
    XmlDocument doc;
    if (!LoadStateDocument(path, doc)) return false;
    return ReadTreeFile(*doc.Root(), root, 1) == 1;
}

// ------------------------------------------------------------------ user list

bool SaveUserInfoList(const std::string& path, std::string_view label, const std::vector<CurrentUser>& users) {
    XmlDocument doc;
    WriteUserInfoFile(NewStateDocument(doc), users);
    const bool ok = doc.Save(path);
    LogSaveResult(label, ok, 332);
    return ok;
}

void WriteUserInfoFile(XmlElement& parent, const std::vector<CurrentUser>& users) {
    for (const CurrentUser& user : users) {
        XmlElement& item = *parent.AddChild("UserInfo");
        item.AddVariable("UserName", user.UserName);
        item.AddVariable("Path", user.Path);
        item.AddVariable("AutoLogin", static_cast<std::int64_t>(static_cast<std::int32_t>(user.AutoLogin)));
        item.AddVariable("MemoPassWord", static_cast<std::int64_t>(static_cast<std::int32_t>(user.MemoPassWord)));
    }
}

int ReadUserInfoFile(const XmlElement& element, std::vector<CurrentUser>& users) {
    ReadRecords(element, users, [](CurrentUser& user, const std::string& name, const XmlVariable& variable) {
        if (name == "UserName") {
            user.UserName = variable.GetValue();
        } else if (name == "PassWord") {
            user.PassWord = variable.GetValue();
        } else if (name == "Path") {
            user.Path = variable.GetValue();
        } else if (name == "AutoLogin") {
            user.AutoLogin = static_cast<std::uint32_t>(ReadInt32(variable.GetValue()));
        } else if (name == "MemoPassWord") {
            user.MemoPassWord = static_cast<std::uint32_t>(ReadInt32(variable.GetValue()));
        }
    });
    return 1;
}

bool LoadUserInfoList(const std::string& path, std::vector<CurrentUser>& users) {
    users.clear();
    // Saved logins are the user's alone: a file others could read is closed first.
    if (plat::fs::MakeFilePrivate(path) == 1) {
        SyncLog().warn(path + " was readable by other users; it is now readable by its owner only");
    }
    XmlDocument doc;
    if (!LoadStateDocument(path, doc)) return false;
    return ReadUserInfoFile(*doc.Root(), users) == 1;
}

// ---------------------------------------------------------------------- history

bool SaveHistoryFile(const std::string& path, const std::vector<SyncDoneItem>& items) {
    XmlDocument doc;
    WriteHistoryFile(NewStateDocument(doc), items);
    const bool ok = doc.Save(path);
    if (!ok) SyncLog().alert("history.txt:" + std::string(kFailed) + " filepath:UserRoutine");
    return ok;
}

void WriteHistoryFile(XmlElement& parent, const std::vector<SyncDoneItem>& items) {
    for (const SyncDoneItem& entry : items) {
        XmlElement& item = *parent.AddChild("Item");
        item.AddVariable("File", entry.File);
        item.AddVariable("Path", entry.Path);
        item.AddVariable("Time", entry.Time);
        item.AddVariable("Size", entry.Size);
        item.AddVariable("bLocal", static_cast<std::int64_t>(entry.bLocal));
        item.AddVariable("bDelete", static_cast<std::int64_t>(entry.bDelete));
        item.AddVariable("Index", static_cast<std::int64_t>(static_cast<std::uint32_t>(entry.Index)));
    }
}

int ReadHistoryFile(const XmlElement& element, std::vector<SyncDoneItem>& items) {
    ReadRecords(element, items, [](SyncDoneItem& entry, const std::string& name, const XmlVariable& variable) {
        if (name == "File") {
            entry.File = variable.GetValue();
        } else if (name == "Path") {
            entry.Path = variable.GetValue();
        } else if (name == "Time") {
            entry.Time = variable.GetValue();
        } else if (name == "Size") {
            entry.Size = static_cast<std::int64_t>(ReadUInt64(variable.GetValue()));
        } else if (name == "bLocal") {
            entry.bLocal = static_cast<std::uint32_t>(ReadUInt64(variable.GetValue()));
        } else if (name == "bDelete") {
            entry.bDelete = static_cast<std::uint32_t>(ReadUInt64(variable.GetValue()));
        } else if (name == "Index") {
            entry.Index = static_cast<std::uint32_t>(ReadUInt64(variable.GetValue()));
        }
    });
    return 1;
}

bool LoadHistoryFile(const std::string& path, std::vector<SyncDoneItem>& items) {
    XmlDocument doc;
    if (!LoadStateDocument(path, doc)) return false;
    return ReadHistoryFile(*doc.Root(), items) == 1;
}

}  // namespace UserRoutine

// ------------------------------------------------------------------ SyncHistory

bool SyncHistory::ReadOnce(const std::string& account) {
    std::lock_guard<std::mutex> hold(lock_);
    if (loaded_ && account_ == account) return false;
    if (loaded_) {
        // The list already holds the file's entries: write them back before it is read
        // again, or keep the list as it is when that fails.
        const bool saved = UserRoutine::SaveHistoryFile(path_, CStateDonePage::Snapshot());
        account_ = account;
        if (!saved) return false;
        CStateDonePage::Clear();
    }
    loaded_ = true;
    account_ = account;
    std::vector<SyncDoneItem> items;
    const bool read = UserRoutine::LoadHistoryFile(path_, items);
    CStateDonePage::AppendHistory(items);
    return read;
}

bool SyncHistory::Save() {
    std::lock_guard<std::mutex> hold(lock_);
    // Before the file was read the list holds none of its entries: writing it would
    // throw the history away.
    if (!loaded_) return true;
    return UserRoutine::SaveHistoryFile(path_, CStateDonePage::Snapshot());
}
