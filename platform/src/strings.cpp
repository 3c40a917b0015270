#include "platform/strings.h"

#include <mutex>
#include <unordered_map>

namespace plat {
namespace {

// Room of the fixed buffer the texts were read into (160 units, one for the terminator).
constexpr std::size_t kMaxTextUnits = 159;

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, std::u16string> texts;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

void RegisterStrings(std::initializer_list<std::pair<std::uint32_t, const char16_t*>> entries) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (const auto& [id, text] : entries) registry.texts[id] = text != nullptr ? text : u"";
}

std::u16string LoadString(std::uint32_t id) {
    Registry& registry = TheRegistry();
    std::u16string text;
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        const auto it = registry.texts.find(id);
        if (it == registry.texts.end()) return {};
        text = it->second;
    }
    if (text.size() > kMaxTextUnits) {
        text.resize(kMaxTextUnits);
        // Never leave half a surrogate pair behind.
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    return text;
}

}  // namespace plat
