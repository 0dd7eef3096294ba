#pragma once
#include <cstdint>
#include <string>

namespace veldrano {

// What undoing an action did.
struct UndoSummary {
  std::int64_t PutBack = 0;
  std::int64_t NotPutBack = 0;     // each with a warning that says why
  std::int64_t NothingToUndo = 0;  // files that only share blocks with a copy
  bool Refused = false;            // the journal could not be read: nothing was tried
};

// Puts back, newest first, every file the journal at path records and has
// not put back yet, where that is possible, with one log line each:
// - a file in the Trash goes back under its name, never over a file that
//   is there now;
// - a hard or symbolic link made in its place becomes a separate copy of
//   the bytes it leads to again, with the file's own mode, owner (where
//   allowed) and times, swapped in for the link in one step;
// - a moved file is moved back, or copied back and then removed where it
//   went, when that is another file system;
// - files that share their blocks with a copy need nothing.
// Folders missing on the way back are made again, below the listed folder
// the file was found in. Every place is reached by its real path without
// following a link, and each file must still be the one the action left
// there. What was put back is marked in the journal, so that a second undo
// only tries the rest. Busy, Stop and the progress bar work as in an
// action.
UndoSummary UndoJournal(const std::string& path);

}  // namespace veldrano
