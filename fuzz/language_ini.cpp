// "language.ini" and the INI reader under it: a text parsed, written back unchanged
// (every byte kept), and read as the sync program's language table for every key of
// both language sections, plain and formatted.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "FuzzTarget.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "sync/ui/LanguageIni.h"

namespace {

std::string ScratchFile() {
    const char* folder = std::getenv("TMPDIR");
    return std::string(folder != nullptr ? folder : "/tmp") + "/dravik-fuzz-language-" + std::to_string(getpid()) +
           ".ini";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::Text(data, size);
    plat::IniFile ini;
    ini.Parse(text);
    if (ini.Text() != text) fuzz::Fail("a text read and written back changed");
    plat::IniFile again;
    again.Parse(ini.Text());
    if (again.Sections() != ini.Sections()) fuzz::Fail("sections differ after a round trip");
    for (const std::string& section : ini.Sections()) {
        for (const std::string& key : ini.Keys(section)) {
            ini.Get(section, key);
            ini.GetInt(section, key, 0);
        }
    }
    if (ini.Set("Englist", "fuzz key", "fuzz value")) {
        plat::IniFile written;
        written.Parse(ini.Text());
        if (written.Get("Englist", "fuzz key") != std::optional<std::string>("fuzz value"))
            fuzz::Fail("a value set is not read back");
    }

    static const std::string path = ScratchFile();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    CLanguageIni language(path);
    for (const int which : {CLanguageIni::kChinese, CLanguageIni::kEnglish}) {
        language.SetLanguage(which);
        for (const std::string& key : ini.Keys(language.Section())) {
            const std::u16string shown = language.GetString(std::string_view(key));
            if (shown.size() > CLanguageIni::kMaxText && shown != plat::ToUtf16(key))
                fuzz::Fail("a translation longer than the limit");
            language.Format(plat::ToUtf16(key), {std::int64_t{7}, std::u16string(u"x")});
        }
    }
    return 0;
}
