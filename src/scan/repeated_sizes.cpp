#include "scan/repeated_sizes.h"

#include <algorithm>

namespace veldrano {

bool RepeatedSizes::Repeated(std::int64_t size) {
  if (size < SideBySideFromBytes) return false;
  if (!sorted_) {
    // Once, at the first question: only the sizes met twice or more stay,
    // each once.
    std::sort(sizes_.begin(), sizes_.end());
    auto kept = sizes_.begin();
    for (auto at = sizes_.begin(); at != sizes_.end();) {
      const auto end = std::find_if(at, sizes_.end(), [at](std::int64_t other) { return other != *at; });
      if (end - at > 1) *kept++ = *at;
      at = end;
    }
    sizes_.erase(kept, sizes_.end());
    sizes_.shrink_to_fit();
    sorted_ = true;
  }
  return std::binary_search(sizes_.begin(), sizes_.end(), size);
}

void RepeatedSizes::Clear() {
  sizes_ = {};
  sorted_ = false;
}

}  // namespace veldrano
