// Downloads into the sync folder and uploads as multipart forms.
#include <cstdio>
#include <limits>
#include <new>
#include <random>

#include <log4cpp/Category.hh>

#include "platform/fileops.h"
#include "platform/mmfio.h"
#include "platform/text.h"
#include "platform/timetext.h"
#include "sync/common/BaseFunc.h"
#include "sync/common/SyncLog.h"
#include "sync/common/SyncOperation.h"
#include "sync/net/WebCloud.h"
#include "WebCloudInternal.h"

using webcloud::LogAlert;
using webcloud::Quoted;

namespace {

std::uint32_t Random32() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return engine();
}

std::string Hex16(std::uint32_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value & 0xFFFF));
    return text;
}

// Removes a temporary file when the download does not reach its end.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& Path() const { return path_; }
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

bool HoldsLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// The form's file name: quotes and line breaks percent-encoded, as browsers send them.
std::string EscapeFormFileName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '"') {
            out += "%22";
        } else if (c == '\r') {
            out += "%0D";
        } else if (c == '\n') {
            out += "%0A";
        } else {
            out += c;
        }
    }
    return out;
}

// Appends the file's `size` bytes to `body`; -1 when the file does not have that size or
// cannot be read whole.
std::int64_t ReadFileForUpload(std::vector<std::uint8_t>& body, const std::string& fullPath, std::uint64_t size) {
    if (plat::fs::FileSize(fullPath) != size) return -1;
    if (size == 0) return 0;
    CWinMMFIO file(CWinMMFIO::Flavour::Sync);
    if (!file.Open(plat::ToUtf16(fullPath), 0) || file.GetLength() != size) return -1;
    std::uint64_t copied = 0;
    while (copied < size) {
        if (file.viewSize == 0 || file.viewOffset != copied || file.fileSize != size) return -1;
        const std::uint64_t n = std::min<std::uint64_t>(file.viewSize, size - copied);
        body.insert(body.end(), file.viewBase, file.viewBase + n);
        copied += n;
        if (copied < size && !file.NextView()) return -1;
    }
    file.Close();
    return static_cast<std::int64_t>(copied);
}

}  // namespace

std::string CWebCloud::MakeBoundary() {
    return std::string(18, '-') + Hex16(Random32()) + Hex16(Random32()) + Hex16(Random32());
}

std::string CWebCloud::UploadTail(const std::string& boundary) { return "\r\n--" + boundary + "--\r\n"; }

std::optional<std::string> CWebCloud::BuildUploadHead(const std::string& boundary, const std::string& cookie,
                                                      const std::string& destination, const std::string& update,
                                                      const std::string& checksum, const std::string& path) {
    if (HoldsLineBreak(cookie) || HoldsLineBreak(destination) || HoldsLineBreak(update) || HoldsLineBreak(checksum)) {
        return std::nullopt;
    }
    const std::string separated = ReplaceCharString(path, '\\', '/');
    const std::size_t slash = separated.rfind('/');
    const std::string fileName = slash == std::string::npos ? separated : separated.substr(slash);
    const std::size_t dot = fileName.rfind('.');
    const std::string extension = dot == std::string::npos ? fileName : fileName.substr(dot + 1);

    const std::string opening = "--" + boundary + "\r\n";
    const auto field = [&](const char* name, const std::string& value) {
        return opening + "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    };
    std::string head = field("cookie", cookie) + "\r\n";
    head += field("destination", destination);
    if (!update.empty()) head += field("updatenoderef", update);
    head += field("MD5", checksum);
    head += opening + "Content-Disposition: form-data; name=\"Filedata\"; filename=\"" + EscapeFormFileName(fileName) +
            "\"\r\n";
    head += "Content-Type: " + BaseFunc::GetMimeType(extension) + "\r\n\r\n";
    return head;
}

// ---- download ---------------------------------------------------------------------------------

int CWebCloud::iDownload(CSyncBase* checkpoint, std::uint64_t size, SyncOperationSlot* operation,
                         const ProgressSink* progress, const std::string& nodeRef, const std::string& path,
                         const std::string& checksum) {
    const std::string cookie = LoginCookie();
    if (cookie.empty() || nodeRef.empty() || path.empty()) return 0;
    const std::optional<std::string> reference = UrlReference(nodeRef);
    if (!reference) {
        LogAlert("参数转换失败 '" + Quoted(nodeRef) + "' filepath:", 484);
        return 0;
    }
    const Config config = Settings();
    const std::string url = config.address ? config.address->url + "/api/node/" + *reference + "/content" : "";
    const std::optional<std::string> target = LocalPath(config, path);
    if (!target || size > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
        LogAlert("目录太长 '" + Quoted(path) + "' filepath:", 507);
        return 0;
    }
    // The file the download replaces, as it is when the download begins: a user's change
    // to it while the reply comes in is never overwritten.
    DiskStamp replaced;
    const bool replacesFile = DiskStamp::Read(*target, replaced);
    const std::string folder = target->substr(0, target->rfind('/'));
    if (plat::fs::GetKind(folder) != plat::fs::Kind::Directory && !plat::fs::MakeDirectories(folder)) {
        LogAlert("创建目录失败 '" + Quoted(*target) + "' filepath:", 535);
        return 0;
    }

    // The reply goes to a temporary file beside the target (so that putting it in place
    // is one rename); its ".tmp" name keeps it out of synchronisation.
    TemporaryFile temporary(folder + "/.dravik-" + Hex16(Random32()) + Hex16(Random32()) + ".tmp");
    WinHttpClient& client = Client(downloadClient_, checkpoint, url);
    client.downloadToFile = true;
    client.downloadFilePath = temporary.Path();
    client.expectedDownloadSize = static_cast<std::int64_t>(size);
    client.SetCookies(cookie);
    if (!client.SendHttpRequest("GET", nullptr, progress)) {
        RequestFailed(client);
        LogAlert("发送请求失败 '" + Quoted(url) + "' filepath:", 596);
        return 0;
    }
    if (client.hasContentLength && client.contentLength != size) {
        LogAlert("下载文件数据长度不正确 '" + Quoted(path) + "' filepath:", 607);
        return 0;
    }
    if (client.fileBytesWritten != size) {
        LogAlert("下载文件数据实际长度不正确 '" + Quoted(path) + "' filepath:", 629);
        return 0;
    }
    if (!checksum.empty() && !BaseFunc::EqualNoCase(client.fileMd5, checksum)) {
        LogAlert("Downloaded file does not match its checksum '" + Quoted(path) + "' filepath:", 630);
        return 0;
    }
    DiskStamp now;
    const bool fileNow = DiskStamp::Read(*target, now);
    if (fileNow && (!replacesFile || !(now == replaced))) {
        // Written or created by someone else meanwhile: that version stays, and the next
        // cycle sees both changes and keeps both.
        LogAlert("The local file changed during the download, kept '" + Quoted(path) + "' filepath:", 645);
        return 0;
    }
    // The stamp the target takes with the rename (which keeps identity and time): the
    // watcher's reports of it are this download's own only while the file keeps it.
    if (operation != nullptr) operation->Place(path, temporary.Path());
    MarkOperationSent(operation);
    if (plat::fs::GetKind(*target) == plat::fs::Kind::Directory) {
        // A folder where the file belongs is kept under a conflict backup name.
        const std::string backup = BaseFunc::MakeConflictBackupName(*target, plat::NowLocal());
        if (backup.empty() || !plat::fs::Move(*target, backup, false)) {
            LogAlert("Cannot move the folder at the download target aside '" + Quoted(*target) + "' filepath:", 640);
            return 0;
        }
        SyncLog().info("Folder at the download target moved aside '" + Quoted(*target) + "' -> '" + Quoted(backup) +
                       "'");
    }
    if (std::rename(temporary.Path().c_str(), target->c_str()) != 0) {
        LogAlert("Cannot put the downloaded file in place '" + Quoted(*target) + "' filepath:", 650);
        return 0;
    }
    temporary.Keep();
    return 1;
}

// ---- upload -----------------------------------------------------------------------------------

struct CWebCloud::UploadJob {
    CSyncBase* checkpoint;
    const Config& config;
    const std::string& cookie;
    const std::string& fullPath;
    std::uint64_t size;
    const ProgressSink* progress;
    SyncOperationSlot* operation;
    const std::string& destination;
    const std::string& update;
    const std::string& checksum;
    const std::string& path;

    ServerAddress Address() const { return config.address.value_or(ServerAddress{}); }
    std::string Url() const { return config.address ? config.address->root + "/upload" : std::string(); }
};

int CWebCloud::iUpload(CSyncBase* checkpoint, std::uint64_t size, const ProgressSink* progress,
                       SyncOperationSlot* operation, const std::string& destination, const std::string& update,
                       const std::string& checksum, const std::string& path) {
    const Config config = Settings();
    const std::optional<std::string> source = LocalPath(config, path);
    const std::string cookie = LoginCookie();
    if (!source || cookie.empty() || checksum.empty() || plat::fs::GetKind(*source) != plat::fs::Kind::File) return 0;
    const UploadJob job{checkpoint, config, cookie, *source, size, progress, operation, destination, update,
                        checksum, path};
    return size > config.inMemoryUploadLimit ? UploadStreamed(job) : UploadInMemory(job);
}

int CWebCloud::UploadInMemory(const UploadJob& job) {
    const std::string boundary = MakeBoundary();
    const std::optional<std::string> head =
        BuildUploadHead(boundary, job.cookie, job.destination, job.update, job.checksum, job.path);
    if (!head) return 0;
    const std::string tail = UploadTail(boundary);
    std::vector<std::uint8_t> body;
    try {
        body.reserve(head->size() + job.size + tail.size());
        body.assign(head->begin(), head->end());
        if (ReadFileForUpload(body, job.fullPath, job.size) < 0) return 0;
        body.insert(body.end(), tail.begin(), tail.end());
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    }
    WinHttpClient& client = Client(uploadClient_, job.checkpoint, job.Url());
    client.SetCookies(job.cookie);
    client.SetAdditionalRequestHeaders(webcloud::UploadHeaderBlock(job.Address(), boundary, body.size()));
    client.AttachPostData(std::move(body));
    const bool sent =
        client.SendHttpRequestAndCallBack(job.progress, "POST", job.operation, false);
    client.ClearPostData();
    if (!sent) {
        RequestFailed(client);
        LogAlert("发送请求失败 '" + Quoted(job.path) + "' filepath:", 920);
        return 0;
    }
    return TakeUploadReply(client, 939, 968);
}

int CWebCloud::UploadStreamed(const UploadJob& job) {
    const std::string boundary = MakeBoundary();
    std::optional<std::string> head =
        BuildUploadHead(boundary, job.cookie, job.destination, job.update, job.checksum, job.path);
    if (!head) return 0;
    const std::uint64_t total = head->size() + job.size + UploadTail(boundary).size();
    // The login cookie travels only in the form's "cookie" field here.
    WinHttpClient& client = Client(bigUploadClient_, job.checkpoint, job.Url());
    client.boundary = boundary;
    client.uploadFilePath = plat::ToUtf16(job.fullPath);
    client.uploadFileSize = job.size;
    client.postHead = std::move(*head);
    client.SetAdditionalRequestHeaders(webcloud::UploadHeaderBlock(job.Address(), boundary, total));
    const bool sent =
        client.SendHttpRequestAndCallBackForBig(job.progress, "POST", job.operation, false);
    std::string().swap(client.postHead);
    if (!sent) {
        RequestFailed(client);
        LogAlert("发送请求失败 '" + Quoted(job.path) + "' filepath:", 770);
        return 0;
    }
    return TakeUploadReply(client, 790, 819);
}

int CWebCloud::TakeUploadReply(const WinHttpClient& client, int parseLine, int resultLine) {
    rapidjson::Document doc;
    if (!webcloud::ParseReply(client.GetResponseContent(), doc)) {
        LogAlert("解析JSON失败 filepath:", parseLine);
        return 0;
    }
    std::string nodeRef;
    if (!webcloud::StringMember(doc, "nodeRef", nodeRef) || nodeRef.empty()) {
        LogAlert("上传返回结果失败 filepath:", resultLine);
        return 0;
    }
    uploadedNodeRef_ = nodeRef;
    return 1;
}
