#include "client/ui/UiTexts.h"

#include "client/core/LanguageManager.h"
#include "client/core/TextHelpers.h"
#include "client/local/ClientControl.h"

std::string FacadeTexts::Text(const std::string& key) const { return facade_.GetText(key); }

std::string CatalogueTexts::Text(const std::string& key) const { return languages_.LookUp(std::string_view(key)); }

std::string PlaceholderSequence(std::string_view pattern) {
    std::string sequence;
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        const char next = pattern[i + 1];
        if (next == '%' || next == 's' || next == 'd') {
            if (next != '%') sequence.push_back(next);
            ++i;
        }
    }
    return sequence;
}

std::string FormatTranslated(const UiTexts& texts, const std::string& key,
                             std::initializer_list<std::string_view> args) {
    const std::string translated = texts.Text(key);
    const std::string& pattern = PlaceholderSequence(translated) == PlaceholderSequence(key) ? translated : key;
    return FillPlaceholders(pattern, args);
}
