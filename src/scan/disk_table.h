#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "scan/store_record.h"
#include "scan/store_run.h"

namespace veldrano {

class MemoryTable;

// Every file of a store begins with this header (32 bytes, the text padded
// with zeros): by it, and by the names below, the clean-up after a killed
// run knows the files as the store's.
std::string_view StoreFileHeader();
// Whether name is one a store gives its files.
bool IsStoreFileName(std::string_view name);

// The records of the store that did not fit in memory, in files of the work
// directory that only this run reads:
// - "paths": every file a record names, appended, each as its path's length
//   in 4 bytes, the path's bytes and the file's state;
// - "index.N": sorted runs (StoreRun), each a hash table ordered by hash.
// Each batch of records from memory is written as a new run, merged on the
// way with the newest runs that are at most four times what is being
// written, so what a merge rewrites grows geometrically: a record is
// rewritten O(log n) times and there are O(log n) runs (two or three in
// practice), largest first. A key lives in
// exactly one run: batches bring only new keys, and records change in place,
// so a merge never meets two versions of a key and a lookup stops at the
// first run that holds it. Nothing is read whole for one file: a lookup
// costs one read per run (and one of paths when a record matches), unless
// the run's filter rules it out. Memory does not grow with the records: a
// run costs its descriptor and its filter (the filters share a fixed
// budget), a merge a fixed buffer. Failures of the files throw std::runtime_error.
class DiskTable {
 public:
  // Keeps its files in the directory open as directory, named directoryPath
  // (ending in "/") in messages.
  DiskTable(int directory, std::string directoryPath, std::uint64_t seed);

  std::uint64_t Count() const { return count_; }
  // The sorted runs the records are in.
  std::size_t Runs() const { return runs_.size(); }

  struct Found {
    StoreRecord Record;
    std::uint64_t Slot = 0;  // where it is (its run and slot), until the next Merge
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

  // Calls visit(record) for each head, run by run, each in hash order.
  void ForEachHead(const std::function<void(const StoreRecord&)>& visit);

 private:
  [[noreturn]] void Fail(const char* what, const char* file, int error) const;

  int directory_;
  std::string directoryPath_;
  std::uint64_t seed_;
  platform::UniqueFd paths_;
  std::vector<StoreRun> runs_;   // oldest (largest) first
  std::uint64_t count_ = 0;      // records in the runs
  std::uint64_t nextRun_ = 1;    // the number in the next run's name
  std::uint64_t pathsSize_ = 0;  // bytes in paths
  // Keys looked up lately, and what was found (none: not here), by their
  // hash, one per place: a file's step asks for the same record several
  // times in a row (a lookup, then the change that follows it), the heads
  // of the sizes met most are asked for file after file, and each lookup
  // costs a read of a run (a lookup in vain, one per run its filter lets
  // through). A Merge moves what it rewrites, and brings keys: it follows
  // them here as it writes them.
  struct LookUp {
    enum class Kind : std::uint8_t { Unused, Absent, Found };
    StoreRecord Record;  // the record found, or the key looked up in vain
    std::uint64_t Slot = 0;
    Kind Now = Kind::Unused;
    bool Holds(const StoreRecord& key) const { return Now != Kind::Unused && Record.SameKey(key); }
  };
  // The heads have places of their own: a size comes back every few
  // thousand files, with a lookup of a line for each file between, and
  // sharing the places with those would lose most heads in between. Past
  // ten million files, the store asks for hundreds of thousands of sizes:
  // their places take 6 MiB.
  static constexpr std::size_t RecentLookUps = 8192;  // each a power of two
  static constexpr std::size_t RecentHeads = 131072;
  std::vector<LookUp> recent_, recentHeads_;
  LookUp& RecentPlace(const StoreRecord& key, std::uint64_t hash);
};

}  // namespace veldrano
