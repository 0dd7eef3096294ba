#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "signature/hash_ahead.h"

namespace veldrano {

// The sizes the counting pass met more than once among large files (from
// SideBySideFromBytes on), with the first file it counted of each. The
// processing pass walks the same listings in the same order: the first
// file counted of such a size is most likely the first file of its size
// the scan meets, and another is still to come then, with which, most
// likely, its MD5 is wanted (large files of one size are most often
// copies). Its MD5 can then be taken long before the scan asks for it.
// Counted first, then asked; at most MaxSizes sizes are told apart (the
// others are not known as repeated).
class RepeatedSizes {
 public:
  static constexpr std::size_t MaxSizes = std::size_t{1} << 16;

  struct First {
    std::string Path;
    std::int64_t Size = 0;
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
  };

  void Count(std::int64_t size, const std::string& path, std::uint64_t device, std::uint64_t inode);
  // The first file counted of each repeated size, in the order counted.
  const std::vector<First>& Firsts();
  // The index in Firsts() of size's first file; NotRepeated when it has
  // none.
  static constexpr std::size_t NotRepeated = SIZE_MAX;
  std::size_t IndexOf(std::int64_t size);
  void Clear();

 private:
  // Once asked: only the firsts of repeated sizes stay.
  void Seal();

  struct Tally {
    std::uint32_t Files = 0;
    std::uint32_t First = 0;  // its index in firsts_
  };
  std::unordered_map<std::int64_t, Tally> tallies_;
  std::vector<First> firsts_;
  bool sealed_ = false;
};

}  // namespace veldrano
