#pragma once
#include <cstdint>
#include <ctime>

namespace veldrano::platform {

// A file time (st_mtim, st_ctim) as nanoseconds since the epoch.
inline std::int64_t Nanoseconds(const timespec& time) { return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }

// The time of Nanoseconds(time): nanoseconds within [0, 10^9), as a
// timespec holds them, also before the epoch.
inline timespec TimeOfNanoseconds(std::int64_t nanoseconds) {
  constexpr std::int64_t PerSecond = 1000000000;
  std::int64_t seconds = nanoseconds / PerSecond;
  std::int64_t rest = nanoseconds % PerSecond;
  if (rest < 0) {
    rest += PerSecond;
    seconds -= 1;
  }
  return timespec{static_cast<time_t>(seconds), static_cast<long>(rest)};
}

}  // namespace veldrano::platform
