#include "scan/run_filter.h"

#include <algorithm>
#include <cmath>

#include "signature/mix64.h"

namespace veldrano {

namespace {

// The record hashes also place records in their run: mixed again, so that
// the filter's bits do not follow the slots.
constexpr std::uint64_t FilterSalt = 0x66696C746572ull;  // "filter"

}  // namespace

RunFilter::RunFilter(std::uint64_t records, std::uint64_t bitsPerRecord) {
  if (records == 0 || bitsPerRecord == 0) return;
  const std::uint64_t blocks = std::max<std::uint64_t>(1, (records * bitsPerRecord + 511) / 512);
  words_.assign(blocks * WordsPerBlock, 0);
  // Probes per key: bits per key times ln 2, the fewest false answers.
  probes_ = std::clamp(static_cast<int>(std::lround(static_cast<double>(bitsPerRecord) * 0.69)), 1, 7);
}

std::uint64_t RunFilter::BlockOf(std::uint64_t mixed) const {
  const std::uint64_t blocks = words_.size() / WordsPerBlock;
  // The top bits pick the block (as a fraction of the count); the low ones
  // the bits within it.
  return static_cast<std::uint64_t>((static_cast<unsigned __int128>(mixed) * blocks) >> 64) * WordsPerBlock;
}

void RunFilter::Add(std::uint64_t hash) {
  if (words_.empty()) return;
  const std::uint64_t mixed = Mix64(hash ^ FilterSalt);
  const std::uint64_t block = BlockOf(mixed);
  std::uint64_t bits = Mix64(mixed);  // apart from the bits that chose the block
  for (int probe = 0; probe < probes_; ++probe, bits >>= 9) {
    words_[block + ((bits >> 6) & 7)] |= std::uint64_t{1} << (bits & 63);
  }
}

bool RunFilter::MayHold(std::uint64_t hash) const {
  if (words_.empty()) return true;
  const std::uint64_t mixed = Mix64(hash ^ FilterSalt);
  const std::uint64_t block = BlockOf(mixed);
  std::uint64_t bits = Mix64(mixed);
  for (int probe = 0; probe < probes_; ++probe, bits >>= 9) {
    if ((words_[block + ((bits >> 6) & 7)] & (std::uint64_t{1} << (bits & 63))) == 0) return false;
  }
  return true;
}

}  // namespace veldrano
