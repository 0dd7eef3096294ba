#include "scan/disk_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/system_error.h"
#include "scan/memory_table.h"

namespace veldrano {

namespace {

constexpr const char* IndexName = "index";
constexpr const char* NewIndexName = "index.new";
constexpr const char* PathsName = "paths";
constexpr int FileFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC;

constexpr std::size_t RecordBytes = sizeof(StoreRecord);
// The header takes the room of one record, so that records stay aligned.
constexpr std::size_t HeaderBytes = RecordBytes;
constexpr char HeaderText[HeaderBytes] = "Veldrano work store, format 1\n";  // padded with zeros
constexpr std::string_view Header(HeaderText, HeaderBytes);

// Where slot begins in the index file.
std::uint64_t SlotOffset(std::uint64_t slot) { return HeaderBytes + slot * RecordBytes; }
constexpr std::size_t LookupWindow = 32;         // records read by one probe
constexpr std::size_t StreamBytes = 256 * 1024;  // buffer of a merge's reads and writes
constexpr std::uint64_t MinSlots = 1024;

// pread until n bytes or the end of the file; the bytes read, or -1.
ssize_t ReadAt(int fd, void* data, std::size_t n, std::uint64_t at) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(fd, static_cast<char*>(data) + done, n - done, static_cast<off_t>(at + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

bool WriteAt(int fd, const void* data, std::size_t n, std::uint64_t at) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t put = pwrite(fd, static_cast<const char*>(data) + done, n - done, static_cast<off_t>(at + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Sequential writes through a buffer; a long run of zeros is skipped and
// left as a hole that reads back as zeros.
class StreamWriter {
 public:
  StreamWriter(int fd, std::uint64_t at) : fd_(fd), at_(at) { buffer_.reserve(StreamBytes); }
  std::uint64_t Offset() const { return at_ + buffer_.size(); }
  bool Write(const void* data, std::size_t n) {
    if (buffer_.size() + n > StreamBytes && !Flush()) return false;
    buffer_.insert(buffer_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + n);
    return true;
  }
  bool Skip(std::uint64_t n) {
    if (n < 4096) {
      if (buffer_.size() + n > StreamBytes && !Flush()) return false;
      buffer_.resize(buffer_.size() + n, 0);
      return true;
    }
    if (!Flush()) return false;
    at_ += n;
    return true;
  }
  bool Flush() {
    if (!WriteAt(fd_, buffer_.data(), buffer_.size(), at_)) return false;
    at_ += buffer_.size();
    buffer_.clear();
    return true;
  }

 private:
  int fd_;
  std::uint64_t at_;
  std::vector<char> buffer_;
};

// The records of an index file in slot order, empty slots left out.
class RecordReader {
 public:
  RecordReader(int fd, std::uint64_t slots) : fd_(fd), slots_(slots) {}
  // False at the end; -1 in error on a failed read.
  bool Next(StoreRecord& record, int& error) {
    for (;;) {
      if (next_ == buffer_.size()) {
        if (read_ == slots_) return false;
        const std::uint64_t n = std::min<std::uint64_t>(slots_ - read_, StreamBytes / RecordBytes);
        buffer_.resize(static_cast<std::size_t>(n));
        const ssize_t got = ReadAt(fd_, buffer_.data(), n * RecordBytes, SlotOffset(read_));
        if (got < 0) {
          error = errno;
          return false;
        }
        buffer_.resize(static_cast<std::size_t>(got) / RecordBytes);
        if (buffer_.empty()) return false;
        read_ += buffer_.size();
        next_ = 0;
      }
      record = buffer_[next_++];
      if (!record.IsEmpty()) return true;
    }
  }

 private:
  int fd_;
  std::uint64_t slots_;
  std::uint64_t read_ = 0;
  std::vector<StoreRecord> buffer_;
  std::size_t next_ = 0;
};

}  // namespace

std::string_view StoreFileHeader() { return Header; }

bool IsStoreFileName(std::string_view name) { return name == IndexName || name == NewIndexName || name == PathsName; }

DiskTable::DiskTable(int directory, std::string directoryPath, std::uint64_t seed)
    : directory_(directory), directoryPath_(std::move(directoryPath)), seed_(seed) {}

void DiskTable::Fail(const char* what, const char* file, int error) const {
  throw std::runtime_error(std::string(what) + " " + directoryPath_ + file + " (" + SystemErrorText(error) + ")");
}

std::optional<DiskTable::Found> DiskTable::Find(const StoreRecord& key) {
  if (count_ == 0) return std::nullopt;
  const std::uint64_t hash = HashOf(key, seed_);
  StoreRecord window[LookupWindow];
  for (std::uint64_t slot = HomeOf(hash); slot < slots_;) {
    const std::uint64_t wanted = std::min<std::uint64_t>(LookupWindow, slots_ - slot);
    const ssize_t got = ReadAt(index_.Get(), window, wanted * RecordBytes, SlotOffset(slot));
    if (got < 0) Fail("Can not read the store file", IndexName, errno);
    const std::size_t n = static_cast<std::size_t>(got) / RecordBytes;
    for (std::size_t i = 0; i < n; ++i) {
      const StoreRecord& record = window[i];
      // Records are in hash order from their home slot on, with no gap:
      // an empty slot or a larger hash means key is not here.
      if (record.IsEmpty() || HashOf(record, seed_) > hash) return std::nullopt;
      if (record.SameKey(key)) return Found{record, slot + i};
    }
    if (n < wanted) break;
    slot += n;
  }
  return std::nullopt;
}

void DiskTable::Replace(std::uint64_t slot, const StoreRecord& record) {
  if (!WriteAt(index_.Get(), &record, RecordBytes, SlotOffset(slot))) {
    Fail("Can not write the store file", IndexName, errno);
  }
}

StoredFile DiskTable::FileOf(const StoreRecord& record) {
  StoredFile file;
  if (!record.HasPath()) return file;
  const std::uint64_t at = record.PathOffset();
  std::uint32_t length = 0;
  std::string bytes;
  if (ReadAt(paths_.Get(), &length, sizeof length, at) == static_cast<ssize_t>(sizeof length)) {
    bytes.resize(BlobBytes(length));
    const ssize_t got = ReadAt(paths_.Get(), bytes.data(), bytes.size(), at);
    if (got == static_cast<ssize_t>(bytes.size()) && ParseBlob(bytes, file)) return file;
  }
  Fail("Can not read the store file", PathsName, errno != 0 ? errno : EIO);
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
    paths_ = platform::UniqueFd(openat(directory_, PathsName, FileFlags | O_EXCL, 0600));
    if (!paths_.IsOpen() || !WriteAt(paths_.Get(), Header.data(), Header.size(), 0)) {
      Fail("Can not write the store file", PathsName, errno);
    }
    pathsSize_ = HeaderBytes;
  }

  // The files first: the records then name them by their place on disk.
  StreamWriter pathLog(paths_.Get(), pathsSize_);
  for (StoreRecord& record : sortedByHash) {
    if (!record.HasPath()) continue;
    const std::string_view blob = memory.BlobOf(record);
    record.SetPath(pathLog.Offset());
    if (!pathLog.Write(blob.data(), blob.size())) Fail("Can not write the store file", PathsName, errno);
  }
  if (!pathLog.Flush()) Fail("Can not write the store file", PathsName, errno);
  pathsSize_ = pathLog.Offset();

  // Then a new index: the old records and the new ones, merged in hash
  // order, with room for as many again (at most three slots in four used).
  const std::uint64_t total = count_ + sortedByHash.size();
  const std::uint64_t capacity = std::bit_ceil(std::max(MinSlots, total + total / 3 + 1));
  const int bits = std::countr_zero(capacity);
  platform::UniqueFd index(openat(directory_, NewIndexName, FileFlags | O_TRUNC, 0600));
  // The header at once, not through the stream's buffer: a run killed
  // meanwhile leaves a file the clean-up knows.
  if (!index.IsOpen() || !WriteAt(index.Get(), Header.data(), Header.size(), 0)) {
    Fail("Can not write the store file", NewIndexName, errno);
  }
  StreamWriter out(index.Get(), HeaderBytes);
  std::uint64_t nextSlot = 0;
  const auto place = [&](const StoreRecord& record, std::uint64_t hash) {
    const std::uint64_t slot = std::max(hash >> (64 - bits), nextSlot);
    if (!out.Skip((slot - nextSlot) * RecordBytes) || !out.Write(&record, RecordBytes)) {
      Fail("Can not write the store file", NewIndexName, errno);
    }
    nextSlot = slot + 1;
  };
  RecordReader old(index_.Get(), index_.IsOpen() ? slots_ : 0);
  StoreRecord pending;
  int readError = 0;
  bool hasOld = old.Next(pending, readError);
  for (const StoreRecord& record : sortedByHash) {
    const std::uint64_t hash = HashOf(record, seed_);
    while (hasOld && HashOf(pending, seed_) <= hash) {
      place(pending, HashOf(pending, seed_));
      hasOld = old.Next(pending, readError);
    }
    place(record, hash);
  }
  while (hasOld) {
    place(pending, HashOf(pending, seed_));
    hasOld = old.Next(pending, readError);
  }
  if (readError != 0) Fail("Can not read the store file", IndexName, readError);
  if (!out.Flush()) Fail("Can not write the store file", NewIndexName, errno);
  if (renameat(directory_, NewIndexName, directory_, IndexName) != 0) {
    Fail("Can not write the store file", IndexName, errno);
  }
  index_ = std::move(index);
  slots_ = nextSlot;
  bits_ = bits;
  count_ = total;
}

void DiskTable::ForEachHead(const std::function<void(const StoreRecord&)>& visit) {
  if (!index_.IsOpen()) return;
  RecordReader reader(index_.Get(), slots_);
  StoreRecord record;
  int error = 0;
  while (reader.Next(record, error)) {
    if (record.IsHead()) visit(record);
  }
  if (error != 0) Fail("Can not read the store file", IndexName, error);
}

}  // namespace veldrano
