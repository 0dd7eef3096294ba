#pragma once
#include <string>

#include "platform/shared_blocks.h"
#include "results/proven_act.h"

namespace veldrano {

// Letting a file share its blocks with its proven copy (btrfs, XFS and
// other file systems that can): both stay separate files, with their own
// names, owners and times; only the space is shared. The kernel compares
// the bytes again itself before it shares them, so a file changed after
// the comparison is never overwritten. Nothing changes what the file holds,
// so there is nothing to undo.
class ShareBlocksAct : public ReversibleAct {
 public:
  std::string Unsuitable(const ReachedFile& file, const ReachedFile& kept) const override;
  int Do(ReachedFile& file, const ReachedFile& kept) override;
  bool Stands(const ReachedFile& file) override { return file.StillNamed(); }
  int Undo(ReachedFile& /*file*/) override { return 0; }
  std::string FailureText(int error) const override;
  std::string Where() const override { return "where it was"; }

 private:
  platform::BlockSharing last_;
};

}  // namespace veldrano
