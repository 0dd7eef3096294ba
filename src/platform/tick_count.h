#pragma once
#include <cstdint>

namespace veldrano::platform {

// Milliseconds from a monotonic clock: never goes back, never wraps in
// practice, unaffected by changes of the wall clock.
std::uint64_t TickCount();

}  // namespace veldrano::platform
