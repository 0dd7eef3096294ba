#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/read_only_file.h"

namespace veldrano::platform {

// Asks the system, from a thread of its own, to start reading files that
// are about to be read, so that the disk has many reads to serve at once
// instead of one after the other. Only the page cache sees the difference:
// the files are opened as the reader opens them (inside the folder they
// were listed in, no link followed, nothing but regular files) and nothing
// of them comes back to the caller. Hints beyond a small window ahead are
// dropped.
class ReadAhead {
 public:
  ReadAhead();
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The file of size bytes will be read soon: its first partBytes and its
  // last partBytes, or with partBytes 0 its first bytes (at most a few
  // MiB). Of the files waiting, the one of the lowest inode (a file's
  // number, which on most file systems follows where it lies) is asked for
  // first, so that a disk serves them in order.
  void Hint(const AnchoredPath& where, std::uint64_t size, std::uint64_t inode = 0, std::uint64_t partBytes = 0);

 private:
  struct Item {
    AnchoredPath Where;
    std::uint64_t Size = 0;
    std::uint64_t Inode = 0;
    std::uint64_t PartBytes = 0;
  };
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Item> queue_;
  bool ending_ = false;
  std::thread worker_;
};

}  // namespace veldrano::platform
