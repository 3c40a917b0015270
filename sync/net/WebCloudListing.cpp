// The server tree listing: one request lists the whole home folder, and the reply is built
// into a scratch tree that replaces the target tree's content only when every element was
// read.
#include <log4cpp/Category.hh>
#include <rapidjson/document.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/encodedstream.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <functional>
#include <exception>
#include <thread>

#include "platform/text.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/CommonTypes.h"
#include "sync/common/SyncLog.h"
#include "sync/common/TreeNode.h"
#include "sync/net/WebCloud.h"
#include "sync/net/ReplyPipe.h"
#include "WebCloudInternal.h"

using webcloud::LogAlert;
using webcloud::Quoted;

namespace {

// A server path whose every component may become a local name: not empty, not "." or
// "..", no '\\', NUL or control character, valid UTF-8 (one leading '/' allowed).
bool IsSafeServerName(std::string_view path) {
    if (!plat::IsValidUtf8(path)) return false;
    if (!path.empty() && path.front() == '/') path.remove_prefix(1);
    while (true) {
        const std::size_t slash = path.find('/');
        const std::string_view name = path.substr(0, slash);
        if (name.empty() || name == "." || name == "..") return false;
        for (char c : name) {
            const auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7F || b == '\\') return false;
        }
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

enum class Placed { Done, Skipped, Refused };

// How a listing's text was read, when it is JSON.
enum class ListingRead { kNotArray, kRefused, kRead };

// The listing's reply is handed to its reader in stretches of this size.
constexpr std::size_t kListingStretch = 256 * 1024;

void LogDuplicate(const FileNode& existing, const std::string& leaf, const std::string& itemPath) {
    LogAlert("文件列表项重复 '" + Quoted(NodePath(&existing, 2)) + "'" + Quoted(leaf) + "'" + Quoted(itemPath) +
                 "' filepath:",
             1662);
}

void LogCaseClash(const FileNode& existing, const std::string& itemPath) {
    LogAlert("Server item skipped, its name differs only in case from '" + Quoted(existing.data->name) + "': '" +
                 Quoted(itemPath) + "' filepath:",
             1650);
}

// Puts the record at `pieces` below `root`, making name-only folders for missing levels.
// The first of two names that differ only in case is kept; a file never gets children and
// never shares its name with a folder. `itemPath` is the item's path, for the log.
Placed Place(FileNode& root, const std::vector<std::string>& pieces, SyncFileInfo record,
             const std::string& itemPath) {
    FileNode* node = &root;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        const auto it = node->FindChild(pieces[i]);
        if (it == node->children.end()) {
            node = node->InsertChild(SyncFileInfo(pieces[i])).Node();
            continue;
        }
        FileNode* child = it->get();
        if (child->data->name != pieces[i]) {
            LogCaseClash(*child, itemPath);
            return Placed::Skipped;
        }
        if (child->data->isFile != 0) {
            LogDuplicate(*child, pieces.back(), itemPath);
            return Placed::Refused;
        }
        node = child;
    }
    const std::string& leaf = pieces.back();
    const auto it = node->FindChild(leaf);
    if (it == node->children.end()) {
        node->AdoptChild(std::make_unique<FileNode>(std::move(record)));
        return Placed::Done;
    }
    FileNode* child = it->get();
    if (child->data->name != leaf) {
        LogCaseClash(*child, itemPath);
        return Placed::Skipped;
    }
    if (child->data->isFile != 0 || record.isFile != 0) {
        LogDuplicate(*child, leaf, itemPath);
        return Placed::Refused;
    }
    // A folder's own element: its record replaces the name-only one (its children stay).
    *child->data = record;
    return Placed::Done;
}

}  // namespace

int CWebCloud::iListServerDirs(CSyncBase* checkpoint) { return ListInto(listClient_, checkpoint, targetTree_); }

int CWebCloud::iListServerTree(CSyncBase* checkpoint, FileNode* into) {
    return ListInto(commitListClient_, checkpoint, into);
}

namespace {

constexpr unsigned kListingParse = rapidjson::kParseIterativeFlag;

// Reads a listing's events: the top value must be an array, and each of its elements is
// built into a value of its own (on the heap, so no nesting exhausts the stack) that is
// handed to `take` and dropped. Once the top value is no array, or `take` refuses an
// element, nothing more is built or handed over, but the rest of the text is still read, so
// that a text that is not JSON anywhere is told apart.
class ElementReader : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ElementReader> {
public:
    using Take = std::function<bool(const rapidjson::Value&)>;

    explicit ElementReader(Take take) : take_(std::move(take)), pool_(buffer_, sizeof buffer_) {}
    ListingRead Result() const { return outcome_; }

    bool Null() { return Add(rapidjson::Value()); }
    bool Bool(bool b) { return Add(rapidjson::Value(b)); }
    bool Int(int i) { return Add(rapidjson::Value(i)); }
    bool Uint(unsigned i) { return Add(rapidjson::Value(i)); }
    bool Int64(std::int64_t i) { return Add(rapidjson::Value(i)); }
    bool Uint64(std::uint64_t i) { return Add(rapidjson::Value(i)); }
    bool Double(double d) { return Add(rapidjson::Value(d)); }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Skipping() || Add(rapidjson::Value(text, length, pool_));
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        if (!Skipping()) open_.back().key = rapidjson::Value(text, length, pool_);
        return true;
    }
    bool StartObject() { return Open(rapidjson::Value(rapidjson::kObjectType)); }
    bool StartArray() {
        if (!inArray_ && open_.empty() && !Skipping()) {
            inArray_ = true;  // the listing itself
            LogAlert("服务器目录文件树开始生成，Server Tree Populating ... filepath:", 450);
            return true;
        }
        return Open(rapidjson::Value(rapidjson::kArrayType));
    }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool EndArray(rapidjson::SizeType) {
        if (Skipping() || open_.empty()) return true;  // the listing's end, or nothing built
        return Close();
    }

private:
    struct Container {
        rapidjson::Value value;
        rapidjson::Value key;  // the pending member name of an object
    };

    bool Skipping() const { return outcome_ != ListingRead::kRead; }
    bool Open(rapidjson::Value container) {
        if (Skipping()) return true;
        if (!inArray_) return NotArray();
        open_.push_back(Container{std::move(container), rapidjson::Value()});
        return true;
    }
    bool Close() {
        if (Skipping()) return true;
        rapidjson::Value done = std::move(open_.back().value);
        open_.pop_back();
        return Add(std::move(done));
    }
    // A finished value goes into its container, or, at the top, is an element.
    bool Add(rapidjson::Value value) {
        if (Skipping()) return true;
        if (!inArray_) return NotArray();
        if (!open_.empty()) {
            Container& into = open_.back();
            if (into.value.IsObject()) {
                into.value.AddMember(into.key, value, pool_);
            } else {
                into.value.PushBack(value, pool_);
            }
            return true;
        }
        const bool taken = take_(static_cast<const rapidjson::Value&>(value));
        value.SetNull();
        pool_.Clear();
        if (!taken) outcome_ = ListingRead::kRefused;
        return true;
    }
    bool NotArray() {
        outcome_ = ListingRead::kNotArray;
        return true;
    }

    Take take_;
    char buffer_[16384];
    rapidjson::MemoryPoolAllocator<> pool_;
    std::vector<Container> open_;
    bool inArray_ = false;
    ListingRead outcome_ = ListingRead::kRead;
};

}  // namespace

template <class Stream>
int CWebCloud::ReadListingInto(Stream& bytes, FileNode* scratch, const std::string& parentPath) {
    ElementReader elements([&](const rapidjson::Value& element) {
        return scratch == nullptr || BuildElement(element, *scratch, parentPath) != 0;
    });
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, Stream> in(bytes);
    rapidjson::Reader reader;
    if (reader.Parse<kListingParse>(in, elements).IsError()) return -1;
    switch (elements.Result()) {
        case ListingRead::kNotArray: LogAlert("文件列表结果不正确 filepath:", 1537); return 0;
        case ListingRead::kRefused: return 0;
        case ListingRead::kRead: return 1;
    }
    return 0;
}

int CWebCloud::BuildServerTreeFromText(std::string_view text, FileNode* node, const std::string& parentPath) {
    int result = -1;
    const auto read = [&](FileNode* scratch) {
        rapidjson::MemoryStream bytes(text.data(), text.size());
        result = ReadListingInto(bytes, scratch, parentPath);
        return result == 1;
    };
    if (node == nullptr) {
        read(nullptr);
        return std::min(result, 0);
    }
    BuildThroughScratch(node, parentPath, [&](FileNode& scratch) { return read(&scratch); });
    return result;
}

int CWebCloud::ListInto(std::unique_ptr<WinHttpClient>& slot, CSyncBase* checkpoint, FileNode* into) {
    const std::string cookie = LoginCookie();
    if (cookie.empty() || into == nullptr) return 0;
    const Config config = Settings();
    WinHttpClient& client =
        Client(slot, checkpoint, config.address ? config.address->url + "/allChildNodes" : "");
    client.SetCookies(cookie);
    client.wholeCallLimit = true;
    // The reply is read as it arrives, on a thread of its own, into the scratch tree: the
    // listing of a whole account never stands in memory as text. A reply the reader finds
    // unreadable is not received further.
    bool sent = false;
    bool readEarly = false;
    int built = 0;
    const int adopted = BuildThroughScratch(into, std::string(), [&](FileNode& scratch) {
        ReplyPipe pipe(kListingStretch);
        std::thread reader([&] {
            try {
                built = ReadListingInto(pipe, &scratch, std::string());
            } catch (const std::exception& e) {
                built = 0;
                LogAlert(std::string("Server listing could not be built (") + e.what() + ") filepath:", 441);
            }
            pipe.StopReading();
        });
        // Whatever way the request ends, the reader is told the end and waited for.
        struct EndReader {
            ReplyPipe& pipe;
            std::thread& reader;
            WinHttpClient& client;
            ~EndReader() {
                pipe.Close();
                reader.join();
                client.replySink = nullptr;
            }
        };
        {
            const EndReader end{pipe, reader, client};
            client.replySink = [&pipe](const char* data, std::size_t size) { return pipe.Give(data, size); };
            sent = client.SendHttpRequest("GET", nullptr, nullptr);
        }
        readEarly = pipe.StoppedEarly();
        return sent && built == 1;
    });
    if (!sent && !readEarly) {
        RequestFailed(client);
        LogAlert("list server dirs发送请求失败 filepath:", 425);
        return 0;
    }
    if (built < 0) {
        // A reply that is not JSON is taken as a lost login (a login page, for one).
        ClearLogin();
        LogAlert("解析JSON失败 filepath:", 441);
        return 0;
    }
    if (adopted == 0) return 0;
    LogAlert("服务器目录文件树生成结束。Server Tree Populated filepath:", 459);
    return 1;
}

int CWebCloud::BuildServerTree(const rapidjson::Value& value, FileNode* node, const std::string& parentPath) {
    if (node == nullptr) return 0;
    if (!value.IsArray()) {
        LogAlert("文件列表结果不正确 filepath:", 1537);
        return 0;
    }
    return BuildThroughScratch(node, parentPath,
                               [&](FileNode& scratch) { return BuildInto(value, scratch, parentPath) != 0; });
}

int CWebCloud::BuildThroughScratch(FileNode* node, const std::string& parentPath,
                                   const std::function<bool(FileNode& scratch)>& fill) {
    FileNode scratch(*node->data);
    scratch.data->Clear();
    if (parentPath.empty()) scratch.data->nodeRef = HomeFolder();
    if (!fill(scratch)) return 0;
    node->TakeContent(scratch);
    return 1;
}

int CWebCloud::BuildInto(const rapidjson::Value& value, FileNode& root, const std::string& parentPath) {
    for (const rapidjson::Value& element : value.GetArray()) {
        if (BuildElement(element, root, parentPath) == 0) return 0;
    }
    return 1;
}

int CWebCloud::BuildElement(const rapidjson::Value& element, FileNode& root, const std::string& parentPath) {
    if (!element.IsObject()) {
        LogAlert("文件列表项不正确 filepath:", 1563);
        return 0;
    }
    std::string type;
    webcloud::StringMember(element, "type", type);
    if (type != "content" && type != "folder") return 1;
    std::string itemPath;
    std::unique_ptr<SyncFileInfo> record = SyncFileInfo::FromServerJson(element, itemPath);
    if (!record) {
        std::string name;
        const bool named = webcloud::StringMember(element, "name", name);
        if (named && (name.empty() || name.front() != '/' || name.back() == '/')) {
            LogAlert("文件列表项路径名不正确 filepath:", 1612);
            return 0;
        }
        if (named && !IsServerPathWithinLimits(name)) {
            LogAlert("Server item with a path too long or too deep skipped (" + std::to_string(name.size()) +
                         " bytes) filepath:",
                     1582);
            return 1;
        }
        if (named && !IsSafeServerName(name)) {
            LogAlert("Server item with an unsafe name skipped '" + Quoted(name) + "' filepath:", 1582);
            return 1;
        }
        LogAlert("文件列表项字段错误 filepath:", 1581);
        return 0;
    }
    std::string path = itemPath;
    if (!parentPath.empty()) {
        if (path.size() < parentPath.size() ||
            !BaseFunc::EqualNoCase(std::string_view(path).substr(0, parentPath.size()), parentPath)) {
            LogAlert("复制列表项路径名不正确 filepath:", 1595);
            return 0;
        }
        if (path.size() == parentPath.size()) {
            *root.data = *record;
            return 1;
        }
        path.erase(0, parentPath.size());
    }
    if (path.empty() || path.front() != '/' || path.back() == '/') {
        LogAlert("文件列表项路径名不正确 filepath:", 1612);
        return 0;
    }
    std::vector<std::string> pieces;
    SplitString(path, "/", pieces);
    if (pieces.empty()) {
        LogAlert("文件列表项路径名不正确 '" + Quoted(itemPath) + "' filepath:", 1630);
        return 0;
    }
    return Place(root, pieces, std::move(*record), itemPath) == Placed::Refused ? 0 : 1;
}
