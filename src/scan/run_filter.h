#pragma once
#include <cstdint>
#include <vector>

namespace veldrano {

// A Bloom filter of the keys of one sorted run of the store, by their
// hashes: a key it does not hold is surely not in the run, so a lookup in
// vain costs no read of the run (most lookups of a scan are for keys met
// for the first time). Blocked: the bits of a key lie in one cache line.
// A filter of no bits holds nothing back.
class RunFilter {
 public:
  RunFilter() = default;
  // Room for records keys at about bitsPerRecord bits each (none: no
  // filter).
  RunFilter(std::uint64_t records, double bitsPerRecord);

  void Add(std::uint64_t hash);
  // False when the key of hash is surely not among those added.
  bool MayHold(std::uint64_t hash) const;
  // Starts bringing in the bits MayHold(hash) will look at: a lookup asks
  // every run's filter, and their blocks then come from memory at once
  // rather than one after the other.
  void Prefetch(std::uint64_t hash) const {
    if (!words_.empty()) __builtin_prefetch(&words_[BlockOf(hash)]);
  }
  std::uint64_t Bits() const { return words_.size() * 64; }

 private:
  static constexpr std::uint64_t WordsPerBlock = 8;  // 64 bytes
  std::uint64_t BlockOf(std::uint64_t hash) const;

  std::vector<std::uint64_t> words_;
  int probes_ = 0;
};

}  // namespace veldrano
