#include "platform/shared_blocks.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace veldrano::platform {

namespace {

// btrfs shares at most 16 MiB per call; asking for more only makes it do
// less than asked.
constexpr std::uint64_t RangeBytes = std::uint64_t{16} << 20;

bool Unsupported(int error) { return error == EOPNOTSUPP || error == ENOTTY || error == EINVAL || error == EXDEV; }

}  // namespace

BlockSharing ShareBlocks(int source, int destination, std::uint64_t size) {
  BlockSharing sharing;
  // The request carries one destination after its header.
  std::vector<unsigned char> buffer(sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info));
  auto* range = reinterpret_cast<file_dedupe_range*>(buffer.data());
  while (sharing.Shared < size) {
    std::fill(buffer.begin(), buffer.end(), 0);
    range->src_offset = sharing.Shared;
    range->src_length = std::min(RangeBytes, size - sharing.Shared);
    range->dest_count = 1;
    range->info[0].dest_fd = destination;
    range->info[0].dest_offset = sharing.Shared;
    if (ioctl(source, FIDEDUPERANGE, range) != 0) {
      sharing.Error = errno;
      sharing.How = Unsupported(errno) ? BlockSharing::Ending::Unsupported : BlockSharing::Ending::Failed;
      return sharing;
    }
    const file_dedupe_range_info& info = range->info[0];
    if (info.status == FILE_DEDUPE_RANGE_DIFFERS) {
      sharing.How = BlockSharing::Ending::Differ;
      return sharing;
    }
    if (info.status < 0) {
      sharing.Error = -info.status;
      sharing.How = Unsupported(sharing.Error) ? BlockSharing::Ending::Unsupported : BlockSharing::Ending::Failed;
      return sharing;
    }
    if (info.bytes_deduped == 0) {
      sharing.Error = EIO;
      return sharing;
    }
    sharing.Shared += info.bytes_deduped;
  }
  sharing.How = BlockSharing::Ending::Shared;
  return sharing;
}

}  // namespace veldrano::platform
