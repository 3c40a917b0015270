#include "sync/ui/LanguageIni.h"

#include <sys/stat.h>

#include <optional>

#include "platform/fileops.h"
#include "platform/text.h"
#include "platform/userdirs.h"

namespace {

const char kChineseSection[] = "中文简体";
const char kEnglishSection[] = "Englist";

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// A line break cannot stand in an INI line: keys and values write it as "\\n".
std::string EscapeBreaks(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else out.push_back(c);
    }
    return out;
}

std::string UnescapeBreaks(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out.push_back('\n');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

CLanguageIni::CLanguageIni()
    : CLanguageIni(plat::fs::Join(plat::fs::Join(plat::ExecutableDir(), "language"), "language.ini")) {}

CLanguageIni::CLanguageIni(std::string path) : path_(std::move(path)) {}

CLanguageIni& CLanguageIni::Global() {
    static CLanguageIni* catalogue = new CLanguageIni();
    return *catalogue;
}

bool CLanguageIni::SetLanguage(int language) {
    std::lock_guard<std::mutex> hold(lock_);
    const int wanted = language == kEnglish ? kEnglish : kChinese;
    if (wanted == language_) return false;
    language_ = wanted;
    return true;
}

int CLanguageIni::Language() const {
    std::lock_guard<std::mutex> hold(lock_);
    return language_;
}

std::string CLanguageIni::Section() const {
    std::lock_guard<std::mutex> hold(lock_);
    return language_ == kEnglish ? kEnglishSection : kChineseSection;
}

std::string CLanguageIni::Path() const {
    std::lock_guard<std::mutex> hold(lock_);
    return path_;
}

void CLanguageIni::SetPath(std::string path) {
    std::lock_guard<std::mutex> hold(lock_);
    path_ = std::move(path);
    loaded_ = false;
}

void CLanguageIni::Refresh() const {
    struct stat facts {};
    std::int64_t stamp = -1, size = -1;
    if (::stat(path_.c_str(), &facts) == 0) {
        stamp = static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1000000000 + facts.st_mtim.tv_nsec;
        size = static_cast<std::int64_t>(facts.st_size);
    }
    if (loaded_ && stamp == stamp_ && size == size_) return;
    file_ = plat::IniFile();
    if (stamp >= 0) file_.Load(path_);
    stamp_ = stamp;
    size_ = size;
    loaded_ = true;
}

std::u16string CLanguageIni::GetString(std::u16string_view key) const {
    const std::string utf8Key = EscapeBreaks(plat::ToUtf8(key));
    std::optional<std::string> value;
    {
        std::lock_guard<std::mutex> hold(lock_);
        Refresh();
        value = file_.Get(language_ == kEnglish ? kEnglishSection : kChineseSection, utf8Key);
    }
    std::u16string text(key);
    if (value) {
        std::u16string translated;
        if (plat::Utf8ToUtf16(UnescapeBreaks(*value), translated)) text = std::move(translated);
    }
    if (text.size() > kMaxText) {
        std::size_t cut = kMaxText;
        if (IsHighSurrogate(text[cut - 1])) --cut;
        text.resize(cut);
    }
    return text;
}

std::u16string CLanguageIni::GetString(std::string_view utf8Key) const { return GetString(plat::ToUtf16(utf8Key)); }

std::u16string CLanguageIni::Format(std::u16string_view key, const std::vector<Argument>& arguments) const {
    std::u16string text = GetString(key);
    if (ConversionsOf(text) != ConversionsOf(key)) text = std::u16string(key);
    return ApplyFormat(text, arguments);
}

namespace {

// Length of the conversion that starts at text[i] == '%' (0 when none is complete).
std::size_t ConversionLength(std::u16string_view text, std::size_t i) {
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == u'%') return 2;
    while (j < text.size() && std::u16string_view(u"-+ #0123456789.").find(text[j]) != std::u16string_view::npos) ++j;
    while (j < text.size() && std::u16string_view(u"hlLqjzt").find(text[j]) != std::u16string_view::npos) ++j;
    if (j >= text.size()) return 0;
    return j - i + 1;
}

}  // namespace

std::vector<std::u16string> ConversionsOf(std::u16string_view text) {
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') continue;
        const std::size_t length = ConversionLength(text, i);
        if (length == 0) {
            out.push_back(std::u16string(text.substr(i)));
            break;
        }
        if (length != 2 || text[i + 1] != u'%') out.push_back(std::u16string(text.substr(i, length)));
        i += length - 1;
    }
    return out;
}

std::u16string ApplyFormat(std::u16string_view text, const std::vector<CLanguageIni::Argument>& arguments) {
    std::u16string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') {
            out.push_back(text[i]);
            continue;
        }
        const std::size_t length = ConversionLength(text, i);
        if (length == 2 && text[i + 1] == u'%') {
            out.push_back(u'%');
            ++i;
            continue;
        }
        if (length != 2 || next >= arguments.size()) return std::u16string(text);
        const char16_t kind = text[i + 1];
        const CLanguageIni::Argument& argument = arguments[next++];
        if ((kind == u'd' || kind == u'i' || kind == u'u') && std::holds_alternative<std::int64_t>(argument)) {
            out += plat::ToUtf16(std::to_string(std::get<std::int64_t>(argument)));
        } else if (kind == u's' && std::holds_alternative<std::u16string>(argument)) {
            out += std::get<std::u16string>(argument);
        } else {
            return std::u16string(text);
        }
        ++i;
    }
    return out;
}
