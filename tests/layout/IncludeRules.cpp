#include "IncludeRules.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace layout {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kLibs = {"libs/dirwatch", "libs/http", "libs/shm", "libs/updatesite", "libs/xml"};
const std::set<std::string> kPlatform = {"platform", "platform/msgloop"};

// Folder of each library, longest first so that the longest prefix wins.
const std::vector<std::string>& LibraryFolders() {
    static const std::vector<std::string> folders = [] {
        std::vector<std::string> all = {"platform",    "platform/msgloop", "platform/qt", "sync/common",
                                        "sync/net",    "sync/engine",      "sync/app",    "sync/ui",     "sync/desktop",
                                        "client/core", "client/local",     "client/ui",   "testserver",
                                        "tools",       "fuzz"};
        all.insert(all.end(), kLibs.begin(), kLibs.end());
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
        return all;
    }();
    return folders;
}

// Include prefixes that name a library (a library's include root holds its own name).
const std::vector<std::pair<std::string, std::string>>& IncludePrefixes() {
    static const std::vector<std::pair<std::string, std::string>> prefixes = [] {
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& folder : LibraryFolders()) {
            if (folder.rfind("libs/", 0) == 0)
                all.emplace_back(folder.substr(5) + "/", folder);  // "xml/XmlDocument.h"
            else if (folder != "tools" && folder != "fuzz")
                all.emplace_back(folder + "/", folder);
        }
        all.emplace_back("client/app/", "DravikClient");
        std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        return all;
    }();
    return prefixes;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// What each library may include besides itself, built up the two stacks so that each
// level may use everything below it.
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
        t["sync/ui"] = base;
        t["sync/ui"].insert({"sync/common", "sync/ui", "platform/qt"});
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
        t["client/ui"].insert("platform/qt");
        t["DravikClient"] = t["client/ui"];
        t["testserver"] = {"testserver"};
        return t;
    }();
    return table;
}

}  // namespace

std::string LibraryOfFile(const std::string& file) {
    // The client program: its main and the application object over the windows.
    if (StartsWith(file, "client/app/")) return "DravikClient";
    for (const auto& folder : LibraryFolders()) {
        if (!StartsWith(file, folder + "/")) continue;
        // The programs are thin mains over their stacks.
        if (fs::path(file).filename() == "main.cpp") {
            if (StartsWith(folder, "sync/")) return "Orvane";
            if (StartsWith(folder, "client/")) return "DravikClient";
        }
        return folder;
    }
    return "";
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

std::vector<Violation> Check(const std::vector<QuotedInclude>& includes) {
    std::vector<Violation> out;
    for (const auto& inc : includes) {
        const std::string from = LibraryOfFile(inc.file);
        if (from.empty()) {
            out.push_back({inc.file, inc.line, inc.target, "the file belongs to no library"});
            continue;
        }
        if (inc.sibling) continue;  // a file of its own folder
        const std::string to = LibraryOfInclude(inc.target);
        if (to.empty()) {
            out.push_back({inc.file, inc.line, inc.target, "the include names no library"});
        } else if (!EdgeAllowed(from, to)) {
            out.push_back({inc.file, inc.line, inc.target, from + " may not include " + to});
        }
    }
    return out;
}

std::vector<QuotedInclude> ScanProduct(const std::string& root) {
    std::vector<QuotedInclude> out;
    const fs::path top(root);
    for (const char* folder : {"platform", "libs", "sync", "client", "testserver", "tools", "fuzz"}) {
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
                const auto open = text.find('"', word + 7);
                if (open == std::string::npos) continue;  // <system> includes
                const auto close = text.find('"', open + 1);
                if (close == std::string::npos) continue;
                QuotedInclude inc;
                inc.file = fs::relative(entry.path(), top).generic_string();
                inc.line = line;
                inc.target = text.substr(open + 1, close - open - 1);
                inc.sibling = inc.target.find("..") == std::string::npos &&
                              fs::exists(entry.path().parent_path() / inc.target);
                out.push_back(std::move(inc));
            }
        }
    }
    return out;
}

}  // namespace layout
