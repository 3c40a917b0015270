#include "updatesite/VersionPage.h"

#include <htmlcxx/html/ParserDom.h>

#include <algorithm>

#include "http/Exchange.h"
#include "platform/text.h"

namespace {

constexpr const char* kVersionDivId = "WindowsClientVersionInfo";
constexpr std::string_view kFullwidthColon = "\xEF\xBC\x9A";  // U+FF1A
constexpr std::size_t kMaxPageBytes = 4 * 1024 * 1024;

std::string SiteBase(const std::string& updateSite) {
    std::string base = updateSite;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

bool IsBlank(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; });
}

// Collects the page's body, up to a size no download page reaches.
class PageCollector final : public http::Hooks {
public:
    std::size_t OnBody(const char* data, std::size_t size) override {
        if (page.size() + size > kMaxPageBytes) return 0;  // not a download page
        page.append(data, size);
        return size;
    }
    std::string page;
};

}  // namespace

std::string VersionPageUrl(const std::string& updateSite) { return SiteBase(updateSite) + "/download.html"; }

std::string InstallerUrl(const std::string& updateSite) {
    return SiteBase(updateSite) + "/download/DravikClient.exe";
}

bool ParseVersionPage(const std::string& page, std::string& version) {
    version.clear();
    htmlcxx::HTML::ParserDom parser;
    const tree<htmlcxx::HTML::Node>& dom = parser.parseTree(page);
    bool found = false;
    for (auto it = dom.begin(); it != dom.end(); ++it) {
        if (!it->isTag() || it->tagName() != "div") continue;
        htmlcxx::HTML::Node node = *it;
        node.parseAttributes();
        const auto id = node.attribute("id");
        if (!id.first || id.second != kVersionDivId) continue;

        // The div's own text: the text nodes directly inside it.
        std::string text;
        for (auto child = dom.begin(it); child != dom.end(it); ++child) {
            if (!child->isTag() && !child->isComment()) text += child->text();
        }
        if (text.empty() || IsBlank(text)) continue;
        const std::size_t colon = text.find(kFullwidthColon);
        std::string candidate = colon == std::string::npos ? text : text.substr(colon + kFullwidthColon.size());
        if (candidate.empty() || IsBlank(candidate)) continue;
        version = std::move(candidate);
        found = true;
    }
    return found;
}

std::string GetServerVersion(const std::string& updateSite, std::chrono::milliseconds timeout, std::string* failure) {
    std::string version;
    const auto fail = [failure](std::string why) {
        if (failure != nullptr) *failure = std::move(why);
    };
    fail({});
    http::Exchange exchange;
    if (!exchange.Open()) {
        fail("no transfer could be set up");
        return version;
    }
    http::Request request;
    request.url = VersionPageUrl(updateSite);
    request.webOnly = true;
    request.limits.totalMs = timeout.count();
    PageCollector collector;
    const http::Result result = exchange.Perform(request, collector);
    const long status = exchange.ResponseCode();
    if (!result.Ok() || status != 200) {
        fail(result.Ok() ? "status " + std::to_string(status) : "transfer failure " + std::to_string(result.code));
        return version;
    }
    if (!ParseVersionPage(collector.page, version)) fail("the page names no version");
    return version;
}

std::string ShortVersionText(const std::string& fileVersion) {
    const std::u16string wide = plat::ToUtf16(fileVersion);
    return plat::ToUtf8(wide.substr(0, 5));
}

int CompareVersionTexts(const std::string& a, const std::string& b) {
    const std::u16string wa = plat::ToUtf16(a);
    const std::u16string wb = plat::ToUtf16(b);
    const int c = wa.compare(wb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
