#include "scan/run_filter.h"

#include <algorithm>
#include <cmath>

#include "signature/mix64.h"

namespace veldrano {

namespace {

// The record hashes also place records in their run: the block follows
// the hash as the slot does (a run is written in hash order, so its
// filter's blocks are filled in order too, not all over), and the bits in
// it come from the hash mixed again, apart from the slot.
constexpr std::uint64_t FilterSalt = 0x66696C746572ull;  // "filter"

}  // namespace

RunFilter::RunFilter(std::uint64_t records, double bitsPerRecord) {
  if (records == 0 || !(bitsPerRecord > 0)) return;
  const auto blocks = static_cast<std::uint64_t>(std::ceil(static_cast<double>(records) * bitsPerRecord / 512));
  words_.assign(std::max<std::uint64_t>(1, blocks) * WordsPerBlock, 0);
  // Probes per key: bits per key times ln 2, the fewest false answers.
  probes_ = std::clamp(static_cast<int>(std::lround(bitsPerRecord * 0.69)), 1, 7);
}

std::uint64_t RunFilter::BlockOf(std::uint64_t hash) const {
  const std::uint64_t blocks = words_.size() / WordsPerBlock;
  // The hash's share of all hashes picks the block.
  return ShareOf(hash, blocks) * WordsPerBlock;
}

void RunFilter::Add(std::uint64_t hash) {
  if (words_.empty()) return;
  const std::uint64_t block = BlockOf(hash);
  std::uint64_t bits = Mix64(hash ^ FilterSalt);
  for (int probe = 0; probe < probes_; ++probe, bits >>= 9) {
    words_[block + ((bits >> 6) & 7)] |= std::uint64_t{1} << (bits & 63);
  }
}

bool RunFilter::MayHold(std::uint64_t hash) const {
  if (words_.empty()) return true;
  const std::uint64_t block = BlockOf(hash);
  std::uint64_t bits = Mix64(hash ^ FilterSalt);
  for (int probe = 0; probe < probes_; ++probe, bits >>= 9) {
    if ((words_[block + ((bits >> 6) & 7)] & (std::uint64_t{1} << (bits & 63))) == 0) return false;
  }
  return true;
}

}  // namespace veldrano
