#pragma once
// The client's interface texts: the list of languages ("language/language.json" beside
// the executable), the language in force, and the table from English key to display
// text, filled from the language's catalogue ("language/data/<DataFileName>"). A
// language change is announced on the bus (type 11). Look-ups may run on any thread.
#include <cstdint>
#include <map>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

class SendControlMessageInterface;

struct LanguageEntry {
    std::string LangCode;  // "en", "zh-CN"
    std::string EnglishName;
    std::string NativeName;
    std::string DataFileName;  // the catalogue's file name
    std::string ImageName;
};

class LanguageManager {
public:
    LanguageManager() = default;
    ~LanguageManager() = default;
    LanguageManager(const LanguageManager&) = delete;
    LanguageManager& operator=(const LanguageManager&) = delete;

    // The English keys the table covers; a key not in the list is shown untranslated.
    static const std::vector<std::string>& DefaultKeys();

    void SetAppDirectory(const std::string& appDirectory);
    // Where language changes are posted (the controller); may be null.
    void SetMessageSink(SendControlMessageInterface* sink);

    // Reads the language list. A missing or unreadable file, or one whose root does not
    // match, leaves the list unchanged.
    void LoadLanguageList();

    // Switches to the language `code`: its catalogue is read into a new table that then
    // replaces the old one, and type 11 is posted. Returns the code in force afterwards;
    // the current code unchanged (nothing posted) when it is already in force; "" when
    // no entry has the code or its catalogue cannot be read (the language in force and
    // its table stay).
    std::string SetLanguage(const std::string& code);

    // 1 with the entry of the current code and its index; 0 when none (index = count).
    int GetCurrentLanguage(LanguageEntry& entry, int& index) const;
    std::string GetCurrentCode() const;
    std::vector<LanguageEntry> GetLanguages() const;
    std::int32_t MajorVersion() const;
    std::int32_t MinorVersion() const;

    // The display text of an English key; the key itself when the table has none.
    std::string LookUp(std::string_view key) const;
    std::string LookUp(const char* key) const { return LookUp(std::string_view(key ? key : "")); }
    std::u16string LookUpWide(std::string_view key) const;

    // Posts source 6, type 11 with the current code, when a sink is set.
    void NotifyLanguageChanged();

private:
    using Table = std::map<std::string, std::string, std::less<>>;

    mutable std::shared_mutex mutex_;  // guards everything below
    std::string appDirectory_;
    std::int32_t majorVersion_ = 0;
    std::int32_t minorVersion_ = 0;
    Table table_;
    SendControlMessageInterface* sink_ = nullptr;
    std::vector<LanguageEntry> entries_;
    std::string currentCode_;
};
