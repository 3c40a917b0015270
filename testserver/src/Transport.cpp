// The HTTP side every route shares: the request log, the faults, the sessions, and the
// writing of replies (in one piece, or streamed when the body comes from disk or a fault
// bends its length).
#include <algorithm>

#include "Connections.h"
#include "Json.h"
#include "ServerImpl.h"
#include "Text.h"

namespace testserver {

Reply JsonReply(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

Reply ErrorReply(int status, const std::string& message) { return JsonReply(status, MessageBody(message)); }

Reply StatusReply(const Status& status) { return ErrorReply(status.code, status.message); }

void TestServer::Impl::Route(const char* method, const std::string& pattern, const std::string& name,
                             Handler handler) {
    auto serve = [this, name, handler = std::move(handler)](const httplib::Request& req,
                                                             httplib::Response& res) {
        Serve(name, req, res, handler);
    };
    const std::string m = method;
    if (m == "GET") {
        http->Get(pattern, serve);
    } else if (m == "POST") {
        http->Post(pattern, serve);
    } else if (m == "PUT") {
        http->Put(pattern, serve);
    } else if (m == "DELETE") {
        http->Delete(pattern, serve);
    } else if (m == "PATCH") {
        http->Patch(pattern, serve);
    } else {
        http->Options(pattern, serve);
    }
}

void TestServer::Impl::Serve(const std::string& route, const httplib::Request& req,
                             httplib::Response& res, const Handler& handler) {
    const std::uint64_t seq = LogRequest(route, req);
    {
        std::lock_guard<std::mutex> lock(mu);
        const int now = ++inFlight[route];
        maxInFlight[route] = std::max(maxInFlight[route], now);
    }
    struct Leaving {
        Impl& s;
        const std::string& route;
        ~Leaving() {
            std::lock_guard<std::mutex> lock(s.mu);
            --s.inFlight[route];
        }
    } leaving{*this, route};
    const std::optional<Fault> fault = TakeFault(route);
    const auto is = [&](FaultKind kind) { return fault && fault->kind == kind; };
    Reply reply;
    bool drop = is(FaultKind::Drop);
    try {
        if (is(FaultKind::Status)) {
            reply = ErrorReply(fault->status, "injected fault");
        } else if (!drop) {
            if (is(FaultKind::Delay)) Pause(fault->delay);
            CallContext context;
            if (is(FaultKind::PagedFirstReply)) context.firstPageSize = std::max(1, fault->pageSize);
            reply = handler(req, context);
            drop = is(FaultKind::DropAfterHandling);
            if (is(FaultKind::InvalidJson)) {
                reply = JsonReply(200, "{\"msg\":\"the reply ends here");
            }
            if (is(FaultKind::ReplaceInBody) && !fault->from.empty()) {
                for (std::size_t at = reply.body.find(fault->from); at != std::string::npos;
                     at = reply.body.find(fault->from, at + fault->to.size())) {
                    reply.body.replace(at, fault->from.size(), fault->to);
                }
            }
        }
    } catch (const std::exception& e) {
        reply = ErrorReply(500, std::string("server error: ") + e.what());
    }
    {
        std::lock_guard<std::mutex> lock(mu);
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            if (it->seq != seq) continue;
            it->status = drop ? 0 : reply.status;
            break;
        }
    }
    if (drop) {
        DropConnection();
        res.status = 500;
        res.set_header("Connection", "close");
        return;
    }
    Write(std::move(reply), fault, res);
}

std::uint64_t TestServer::Impl::LogRequest(const std::string& route, const httplib::Request& req) {
    const auto capped = [](const std::string& bytes) { return bytes.substr(0, kLogContentBytes); };
    LoggedRequest entry;
    entry.route = route;
    entry.method = req.method;
    const std::size_t q = req.target.find('?');
    entry.path = req.target.substr(0, q);
    if (q != std::string::npos) entry.query = req.target.substr(q + 1);
    for (const auto& [name, value] : req.headers) {
        // httplib adds the connection's addresses as headers; they were never sent.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
            continue;
        entry.headers.emplace_back(name, value);
    }
    entry.body = capped(req.body);
    for (const auto& [name, part] : req.files)
        entry.parts.push_back(LoggedPart{part.name, part.filename, part.content_type, capped(part.content)});
    std::lock_guard<std::mutex> lock(mu);
    entry.seq = nextSeq++;
    log.push_back(std::move(entry));
    if (log.size() > kLogEntries) log.pop_front();
    return log.back().seq;
}

std::optional<Fault> TestServer::Impl::TakeFault(const std::string& route) {
    std::lock_guard<std::mutex> lock(mu);
    for (auto it = faults.begin(); it != faults.end(); ++it) {
        if (it->route != "*" && it->route != route) continue;
        Fault taken = *it;
        if (it->count > 0 && --it->count == 0) faults.erase(it);
        return taken;
    }
    return std::nullopt;
}

void TestServer::Impl::Pause(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(pauseMu);
    const std::uint64_t generation = pauseGeneration;
    pauseCv.wait_for(lock, delay, [&] { return stopping.load() || pauseGeneration != generation; });
}

void TestServer::Impl::DropConnection() {
    // Only the connection this thread is answering: the client gets no answer at all, and
    // the server closes the connection afterwards.
    ConnectionServer::ShutDownCurrentConnection();
}

namespace {

// The bytes of a reply, from memory or from a blob on disk.
class BodySource {
public:
    BodySource(std::string body, BlobPtr file) : body_(std::move(body)), file_(std::move(file)) {}

    std::uint64_t Size() const {
        return file_ ? static_cast<std::uint64_t>(file_->Size()) : body_.size();
    }

    bool Send(std::uint64_t from, std::uint64_t to, httplib::DataSink& sink) {
        if (!file_) return sink.write(body_.data() + from, static_cast<std::size_t>(to - from));
        if (!stream_) {
            stream_ = file_->Open();
            if (!stream_) return false;
        }
        if (fseeko(stream_.get(), static_cast<off_t>(from), SEEK_SET) != 0) return false;
        std::vector<char> buffer(1 << 16);
        while (from < to) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - from));
            if (std::fread(buffer.data(), 1, want, stream_.get()) != want) return false;
            if (!sink.write(buffer.data(), want)) return false;
            from += want;
        }
        return true;
    }

private:
    std::string body_;
    BlobPtr file_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream_{nullptr, &std::fclose};
};

}  // namespace

void TestServer::Impl::Write(Reply reply, const std::optional<Fault>& fault, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) res.set_header(name, value);
    const bool cut = fault && fault->kind == FaultKind::CutBody;
    const bool misstated = fault && fault->kind == FaultKind::WrongLength;
    if (!reply.file && !cut && !misstated) {
        res.set_content(std::move(reply.body), reply.contentType);
        return;
    }
    auto source = std::make_shared<BodySource>(std::move(reply.body), reply.file);
    const std::uint64_t total = source->Size();
    std::uint64_t limit = total;     // bytes actually sent
    std::uint64_t declared = total;  // the announced Content-Length
    if (cut) limit = std::min<std::uint64_t>(total, static_cast<std::uint64_t>(std::max<std::int64_t>(0, fault->bytes)));
    if (misstated)
        declared = static_cast<std::uint64_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(total) + fault->bytes));
    if (declared == 0) {
        res.set_content("", reply.contentType);
        return;
    }
    res.set_content_provider(
        static_cast<std::size_t>(declared), reply.contentType,
        [source, limit, declared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset >= limit) return false;  // announced more than there is: close
            std::uint64_t end = std::min<std::uint64_t>(limit, offset + (1u << 16));
            // Announced less than there is: the rest goes out in the same call, beyond the
            // announced length.
            if (end >= declared) end = limit;
            return source->Send(offset, end, sink);
        });
}

std::optional<Session> TestServer::Impl::SessionFromCookieText(const std::string& text) const {
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find(';', pos);
        if (end == std::string::npos) end = text.size();
        const std::string piece = text.substr(pos, end - pos);
        const std::size_t eq = piece.find('=');
        if (eq != std::string::npos && TrimSpace(piece.substr(0, eq)) == kSessionCookie) {
            const std::string token = TrimSpace(piece.substr(eq + 1));
            std::lock_guard<std::mutex> lock(mu);
            if (auto account = store->SessionAccount(token)) return Session{*account, token};
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::optional<Session> TestServer::Impl::SessionOf(const httplib::Request& req) const {
    const std::size_t count = req.get_header_value_count("Cookie");
    for (std::size_t i = 0; i < count; ++i)
        if (auto session = SessionFromCookieText(req.get_header_value("Cookie", i))) return session;
    return std::nullopt;
}

}  // namespace testserver
