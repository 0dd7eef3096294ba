#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace veldrano {

// The record of what an action did to each file, kept so that it can be
// undone later, in the user's state folder ($XDG_STATE_HOME/veldrano, else
// ~/.local/state/veldrano; private): one journal per action, named by the
// time it began, created exclusively; the newest hundred are kept. It is text, one line per file,
// written as the file is acted on:
//   # veldrano action journal 1
//   act TAB action TAB path TAB listed TAB kept TAB size TAB device TAB inode
//       TAB kept device TAB kept inode TAB mode (octal) TAB owner TAB group
//       TAB accessed (ns) TAB modified (ns) TAB place TAB place device
//       TAB place inode TAB time (seconds since the epoch)
//   undone TAB line number of the act put back
// Paths are real paths (no link on the way), as bytes, escaped as the log
// escapes them (\\, \t, \n, \r, \xHH).
struct JournalEntry {
  std::string Action;  // "trash", "hard-link", "symbolic-link", "share-blocks", "move"
  std::string Path;    // where the file was
  std::string Listed;  // the listed folder it was found in; folders below it may be made again
  std::string Kept;    // the copy whose bytes it had
  std::int64_t Size = 0;
  std::uint64_t Device = 0, Inode = 0;
  std::uint64_t KeptDevice = 0, KeptInode = 0;
  mode_t Mode = 0;
  uid_t Owner = 0;
  gid_t Group = 0;
  std::int64_t AccessedNs = 0, ModifiedNs = 0;
  std::string Place;  // where it went (trash, move) or what now stands in its place (symbolic link target)
  std::uint64_t PlaceDevice = 0, PlaceInode = 0;
  std::int64_t Time = 0;

  std::size_t Line = 0;  // read back: its line in the journal
  bool Undone = false;   // read back: put back since
};

class ActionJournal {
 public:
  // A new journal in the user's state folder; none, with why in problem,
  // when it cannot be made.
  static std::optional<ActionJournal> Create(std::string& problem);
  // An existing journal, to mark what was undone.
  static std::optional<ActionJournal> OpenExisting(const std::string& path, std::string& problem);

  // Appends one line, in one write: false when it could not be written.
  bool Append(const JournalEntry& entry);
  bool MarkUndone(std::size_t line);
  // Puts what was written on disk.
  bool Sync();
  // Removes a journal Create made that records nothing after all, while
  // its name still is that journal.
  void Discard();
  const std::string& Path() const { return path_; }

 private:
  bool WriteLine(const std::string& line);

  platform::UniqueFd fd_;
  platform::UniqueFd folder_;  // Create: the state folder holding it, as name_
  std::string name_;
  std::string path_;
  std::size_t lines_ = 0;
};

// The entries of the journal at path, with their undo marks. False, with
// why in problem, when it is not a journal of this user that can be read.
bool ReadJournal(const std::string& path, std::vector<JournalEntry>& entries, std::string& problem);

// The newest journal in the user's state folder with something left to
// undo; empty when there is none (problem says why, when it could not be
// looked for).
std::string LastJournalToUndo(std::string& problem);

// The user's folder of journals, made if need be: its path, or empty with
// why in problem.
std::string JournalFolder(std::string& problem);

}  // namespace veldrano
