#include "client/local/VersionPage.h"

#include <curl/curl.h>
#include <htmlcxx/html/ParserDom.h>

#include <algorithm>
#include <mutex>

#include "client/core/ClientLog.h"
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

size_t CollectPage(char* data, size_t size, size_t count, void* user) {
    auto* page = static_cast<std::string*>(user);
    const size_t bytes = size * count;
    if (page->size() + bytes > kMaxPageBytes) return 0;  // not a download page
    page->append(data, bytes);
    return bytes;
}

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

std::string GetServerVersion(const std::string& updateSite, std::chrono::milliseconds timeout) {
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CURL* curl = curl_easy_init();
    if (curl == nullptr) return {};
    const std::string url = VersionPageUrl(updateSite);
    std::string page;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout.count()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectPage);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &page);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    std::string version;
    if (result != CURLE_OK || status != 200) {
        LogClientInfo("<version> The download page could not be read: " +
                      std::string(result != CURLE_OK ? curl_easy_strerror(result) : "status ") +
                      (result == CURLE_OK ? std::to_string(status) : std::string()));
        return version;
    }
    ParseVersionPage(page, version);
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
