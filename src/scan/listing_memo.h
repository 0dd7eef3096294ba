#pragma once
#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/directory_reader.h"

namespace veldrano {

// The listings the counting pass read, kept for the processing pass, so that
// each directory is listed (and each of its entries looked at) once per run
// rather than once per pass. A directory is known by its identity; its
// listing is taken once, and a directory met again is listed anew. Listings
// are kept only within a budget of memory, and only whole (never a slim
// one): beyond it, the processing pass lists the rest itself, as it would
// without them.
class ListingMemo {
 public:
  // Room for the listings of about 150 000 files.
  static constexpr std::size_t DefaultByteBudget = std::size_t{16} << 20;

  ListingMemo() = default;
  explicit ListingMemo(std::size_t byteBudget) : budget_(byteBudget) {}

  void Keep(dev_t device, ino_t inode, platform::DirectoryReader::Listing listing);
  std::optional<platform::DirectoryReader::Listing> Take(dev_t device, ino_t inode);
  void Clear();
  // Whether every listing offered since Clear was kept.
  bool Complete() const { return complete_; }
  // The subdirectories of each directory whose listing is kept.
  std::map<std::pair<dev_t, ino_t>, std::vector<platform::DirectoryEntry>> Subdirectories() const;

  // What a listing holds in memory, roughly.
  static std::size_t BytesOf(const platform::DirectoryReader::Listing& listing);

 private:
  std::size_t budget_ = DefaultByteBudget;
  std::size_t bytes_ = 0;
  bool complete_ = true;
  std::map<std::pair<dev_t, ino_t>, platform::DirectoryReader::Listing> kept_;
};

}  // namespace veldrano
