#pragma once
#include <cstdint>
#include <ctime>

namespace veldrano::platform {

// A file time (st_mtim, st_ctim) as nanoseconds since the epoch.
inline std::int64_t Nanoseconds(const timespec& time) { return std::int64_t{time.tv_sec} * 1000000000 + time.tv_nsec; }

}  // namespace veldrano::platform
