#include "results/trash_act.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/system_error.h"

namespace veldrano {

int TrashAct::Do(ReachedFile& file, const ReachedFile& /*kept*/) {
  last_.reset();
  platform::Outcome<platform::TrashedFile> moved =
      can_.Move(file.Folder.Get(), file.Name, file.RealFolder(), file.Status().st_dev, file.Status().st_ino);
  if (!moved.Ok()) return moved.Error();
  last_ = std::move(moved.Value());
  placeId_ = {static_cast<std::uint64_t>(file.Status().st_dev), static_cast<std::uint64_t>(file.Status().st_ino), 0};
  return 0;
}

bool TrashAct::Stands(const ReachedFile& file) {
  struct stat status {};
  return last_ && fstatat(last_->FilesDirectory, last_->TrashName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         status.st_dev == file.Status().st_dev && status.st_ino == file.Status().st_ino;
}

int TrashAct::Undo(ReachedFile& file) {
  if (!last_) return ENOENT;
  const int error = can_.PutBack(*last_, file.Folder.Get(), file.Name);
  if (error == 0) last_.reset();
  return error;
}

std::string TrashAct::FailureText(int error) const {
  switch (error) {
    case ESTALE: return "Replaced by another file during the move";
    case EXDEV:
      return can_.Problem().empty() ? "No Trash can be used on its file system"
                                    : "No Trash can be used on its file system: " + can_.Problem();
    default: return "Can not move it to the Trash: " + SystemErrorText(error);
  }
}

std::string TrashAct::Where() const {
  return last_ ? "in the Trash as " + last_->FilePath + ", with its info file " + last_->InfoPath : "in the Trash";
}

std::string TrashAct::Place() const {
  if (!last_) return {};
  // The trash may be reached through a link (the home trash is the user's
  // setting): the journal keeps the place without one.
  const std::size_t slash = last_->FilePath.rfind('/');
  const platform::Outcome<std::string> real = platform::RealPath(last_->FilePath.substr(0, slash));
  return real.Ok() ? real.Value() + last_->FilePath.substr(slash) : last_->FilePath;
}

}  // namespace veldrano
