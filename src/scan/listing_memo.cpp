#include "scan/listing_memo.h"

namespace veldrano {

std::size_t ListingMemo::BytesOf(const platform::DirectoryReader::Listing& listing) {
  std::size_t bytes = sizeof listing + listing.Entries.capacity() * sizeof(platform::DirectoryEntry);
  for (const platform::DirectoryEntry& entry : listing.Entries) {
    // Names beyond the string's own room live on the heap.
    if (entry.Name.capacity() > 15) bytes += entry.Name.capacity() + 1;
  }
  return bytes;
}

void ListingMemo::Keep(dev_t device, ino_t inode, platform::DirectoryReader::Listing listing) {
  const std::size_t bytes = BytesOf(listing);
  if (listing.Slim || bytes_ + bytes > budget_) {
    complete_ = false;
    return;
  }
  if (kept_.try_emplace({device, inode}, std::move(listing)).second) bytes_ += bytes;
}

std::optional<platform::DirectoryReader::Listing> ListingMemo::Take(dev_t device, ino_t inode) {
  const auto found = kept_.find({device, inode});
  if (found == kept_.end()) return std::nullopt;
  platform::DirectoryReader::Listing listing = std::move(found->second);
  kept_.erase(found);
  bytes_ -= BytesOf(listing);
  return listing;
}

void ListingMemo::Clear() {
  kept_.clear();
  bytes_ = 0;
  complete_ = true;
}

std::map<std::pair<dev_t, ino_t>, std::vector<platform::DirectoryEntry>> ListingMemo::Subdirectories() const {
  std::map<std::pair<dev_t, ino_t>, std::vector<platform::DirectoryEntry>> below;
  for (const auto& [key, listing] : kept_) below.emplace(key, listing.Subdirectories());
  return below;
}

}  // namespace veldrano
