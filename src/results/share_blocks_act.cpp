#include "results/share_blocks_act.h"

#include <cerrno>

#include "platform/system_error.h"

namespace veldrano {

std::string ShareBlocksAct::Unsuitable(const ReachedFile& file, const ReachedFile& kept) const {
  if (file.Status().st_dev != kept.Status().st_dev) {
    return "On another file system than its copy " + kept.Path + ": they cannot share blocks";
  }
  return {};
}

int ShareBlocksAct::Do(ReachedFile& file, const ReachedFile& kept) {
  last_ = platform::ShareBlocks(kept.File->Descriptor(), file.File->Descriptor(), file.File->Size());
  switch (last_.How) {
    case platform::BlockSharing::Ending::Shared: return 0;
    case platform::BlockSharing::Ending::Differ: return ESTALE;
    case platform::BlockSharing::Ending::Unsupported: return last_.Error != 0 ? last_.Error : EOPNOTSUPP;
    case platform::BlockSharing::Ending::Failed: break;
  }
  return last_.Error != 0 ? last_.Error : EIO;
}

std::string ShareBlocksAct::FailureText(int error) const {
  const std::string part = last_.Shared > 0 ? " (its first " + std::to_string(last_.Shared) + " bytes share them)" : "";
  switch (last_.How) {
    case platform::BlockSharing::Ending::Differ: return "Its bytes changed since they were compared" + part;
    case platform::BlockSharing::Ending::Unsupported:
      return "Its file system cannot share blocks between files (" + SystemErrorText(error) + ")" + part;
    default: return "Can not share its blocks: " + SystemErrorText(error) + part;
  }
}

}  // namespace veldrano
