#include "platform/longpath.h"

#include "platform/text.h"

namespace {

constexpr std::size_t kMaxNameBytes = 255;

// Bytes of the name in UTF-8 (a surrogate pair is one four-byte character).
std::size_t Utf8Bytes(const std::u16string& name) {
    std::size_t bytes = 0;
    for (char16_t c : name) {
        if (c < 0x80) bytes += 1;
        else if (c < 0x800) bytes += 2;
        else if (c >= 0xD800 && c <= 0xDFFF) bytes += 2;  // half of a four-byte character
        else bytes += 3;
    }
    return bytes;
}

const char* NameProblem(const std::u16string& name) {
    if (name.empty()) return "the name is empty";
    if (name == u"." || name == u"..") return "the name is . or ..";
    for (char16_t c : name) {
        if (c == u'\0') return "the name holds a NUL character";
        if (c < 0x20 || c == 0x7F) return "the name holds a control character";
        if (c == u'/') return "the name holds '/'";
        if (c == u'\\') return "the name holds '\\', a separator";
    }
    if (Utf8Bytes(name) > kMaxNameBytes) return "the name is longer than 255 bytes";
    return nullptr;
}

// The normaliser; on failure `problem` says why.
bool Normalize(const std::u16string& path, std::u16string& out, std::string& problem) {
    out.clear();
    problem.clear();
    std::u16string work = path;
    for (char16_t& c : work) {
        if (c == u'\\') c = u'/';
    }
    if (work.empty() || work[0] != u'/') {
        problem = "the path is not absolute";
        return false;
    }
    const auto refuse = [&](const std::u16string& name, const char* why) {
        problem = "'" + plat::ToUtf8(name) + "': " + why;
        return false;
    };

    std::u16string result = u"/";
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = work.find(u'/', start);
        if (slash == std::u16string::npos) break;
        const std::u16string name = work.substr(start, slash - start);
        start = slash + 1;
        if (name.empty()) {
            problem = "the path holds an empty name";
            return false;
        }
        if (name == u".") continue;
        if (name == u"..") {
            // result ends in '/'; drop its last component, never reaching the root.
            const std::size_t cut = result.rfind(u'/', result.size() - 2);
            if (result.size() <= 1 || cut == std::u16string::npos || cut == 0) {
                problem = "'..' would leave the top folder";
                return false;
            }
            result.resize(cut + 1);
            continue;
        }
        if (const char* why = NameProblem(name)) return refuse(name, why);
        result += name;
        result += u'/';
    }
    // The last component must be a name ("." and ".." there are refused); an empty one
    // means the path ended with a separator, which is kept.
    const std::u16string last = work.substr(start);
    if (!last.empty()) {
        if (const char* why = NameProblem(last)) return refuse(last, why);
        result += last;
    }
    if (result.size() > kLongestPathChars) {
        problem = "the path is longer than 32768 characters";
        return false;
    }
    out = std::move(result);
    return true;
}

}  // namespace

bool IsValidFileName(const std::u16string& name) { return NameProblem(name) == nullptr; }

bool NormalizeLongPath(const std::u16string& path, std::u16string& out) {
    std::string problem;
    return Normalize(path, out, problem);
}

bool AddLongPathPrefix(const std::u16string& path, std::u16string& out) {
    out = path;
    return out.size() <= kLongestPathChars;
}

namespace plat {

std::string FileNameProblem(const std::u16string& name) {
    const char* why = NameProblem(name);
    return why != nullptr ? std::string(why) : std::string();
}

namespace {

bool NormalizeUtf8(const std::string& path, std::string& out, std::string& problem) {
    out.clear();
    std::u16string wide;
    std::u16string normalised;
    // A zero byte would end the conversion early and silently shorten the path.
    if (path.find('\0') != std::string::npos) {
        problem = "the path holds a NUL character";
        return false;
    }
    if (!Utf8ToUtf16(path, wide)) {
        problem = "the path is not UTF-8";
        return false;
    }
    return Normalize(wide, normalised, problem) && Utf16ToUtf8(normalised, out);
}

}  // namespace

bool NormalizePathUtf8(const std::string& path, std::string& out) {
    std::string problem;
    return NormalizeUtf8(path, out, problem);
}

std::string PathProblemUtf8(const std::string& path) {
    std::string out;
    std::string problem;
    if (NormalizeUtf8(path, out, problem)) return {};
    return problem.empty() ? std::string("the path cannot be read") : problem;
}

}  // namespace plat
