#pragma once
// What every fuzz target of this folder defines: libFuzzer's entry point. Each target is
// built twice: with clang's libFuzzer (scripts/fuzz) and, with the project's normal
// compiler, as a plain program (CorpusMain.cpp) that runs its corpus files through the
// same entry point as a ctest test.
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Stops the run with a message: an input broke a property the target checks (libFuzzer
// then keeps the input as a crash).
[[noreturn]] void Fail(const char* what);

}  // namespace fuzz
