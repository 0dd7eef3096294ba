#pragma once
#include <cstdint>

namespace veldrano::platform {

// Milliseconds from a monotonic clock: never goes back, never wraps in
// practice, unaffected by changes of the wall clock. Read once or more per
// file a scan walks: the coarse clock, which the system keeps to its tick
// (a few milliseconds) and reads for a fraction of the cost.
std::uint64_t TickCount();

}  // namespace veldrano::platform
