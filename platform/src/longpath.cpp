#include "platform/longpath.h"

#include "platform/text.h"

namespace {

bool IsReservedDeviceName(const std::u16string& name) {
    static const char16_t* const kReserved[] = {
        u"CON",  u"PRN",  u"AUX",  u"NUL",  u"COM1", u"COM2", u"COM3", u"COM4", u"COM5", u"COM6",
        u"COM7", u"COM8", u"COM9", u"LPT1", u"LPT2", u"LPT3", u"LPT4", u"LPT5", u"LPT6", u"LPT7",
        u"LPT8", u"LPT9"};
    for (const char16_t* reserved : kReserved) {
        if (name == reserved) return true;
    }
    return false;
}

}  // namespace

bool IsValidFileName(const std::u16string& name) {
    if (name.empty()) return false;
    for (char16_t c : name) {
        if (c < 0x20) return false;  // NUL and control characters
        switch (c) {
            case u'<': case u'>': case u':': case u'"': case u'/':
            case u'\\': case u'|': case u'?': case u'*':
                return false;
            default:
                break;
        }
    }
    return !IsReservedDeviceName(name);
}

bool NormalizeLongPath(const std::u16string& path, std::u16string& out) {
    out.clear();
    std::u16string work = path;
    for (char16_t& c : work) {
        if (c == u'\\') c = u'/';
    }
    if (work.empty() || work[0] != u'/') return false;

    std::u16string result = u"/";
    std::size_t start = 1;
    for (;;) {
        const std::size_t slash = work.find(u'/', start);
        if (slash == std::u16string::npos) break;
        const std::u16string name = work.substr(start, slash - start);
        start = slash + 1;
        if (name.empty()) return false;
        if (name == u".") continue;
        if (name == u"..") {
            // result ends in '/'; drop its last component, never reaching the root.
            const std::size_t cut = result.rfind(u'/', result.size() - 2);
            if (result.size() <= 1 || cut == std::u16string::npos || cut == 0) return false;
            result.resize(cut + 1);
            continue;
        }
        if (!IsValidFileName(name)) return false;
        result += name;
        result += u'/';
    }
    // The last component is taken as it stands ("." and ".." included); an empty one
    // means the path ended with a separator, which is kept.
    const std::u16string last = work.substr(start);
    if (!last.empty()) {
        if (!IsValidFileName(last)) return false;
        result += last;
    }
    if (result.size() > kLongestPathChars) return false;
    out = std::move(result);
    return true;
}

bool AddLongPathPrefix(const std::u16string& path, std::u16string& out) {
    out = path;
    return out.size() <= kLongestPathChars;
}

namespace plat {

bool NormalizePathUtf8(const std::string& path, std::string& out) {
    out.clear();
    std::u16string wide;
    std::u16string normalised;
    // A zero byte would end the conversion early and silently shorten the path.
    if (path.find('\0') != std::string::npos || !Utf8ToUtf16(path, wide)) return false;
    return NormalizeLongPath(wide, normalised) && Utf16ToUtf8(normalised, out);
}

}  // namespace plat
