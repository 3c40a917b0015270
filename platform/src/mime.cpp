#include "platform/mime.h"

#include <fstream>
#include <sstream>
#include <unordered_map>

namespace plat {
namespace {

using MimeTable = std::unordered_map<std::string, std::string>;

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// Lines of "type ext ext ..."; '#' starts a comment. The first type named for an
// extension is kept.
MimeTable ParseMimeTypes(const std::string& file) {
    MimeTable table;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string type;
        if (!(words >> type)) continue;
        std::string extension;
        while (words >> extension) table.emplace(AsciiLower(extension), type);
    }
    return table;
}

std::string Find(const MimeTable& table, std::string_view extension) {
    if (extension.size() < 2 || extension.front() != '.') return {};
    const auto it = table.find(AsciiLower(extension.substr(1)));
    return it == table.end() ? std::string() : it->second;
}

}  // namespace

std::string LookupMimeType(std::string_view extension) {
    static const MimeTable table = ParseMimeTypes("/etc/mime.types");
    return Find(table, extension);
}

std::string LookupMimeTypeIn(const std::string& mimeTypesFile, std::string_view extension) {
    return Find(ParseMimeTypes(mimeTypesFile), extension);
}

}  // namespace plat
