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

  // What the helper takes, if it does: the second half of the comparison,
  // or, when b's bytes are to be shown, the showing of the rest of b, read
  // anew. Each side stops as soon as the other found the files apart.
  struct Part {
    std::atomic<std::uint64_t> Compared{0};  // of the second half
    std::atomic<bool> Abandon{false};        // this side found them apart
    std::atomic<bool> Apart{false};          // the helper did
    Verdict Found = Verdict::Equal;
    std::optional<std::future<void>> Done;
    bool Going() const { return !Abandon.load(std::memory_order_relaxed); }
    void Finish(Verdict found) {
      Found = found;
      if (found != Verdict::Equal) Apart.store(true, std::memory_order_relaxed);
    }
  } part;
  // Waited for on every way out: the helper reads the files and part.
  struct Join {
    Part& Of;
    ~Join() {
      if (!Of.Done) return;
      Of.Abandon = true;
      Of.Done->wait();
    }
  } join{part};

  std::uint64_t half = size;
  if (!sawOfB && helper && size >= 2 * HandedPartBytes) {
    half = size / 2 / blockBytes_ * blockBytes_;
    part.Done = helper([&a, &b, &part, half, size, block = blockBytes_] {
      std::vector<char> first(block), second(block);
      part.Finish(CompareRange(a, b, half, size, first, second, [&part](const char*, std::size_t, std::uint64_t done) {
        part.Compared.store(done, std::memory_order_relaxed);
        return part.Going();
      }));
    });
    if (!part.Done) half = size;
  }

  bool stoppedHere = false;
  Verdict verdict =
      CompareRange(a, b, 0, half, first_, second_, [&](const char* data, std::size_t n, std::uint64_t done) {
        if (sawOfB && !part.Done) {
          sawOfB(data, n);
          // The rest is shown by the helper once it is free, if it is worth
          // it: this side then only compares.
          if (helper && size - done >= HandedPartBytes) {
            part.Done = helper([&b, &part, &sawOfB, size, from = done, block = blockBytes_] {
              std::vector<char> bytes(block);
              for (std::uint64_t offset = from; offset < size && part.Going(); offset += block) {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block, size - offset));
                if (!ReadFull(b, bytes.data(), n, offset)) return part.Finish(Verdict::Failed);
                sawOfB(bytes.data(), n);
              }
              part.Finish(Verdict::Equal);
            });
          }
        }
        if (!afterBlock(done + part.Compared.load(std::memory_order_relaxed))) {
          stoppedHere = true;
          return false;
        }
        return !part.Apart.load(std::memory_order_relaxed);
      });
  if (part.Done) {
    if (verdict != Verdict::Equal) part.Abandon = true;
    // Meanwhile the progress goes on, and a stop is still heard.
    while (part.Done->wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (!part.Abandon && !afterBlock(half + part.Compared.load(std::memory_order_relaxed))) {
        stoppedHere = true;
        verdict = Verdict::Stopped;
        part.Abandon = true;
      }
    }
    std::future<void> done = std::move(*part.Done);
    part.Done.reset();
    done.get();  // a failure of the helper's own is the comparison's
    // Stopped here because the helper found them apart: that is the verdict.
    if (verdict == Verdict::Equal || (verdict == Verdict::Stopped && !stoppedHere)) verdict = part.Found;
  }
  if (verdict != Verdict::Equal) return verdict;
  // A file grown past its size, or written behind our reads, proves nothing.
  char extra = 0;
  if (a.ReadAt(&extra, 1, size) != 0 || b.ReadAt(&extra, 1, size) != 0) return Verdict::Failed;
  return a.Unchanged() && b.Unchanged() ? Verdict::Equal : Verdict::Failed;
}

}  // namespace veldrano::platform
