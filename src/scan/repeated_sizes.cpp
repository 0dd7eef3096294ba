#include "scan/repeated_sizes.h"

namespace veldrano {

void RepeatedSizes::Count(std::int64_t size, const std::string& path, std::uint64_t device, std::uint64_t inode) {
  if (size < SideBySideFromBytes) return;
  if (const auto found = tallies_.find(size); found != tallies_.end()) {
    if (found->second.Files < 2) ++found->second.Files;
  } else if (tallies_.size() < MaxSizes) {
    tallies_.emplace(size, Tally{1, static_cast<std::uint32_t>(firsts_.size())});
    firsts_.push_back(First{path, size, device, inode});
  }
}

void RepeatedSizes::Seal() {
  if (sealed_) return;
  sealed_ = true;
  std::size_t kept = 0;
  for (std::size_t at = 0; at < firsts_.size(); ++at) {
    Tally& tally = tallies_.at(firsts_[at].Size);
    if (tally.Files < 2) continue;
    tally.First = static_cast<std::uint32_t>(kept);
    if (kept != at) firsts_[kept] = std::move(firsts_[at]);
    ++kept;
  }
  firsts_.resize(kept);
}

const std::vector<RepeatedSizes::First>& RepeatedSizes::Firsts() {
  Seal();
  return firsts_;
}

std::size_t RepeatedSizes::IndexOf(std::int64_t size) {
  Seal();
  const auto found = tallies_.find(size);
  return found != tallies_.end() && found->second.Files > 1 ? found->second.First : NotRepeated;
}

void RepeatedSizes::Clear() {
  tallies_ = {};
  firsts_ = {};
  sealed_ = false;
}

}  // namespace veldrano
