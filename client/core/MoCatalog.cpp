#include "client/core/MoCatalog.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>

#include "client/core/ClientFiles.h"

namespace {
constexpr std::uint32_t kMagic = 0x950412DE;
constexpr std::uint32_t kMagicSwapped = 0xDE120495;
// Far beyond any catalogue of this program; a larger file is not one of ours.
constexpr std::size_t kMaxFileSize = std::size_t{64} << 20;

class Reader {
public:
    Reader(std::string_view bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    // The 32-bit value at `offset`; false when it lies outside the file.
    bool U32(std::uint64_t offset, std::uint32_t& value) const {
        if (offset > bytes_.size() || bytes_.size() - offset < 4) return false;
        const auto* p = reinterpret_cast<const unsigned char*>(bytes_.data() + offset);
        value = bigEndian_ ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3])
                           : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
        return true;
    }

    // String `index` of the table at `table`: its length and offset must lie inside
    // the file and the byte after it must be its terminating NUL.
    bool String(std::uint64_t table, std::uint32_t index, std::string_view& out) const {
        std::uint32_t length = 0;
        std::uint32_t offset = 0;
        const std::uint64_t entry = table + std::uint64_t{index} * 8;
        if (!U32(entry, length) || !U32(entry + 4, offset)) return false;
        const std::uint64_t end = std::uint64_t{offset} + length;  // position of the NUL
        if (end >= bytes_.size() || bytes_[end] != '\0') return false;
        out = bytes_.substr(offset, length);
        return true;
    }

private:
    std::string_view bytes_;
    bool bigEndian_;
};

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const MoCatalog>> catalogs;
    std::string currentDomain;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}
}  // namespace

std::shared_ptr<const MoCatalog> MoCatalog::Parse(std::string_view bytes) {
    if (bytes.size() < 20) return nullptr;
    std::uint32_t magic = 0;
    Reader(bytes, false).U32(0, magic);
    if (magic != kMagic && magic != kMagicSwapped) return nullptr;
    const Reader reader(bytes, magic == kMagicSwapped);

    std::uint32_t revision = 0;
    std::uint32_t count = 0;
    std::uint32_t idTable = 0;
    std::uint32_t textTable = 0;
    if (!reader.U32(4, revision) || !reader.U32(8, count) || !reader.U32(12, idTable) || !reader.U32(16, textTable))
        return nullptr;
    if (revision != 0) return nullptr;
    // Both tables must fit in the file before anything is allocated for them.
    const std::uint64_t tableBytes = std::uint64_t{count} * 8;
    if (idTable > bytes.size() || bytes.size() - idTable < tableBytes) return nullptr;
    if (textTable > bytes.size() || bytes.size() - textTable < tableBytes) return nullptr;

    auto catalog = std::make_shared<MoCatalog>();
    catalog->entries_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string_view id;
        std::string_view text;
        if (!reader.String(idTable, i, id) || !reader.String(textTable, i, text)) return nullptr;
        // A plural entry holds its forms separated by NULs: the first form is the key and
        // the first translation the text.
        catalog->entries_.emplace_back(std::string(id.substr(0, id.find('\0'))),
                                       std::string(text.substr(0, text.find('\0'))));
    }
    std::stable_sort(catalog->entries_.begin(), catalog->entries_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return catalog;
}

std::shared_ptr<const MoCatalog> MoCatalog::FromFile(const std::string& path) {
    std::string bytes;
    if (path.empty() || ReadWholeFile(path, bytes) != FileRead::Read || bytes.size() > kMaxFileSize) return nullptr;
    return Parse(bytes);
}

const std::string* MoCatalog::Find(std::string_view msgid) const {
    // Binary search by byte value; the first of equal ids wins.
    auto it = std::lower_bound(entries_.begin(), entries_.end(), msgid,
                               [](const auto& entry, std::string_view id) { return entry.first < id; });
    if (it == entries_.end() || it->first != msgid) return nullptr;
    return &it->second;
}

int MoCatalog::Load(const std::string& domain, const std::string& path) {
    if (domain.empty()) return 0;
    std::shared_ptr<const MoCatalog> catalog = FromFile(path);
    if (!catalog) return 0;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.catalogs[domain] = std::move(catalog);
    return 1;
}

void MoCatalog::Unload(const std::string& domain) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.catalogs.erase(domain);
}

void MoCatalog::SetCurrentDomain(const std::string& domain) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.currentDomain = domain;
}

const char* MoCatalog::Translate(const char* msgid) {
    if (!msgid) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.catalogs.find(r.currentDomain);
    if (it == r.catalogs.end()) return msgid;
    const std::string* text = it->second->Find(msgid);
    return text ? text->c_str() : msgid;
}
