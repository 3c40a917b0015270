#pragma once
// The sync program's window texts. Every text of its windows is written in Chinese, and
// that text is also the key under which a translation is looked up in
// "language/language.ini" beside the executable, in the section of the current language:
// "中文简体" (language 1, the start) or "Englist" (language 0). A text missing from the
// file, its section or the file itself is shown as its key.
//
// A translation is cut to 199 UTF-16 units, never inside a character. Formatted keys are
// looked up first and formatted afterwards: Format() replaces the key's conversions ("%d",
// "%s", "%%") itself, and a translation whose conversions differ from the key's is not
// used (the key is), so no text from the file ever acts as a format.
//
// The file is read again whenever it changed on disk. Any thread.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/ini.h"

class CLanguageIni {
public:
    static constexpr int kEnglish = 0;
    static constexpr int kChinese = 1;
    static constexpr std::size_t kMaxText = 199;

    // Chinese, reading the executable's folder + "/language/language.ini".
    CLanguageIni();
    explicit CLanguageIni(std::string path);

    // The program's one catalogue.
    static CLanguageIni& Global();

    std::u16string GetString(std::u16string_view key) const;
    std::u16string GetString(std::string_view utf8Key) const;
    using Argument = std::variant<std::int64_t, std::u16string>;
    std::u16string Format(std::u16string_view key, const std::vector<Argument>& arguments) const;

    // 0 English, 1 Chinese; false when it was that language already.
    bool SetLanguage(int language);
    int Language() const;
    std::string Section() const;
    std::string Path() const;
    void SetPath(std::string path);

private:
    void Refresh() const;

    mutable std::mutex lock_;
    int language_ = kChinese;
    std::string path_;
    mutable plat::IniFile file_;
    mutable bool loaded_ = false;
    mutable std::int64_t stamp_ = -1;
    mutable std::int64_t size_ = -1;
};

// The conversions of a format text in order ("%d", "%s", "%0.2f"...; "%%" is none).
std::vector<std::u16string> ConversionsOf(std::u16string_view text);
// The text with its "%d"/"%i"/"%u" and "%s" conversions replaced by the arguments in
// order and "%%" by "%"; any other conversion, or too few arguments, leaves the text
// unformatted.
std::u16string ApplyFormat(std::u16string_view text, const std::vector<CLanguageIni::Argument>& arguments);
