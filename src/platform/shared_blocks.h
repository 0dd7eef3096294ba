#pragma once
#include <cstdint>

namespace veldrano::platform {

// How asking the file system to let two files share their blocks ended.
struct BlockSharing {
  enum class Ending {
    Shared,       // every byte of the destination now shares the source's blocks
    Differ,       // the kernel found the bytes different: nothing more was shared
    Unsupported,  // the file system cannot share blocks between these files
    Failed,       // Error says why
  };
  Ending How = Ending::Failed;
  int Error = 0;
  std::uint64_t Shared = 0;  // bytes shared before the end
};

// Lets the first size bytes of destination share the blocks of source
// (FIDEDUPERANGE): the kernel compares the bytes itself, under lock, and
// shares only what is equal, so a file changed since it was compared here
// is never overwritten. Both files stay separate files with their own
// names, owners and times.
BlockSharing ShareBlocks(int source, int destination, std::uint64_t size);

}  // namespace veldrano::platform
