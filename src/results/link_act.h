#pragma once
#include <sys/types.h>

#include <string>

#include "results/proven_act.h"

namespace veldrano {

// Replacing a file with a link to its proven copy, so that its path still
// gives its bytes while their space is freed. The file is never removed
// before its replacement exists:
// 1. the link is made under a fresh name in the file's own folder (created
//    exclusively, relative to the folder's descriptor), and must lead to the
//    copy's very inode;
// 2. neither file may have changed since their bytes were compared;
// 3. the link and the file swap names in one step (RENAME_EXCHANGE; where
//    the file system cannot, the file is renamed aside first and put back
//    on any failure), and what was swapped out must be the file itself;
// 4. the file's own inode stays under the fresh name until the act is
//    proven again (Finish), and Undo swaps it back.
// A hard link makes the path share the copy's owner, mode and times; it is
// only made on the copy's own file system.
class LinkAct : public ReversibleAct {
 public:
  enum class Kind {
    Hard,
    Symbolic,          // to the copy's absolute real path
    RelativeSymbolic,  // to the copy's real path from the file's folder
  };
  explicit LinkAct(Kind kind) : kind_(kind) {}

  std::string Unsuitable(const ReachedFile& file, const ReachedFile& kept) const override;
  int Do(ReachedFile& file, const ReachedFile& kept) override;
  bool TouchesKept() const override { return kind_ == Kind::Hard; }
  bool Stands(const ReachedFile& file) override;
  int Undo(ReachedFile& file) override;
  std::string Finish(ReachedFile& file) override;
  std::string FailureText(int error) const override;
  std::string Where() const override;
  std::string Place() const override { return target_; }

 private:
  // Makes the link under name in file's folder: 0 or errno.
  int MakeLink(const ReachedFile& file, const ReachedFile& kept, const std::string& name) const;
  // Whether name in folder is a link made here that leads to the copy.
  bool LeadsToKept(int folder, const std::string& name) const;
  // Removes name from folder when it is a link made here.
  void DropLink(int folder, const std::string& name) const;
  // Puts the file's own inode, held under aside, back under name: 0 or errno.
  int SwapBack(ReachedFile& file, const std::string& aside);

  Kind kind_;
  dev_t keptDevice_ = 0;
  ino_t keptInode_ = 0;
  std::string target_;   // a symbolic link's target
  std::string aside_;    // the fresh name holding the file's own inode, while it can go back
  std::string where_;    // aside_ as a path, for the log
  std::string failure_;  // why the last Do failed, when errno does not say it
};

// The path from the absolute folder from to the absolute path to, both
// without "." or ".." steps ("../b/c" from "/x/a" to "/x/b/c").
std::string RelativePathBetween(const std::string& from, const std::string& to);

}  // namespace veldrano
