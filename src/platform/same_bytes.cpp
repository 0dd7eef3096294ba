#include "platform/same_bytes.h"

#include <algorithm>
#include <cstring>

namespace veldrano::platform {

namespace {

// Fills n bytes at offset unless the file ends or fails first.
bool ReadFull(const ReadOnlyFile& file, char* data, std::size_t n, std::uint64_t offset) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = file.ReadAt(data + done, n - done, offset + done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

ByteComparer::Verdict ByteComparer::Compare(const ReadOnlyFile& a, const ReadOnlyFile& b,
                                            const std::function<bool()>& keepGoing) {
  return Compare(a, b, [&keepGoing](std::uint64_t) { return !keepGoing || keepGoing(); });
}

ByteComparer::Verdict ByteComparer::Compare(const ReadOnlyFile& a, const ReadOnlyFile& b,
                                            const std::function<bool(std::uint64_t)>& afterBlock,
                                            const std::function<void(const char*, std::size_t)>& sawOfB) {
  if (a.Size() != b.Size()) return Verdict::Different;
  first_.resize(blockBytes_);
  second_.resize(blockBytes_);
  for (std::uint64_t offset = 0; offset < a.Size(); offset += blockBytes_) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(blockBytes_, a.Size() - offset));
    if (!ReadFull(a, first_.data(), n, offset) || !ReadFull(b, second_.data(), n, offset)) return Verdict::Failed;
    if (std::memcmp(first_.data(), second_.data(), n) != 0) return Verdict::Different;
    if (sawOfB) sawOfB(second_.data(), n);
    if (!afterBlock(offset + n)) return Verdict::Stopped;
  }
  // A file grown past its size, or written behind our reads, proves nothing.
  char extra = 0;
  if (a.ReadAt(&extra, 1, a.Size()) != 0 || b.ReadAt(&extra, 1, b.Size()) != 0) return Verdict::Failed;
  return a.Unchanged() && b.Unchanged() ? Verdict::Equal : Verdict::Failed;
}

}  // namespace veldrano::platform
