#include "IncludeRules.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace layout {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kLibs = {"libs/dirwatch", "libs/http", "libs/shm", "libs/updatesite", "libs/xml"};
const std::set<std::string> kPlatform = {"platform", "platform/msgloop"};
const std::string kSupport = "tests/support";

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Folder of each library, longest first so that the longest prefix wins.
const std::vector<std::string>& LibraryFolders() {
    static const std::vector<std::string> folders = [] {
        std::vector<std::string> all = {"platform",       "platform/msgloop", "platform/qt",  "sync/common",
                                        "sync/net",       "sync/engine",      "sync/app",     "sync/ui",
                                        "sync/desktop",   "sync/program",     "client/core",  "client/local",
                                        "client/ui",      "client/app",       "client/desktop", "client/program",
                                        "testserver",     "tools",            "fuzz"};
        all.insert(all.end(), kLibs.begin(), kLibs.end());
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
        return all;
    }();
    return folders;
}

// The library folder a path lies in ("" when none).
std::string FolderOf(const std::string& path) {
    for (const auto& folder : LibraryFolders())
        if (StartsWith(path, folder + "/")) return folder;
    return "";
}

// Include prefixes that name a library (a library's include root holds its own name).
const std::vector<std::pair<std::string, std::string>>& IncludePrefixes() {
    static const std::vector<std::pair<std::string, std::string>> prefixes = [] {
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& folder : LibraryFolders()) {
            if (folder.rfind("libs/", 0) == 0)
                all.emplace_back(folder.substr(5) + "/", folder);  // "xml/XmlDocument.h"
            else if (folder != "tools" && folder != "fuzz" && folder != "client/program" &&
                     folder != "sync/program")
                all.emplace_back(folder + "/", folder);
        }
        all.emplace_back("support/", kSupport);
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        return all;
    }();
    return prefixes;
}

// What each library may include besides itself, built up the two stacks so that each
// level may use everything below it; then the test folders.
const std::map<std::string, std::set<std::string>>& AllowedTable() {
    static const std::map<std::string, std::set<std::string>> table = [] {
        std::map<std::string, std::set<std::string>> t;
        std::set<std::string> below = kPlatform;
        t["platform"] = kPlatform;
        t["platform/msgloop"] = kPlatform;
        t["platform/qt"] = {"platform", "platform/msgloop", "platform/qt"};
        for (const auto& lib : kLibs) t[lib] = {"platform", "platform/msgloop", lib};
        // The update site's page is fetched through the one libcurl exchange.
        t["libs/updatesite"].insert("libs/http");
        below.insert(kLibs.begin(), kLibs.end());
        std::set<std::string> base = below;
        for (const char* level : {"sync/common", "sync/net", "sync/engine", "sync/app"}) {
            below.insert(level);
            t[level] = below;
        }
        // The windows use the common layer, the platform layer and Qt, and the update
        // notice reads the update site through the shared reader; nothing else.
        t["sync/ui"] = {"platform", "platform/msgloop", "platform/qt", "sync/common", "sync/ui", "libs/updatesite"};
        // The desktop implementations of the program's interfaces use the windows.
        t["sync/desktop"] = below;
        t["sync/desktop"].insert({"sync/ui", "platform/qt"});
        t["Orvane"] = t["sync/desktop"];
        t["Orvane"].insert("sync/desktop");
        below = base;
        for (const char* level : {"client/core", "client/local", "client/ui"}) {
            below.insert(level);
            t[level] = below;
        }
        // The application object uses no toolkit; the desktop implementations of what it
        // asks for use Qt.
        t["client/app"] = below;
        t["client/app"].insert("client/app");
        t["client/ui"].insert("platform/qt");
        t["client/desktop"] = t["client/ui"];
        t["client/desktop"].insert({"client/app", "client/desktop"});
        t["DravikClient"] = t["client/desktop"];
        t["testserver"] = {"testserver"};

        // A test folder: its library, what that library may include, the test server and
        // the shared fixtures.
        std::map<std::string, std::set<std::string>> tests;
        for (const auto& [library, allowed] : t) {
            std::set<std::string> edges = allowed;
            edges.insert({library, "testserver", kSupport});
            tests["tests/" + library] = edges;
        }
        tests.erase("tests/DravikClient");
        tests["tests/soak"] = tests["tests/Orvane"];
        tests.erase("tests/Orvane");
        tests["tests/layout"] = {};
        // The shared fixtures: what they include is judged at each test that includes them.
        std::set<std::string> everything = {"testserver", kSupport};
        for (const auto& [library, allowed] : t) everything.insert(library);
        tests[kSupport] = everything;
        t.insert(tests.begin(), tests.end());
        return t;
    }();
    return table;
}

bool IsTestFile(const std::string& file) { return StartsWith(file, "tests/"); }

// A header in a library's folder but not below its include/ folder.
bool IsInternalHeader(const std::string& path) {
    if (IsTestFile(path) || fs::path(path).extension() != ".h") return false;
    const std::string folder = FolderOf(path);
    return !folder.empty() && !StartsWith(path.substr(folder.size() + 1), "include/");
}

}  // namespace

std::string LibraryOfFile(const std::string& file) {
    if (IsTestFile(file)) {
        const std::string rest = file.substr(6);
        for (const char* own : {"support", "layout", "soak"})
            if (StartsWith(rest, std::string(own) + "/")) return std::string("tests/") + own;
        const std::string folder = FolderOf(rest);
        if (folder.empty() || folder == "tools" || folder == "fuzz") return "";
        return "tests/" + folder;
    }
    const std::string folder = FolderOf(file);
    if (folder.empty()) return "";
    // The programs are thin mains over their stacks.
    if (folder == "client/program") return "DravikClient";
    if (folder == "sync/program") return "Orvane";
    return folder;
}

std::string LibraryOfInclude(const std::string& target) {
    for (const auto& [prefix, library] : IncludePrefixes())
        if (StartsWith(target, prefix)) return library;
    return "";
}

bool EdgeAllowed(const std::string& from, const std::string& to) {
    // Tools and fuzz targets may use anything.
    if (from == "tools" || from == "fuzz" || from == to) return true;
    const auto& table = AllowedTable();
    auto it = table.find(from);
    return it != table.end() && it->second.count(to) > 0;
}

bool QtAllowed(const std::string& library) {
    static const std::set<std::string> withQt = {"platform/qt", "sync/ui",        "sync/desktop", "Orvane", "client/ui",
                                                 "client/desktop", "DravikClient", "tools",  "fuzz"};
    return IsTestFile(library) || withQt.count(library) > 0;
}

std::vector<Violation> Check(const std::vector<QuotedInclude>& includes) {
    // The includes of each shared fixture, to judge them at the tests that use it.
    std::map<std::string, std::vector<const QuotedInclude*>> ofSupport;
    for (const auto& inc : includes)
        if (LibraryOfFile(inc.file) == kSupport) ofSupport[inc.file].push_back(&inc);

    std::vector<Violation> out;
    for (const auto& inc : includes) {
        const std::string from = LibraryOfFile(inc.file);
        if (from.empty()) {
            out.push_back({inc.file, inc.line, inc.target, "the file belongs to no library"});
            continue;
        }
        if (inc.angled) {
            if (!QtAllowed(from) && inc.target.size() > 1 && inc.target[0] == 'Q' && std::isupper(static_cast<unsigned char>(inc.target[1])) != 0)
                out.push_back({inc.file, inc.line, inc.target, from + " never includes Qt"});
            continue;
        }
        // An internal header belongs to its library alone.
        if (!inc.resolved.empty() && IsInternalHeader(inc.resolved) &&
            FolderOf(inc.resolved) != (IsTestFile(inc.file) ? std::string() : FolderOf(inc.file))) {
            out.push_back({inc.file, inc.line, inc.target, "an internal header of " + FolderOf(inc.resolved)});
            continue;
        }
        // A test folder's own files serve that folder alone.
        if (IsTestFile(inc.resolved) && LibraryOfFile(inc.resolved) != kSupport &&
            LibraryOfFile(inc.resolved) != from) {
            out.push_back({inc.file, inc.line, inc.target,
                           "a file of " + LibraryOfFile(inc.resolved) + "; shared fixtures live in tests/support"});
            continue;
        }
        if (!inc.sibling) {
            const std::string to = LibraryOfInclude(inc.target);
            if (to.empty()) {
                out.push_back({inc.file, inc.line, inc.target, "the include names no library"});
                continue;
            }
            if (!EdgeAllowed(from, to)) {
                out.push_back({inc.file, inc.line, inc.target, from + " may not include " + to});
                continue;
            }
        }
        // A test takes on what the shared fixtures it includes include.
        if (from == kSupport || LibraryOfFile(inc.resolved) != kSupport) continue;
        std::set<std::string> seen;
        std::vector<std::string> open = {inc.resolved};
        while (!open.empty()) {
            const std::string fixture = open.back();
            open.pop_back();
            if (!seen.insert(fixture).second) continue;
            for (const QuotedInclude* used : ofSupport[fixture]) {
                if (used->angled) continue;
                if (LibraryOfFile(used->resolved) == kSupport) {
                    open.push_back(used->resolved);
                    continue;
                }
                const std::string to = LibraryOfInclude(used->target);
                if (!to.empty() && !EdgeAllowed(from, to))
                    out.push_back({inc.file, inc.line, inc.target,
                                   "through " + fixture + ": " + from + " may not include " + to});
            }
        }
    }
    return out;
}

std::vector<QuotedInclude> ScanProduct(const std::string& root) {
    std::vector<QuotedInclude> out;
    const fs::path top(root);
    // The file an include names: beside the includer, below tests/ (the tests' include
    // root), in the named library's include/ folder, or below the source root.
    auto resolve = [&](const fs::path& includer, const std::string& target, bool sibling) -> std::string {
        const auto relative = [&](const fs::path& p) { return fs::relative(p, top).lexically_normal().generic_string(); };
        if (sibling) return relative(includer.parent_path() / target);
        const std::string file = relative(includer);
        if (IsTestFile(file) && fs::exists(top / "tests" / target)) return relative(top / "tests" / target);
        const std::string library = LibraryOfInclude(target);
        for (const auto& folder : LibraryFolders())
            if (folder == library && fs::exists(top / folder / "include" / target))
                return relative(top / folder / "include" / target);
        if (target.find("..") == std::string::npos && fs::exists(top / target)) return relative(top / target);
        return "";
    };
    for (const char* folder : {"platform", "libs", "sync", "client", "testserver", "tools", "fuzz", "tests"}) {
        if (!fs::exists(top / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(top / folder)) {
            const auto ext = entry.path().extension();
            if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
            std::ifstream in(entry.path());
            std::string text;
            int line = 0;
            while (std::getline(in, text)) {
                ++line;
                const auto hash = text.find_first_not_of(" \t");
                if (hash == std::string::npos || text[hash] != '#') continue;
                const auto word = text.find_first_not_of(" \t", hash + 1);
                if (word == std::string::npos || text.compare(word, 7, "include") != 0) continue;
                const auto open = text.find_first_of("\"<", word + 7);
                if (open == std::string::npos) continue;
                const auto close = text.find(text[open] == '"' ? '"' : '>', open + 1);
                if (close == std::string::npos) continue;
                QuotedInclude inc;
                inc.file = fs::relative(entry.path(), top).generic_string();
                inc.line = line;
                inc.target = text.substr(open + 1, close - open - 1);
                inc.angled = text[open] == '<';
                if (!inc.angled) {
                    inc.sibling = inc.target.find("..") == std::string::npos &&
                                  fs::exists(entry.path().parent_path() / inc.target);
                    inc.resolved = resolve(entry.path(), inc.target, inc.sibling);
                }
                out.push_back(std::move(inc));
            }
        }
    }
    return out;
}

}  // namespace layout
