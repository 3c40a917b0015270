#pragma once
// Steady-clock milliseconds (never jumps with the wall clock).
#include <cstdint>

namespace plat {
std::uint64_t SteadyMilliseconds();
}  // namespace plat
