#include "scan/disk_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "scan/memory_table.h"

namespace veldrano {

namespace {

constexpr const char* PathsName = "paths";
constexpr std::string_view RunPrefix = "index.";
constexpr int FileFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;

constexpr std::size_t PathsBufferBytes = 256 * 1024;
constexpr std::size_t GuessedPathBytes = 220;
// What the runs a merge (or a visit) reads ahead, together: shared among
// them, so a merge takes the same memory however many runs it joins.
constexpr std::size_t ReadBufferBytes = 256 * 1024;
constexpr std::size_t MinReadRecords = 256;
// A merge takes in the next older run while that run is at most this many
// times what the merge writes so far. 1 would be a binary counter (runs
// double as they merge); more merges a little more often for fewer runs,
// which every lookup of a new key reads once each. Measured at ten million
// files, a lookup in a run costs about as much as rewriting a dozen
// records, so fewer runs win: 4 halves the runs of 1, and 8 gains nothing
// more.
constexpr std::uint64_t MergeRatio = 4;
// The runs' filters: bits per record, and what they take together,
// whatever the records. Up to a few million records each has the most;
// beyond, fewer (answering in vain more often), so that the store's memory
// does not grow with its records.
constexpr double MaxFilterBitsPerRecord = 16;
constexpr double FilterBudgetBits = 64 << 20;  // 8 MiB
// A record found is placed by its run (the top byte) and its slot.
constexpr int RunShift = 56;
constexpr std::uint64_t SlotMask = (std::uint64_t{1} << RunShift) - 1;

// The bits per record of the filter of a new run of records, when the runs
// hold held records in all and the filters of the other runs take
// othersBits. A key met for the first time is asked of every run's filter,
// and each false answer costs a read of its run, whatever the run's size;
// the fewest reads in all come when each run answers falsely in proportion
// to its records. So the smaller a run, the more bits per record it gets:
// a Bloom filter's false answers fall by e for each 2.08 bits more, and a
// run e times smaller than all the records gets 2.08 bits more than what
// the records share. What they share is four fifths of the budget; the
// rest goes to the small runs, which take few bits in all. Older filters
// were sized when there were fewer records, so the budget may be passed,
// by half at most; past that, a run still gets a bit per record, which
// spares it most lookups in vain (a run with no filter is read by each).
double FilterBitsPerRecord(std::uint64_t records, std::uint64_t held, std::uint64_t othersBits) {
  const double share = FilterBudgetBits * 0.8 / static_cast<double>(held);
  const double bits = share + 2.08 * std::log(static_cast<double>(held) / static_cast<double>(records));
  const double left = (FilterBudgetBits * 1.5 - static_cast<double>(othersBits)) / static_cast<double>(records);
  return std::max(1.0, std::min({bits, MaxFilterBitsPerRecord, left}));
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 20 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A source of records in hash order for a merge: a run being read, or the
// batch from memory.
struct MergeSource {
  std::optional<RunReader> Reader;
  std::span<const StoreRecord> Batch;
  StoreRecord Record;
  std::uint64_t Hash = 0;
  bool Live = false;

  void Advance(std::uint64_t seed) {
    if (Reader) {
      Live = Reader->Next(Record);
    } else if ((Live = !Batch.empty())) {
      Record = Batch.front();
      Batch = Batch.subspan(1);
    }
    if (Live) Hash = HashOf(Record, seed);
  }
};

}  // namespace

std::string_view StoreFileHeader() { return StoreHeaderBytes(); }

bool IsStoreFileName(std::string_view name) {
  // "index" and "index.new" are what earlier versions left.
  return name == PathsName || name == "index" || name == "index.new" ||
         (name.starts_with(RunPrefix) && AllDigits(name.substr(RunPrefix.size())));
}

DiskTable::DiskTable(int directory, std::string directoryPath, std::uint64_t seed)
    : directory_(directory), directoryPath_(std::move(directoryPath)), seed_(seed) {}

void DiskTable::Fail(const char* what, const char* file, int error) const {
  FailStoreFile(what, directoryPath_ + file, error);
}

DiskTable::LookUp& DiskTable::RecentPlace(const StoreRecord& key, std::uint64_t hash) {
  if (recent_.empty()) {
    recent_.resize(RecentLookUps);
    recentHeads_.resize(RecentHeads);
  }
  // By the hash's top bits: a merge, which writes in hash order, then
  // follows the places in order too.
  return key.IsHead() ? recentHeads_[hash >> (64 - std::countr_zero(RecentHeads))]
                      : recent_[hash >> (64 - std::countr_zero(RecentLookUps))];
}

std::optional<DiskTable::Found> DiskTable::Find(const StoreRecord& key) {
  if (count_ == 0) return std::nullopt;
  const std::uint64_t hash = HashOf(key, seed_);
  LookUp& recent = RecentPlace(key, hash);
  if (recent.Holds(key)) {
    if (recent.Now == LookUp::Kind::Absent) return std::nullopt;
    return Found{recent.Record, recent.Slot};
  }
  for (const StoreRun& run : runs_) run.PrefetchFilter(hash);
  std::optional<Found> result;
  // Largest first: a key met before is most likely in the largest run.
  for (std::size_t run = 0; run < runs_.size() && !result; ++run) {
    if (const auto found = runs_[run].Find(key, hash, seed_)) {
      result = Found{found->Record, (std::uint64_t{run} << RunShift) | found->Slot};
    }
  }
  recent = result ? LookUp{result->Record, result->Slot, LookUp::Kind::Found} : LookUp{key, 0, LookUp::Kind::Absent};
  return result;
}

void DiskTable::Replace(std::uint64_t slot, const StoreRecord& record) {
  runs_.at(slot >> RunShift).Write(slot & SlotMask, record);
  if (recent_.empty()) return;
  LookUp& recent = RecentPlace(record, HashOf(record, seed_));
  if (recent.Now == LookUp::Kind::Found && recent.Slot == slot) recent.Record = record;
}

StoredFile DiskTable::FileOf(const StoreRecord& record) {
  StoredFile file;
  if (!record.HasPath()) return file;
  const std::uint64_t at = record.PathOffset();
  // Most paths are short: one read brings the whole blob.
  std::string bytes(BlobBytes(GuessedPathBytes), '\0');
  ssize_t got = ReadAt(paths_.Get(), bytes.data(), bytes.size(), at);
  std::uint32_t length = 0;
  if (got >= static_cast<ssize_t>(sizeof length)) {
    std::memcpy(&length, bytes.data(), sizeof length);
    if (BlobBytes(length) > bytes.size()) {
      bytes.resize(BlobBytes(length));
      got = ReadAt(paths_.Get(), bytes.data(), bytes.size(), at);
    }
    if (got >= 0 && ParseBlob(std::string_view(bytes.data(), static_cast<std::size_t>(got)), file)) return file;
  }
  Fail("Can not read the store file", PathsName, got < 0 ? errno : EIO);
}

void DiskTable::Rename(std::uint64_t slot, StoreRecord record, const StoredFile& file) {
  std::string blob;
  AppendBlob(blob, file);
  if (!WriteAt(paths_.Get(), blob.data(), blob.size(), pathsSize_))
    Fail("Can not write the store file", PathsName, errno);
  record.SetPath(pathsSize_);
  pathsSize_ += blob.size();
  Replace(slot, record);
}

void DiskTable::Merge(std::span<StoreRecord> sortedByHash, const MemoryTable& memory) {
  if (sortedByHash.empty()) return;
  if (!paths_.IsOpen()) {
    const std::string_view header = StoreFileHeader();
    paths_ = platform::UniqueFd(openat(directory_, PathsName, FileFlags | O_EXCL, 0600));
    if (!paths_.IsOpen() || !WriteAt(paths_.Get(), header.data(), header.size(), 0)) {
      Fail("Can not write the store file", PathsName, errno);
    }
    pathsSize_ = header.size();
  }

  // The files first: the records then name them by their place on disk.
  StreamWriter pathLog(paths_.Get(), pathsSize_, PathsBufferBytes);
  for (StoreRecord& record : sortedByHash) {
    if (!record.HasPath()) continue;
    const std::string_view blob = memory.BlobOf(record);
    record.SetPath(pathLog.Offset());
    if (!pathLog.Write(blob.data(), blob.size())) Fail("Can not write the store file", PathsName, errno);
  }
  if (!pathLog.Flush()) Fail("Can not write the store file", PathsName, errno);
  pathsSize_ = pathLog.Offset();

  // Then one new run: the batch, merged with the newest runs as long as the
  // next is no larger than what it joins, so that runs of a size merge and
  // each merge at least doubles what it rewrites.
  std::uint64_t total = sortedByHash.size();
  std::size_t first = runs_.size();
  while (first > 0 && runs_[first - 1].Count() <= MergeRatio * total) total += runs_[--first].Count();
  const std::size_t joined = runs_.size() - first;
  const std::size_t bufferRecords =
      std::max(MinReadRecords, ReadBufferBytes / sizeof(StoreRecord) / std::max<std::size_t>(1, joined));
  std::vector<MergeSource> sources(joined + 1);
  for (std::size_t i = 0; i < joined; ++i) sources[i].Reader.emplace(runs_[first + i], bufferRecords);
  sources.back().Batch = sortedByHash;
  for (MergeSource& source : sources) source.Advance(seed_);

  // The filter of the new run is sized for the records held once it is in,
  // beside the runs that stay. Nothing is looked up during a merge: the
  // filters of the runs it joins go first, so that they and the new one
  // are never held together.
  std::uint64_t othersBits = 0;
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    if (i < first) {
      othersBits += runs_[i].FilterBits();
    } else {
      runs_[i].DropFilter();
    }
  }
  const double filterBits = FilterBitsPerRecord(total, count_ + sortedByHash.size(), othersBits);
  RunWriter out(directory_, directoryPath_, std::string(RunPrefix) + std::to_string(nextRun_++), total, filterBits);
  for (;;) {
    MergeSource* next = nullptr;
    for (MergeSource& source : sources) {
      if (source.Live && (next == nullptr || source.Hash < next->Hash)) next = &source;
    }
    if (next == nullptr) break;
    // Each record written moves to the new run (the runs before it stay
    // where they are), and a key looked up in vain may be among the
    // batch's: what was looked up lately follows.
    const std::uint64_t slot = out.Add(next->Record, next->Hash);
    if (!recent_.empty()) {
      LookUp& recent = RecentPlace(next->Record, next->Hash);
      if (recent.Holds(next->Record)) {
        recent = LookUp{next->Record, (std::uint64_t{first} << RunShift) | slot, LookUp::Kind::Found};
      }
    }
    next->Advance(seed_);
  }
  StoreRun merged = out.Finish();
  sources.clear();
  // What merged is no longer needed; a file that stays goes with the
  // directory.
  for (std::size_t i = first; i < runs_.size(); ++i) unlinkat(directory_, runs_[i].Name().c_str(), 0);
  runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(first), runs_.end());
  runs_.push_back(std::move(merged));
  count_ += sortedByHash.size();
}

void DiskTable::ForEachHead(const std::function<void(const StoreRecord&)>& visit) {
  for (const StoreRun& run : runs_) {
    RunReader reader(run, ReadBufferBytes / sizeof(StoreRecord));
    StoreRecord record;
    while (reader.Next(record)) {
      if (record.IsHead()) visit(record);
    }
  }
}

}  // namespace veldrano
