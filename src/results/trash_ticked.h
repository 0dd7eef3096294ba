#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "results/proven_act.h"

namespace veldrano {

// Moving the ticked files of the results to the desktop's Trash, where the
// file manager can restore them.
//
// A signature says two files are very likely the same; users act on what we
// tick, so each file is moved only on proof, taken at the moment of the
// move and again after it (ActOnProvenCopy): it still is the very file the
// scan saw, reached from its listed folder without following a link, it is
// not the very file of one that stays, and its bytes equal, one by one,
// those of a file of its group that stays. Every group keeps at least one
// file.

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
  // Moved, then found changed, and they could not be put back: each is in
  // the Trash with its info file, named by an error line.
  std::int64_t LeftInTrash = 0;
};

// Moves the plan's files in its order, with the progress bar, Stop and Busy
// as a run has them; logs one line per file and a summary, then takes the
// moved files out of the results (ResultsReplaced). act moves one file (by
// default a TrashAct, kept for the whole move).
TrashSummary MoveTickedToTrash(const TrashPlan& plan, ReversibleAct* act = nullptr);

}  // namespace veldrano
