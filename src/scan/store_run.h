#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "scan/run_filter.h"
#include "scan/store_record.h"

namespace veldrano {

// The header every file of a store begins with: 32 bytes, the text padded
// with zeros, the room of one record so that records stay aligned.
std::string_view StoreHeaderBytes();

// Throws the store's failure: what + " " + path + " (" + the error's text + ")".
[[noreturn]] void FailStoreFile(const char* what, const std::string& path, int error);

// pread until n bytes or the end of the file: the bytes read, or -1 (errno).
ssize_t ReadAt(int fd, void* data, std::size_t n, std::uint64_t at);
// pwrite of all n bytes; false on failure (errno).
bool WriteAt(int fd, const void* data, std::size_t n, std::uint64_t at);

// Sequential writes through a buffer; a long run of zeros is skipped and
// left as a hole that reads back as zeros.
class StreamWriter {
 public:
  StreamWriter(int fd, std::uint64_t at, std::size_t bufferBytes);
  std::uint64_t Offset() const { return at_ + buffer_.size(); }
  bool Write(const void* data, std::size_t n);
  bool Skip(std::uint64_t n);
  bool Flush();

 private:
  int fd_;
  std::uint64_t at_;
  std::size_t capacity_;
  std::vector<char> buffer_;
};

// One sorted run of the store on disk: a file of the work directory holding
// records in a hash table ordered by hash, after the header. A record sits
// at its home slot, the share of the table its hash is of all hashes, or
// just after the records before it when that slot is taken, so a lookup
// reads a few neighbouring slots with one pread, and runs merge in one
// sequential pass.
// A run is written once, whole (RunWriter); afterwards only its records
// change, in place. Failures throw std::runtime_error naming the file.
class StoreRun {
 public:
  StoreRun(platform::UniqueFd file, std::string path, std::uint64_t count, std::uint64_t slots, std::uint64_t homes,
           RunFilter filter = {});

  // The file's path, for messages, and its name in the work directory.
  const std::string& Path() const { return path_; }
  std::string Name() const { return path_.substr(path_.rfind('/') + 1); }
  std::uint64_t Count() const { return count_; }
  std::uint64_t Slots() const { return slots_; }
  int Descriptor() const { return file_.Get(); }
  std::uint64_t FilterBits() const { return filter_.Bits(); }
  // Frees the filter, once the run is being merged into another: lookups
  // then read the run itself.
  void DropFilter() { filter_ = {}; }
  void PrefetchFilter(std::uint64_t hash) const { filter_.Prefetch(hash); }

  struct Found {
    StoreRecord Record;
    std::uint64_t Slot = 0;
  };
  // The record of key, whose hash is given, and its slot; read only when
  // the run's filter may hold it.
  std::optional<Found> Find(const StoreRecord& key, std::uint64_t hash, std::uint64_t seed) const;
  // Writes record over the one at slot.
  void Write(std::uint64_t slot, const StoreRecord& record);

 private:
  platform::UniqueFd file_;
  std::string path_;
  std::uint64_t count_;  // records
  std::uint64_t slots_;  // slots the file holds
  std::uint64_t homes_;  // home slots (the records past the last spill over)
  RunFilter filter_;
};

// The records of a run in slot order, empty slots left out, read ahead in
// blocks of bufferRecords.
class RunReader {
 public:
  RunReader(const StoreRun& run, std::size_t bufferRecords);
  // False at the end; throws on a failed read.
  bool Next(StoreRecord& record);

 private:
  const StoreRun& run_;
  std::uint64_t read_ = 0;
  std::vector<StoreRecord> buffer_;
  std::size_t next_ = 0, filled_ = 0;
};

// Writes a new run of count records given in hash order. The file is made
// exclusively, never through a link, with its header at once: a run killed
// meanwhile leaves a file the clean-up knows. A writer dropped before Finish
// (a failure) removes its file.
class RunWriter {
 public:
  // With a filter of about filterBitsPerRecord bits per record (none: 0).
  RunWriter(int directory, const std::string& directoryPath, std::string name, std::uint64_t count,
            double filterBitsPerRecord = 0);
  ~RunWriter();
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;

  // Adds record at its place in the table: the slot it is written to.
  std::uint64_t Add(const StoreRecord& record, std::uint64_t hash);
  StoreRun Finish();

 private:
  int directory_;
  std::string name_, path_;
  platform::UniqueFd file_;
  std::uint64_t count_;
  std::uint64_t homes_;
  std::uint64_t nextSlot_ = 0;
  std::optional<StreamWriter> out_;
  RunFilter filter_;
};

}  // namespace veldrano
