#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "client/core/ClientLog.h"
#include "client/local/AppAssociation.h"
#include "client/local/LocalSystem.h"
#include "platform/mime.h"
#include "platform/userdirs.h"

namespace {

constexpr char kSingleInstanceTypes[] =
    "|*.dps|*.dpt|*.odg|*.odp|*.otp|*.pdf|*.pot|*.potm|*.potx|*.pps|*.ppsm|*.ppsx|*.ppt|*.pptm|*.pptx|*.sxd|"
    "*.xml|*.xps|*.doc|*.docm|*.docx|*.dotm|*.dotx|*.html|*.odt|*.ott|*.pdf|*.stw|*.sxw|*.wps|*.wpt|*.xps|"
    "*.csv|*.dif|*.et|*.ett|*.html|*.ods|*.ots|*.pdf|*.slk|*.stc|*.sxc|*.xls|*.xlsb|*.xlsm|*.xlsx|*.xlt|"
    "*.xltm|*.xltx|*.xml|*.xps|*.dwg|*.dxf|*.dwt|*.dws|*.dwf|";

std::vector<std::string> SplitList(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t b = text.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    const std::size_t e = text.find_last_not_of(" \t\r");
    return text.substr(b, e - b + 1);
}

// The key=value lines of one group of an INI-style file (a .desktop file or a
// mimeapps.list), in file order.
std::vector<std::pair<std::string, std::string>> ReadGroup(const std::string& file, const std::string& group) {
    std::vector<std::pair<std::string, std::string>> values;
    std::ifstream in(file);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inGroup || eq == std::string::npos) continue;
        values.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
    }
    return values;
}

void AppendIds(const std::string& file, const std::string& group, const std::string& mimeType,
               std::vector<std::string>& ids) {
    for (const auto& [key, value] : ReadGroup(file, group)) {
        if (key != mimeType) continue;
        for (const std::string& id : SplitList(value, ';')) ids.push_back(id);
    }
}

// Unquoted and quoted arguments of a .desktop Exec value.
std::vector<std::string> SplitExec(const std::string& exec) {
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '\\' && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == '"') {
            quoted = true;
            inArg = true;
        } else if (c == ' ' || c == '\t') {
            if (inArg) args.push_back(current);
            current.clear();
            inArg = false;
        } else {
            current += c;
            inArg = true;
        }
    }
    if (inArg) args.push_back(current);
    return args;
}

}  // namespace

bool IsSingleInstanceDocumentType(const std::string& extension) {
    if (extension.size() < 2 || extension[0] != '.' || extension.find('|') != std::string::npos) return false;
    return std::string_view(kSingleInstanceTypes).find("|*" + extension + "|") != std::string_view::npos;
}

XdgDirs XdgDirs::FromEnvironment() {
    XdgDirs dirs;
    dirs.configHome = plat::ConfigHome();
    dirs.configDirs = SplitList(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"), ':');
    dirs.dataHome = plat::DataHome();
    dirs.dataDirs = SplitList(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':');
    dirs.binDirs = SplitList(EnvOr("PATH", "/usr/local/bin:/usr/bin:/bin"), ':');
    return dirs;
}

XdgAssociationProvider::XdgAssociationProvider(XdgDirs dirs) : dirs_(std::move(dirs)) {}

std::string XdgAssociationProvider::MimeTypeOf(const std::string& extension) const {
    if (extension.size() < 2 || extension[0] != '.') return {};
    const std::string wanted = Lower(extension);
    std::vector<std::string> roots{dirs_.dataHome};
    roots.insert(roots.end(), dirs_.dataDirs.begin(), dirs_.dataDirs.end());
    std::string best;
    int bestWeight = -1;
    for (const std::string& root : roots) {
        std::ifstream in(root + "/mime/globs2");
        std::string line;
        while (std::getline(in, line)) {
            // weight:type:glob[:flags]
            if (line.empty() || line[0] == '#') continue;
            const std::vector<std::string> fields = SplitList(line, ':');
            if (fields.size() < 3 || fields[2].size() < 3 || fields[2].compare(0, 2, "*.") != 0) continue;
            const std::string suffix = fields[2].substr(1);
            if (suffix.find_first_of("*?[") != std::string::npos) continue;
            const bool caseSensitive = fields.size() > 3 && fields[3].find("cs") != std::string::npos;
            if (!(caseSensitive ? suffix == extension : Lower(suffix) == wanted)) continue;
            const int weight = std::atoi(fields[0].c_str());
            if (weight > bestWeight) {
                bestWeight = weight;
                best = fields[1];
            }
        }
        if (!best.empty()) return best;  // earlier folders take precedence
    }
    return plat::LookupMimeType(extension);
}

std::vector<std::string> XdgAssociationProvider::DesktopIdsFor(const std::string& mimeType) const {
    std::vector<std::string> lists{dirs_.configHome + "/mimeapps.list"};
    for (const std::string& d : dirs_.configDirs) lists.push_back(d + "/mimeapps.list");
    std::vector<std::string> appDirs{dirs_.dataHome + "/applications"};
    for (const std::string& d : dirs_.dataDirs) appDirs.push_back(d + "/applications");
    for (const std::string& d : appDirs) lists.push_back(d + "/mimeapps.list");

    std::vector<std::string> removed;
    for (const std::string& f : lists) AppendIds(f, "Removed Associations", mimeType, removed);
    std::vector<std::string> ids;
    for (const std::string& f : lists) AppendIds(f, "Default Applications", mimeType, ids);
    std::vector<std::string> more;
    for (const std::string& f : lists) AppendIds(f, "Added Associations", mimeType, more);
    for (const std::string& d : appDirs) AppendIds(d + "/mimeinfo.cache", "MIME Cache", mimeType, more);
    const std::set<std::string> skip(removed.begin(), removed.end());
    for (const std::string& id : more) {
        if (skip.count(id) == 0) ids.push_back(id);
    }
    return ids;
}

std::string XdgAssociationProvider::ResolveProgram(const std::string& program) const {
    if (program.empty()) return {};
    if (program[0] == '/') return localsys::IsRunnableFile(program) ? program : std::string();
    if (program.find('/') != std::string::npos) return {};
    for (const std::string& dir : dirs_.binDirs) {
        const std::string candidate = dir + "/" + program;
        if (!dir.empty() && dir[0] == '/' && localsys::IsRunnableFile(candidate)) return candidate;
    }
    return {};
}

bool XdgAssociationProvider::ReadDesktopEntry(const std::string& desktopId, Entry& entry) const {
    if (desktopId.empty() || desktopId.find('/') != std::string::npos) return false;
    std::vector<std::string> appDirs{dirs_.dataHome + "/applications"};
    for (const std::string& d : dirs_.dataDirs) appDirs.push_back(d + "/applications");
    for (const std::string& dir : appDirs) {
        const std::string file = dir + "/" + desktopId;
        if (!std::ifstream(file)) continue;
        std::string type, name, exec, tryExec, hidden;
        for (const auto& [key, value] : ReadGroup(file, "Desktop Entry")) {
            if (key == "Type") type = value;
            else if (key == "Name") name = value;
            else if (key == "Exec") exec = value;
            else if (key == "TryExec") tryExec = value;
            else if (key == "Hidden") hidden = value;
        }
        // The first file of an id hides those of later folders, usable or not.
        if (type != "Application" || exec.empty() || hidden == "true") return false;
        if (!tryExec.empty() && ResolveProgram(tryExec).empty()) return false;
        const std::vector<std::string> argv = SplitExec(exec);
        if (argv.empty()) return false;
        entry.association.friendlyAppName = name;
        entry.association.executable = ResolveProgram(argv[0]);
        entry.association.isExe = !entry.association.executable.empty();
        entry.exec = exec;
        return entry.association.isExe;
    }
    return false;
}

std::string XdgAssociationProvider::FoldersStamp() const {
    std::vector<std::string> places;
    for (const std::string& d : dirs_.configDirs) places.push_back(d + "/mimeapps.list");
    places.push_back(dirs_.configHome + "/mimeapps.list");
    std::vector<std::string> data = dirs_.dataDirs;
    data.push_back(dirs_.dataHome);
    for (const std::string& d : data) {
        places.push_back(d + "/applications");
        places.push_back(d + "/applications/mimeinfo.cache");
        places.push_back(d + "/applications/mimeapps.list");
    }
    std::string stamp;
    for (const std::string& place : places) {
        std::error_code ec;
        const auto time = std::filesystem::last_write_time(place, ec);
        stamp += ec ? std::string("-") : std::to_string(time.time_since_epoch().count());
        stamp += ';';
    }
    return stamp;
}

const XdgAssociationProvider::Entry& XdgAssociationProvider::Lookup(const std::string& extension) {
    // Called with mutex_ held.
    const auto now = std::chrono::steady_clock::now();
    auto found = cache_.find(extension);
    if (found != cache_.end()) {
        const Entry& kept = found->second;
        if (kept.association.isExe || !kept.ok) return kept;
        if (now - kept.checkedAt < kMissRecheck && kept.foldersStamp == FoldersStamp()) return kept;
        cache_.erase(found);
    }
    Entry entry;
    entry.checkedAt = now;
    entry.foldersStamp = FoldersStamp();
    const std::string mimeType = MimeTypeOf(extension);
    if (!mimeType.empty()) {
        entry.ok = true;
        for (const std::string& id : DesktopIdsFor(mimeType)) {
            Entry candidate;
            if (ReadDesktopEntry(id, candidate)) {
                entry.association = candidate.association;
                entry.exec = candidate.exec;
                break;
            }
        }
        entry.association.friendlyDocName = mimeType;
        entry.association.found = true;
    }
    return cache_.emplace(extension, std::move(entry)).first->second;
}

bool XdgAssociationProvider::Query(const std::string& extension, FileAssociation& association) {
    std::lock_guard<std::mutex> lock(mutex_);
    const Entry& entry = Lookup(extension);
    association = entry.association;
    return entry.ok;
}

int XdgAssociationProvider::IsProgramRunning(const std::string& executable) {
    return localsys::IsProgramRunning(executable);
}

void XdgAssociationProvider::OfferChooser(const std::string& path) {
    const std::string opener = ResolveProgram("xdg-open");
    int pid = 0;
    if (!opener.empty()) localsys::Spawn({opener, path}, true, pid);
}

void XdgAssociationProvider::ShowAlreadyRunning(const std::string& friendlyAppName) {
    const std::string text = "你已经打开了 " + friendlyAppName + " 文件，请先关闭打开的 " + friendlyAppName +
                             " 文件再进行编辑。";
    std::function<void(const std::string&)> notice;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notice = notice_;
    }
    if (notice) notice(text);
    else LogClientInfo("<WinFileSystem>" + text);
}

void XdgAssociationProvider::SetAlreadyRunningNotice(std::function<void(const std::string&)> notice) {
    std::lock_guard<std::mutex> lock(mutex_);
    notice_ = std::move(notice);
}

std::vector<std::string> XdgAssociationProvider::ExpandExec(const std::string& exec, const std::string& path) {
    std::vector<std::string> argv;
    bool usedPath = false;
    for (const std::string& arg : SplitExec(exec)) {
        // A lone %F or %U stands for the file list; other codes without a value vanish.
        std::string out;
        bool dropped = false;
        for (std::size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] != '%' || i + 1 >= arg.size()) {
                out += arg[i];
                continue;
            }
            const char code = arg[++i];
            switch (code) {
                case '%':
                    out += '%';
                    break;
                case 'f': case 'F': case 'u': case 'U':
                    out += path;
                    usedPath = true;
                    break;
                default:
                    if (arg.size() == 2) dropped = true;  // the argument was only this code
                    break;
            }
        }
        if (!dropped) argv.push_back(out);
    }
    if (!usedPath && !argv.empty()) argv.push_back(path);
    return argv;
}

bool XdgAssociationProvider::Start(const std::string& extension, const std::string& path, bool wait,
                                   int& processId) {
    processId = 0;
    std::string exec;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        exec = Lookup(extension).exec;
    }
    if (exec.empty()) return false;
    std::vector<std::string> argv = ExpandExec(exec, path);
    if (argv.empty()) return false;
    argv[0] = ResolveProgram(argv[0]);
    if (argv[0].empty()) return false;
    return localsys::Spawn(argv, !wait, processId);
}

int XdgAssociationProvider::WaitForExit(int processId, int timeoutMs) {
    return localsys::WaitChild(processId, timeoutMs);
}

void XdgAssociationProvider::Abandon(int processId) { localsys::ReapLater(processId); }

AssociationProvider& DefaultAssociationProvider() {
    static XdgAssociationProvider provider;
    return provider;
}
