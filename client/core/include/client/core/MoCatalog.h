#pragma once
// Reader of GNU gettext message catalogues (MO files) of either byte order. Every offset
// and length in the file is checked against its size; a file that fails a check is
// refused whole.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class MoCatalog {
public:
    // The catalogue in `bytes`, or null when they are not a valid catalogue.
    static std::shared_ptr<const MoCatalog> Parse(std::string_view bytes);
    // The catalogue in the file at `path`, or null when it cannot be read or is invalid.
    static std::shared_ptr<const MoCatalog> FromFile(const std::string& path);

    std::size_t Count() const { return entries_.size(); }
    // The translation of `msgid`, or null when the catalogue has none.
    const std::string* Find(std::string_view msgid) const;

    // Program-wide registry of catalogues by domain, with a current domain.
    // Load: 1 when the file is a valid catalogue, now registered under `domain` (replacing
    // any earlier one); 0 otherwise (nothing changes).
    static int Load(const std::string& domain, const std::string& path);
    static void Unload(const std::string& domain);
    static void SetCurrentDomain(const std::string& domain);
    // Null gives null. The translation in the current domain's catalogue, else `msgid`
    // itself. The text stays valid until that catalogue is unloaded or replaced.
    static const char* Translate(const char* msgid);

private:
    // Message id (up to its first NUL) and translation, sorted by id.
    std::vector<std::pair<std::string, std::string>> entries_;
};
