#include "scan/memory_table.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace veldrano {

namespace {

// What a record costs on average with its path; the budget is split so that
// records and paths run out at about the same time.
constexpr std::size_t BytesPerRecord = 128;
constexpr std::size_t MinRecords = 64;

}  // namespace

MemoryTable::MemoryTable(std::size_t byteBudget, std::uint64_t seed)
    : seed_(seed), maxRecords_(std::max(MinRecords, byteBudget / BytesPerRecord)) {
  // At most half the slots are ever used, which keeps the probes short.
  slots_.assign(std::bit_ceil(2 * maxRecords_), 0);
  const int indexBits = std::bit_width(maxRecords_);
  tagMask_ = indexBits < 32 ? ~std::uint32_t{0} << indexBits : 0;
  records_.reserve(maxRecords_);
  const std::size_t fixed = maxRecords_ * sizeof(StoreRecord) + slots_.size() * sizeof(std::uint32_t);
  paths_.reserve(byteBudget > fixed + 4096 ? byteBudget - fixed : 4096);
}

std::size_t MemoryTable::SlotOf(const StoreRecord& key, std::uint32_t& tag) const {
  const std::uint64_t hash = HashOf(key, seed_);
  const std::size_t mask = slots_.size() - 1;
  tag = static_cast<std::uint32_t>(hash >> 32) & tagMask_;
  std::size_t slot = static_cast<std::size_t>(hash) & mask;
  // A slot of another tag holds another key: its record is not read.
  while (slots_[slot] != 0 && ((slots_[slot] & tagMask_) != tag || !records_[IndexIn(slots_[slot])].SameKey(key))) {
    slot = (slot + 1) & mask;
  }
  return slot;
}

StoreRecord* MemoryTable::Find(const StoreRecord& key) {
  std::uint32_t tag = 0;
  const std::uint32_t found = slots_[SlotOf(key, tag)];
  return found == 0 ? nullptr : &records_[IndexIn(found)];
}

bool MemoryTable::HasRoomFor(std::size_t pathBytes) const {
  return records_.size() < maxRecords_ && paths_.size() + BlobBytes(pathBytes) <= paths_.capacity();
}

void MemoryTable::Add(StoreRecord record, const StoredFile& file) {
  if (record.NamesFile()) {
    record.SetPath(paths_.size());
    AppendBlob(paths_, file);
  }
  std::uint32_t tag = 0;
  const std::size_t slot = SlotOf(record, tag);
  slots_[slot] = tag | static_cast<std::uint32_t>(records_.size() + 1);
  records_.push_back(record);
}

void MemoryTable::Rename(StoreRecord& record, const StoredFile& file) {
  record.SetPath(paths_.size());
  AppendBlob(paths_, file);
}

std::string_view MemoryTable::BlobOf(const StoreRecord& record) const {
  if (!record.HasPath()) return {};
  const std::size_t at = record.PathOffset();
  std::uint32_t length = 0;
  std::memcpy(&length, paths_.data() + at, sizeof length);
  return std::string_view(paths_).substr(at, BlobBytes(length));
}

StoredFile MemoryTable::FileOf(const StoreRecord& record) const {
  StoredFile file;
  ParseBlob(BlobOf(record), file);
  return file;
}

std::span<StoreRecord> MemoryTable::SortByHash() {
  // Each record's hash once (a comparison would take two), sorted with its
  // index; the records then follow, each cycle of the order moved in place.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> order(records_.size());
  for (std::size_t i = 0; i < records_.size(); ++i)
    order[i] = {HashOf(records_[i], seed_), static_cast<std::uint32_t>(i)};
  std::sort(order.begin(), order.end());
  for (std::size_t start = 0; start < order.size(); ++start) {
    if (order[start].second == start) continue;
    // Position at takes the record at order[at]; follow the cycle from start.
    const StoreRecord first = records_[start];
    std::size_t at = start;
    for (;;) {
      const std::size_t from = order[at].second;
      order[at].second = static_cast<std::uint32_t>(at);
      if (from == start) {
        records_[at] = first;
        break;
      }
      records_[at] = records_[from];
      at = from;
    }
  }
  return records_;
}

void MemoryTable::Clear() {
  records_.clear();
  std::fill(slots_.begin(), slots_.end(), 0);
  paths_.clear();
}

}  // namespace veldrano
