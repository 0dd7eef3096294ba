#include "results/move_act.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_copy.h"
#include "platform/file_system.h"
#include "platform/open_beneath.h"
#include "platform/private_directory.h"
#include "platform/renaming.h"
#include "platform/system_error.h"
#include "platform/user_folders.h"

namespace veldrano {

namespace {

bool Is(const struct stat& status, dev_t device, ino_t inode) {
  return status.st_dev == device && status.st_ino == inode;
}

bool Holds(int folder, const std::string& name, dev_t device, ino_t inode) {
  struct stat status {};
  return fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
         Is(status, device, inode);
}

}  // namespace

std::string ListedFolderName(const std::string& listed) {
  std::string trimmed = listed;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::string name = trimmed.substr(trimmed.rfind('/') + 1);
  return name.empty() ? "root" : name;
}

MoveAct::MoveAct(std::string destination, bool make) : destination_(std::move(destination)) {
  platform::Outcome<platform::UniqueFd> opened =
      make ? platform::OpenOrMakeDirectories(destination_) : platform::OpenDirectory(destination_);
  if (!make && opened.Error() == ENOENT) return;
  const platform::Outcome<std::string> real = platform::RealPath(destination_);
  if (!opened.Ok() || !real.Ok()) {
    problem_ =
        "Can not open the folder " + destination_ + ": " + SystemErrorText(opened.Ok() ? real.Error() : opened.Error());
    return;
  }
  root_ = std::move(opened.Value());
  realDestination_ = real.Value() == "/" ? std::string() : real.Value();
}

platform::UniqueFd MoveAct::FolderFor(const ReachedFile& file) {
  std::string way = ListedFolderName(file.Listed);
  if (const std::size_t slash = file.Below.rfind('/'); slash != std::string::npos) {
    way += '/';
    way.append(file.Below, 0, slash);
  }
  platform::Outcome<platform::UniqueFd> folder = platform::MakeDirectoriesBeneath(root_.Get(), way);
  errno = folder.Error();
  return std::move(folder.Value());
}

int MoveAct::Do(ReachedFile& file, const ReachedFile& /*kept*/) {
  failure_.clear();
  copied_ = false;
  if (!root_.IsOpen()) {
    failure_ = problem_;
    return ENOENT;
  }
  newPath_ = realDestination_ + "/" + ListedFolderName(file.Listed) + "/" + file.Below;
  folder_ = FolderFor(file);
  if (!folder_.IsOpen()) {
    const int error = errno;
    failure_ = (error == ELOOP || error == ENOTDIR
                    ? "A folder on its way in " + destination_ + " is not a folder"
                    : "Can not make its folder in " + destination_ + ": " + SystemErrorText(error));
    return error;
  }
  movedDevice_ = file.Status().st_dev;
  movedInode_ = file.Status().st_ino;
  int error = platform::RenameNoReplace(file.Folder.Get(), file.Name, folder_.Get(), file.Name);
  if (error == EXDEV) error = CopyInto(file);
  if (error == EEXIST) failure_ = "A file is already there: " + newPath_;
  return error;
}

int MoveAct::CopyInto(ReachedFile& file) {
  std::string fresh;
  platform::UniqueFd made;
  int error = platform::MakeUnderFreshName(
      [&](const std::string& name) {
        return platform::CopyAsNewFile(*file.File, folder_.Get(), name, platform::LooksOf(file.Status()), &made);
      },
      fresh);
  if (error != 0) return error;
  struct stat copy {};
  fstat(made.Get(), &copy);
  const auto dropCopy = [&] {
    if (Holds(folder_.Get(), fresh, copy.st_dev, copy.st_ino)) unlinkat(folder_.Get(), fresh.c_str(), 0);
  };
  const platform::ReadOnlyFile reread(folder_.Get(), fresh);
  if (!reread.IsOpen() || !Is(reread.Status(), copy.st_dev, copy.st_ino) ||
      comparer_.Compare(reread, *file.File) != platform::ByteComparer::Verdict::Equal) {
    dropCopy();
    failure_ = "Its copy in " + destination_ + " did not come out equal";
    return EIO;
  }
  if (error = platform::RenameNoReplace(folder_.Get(), fresh, folder_.Get(), file.Name); error != 0) {
    dropCopy();
    return error;
  }
  copied_ = true;
  movedDevice_ = copy.st_dev;
  movedInode_ = copy.st_ino;
  return 0;
}

bool MoveAct::Stands(const ReachedFile& file) {
  return Holds(folder_.Get(), file.Name, movedDevice_, movedInode_) && (!copied_ || file.StillNamed());
}

int MoveAct::Undo(ReachedFile& file) {
  if (!Holds(folder_.Get(), file.Name, movedDevice_, movedInode_)) return ESTALE;
  if (copied_) return unlinkat(folder_.Get(), file.Name.c_str(), 0) == 0 ? 0 : errno;
  return platform::RenameNoReplace(folder_.Get(), file.Name, file.Folder.Get(), file.Name);
}

std::string MoveAct::Finish(ReachedFile& file) {
  if (!copied_) return {};
  copied_ = false;
  if (file.StillNamed() && unlinkat(file.Folder.Get(), file.Name.c_str(), 0) == 0) return {};
  return "It could not be removed from its place once copied: it is there and in " + newPath_;
}

std::string MoveAct::FailureText(int error) const {
  if (!failure_.empty()) return failure_;
  return "Can not move it to " + destination_ + ": " + SystemErrorText(error);
}

}  // namespace veldrano
