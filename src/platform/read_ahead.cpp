#include "platform/read_ahead.h"

#include <fcntl.h>

#include <algorithm>

#include "platform/read_only_file.h"

namespace veldrano::platform {

namespace {

constexpr std::size_t MaxQueued = 256;
constexpr std::uint64_t MaxBytesPerFile = 8 << 20;  // beyond, the reader's own read-ahead keeps up

}  // namespace

ReadAhead::ReadAhead() : worker_([this] { Work(); }) {}

ReadAhead::~ReadAhead() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
    queue_.clear();
  }
  wake_.notify_one();
  worker_.join();
}

void ReadAhead::Hint(const AnchoredPath& where, std::uint64_t size, std::uint64_t inode, std::uint64_t partBytes) {
  if (size == 0) return;
  {
    const std::lock_guard lock(mutex_);
    if (queue_.size() >= MaxQueued) return;
    queue_.push_back(Item{where, size, inode, partBytes});
  }
  wake_.notify_one();
}

void ReadAhead::Work() {
  for (;;) {
    Item item;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return ending_ || !queue_.empty(); });
      if (ending_) return;
      const auto lowest = std::min_element(queue_.begin(), queue_.end(),
                                           [](const Item& a, const Item& b) { return a.Inode < b.Inode; });
      item = std::move(*lowest);
      queue_.erase(lowest);
    }
    const ReadOnlyFile file(item.Where);
    if (!file.IsOpen()) continue;
    if (item.PartBytes == 0 || item.Size <= 2 * item.PartBytes) {
      const auto length = static_cast<off_t>(std::min(item.Size, MaxBytesPerFile));
      posix_fadvise(file.Descriptor(), 0, length, POSIX_FADV_WILLNEED);
    } else {
      const auto part = static_cast<off_t>(item.PartBytes);
      posix_fadvise(file.Descriptor(), 0, part, POSIX_FADV_WILLNEED);
      posix_fadvise(file.Descriptor(), static_cast<off_t>(item.Size) - part, part, POSIX_FADV_WILLNEED);
    }
  }
}

}  // namespace veldrano::platform
