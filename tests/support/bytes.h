#pragma once
#include <cstddef>
#include <string>

namespace veldrano::testing {

// A deterministic, non-repeating-looking byte pattern of length n (the same
// one the expected digests in the tests were computed on).
inline std::string PatternBytes(std::size_t n) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 31 + (i >> 8)) & 0xff);
  return bytes;
}

}  // namespace veldrano::testing
