#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/outcome.h"
#include "platform/trash_can.h"

namespace veldrano {

// Moving the ticked files of the results to the desktop's Trash, where the
// file manager can restore them.
//
// A signature says two files are very likely the same; users act on what we
// tick, so each file is moved only on proof, taken at the moment of the
// move: it still is a regular file of its listed size, it is not the very
// file (device and inode) of one that stays, and its bytes equal, one by
// one, those of a file of its group that stays and still exists. Every
// group keeps at least one file.

// What a move would do, for the confirmation: the ticked files in list
// order, and the groups all of whose files are ticked, whose first file
// stays instead.
struct TrashPlan {
  struct File {
    std::uint32_t Group = 0;
    std::uint32_t Index = 0;
  };
  std::vector<File> Files;
  std::vector<std::uint32_t> FirstKept;
  std::int64_t Bytes = 0;  // the files' sizes added up
};
TrashPlan PlanTrashTicked();

// What the move did.
struct TrashSummary {
  std::int64_t Moved = 0;
  std::int64_t MovedBytes = 0;
  std::int64_t LeftInPlace = 0;  // files of the plan that stay, with a warning each (Stop included)
};

// The step that puts one proven file in the Trash (by default a
// platform::TrashCan's, kept for the whole move).
using TrashMover =
    std::function<platform::Outcome<platform::TrashedFile>(const std::string& path, dev_t device, ino_t inode)>;

// Moves the plan's files in its order, with the progress bar, Stop and Busy
// as a run has them; logs one line per file and a summary, then takes the
// moved files out of the results (ResultsReplaced).
TrashSummary MoveTickedToTrash(const TrashPlan& plan, const TrashMover& mover = {});

}  // namespace veldrano
