#pragma once
// Where the client's windows take their texts: an English key in, the text of the
// language in force out (the key itself when it has no translation). The program reads
// them through the controller's facade; the gallery and the tests through a language
// catalogue of their own or the keys themselves. Look-ups may run on any thread. The
// widgets take them as Qt strings through QtTexts.h.
#include <initializer_list>
#include <string>
#include <string_view>

class ClientControlFacade;
class LanguageManager;

class UiTexts {
public:
    virtual ~UiTexts() = default;
    // UTF-8 text of `key`.
    virtual std::string Text(const std::string& key) const = 0;
};

// Through the controller (the program).
class FacadeTexts final : public UiTexts {
public:
    explicit FacadeTexts(const ClientControlFacade& facade) : facade_(facade) {}
    std::string Text(const std::string& key) const override;

private:
    const ClientControlFacade& facade_;
};

// Through a language catalogue of its own (the gallery, tests in a language).
class CatalogueTexts final : public UiTexts {
public:
    explicit CatalogueTexts(const LanguageManager& languages) : languages_(languages) {}
    std::string Text(const std::string& key) const override;

private:
    const LanguageManager& languages_;
};

// The keys unchanged (tests).
class KeyTexts final : public UiTexts {
public:
    std::string Text(const std::string& key) const override { return key; }
};

// The translation of a message pattern filled with `args`: the translation is used only
// when its placeholders are those of the key, in the same order; otherwise the key itself
// is filled, so a faulty translation can never take the wrong or a missing argument.
std::string FormatTranslated(const UiTexts& texts, const std::string& key,
                             std::initializer_list<std::string_view> args);
