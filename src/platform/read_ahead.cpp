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

void ReadAhead::Hint(const AnchoredPath& where, std::uint64_t size) {
  if (size == 0) return;
  {
    const std::lock_guard lock(mutex_);
    if (queue_.size() >= MaxQueued) return;
    queue_.push_back(Item{where, size});
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
      item = std::move(queue_.front());
      queue_.pop_front();
    }
    const ReadOnlyFile file(item.Where);
    if (!file.IsOpen()) continue;
    const auto length = static_cast<off_t>(std::min(item.Size, MaxBytesPerFile));
    posix_fadvise(file.Descriptor(), 0, length, POSIX_FADV_WILLNEED);
  }
}

}  // namespace veldrano::platform
