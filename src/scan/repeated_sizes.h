#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/hash_ahead.h"

namespace veldrano {

// The sizes the counting pass met more than once among large files (from
// SideBySideFromBytes on). When the processing pass meets the first file of such a size,
// another is still to come, and with it, most likely, the first file's
// MD5 is wanted (large files of one size are most often copies): it can be
// hashed ahead. The sizes are counted first, then asked for; at most
// MaxCounted files are counted (beyond, their sizes are not known as
// repeated).
class RepeatedSizes {
 public:
  static constexpr std::size_t MaxCounted = std::size_t{1} << 21;

  void Count(std::int64_t size) {
    if (size >= SideBySideFromBytes && sizes_.size() < MaxCounted) sizes_.push_back(size);
  }
  // Whether size was counted more than once.
  bool Repeated(std::int64_t size);
  void Clear();

 private:
  std::vector<std::int64_t> sizes_;  // as counted; once asked, the repeated ones, sorted
  bool sorted_ = false;
};

}  // namespace veldrano
