#include "platform/same_bytes.h"

#include <algorithm>
#include <atomic>
#include <chrono>
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

ByteComparer::Verdict ByteComparer::CompareRange(const ReadOnlyFile& a, const ReadOnlyFile& b, std::uint64_t from,
                                                 std::uint64_t to, std::vector<char>& first, std::vector<char>& second,
                                                 const OnBlock& onBlock) {
  for (std::uint64_t offset = from; offset < to; offset += first.size()) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(first.size(), to - offset));
    if (!ReadFull(a, first.data(), n, offset) || !ReadFull(b, second.data(), n, offset)) return Verdict::Failed;
    if (std::memcmp(first.data(), second.data(), n) != 0) return Verdict::Different;
    if (!onBlock(second.data(), n, offset + n - from)) return Verdict::Stopped;
  }
  return Verdict::Equal;
}

ByteComparer::Verdict ByteComparer::Compare(const ReadOnlyFile& a, const ReadOnlyFile& b,
                                            const std::function<bool(std::uint64_t)>& afterBlock,
                                            const std::function<void(const char*, std::size_t)>& sawOfB,
                                            const Helper& helper) {
  if (a.Size() != b.Size()) return Verdict::Different;
  first_.resize(blockBytes_);
  second_.resize(blockBytes_);
  const std::uint64_t size = a.Size();

  // The second half on the helper, when it takes it: each side stops as
  // soon as the other found its half apart.
  struct Upper {
    std::atomic<std::uint64_t> Done{0};
    std::atomic<bool> Abandon{false};  // the first half is not equal
    std::atomic<bool> Differs{false};  // the second half is not equal
    Verdict Found = Verdict::Equal;
  } upper;
  std::optional<std::future<void>> upperDone;
  std::uint64_t half = size;
  if (!sawOfB && helper && size >= HalvedFromBytes) {
    half = size / 2 / blockBytes_ * blockBytes_;
    upperDone = helper([&a, &b, &upper, half, size, block = blockBytes_] {
      std::vector<char> first(block), second(block);
      upper.Found =
          CompareRange(a, b, half, size, first, second, [&upper](const char*, std::size_t, std::uint64_t done) {
            upper.Done.store(done, std::memory_order_relaxed);
            return !upper.Abandon.load(std::memory_order_relaxed);
          });
      if (upper.Found != Verdict::Equal) upper.Differs.store(true, std::memory_order_relaxed);
    });
    if (!upperDone) half = size;
  }
  // Waited for on every way out: the helper reads the files and upper.
  struct Join {
    std::optional<std::future<void>>& Done;
    std::atomic<bool>& Abandon;
    ~Join() {
      if (!Done) return;
      Abandon = true;
      Done->wait();
    }
  } join{upperDone, upper.Abandon};

  bool stoppedHere = false;
  Verdict verdict =
      CompareRange(a, b, 0, half, first_, second_, [&](const char* data, std::size_t n, std::uint64_t done) {
        if (sawOfB) sawOfB(data, n);
        if (!afterBlock(done + upper.Done.load(std::memory_order_relaxed))) {
          stoppedHere = true;
          return false;
        }
        return !upper.Differs.load(std::memory_order_relaxed);
      });
  if (upperDone) {
    if (verdict != Verdict::Equal) upper.Abandon = true;
    // Meanwhile the progress goes on, and a stop is still heard.
    while (upperDone->wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (!upper.Abandon && !afterBlock(half + upper.Done.load(std::memory_order_relaxed))) {
        stoppedHere = true;
        verdict = Verdict::Stopped;
        upper.Abandon = true;
      }
    }
    std::future<void> done = std::move(*upperDone);
    upperDone.reset();
    done.get();  // a failure of the helper's own is the comparison's
    // Stopped here for the other half's difference: that is the verdict.
    if (verdict == Verdict::Equal || (verdict == Verdict::Stopped && !stoppedHere)) verdict = upper.Found;
  }
  if (verdict != Verdict::Equal) return verdict;
  // A file grown past its size, or written behind our reads, proves nothing.
  char extra = 0;
  if (a.ReadAt(&extra, 1, size) != 0 || b.ReadAt(&extra, 1, size) != 0) return Verdict::Failed;
  return a.Unchanged() && b.Unchanged() ? Verdict::Equal : Verdict::Failed;
}

}  // namespace veldrano::platform
