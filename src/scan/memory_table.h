#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scan/store_record.h"

namespace veldrano {

// The records of the store that live in memory, with the paths they name,
// in a hash table that never grows beyond the byte budget it is given: the
// records, the table's slots and the paths each get a fixed share, reserved
// at once and filled as files arrive, so memory does not grow with the
// number of files scanned. When a share is full, the owner moves every
// record to disk (SortByHash, then Clear) and goes on.
class MemoryTable {
 public:
  MemoryTable(std::size_t byteBudget, std::uint64_t seed);

  // The record with key's size, kind and signature; null when there is none.
  // The pointer holds until the next Add or Clear.
  StoreRecord* Find(const StoreRecord& key);

  // Whether one more record naming a file of pathBytes bytes fits.
  bool HasRoomFor(std::size_t pathBytes) const;
  // Adds record (whose key is not held yet), naming file when its kind
  // names one. Needs HasRoomFor first.
  void Add(StoreRecord record, const StoredFile& file);
  // Makes record name file instead. Needs HasRoomFor first.
  void Rename(StoreRecord& record, const StoredFile& file);

  StoredFile FileOf(const StoreRecord& record) const;
  // The bytes of the file a record names, as they go to disk.
  std::string_view BlobOf(const StoreRecord& record) const;
  std::size_t Count() const { return records_.size(); }

  // The records, sorted by their hash, for moving them to disk. Find no
  // longer works until Clear.
  std::span<StoreRecord> SortByHash();
  // Forgets every record and path; the reserved memory stays for the next
  // ones.
  void Clear();

  // Calls visit(record) for each head, in the order the entries were made.
  template <typename Visit>
  void ForEachHead(Visit visit) const {
    for (const StoreRecord& record : records_) {
      if (record.IsHead()) visit(record);
    }
  }

 private:
  // The slot of key, or the free one where it goes; tag: the bits of its
  // hash a slot keeps beside the record's index.
  std::size_t SlotOf(const StoreRecord& key, std::uint32_t& tag) const;
  std::size_t IndexIn(std::uint32_t slot) const { return (slot & ~tagMask_) - 1; }

  std::uint64_t seed_;
  std::size_t maxRecords_;
  std::vector<StoreRecord> records_;  // in the order they were added
  // A slot holds a record's index + 1 into records_ in its low bits (0:
  // free), and in the bits tagMask_ leaves them bits of its key's hash, by
  // which most other keys met on the way are told apart without reading
  // their records.
  std::vector<std::uint32_t> slots_;
  std::uint32_t tagMask_ = 0;
  std::string paths_;  // the files records name, one blob each (AppendBlob)
};

}  // namespace veldrano
