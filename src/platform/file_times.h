#pragma once
#include <cstdint>
#include <ctime>

namespace veldrano::platform {

// A file time (st_mtim, st_ctim) as nanoseconds since the epoch.
inline std::int64_t Nanoseconds(const timespec& time) { return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }
// The time of nanoseconds, as Nanoseconds made it (times before the epoch
// too).
inline timespec TimespecOf(std::int64_t nanoseconds) {
  std::int64_t seconds = nanoseconds / 1000000000;
  std::int64_t rest = nanoseconds % 1000000000;
  if (rest < 0) {
    seconds -= 1;
    rest += 1000000000;
  }
  return timespec{static_cast<time_t>(seconds), static_cast<long>(rest)};
}

}  // namespace veldrano::platform
