#pragma once
#include <cstdint>

namespace veldrano {

// splitmix64's finaliser: every input bit moves every output bit, and it can
// be undone exactly (Unmix64). Spreads keys in hash tables.
inline constexpr std::uint64_t Mix64A = 0xBF58476D1CE4E5B9ull;
inline constexpr std::uint64_t Mix64B = 0x94D049BB133111EBull;

constexpr std::uint64_t Mix64(std::uint64_t x) {
  x = (x ^ (x >> 30)) * Mix64A;
  x = (x ^ (x >> 27)) * Mix64B;
  return x ^ (x >> 31);
}

// The hash's share of n, in [0, n): a well-mixed hash placed by its order
// among all hashes, so that things kept in hash order keep that order.
constexpr std::uint64_t ShareOf(std::uint64_t hash, std::uint64_t n) {
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(hash) * n) >> 64);
}

namespace mix64_detail {

// The inverse of an odd number modulo 2^64 (Newton's iteration).
constexpr std::uint64_t InverseOf(std::uint64_t odd) {
  std::uint64_t inverse = odd;
  for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
  return inverse;
}

// x ^ (x >> shift), undone.
constexpr std::uint64_t UnshiftXor(std::uint64_t y, int shift) {
  std::uint64_t x = y;
  for (int covered = shift; covered < 64; covered += shift) x = y ^ (x >> shift);
  return x;
}

}  // namespace mix64_detail

constexpr std::uint64_t Unmix64(std::uint64_t x) {
  using namespace mix64_detail;
  x = UnshiftXor(x, 31) * InverseOf(Mix64B);
  x = UnshiftXor(x, 27) * InverseOf(Mix64A);
  return UnshiftXor(x, 30);
}
static_assert(Mix64(0) == 0 && Unmix64(Mix64(0x0000000500000007ull)) == 0x0000000500000007ull);

}  // namespace veldrano
