#pragma once
#include <sys/types.h>

#include <string>

#include "platform/same_bytes.h"
#include "platform/unique_fd.h"
#include "results/proven_act.h"

namespace veldrano {

// Moving a file into a folder the user picked, keeping its path below the
// folder it was found in: DESTINATION/<listed folder's name>/<its path
// below it>. The folders on the way are made as needed, never through a
// link; nothing there is ever overwritten. On the same file system the file
// is renamed; on another one it is copied (mode, owner where allowed, and
// times), the copy's bytes compared with it, and the file itself removed
// only once the move is proven (Finish). Undo renames it back, or removes
// the copy.
class MoveAct : public ReversibleAct {
 public:
  // destination: the folder picked, as the user named it (its links are the
  // user's own); made, with its missing parents, when make is set (a dry
  // run makes nothing: a folder still to be made has nothing to collide
  // with).
  explicit MoveAct(std::string destination, bool make = true);

  // Why the folder picked cannot be used; empty when it can.
  const std::string& Problem() const { return problem_; }

  int Do(ReachedFile& file, const ReachedFile& kept) override;
  bool Stands(const ReachedFile& file) override;
  int Undo(ReachedFile& file) override;
  std::string Finish(ReachedFile& file) override;
  std::string FailureText(int error) const override;
  std::string Where() const override { return "in " + newPath_; }
  std::string Place() const override { return newPath_; }
  ScannedFile PlaceId() const override { return {movedDevice_, movedInode_, 0}; }

 private:
  // The folder the file goes into, made as needed: its descriptor, or -1
  // with errno.
  platform::UniqueFd FolderFor(const ReachedFile& file);
  int CopyInto(ReachedFile& file);

  std::string destination_, realDestination_, problem_;
  platform::UniqueFd root_;
  platform::ByteComparer comparer_;
  platform::UniqueFd folder_;  // where the last file went
  bool copied_ = false;        // it went as a copy, and is still in its place
  dev_t movedDevice_ = 0;
  ino_t movedInode_ = 0;
  std::string newPath_, failure_;
};

// The name a listed folder's files are kept under in a destination: its own
// last name ("root" for "/").
std::string ListedFolderName(const std::string& listed);

}  // namespace veldrano
