#include "scan/store_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/system_error.h"
#include "signature/mix64.h"

namespace veldrano {

namespace {

constexpr std::size_t RecordBytes = sizeof(StoreRecord);
constexpr std::size_t HeaderBytes = RecordBytes;
// Only a mark for the clean-up: no run ever reads another's files, so the
// text stays what earlier versions wrote and their leftovers are known too.
constexpr char HeaderText[HeaderBytes] = "Veldrano work store, format 1\n";  // padded with zeros
constexpr std::string_view Header(HeaderText, HeaderBytes);

constexpr std::size_t LookupWindow = 8;               // records read by one probe
constexpr std::size_t WriteBufferBytes = 256 * 1024;  // a new run's writes
constexpr std::uint64_t MinSlots = 1024;

std::uint64_t SlotOffset(std::uint64_t slot) { return HeaderBytes + slot * RecordBytes; }

}  // namespace

std::string_view StoreHeaderBytes() { return Header; }

void FailStoreFile(const char* what, const std::string& path, int error) {
  throw std::runtime_error(std::string(what) + " " + path + " (" + SystemErrorText(error) + ")");
}

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

StreamWriter::StreamWriter(int fd, std::uint64_t at, std::size_t bufferBytes)
    : fd_(fd), at_(at), capacity_(bufferBytes) {
  buffer_.reserve(capacity_);
}

bool StreamWriter::Write(const void* data, std::size_t n) {
  if (buffer_.size() + n > capacity_ && !Flush()) return false;
  buffer_.insert(buffer_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + n);
  return true;
}

bool StreamWriter::Skip(std::uint64_t n) {
  if (n < 4096) {
    if (buffer_.size() + n > capacity_ && !Flush()) return false;
    buffer_.resize(buffer_.size() + n, 0);
    return true;
  }
  if (!Flush()) return false;
  at_ += n;
  return true;
}

bool StreamWriter::Flush() {
  if (!WriteAt(fd_, buffer_.data(), buffer_.size(), at_)) return false;
  at_ += buffer_.size();
  buffer_.clear();
  return true;
}

StoreRun::StoreRun(platform::UniqueFd file, std::string path, std::uint64_t count, std::uint64_t slots,
                   std::uint64_t homes, RunFilter filter)
    : file_(std::move(file)),
      path_(std::move(path)),
      count_(count),
      slots_(slots),
      homes_(homes),
      filter_(std::move(filter)) {}

std::optional<StoreRun::Found> StoreRun::Find(const StoreRecord& key, std::uint64_t hash, std::uint64_t seed) const {
  if (!filter_.MayHold(hash)) return std::nullopt;
  StoreRecord window[LookupWindow];
  for (std::uint64_t slot = ShareOf(hash, homes_); slot < slots_;) {
    const std::uint64_t wanted = std::min<std::uint64_t>(LookupWindow, slots_ - slot);
    const ssize_t got = ReadAt(file_.Get(), window, wanted * RecordBytes, SlotOffset(slot));
    if (got < 0) FailStoreFile("Can not read the store file", path_, errno);
    const std::size_t n = static_cast<std::size_t>(got) / RecordBytes;
    for (std::size_t i = 0; i < n; ++i) {
      const StoreRecord& record = window[i];
      // Records are in hash order from their home slot on, with no gap:
      // an empty slot or a larger hash means key is not here.
      if (record.IsEmpty() || HashOf(record, seed) > hash) return std::nullopt;
      if (record.SameKey(key)) return Found{record, slot + i};
    }
    if (n < wanted) break;
    slot += n;
  }
  return std::nullopt;
}

void StoreRun::Write(std::uint64_t slot, const StoreRecord& record) {
  if (!WriteAt(file_.Get(), &record, RecordBytes, SlotOffset(slot))) {
    FailStoreFile("Can not write the store file", path_, errno);
  }
}

RunReader::RunReader(const StoreRun& run, std::size_t bufferRecords) : run_(run), buffer_(bufferRecords) {}

bool RunReader::Next(StoreRecord& record) {
  for (;;) {
    if (next_ == filled_) {
      if (read_ == run_.Slots()) return false;
      const std::uint64_t n = std::min<std::uint64_t>(run_.Slots() - read_, buffer_.size());
      const ssize_t got = ReadAt(run_.Descriptor(), buffer_.data(), n * RecordBytes, SlotOffset(read_));
      if (got < 0) FailStoreFile("Can not read the store file", run_.Path(), errno);
      filled_ = static_cast<std::size_t>(got) / RecordBytes;
      if (filled_ == 0) FailStoreFile("Can not read the store file", run_.Path(), EIO);  // cut short
      read_ += filled_;
      next_ = 0;
    }
    record = buffer_[next_++];
    if (!record.IsEmpty()) return true;
  }
}

RunWriter::RunWriter(int directory, const std::string& directoryPath, std::string name, std::uint64_t count,
                     double filterBitsPerRecord)
    : directory_(directory),
      name_(std::move(name)),
      path_(directoryPath + name_),
      count_(count),
      filter_(count, filterBitsPerRecord) {
  // Four slots in five used: the clusters stay short (a lookup mostly
  // finds its key in its first read), and a merge reads and writes little
  // more than the records (the empty slots between them are written too).
  homes_ = std::max(MinSlots, count + count / 4 + 1);
  file_ =
      platform::UniqueFd(openat(directory_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file_.IsOpen()) FailStoreFile("Can not write the store file", path_, errno);
  if (!WriteAt(file_.Get(), Header.data(), Header.size(), 0)) {
    const int error = errno;
    unlinkat(directory_, name_.c_str(), 0);
    FailStoreFile("Can not write the store file", path_, error);
  }
  out_.emplace(file_.Get(), HeaderBytes, WriteBufferBytes);
}

RunWriter::~RunWriter() {
  if (file_.IsOpen()) unlinkat(directory_, name_.c_str(), 0);
}

std::uint64_t RunWriter::Add(const StoreRecord& record, std::uint64_t hash) {
  const std::uint64_t slot = std::max(ShareOf(hash, homes_), nextSlot_);
  if (!out_->Skip((slot - nextSlot_) * RecordBytes) || !out_->Write(&record, RecordBytes)) {
    FailStoreFile("Can not write the store file", path_, errno);
  }
  nextSlot_ = slot + 1;
  filter_.Add(hash);
  return slot;
}

StoreRun RunWriter::Finish() {
  if (!out_->Flush()) FailStoreFile("Can not write the store file", path_, errno);
  return StoreRun(std::move(file_), path_, count_, nextSlot_, homes_, std::move(filter_));
}

}  // namespace veldrano
