#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "scan/store_record.h"

namespace veldrano {

class MemoryTable;

// Every file of a store begins with this header (32 bytes, the text padded
// with zeros): by it, and by the names below, the clean-up after a killed
// run knows the files as the store's.
std::string_view StoreFileHeader();
// Whether name is one a store gives its files.
bool IsStoreFileName(std::string_view name);

// The records of the store that did not fit in memory, in two files of the
// work directory that only this run reads:
// - "paths": every file a record names, appended, each as its path's length
//   in 4 bytes, the path's bytes and the file's state;
// - "index": the records in a hash table of 2^k slots, ordered by hash, after
//   the header that both files begin with (StoreFileHeader). A
//   record sits at the slot its hash's top k bits name, or just after the
//   records before it when that slot is taken, so a lookup reads a few
//   neighbouring slots with one pread, and a merge of new records is one
//   sequential pass that writes the table anew.
// Nothing is read whole for one file: a lookup costs one read of the index
// (and one of paths when a record matches), and records arrive in batches.
// Failures of the files throw std::runtime_error.
class DiskTable {
 public:
  // Keeps its files in the directory open as directory, named directoryPath
  // (ending in "/") in messages.
  DiskTable(int directory, std::string directoryPath, std::uint64_t seed);

  std::uint64_t Count() const { return count_; }

  struct Found {
    StoreRecord Record;
    std::uint64_t Slot = 0;
  };
  std::optional<Found> Find(const StoreRecord& key);
  // Writes record (of the same key) over the one found at slot.
  void Replace(std::uint64_t slot, const StoreRecord& record);
  StoredFile FileOf(const StoreRecord& record);
  // Makes the record found at slot name file instead.
  void Rename(std::uint64_t slot, StoreRecord record, const StoredFile& file);

  // Adds records, sorted by hash, whose files are held in memory; none of
  // their keys may be here already.
  void Merge(std::span<StoreRecord> sortedByHash, const MemoryTable& memory);

  // Calls visit(record) for each head, in the order of the index.
  void ForEachHead(const std::function<void(const StoreRecord&)>& visit);

 private:
  std::uint64_t HomeOf(std::uint64_t hash) const { return hash >> (64 - bits_); }
  [[noreturn]] void Fail(const char* what, const char* file, int error) const;

  int directory_;
  std::string directoryPath_;
  std::uint64_t seed_;
  platform::UniqueFd index_, paths_;
  std::uint64_t count_ = 0;      // records in the index
  std::uint64_t slots_ = 0;      // slots the index file holds
  int bits_ = 10;                // the table has 2^bits_ home slots
  std::uint64_t pathsSize_ = 0;  // bytes in paths
};

}  // namespace veldrano
