#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/same_bytes.h"
#include "results/reached_file.h"
#include "results/results_model.h"

namespace veldrano {

// An act on one file that can be undone: moving it to the Trash, and every
// later way of getting rid of a copy. It works relative to the file's folder.
class ReversibleAct {
 public:
  virtual ~ReversibleAct() = default;
  // Carries the act out on file: 0, or the errno that kept it from being
  // done (then nothing was done).
  virtual int Do(ReachedFile& file) = 0;
  // Whether what Do did still stands (the file still where Do put it).
  virtual bool Stands(const ReachedFile& file) = 0;
  // Undoes Do: 0, or the errno that kept it from being undone (then what
  // Do did stays, and stays undoable by the user: see Where).
  virtual int Undo(ReachedFile& file) = 0;
  // Why Do failed, for the log.
  virtual std::string FailureText(int error) const = 0;
  // Where Do left the file, for the log.
  virtual std::string Where() const = 0;
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
// 6. on any difference the act is undone.
// keepGoing is asked between blocks of the comparisons.
ActOutcome ActOnProvenCopy(const SignatureGroup& group, std::uint32_t f, const std::vector<bool>& staying,
                           FileReacher& reacher, ReversibleAct& act, platform::ByteComparer& comparer,
                           const std::function<bool()>& keepGoing);

}  // namespace veldrano
