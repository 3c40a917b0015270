#include "testserver/TestServer.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include <sys/socket.h>

#include "Connections.h"
#include "ServerImpl.h"
#include "Text.h"

namespace testserver {

namespace fs = std::filesystem;

namespace {

constexpr struct {
    FaultKind kind;
    const char* name;
} kFaultNames[] = {
    {FaultKind::Status, "status"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Drop, "drop"},
    {FaultKind::DropAfterHandling, "drop_after"},
    {FaultKind::CutBody, "cut_body"},
    {FaultKind::WrongLength, "wrong_length"},
    {FaultKind::InvalidJson, "invalid_json"},
    {FaultKind::PagedFirstReply, "paged_first"},
    {FaultKind::ReplaceInBody, "replace_body"},
};

// Handler threads: a connection holds one while it is kept alive, and delayed calls hold
// theirs, so there are plenty.
constexpr std::size_t kHandlerThreads = 48;

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const auto& entry : kFaultNames)
        if (entry.kind == kind) return entry.name;
    return "";
}

std::optional<FaultKind> FaultKindFromName(const std::string& name) {
    for (const auto& entry : kFaultNames)
        if (name == entry.name) return entry.kind;
    return std::nullopt;
}

std::string LoggedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers)
        if (EqualsNoCaseAscii(key, name)) return value;
    return {};
}

// ---- Impl ---------------------------------------------------------------------------------

TestServer::Impl::Impl(ServerOptions opts) : options(std::move(opts)) {
    if (options.dataDir.empty()) {
        std::string pattern = (fs::temp_directory_path() / "dravik-testserver-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
        blobDir = pattern;
        ownsBlobDir = true;
    } else {
        blobDir = options.dataDir;
        fs::create_directories(blobDir);
    }
    store = std::make_unique<Store>(blobDir);
    for (const auto& [account, password] : options.users) Check(store->AddUser(account, password));
    clientVersion = options.clientVersion;
    installer = options.installer;
    if (options.controlToken.empty()) options.controlToken = RandomHex(16);
}

TestServer::Impl::~Impl() {
    Stop();
    store.reset();  // removes the blobs
    if (ownsBlobDir) {
        std::error_code ec;
        fs::remove_all(blobDir, ec);
    }
}

void TestServer::Impl::Check(const Status& status) {
    if (!status.ok()) throw Refused(status.code, status.message);
}

void TestServer::Impl::Start() {
    if (started) return;
    if (!options.seedDir.empty()) {
        const std::vector<std::string> accounts = Locked([](Store& st) { return st.Accounts(); });
        if (accounts.empty()) throw std::runtime_error("a seed folder needs an account");
        Seed(accounts.front(), options.seedDir);
        options.seedDir.clear();  // once
    }
    http = std::make_unique<ConnectionServer>();
    http->new_task_queue = [] { return new httplib::ThreadPool(kHandlerThreads); };
    // Idle kept-alive connections end soon, so that Stop never waits long for them.
    http->set_keep_alive_timeout(1);
    http->set_socket_options([](int sock) {
        int yes = 1;  // no SO_REUSEPORT: two servers must never share a port
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    // Replies go out exactly as written: never compressed, whatever the client accepts.
    http->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    AddControlRoutes();
    AddProgramRoutes();
    const auto unknown = [](const httplib::Request&, CallContext&) {
        return ErrorReply(404, "no such call");
    };
    for (const char* method : {"GET", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"})
        Route(method, ".*", "unknown", unknown);

    // A restart after Stop listens on the port it had before.
    const int wanted = port != 0 ? port : options.port;
    if (wanted == 0) {
        port = http->bind_to_any_port("127.0.0.1");
        if (port <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
    } else {
        if (!http->bind_to_port("127.0.0.1", wanted))
            throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(wanted));
        port = wanted;
    }
    stopping = false;
    listenerDone = false;
    listener = std::thread([this] {
        http->listen_after_bind();
        listenerDone = true;
    });
    // Stop must find the server running, or it would not end the accept loop.
    while (!http->is_running() && !listenerDone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    started = true;
}

void TestServer::Impl::Stop() {
    if (!started) return;
    {
        std::lock_guard<std::mutex> lock(pauseMu);
        stopping = true;
    }
    pauseCv.notify_all();
    http->stop();
    listener.join();
    http.reset();
    started = false;
}

std::string TestServer::Impl::PutFile(const std::string& account, const std::string& path,
                                      const std::string& bytes) {
    BlobPtr blob = Blob::Write(blobDir, bytes);
    ItemView file;
    Check(Locked([&](Store& st) { return st.PutFileAt(account, path, blob, file); }));
    return MakeRef(file.id);
}

std::vector<ItemView> TestServer::Impl::Views(const std::string& account, bool trash) const {
    std::vector<ItemView> items;
    Check(Locked([&](Store& st) { return st.Snapshot(account, trash, items); }));
    return items;
}

TreeEntry TestServer::Impl::ToEntry(const ItemView& item, bool withContent) {
    TreeEntry e;
    e.path = item.path;
    e.folder = item.folder;
    e.size = item.size;
    e.checksum = item.checksum;
    e.ref = MakeRef(item.id);
    // Read outside the lock: the blob never changes and lives while the view holds it.
    if (withContent && item.blob) e.content = item.blob->ReadAll();
    return e;
}

std::vector<TreeEntry> TestServer::Impl::Entries(const std::string& account, bool trash,
                                                 bool withContents) const {
    std::vector<TreeEntry> entries;
    for (const ItemView& item : Views(account, trash)) entries.push_back(ToEntry(item, withContents));
    return entries;
}

void TestServer::Impl::Seed(const std::string& account, const fs::path& folder) {
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
        const fs::file_status st = fs::symlink_status(path);
        const std::string target = "/" + path.lexically_relative(folder).generic_string();
        ItemView ignored;
        Status status;
        if (fs::is_directory(st)) {
            status = Locked([&](Store& s) { return s.MakeFoldersAt(account, target, ignored); });
        } else if (fs::is_regular_file(st)) {
            BlobPtr blob = Blob::CopyFile(blobDir, path);
            status = Locked([&](Store& s) { return s.PutFileAt(account, target, blob, ignored); });
        }
        // Links and special files are not content: they are left out.
        if (!status.ok()) throw Refused(status.code, "cannot seed " + path.string() + ": " + status.message);
    }
}

void TestServer::Impl::Reset() {
    Locked([&](Store& st) {
        st.ClearContents();
        st.ClearSessions();
        faults.clear();
        log.clear();
        maxInFlight = inFlight;
        clientVersion = options.clientVersion;
        installer = options.installer;
    });
}

// ---- TestServer ----------------------------------------------------------------------------

TestServer::TestServer(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

TestServer::~TestServer() = default;

void TestServer::Start() { impl_->Start(); }
void TestServer::Stop() { impl_->Stop(); }
int TestServer::Port() const { return impl_->port; }
const std::string& TestServer::ControlToken() const { return impl_->options.controlToken; }
std::string TestServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(impl_->port); }

void TestServer::AddUser(const std::string& account, const std::string& password) {
    Impl::Check(impl_->Locked([&](Store& st) { return st.AddUser(account, password); }));
}

AccountInfo TestServer::Account(const std::string& account) const {
    AccountView view;
    Impl::Check(impl_->Locked([&](Store& st) { return st.Account(account, view); }));
    return AccountInfo{view.account, MakeRef(view.homeId), MakeRef(view.trashId)};
}

std::string TestServer::AddGroup(const std::string& name, bool isPublic, const std::set<std::string>& members) {
    return MakeRef(impl_->Locked([&](Store& st) { return st.AddGroup(name, isPublic, members); }));
}

std::string TestServer::PutFile(const std::string& account, const std::string& path, const std::string& bytes) {
    return impl_->PutFile(account, path, bytes);
}

std::string TestServer::MakeFolder(const std::string& account, const std::string& path) {
    ItemView folder;
    Impl::Check(impl_->Locked([&](Store& st) { return st.MakeFoldersAt(account, path, folder); }));
    return MakeRef(folder.id);
}

void TestServer::Remove(const std::string& account, const std::string& path, bool purge) {
    Impl::Check(impl_->Locked([&](Store& st) { return st.RemoveAt(account, path, purge); }));
}

void TestServer::Move(const std::string& account, const std::string& from, const std::string& to) {
    Impl::Check(impl_->Locked([&](Store& st) { return st.MoveAt(account, from, to); }));
}

void TestServer::Seed(const std::string& account, const fs::path& folder) { impl_->Seed(account, folder); }

std::vector<TreeEntry> TestServer::Tree(const std::string& account, bool withContents) const {
    return impl_->Entries(account, false, withContents);
}

std::vector<TreeEntry> TestServer::Trash(const std::string& account, bool withContents) const {
    return impl_->Entries(account, true, withContents);
}

std::optional<TreeEntry> TestServer::Find(const std::string& account, const std::string& path,
                                          bool withContent) const {
    const std::string wanted = FoldName(path);
    for (const ItemView& item : impl_->Views(account, false))
        if (FoldName(item.path) == wanted) return Impl::ToEntry(item, withContent);
    return std::nullopt;
}

void TestServer::InjectFault(const Fault& fault) {
    if (fault.count == 0) return;
    impl_->Locked([&](Store&) {
        impl_->faults.push_back(fault);
    });
}

void TestServer::ClearFaults() {
    impl_->Locked([&](Store&) {
        impl_->faults.clear();
    });
}

std::vector<LoggedRequest> TestServer::Requests() const {
    return impl_->Locked([&](Store&) { return std::vector<LoggedRequest>(impl_->log.begin(), impl_->log.end()); });
}

std::vector<LoggedRequest> TestServer::Requests(const std::string& route) const {
    std::vector<LoggedRequest> all = Requests();
    all.erase(std::remove_if(all.begin(), all.end(), [&](const LoggedRequest& r) { return r.route != route; }),
              all.end());
    return all;
}

void TestServer::ClearRequests() {
    impl_->Locked([&](Store&) {
        impl_->log.clear();
        impl_->maxInFlight = impl_->inFlight;
    });
}

int TestServer::InFlight(const std::string& route) const {
    return impl_->Locked([&](Store&) {
        const auto it = impl_->inFlight.find(route);
        return it == impl_->inFlight.end() ? 0 : it->second;
    });
}

int TestServer::MaxInFlight(const std::string& route) const {
    return impl_->Locked([&](Store&) {
        const auto it = impl_->maxInFlight.find(route);
        return it == impl_->maxInFlight.end() ? 0 : it->second;
    });
}

void TestServer::ReleaseDelays() {
    {
        std::lock_guard<std::mutex> lock(impl_->pauseMu);
        ++impl_->pauseGeneration;
    }
    impl_->pauseCv.notify_all();
}

void TestServer::SetClientVersion(const std::string& version, const std::string& installer) {
    impl_->Locked([&](Store&) {
        impl_->clientVersion = version;
        impl_->installer = installer;
    });
}

void TestServer::Reset() { impl_->Reset(); }

}  // namespace testserver
