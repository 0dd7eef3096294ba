#include "platform/tick_count.h"

#include <ctime>

namespace veldrano::platform {

std::uint64_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace veldrano::platform
