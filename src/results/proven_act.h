#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/same_bytes.h"
#include "results/action_journal.h"
#include "results/reached_file.h"
#include "results/results_model.h"

namespace veldrano {

// An act on one file that can be undone: moving it to the Trash, replacing
// it with a link to its copy, moving it to another folder. It works
// relative to the file's folder.
class ReversibleAct {
 public:
  virtual ~ReversibleAct() = default;
  // Why the act cannot be done to file with kept as its proven copy (a hard
  // link across file systems); empty when it can. Another copy that stays
  // is tried then.
  virtual std::string Unsuitable(const ReachedFile& file, const ReachedFile& kept) const {
    (void)file, (void)kept;
    return {};
  }
  // Carries the act out on file, whose bytes equal kept's: 0, or the errno
  // that kept it from being done (then nothing was done).
  virtual int Do(ReachedFile& file, const ReachedFile& kept) = 0;
  // Whether the act touches kept's inode (a hard link to it changes its
  // change time): kept is then held to its size and modification time, and
  // its bytes compared again.
  virtual bool TouchesKept() const { return false; }
  // Whether what Do did still stands (the file still where Do put it).
  virtual bool Stands(const ReachedFile& file) = 0;
  // Undoes Do: 0, or the errno that kept it from being undone (then what
  // Do did stays, and stays undoable by the user: see Where).
  virtual int Undo(ReachedFile& file) = 0;
  // Lets go what Undo would have needed (the replaced file's own inode),
  // once the act is proven: empty, or what was left behind, for the log.
  virtual std::string Finish(ReachedFile& file) {
    (void)file;
    return {};
  }
  // Why Do failed, for the log.
  virtual std::string FailureText(int error) const = 0;
  // Where Do left the file, for the log.
  virtual std::string Where() const = 0;
  // Where the last act put the file, or what now stands in its place, as
  // the journal records it for undoing the act later: the trashed file's
  // real path, the new path of a moved file, a symbolic link's target.
  virtual std::string Place() const { return {}; }
  // The file at Place (device and inode), when there is one.
  virtual ScannedFile PlaceId() const { return {}; }
};

// What became of one ticked file.
struct ActOutcome {
  enum class Kind {
    Done,     // Text: the path of the copy that stays, whose bytes it had
    NotDone,  // Text: why; the file is where it was
    Stuck,    // done, then disproved, and it could not be undone; Text says why and where the file is
    Stopped,  // the user stopped while it was being compared
  };
  Kind Kind = Kind::NotDone;
  std::string Text;
  std::string LeftBehind;  // Done: what Finish could not let go, if anything
  JournalEntry Record;     // Done or Stuck: what the journal keeps to undo it (but Action and Time)
};

// Acts on file f of group, but only on proof that it is a copy of a file that
// stays (staying[k]), and never when it lies in a reference folder, the way
// every action on the user's files goes:
// 1. f and the files that stay are reached from their listed folders by
//    descriptors, and must be the very files the scan saw (FileReacher);
// 2. no file that stays may be f itself (a hard link, a folder or a file
//    reached twice);
// 3. f's bytes must equal, one by one, those of a file that stays;
// 4. the act, relative to f's folder;
// 5. the proof again, after the act: the copy that stays unchanged and still
//    under its name, f unchanged in size and contents time and where the act
//    put it; where f's change time moved (a rename moves it), the bytes are
//    compared once more;
// 6. on any difference the act is undone; else Finish lets go what undoing
//    it would have needed.
// keepGoing is asked between blocks of the comparisons. A rehearsal stops
// after step 3 (and the act's own check of the copy found): Done then says
// the act would be done, and nothing was changed.
ActOutcome ActOnProvenCopy(const SignatureGroup& group, std::uint32_t f, const std::vector<bool>& staying,
                           FileReacher& reacher, ReversibleAct& act, platform::ByteComparer& comparer,
                           const std::function<bool()>& keepGoing, bool rehearsal = false);

}  // namespace veldrano
