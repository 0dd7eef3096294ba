#pragma once
#include <cmath>
#include <cstdint>

namespace veldrano {

// Rounds to the nearest whole number, a half going to the even neighbour
// (2.5 gives 2, 3.5 gives 4): how every percentage is rounded.
inline std::int64_t RoundHalfEven(long double value) {
  const long double down = std::floor(value);
  const long double fraction = value - down;
  long double result = down;
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(down, 2.0L) != 0)) result += 1;
  return static_cast<std::int64_t>(result);
}

}  // namespace veldrano
