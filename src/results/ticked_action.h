#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "results/proven_act.h"

namespace veldrano {

// Acting on the ticked files of the results: moving them to the desktop's
// Trash, replacing them with links to the copy that stays, letting them
// share its blocks, moving them to another folder.
//
// A signature says two files are very likely the same; users act on what we
// tick, so each file is acted on only on proof, taken at the moment of the
// act and again after it (ActOnProvenCopy): it still is the very file the
// scan saw, reached from its listed folder without following a link, it is
// not the very file of one that stays, and its bytes equal, one by one,
// those of a file of its group that stays. Every group keeps at least one
// file; files in reference folders are never acted on.

// What an action would act on, for the confirmation: the ticked files in
// list order, and the groups all of whose files are ticked, whose first
// file stays instead.
struct ActPlan {
  struct File {
    std::uint32_t Group = 0;
    std::uint32_t Index = 0;
  };
  std::vector<File> Files;
  std::vector<std::uint32_t> FirstKept;
  std::int64_t Bytes = 0;  // the files' sizes added up
};
ActPlan PlanTicked();

// The actions on ticked files.
enum class ActionKind { Trash, HardLink, SymbolicLink, RelativeSymbolicLink, ShareBlocks, Move };

// Which action, and how.
struct TickedAction {
  ActionKind Kind = ActionKind::Trash;
  std::string Destination;            // Move: the folder the files go into
  bool RemoveEmptiedFolders = false;  // Trash, Move: then remove the folders they left empty
  bool DryRun = false;                // prove and tell, change nothing
};

// Whether the action takes the file away from its folder (so that folders
// may be left empty).
bool TakesFilesAway(ActionKind kind);

// What the action did.
struct ActSummary {
  std::int64_t Done = 0;  // or, in a dry run, would be done
  std::int64_t DoneBytes = 0;
  std::int64_t LeftInPlace = 0;  // files of the plan that stay as they were, with a warning each (Stop included)
  // Acted on, then found changed, and the act could not be undone: each is
  // named by an error line that says where it is.
  std::int64_t LeftWithoutProof = 0;
  std::int64_t FoldersRemoved = 0;
  std::string Journal;  // where the journal of the action is; empty when nothing was done
};

// Carries the action out on the plan's files in its order, with the
// progress bar, Stop and Busy as a run has them; logs one line per file and
// a summary, and keeps a journal of what was done (ActionJournal) so that it
// can be undone; then takes the files that left their place out of the
// results (ResultsReplaced). Nothing is done when no journal can be kept.
// act does the work on one file (by default the action's own; tests stage
// races with theirs).
ActSummary ActOnTicked(const ActPlan& plan, const TickedAction& action, ReversibleAct* act = nullptr);

// The same with the Trash.
inline ActSummary MoveTickedToTrash(const ActPlan& plan, ReversibleAct* act = nullptr) {
  return ActOnTicked(plan, TickedAction{}, act);
}

}  // namespace veldrano
