#include "client/ui/UiTexts.h"

#include "client/core/LanguageManager.h"
#include "client/core/TextHelpers.h"
#include "client/local/ClientControl.h"

std::string FacadeTexts::Text(const std::string& key) const { return facade_.GetText(key); }

std::string CatalogueTexts::Text(const std::string& key) const { return languages_.LookUp(std::string_view(key)); }

std::string FormatTranslated(const UiTexts& texts, const std::string& key,
                             std::initializer_list<std::string_view> args) {
    return FillTranslated(key, texts.Text(key), args);
}
