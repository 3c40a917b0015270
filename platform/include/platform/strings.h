#pragma once
// The program's compiled-in string table (texts by numeric id).
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

namespace plat {

// Registers texts of the table (a program does this once at start).
void RegisterStrings(std::initializer_list<std::pair<std::uint32_t, const char16_t*>> entries);
// The text of `id`, empty when unknown; cut to 159 characters like the fixed buffer of
// the original table reader.
std::u16string LoadString(std::uint32_t id);

}  // namespace plat
