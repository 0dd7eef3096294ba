#include "results/link_act.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/renaming.h"
#include "platform/system_error.h"

namespace veldrano {

namespace {

std::vector<std::string> Steps(const std::string& path) {
  std::vector<std::string> steps;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) steps.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return steps;
}

bool Is(const struct stat& status, dev_t device, ino_t inode) {
  return status.st_dev == device && status.st_ino == inode;
}

// Whether the file had, when its bytes were compared, the size and
// modification time it has now (and, unless touched is allowed, the same
// change time).
bool StillAsCompared(const platform::ReadOnlyFile& file, bool changeMayMove) {
  if (!changeMayMove) return file.Unchanged();
  struct stat now {};
  return fstat(file.Descriptor(), &now) == 0 && now.st_size == file.Status().st_size &&
         now.st_mtim.tv_sec == file.Status().st_mtim.tv_sec && now.st_mtim.tv_nsec == file.Status().st_mtim.tv_nsec;
}

}  // namespace

std::string RelativePathBetween(const std::string& from, const std::string& to) {
  const std::vector<std::string> a = Steps(from), b = Steps(to);
  std::size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  std::string path;
  for (std::size_t k = common; k < a.size(); ++k) path += "../";
  for (std::size_t k = common; k < b.size(); ++k) path += b[k] + (k + 1 < b.size() ? "/" : "");
  return path;
}

std::string LinkAct::Unsuitable(const ReachedFile& file, const ReachedFile& kept) const {
  if (kind_ == Kind::Hard && file.Status().st_dev != kept.Status().st_dev) {
    return "On another file system than its copy " + kept.Path + ": no hard link can join them";
  }
  return {};
}

int LinkAct::MakeLink(const ReachedFile& file, const ReachedFile& kept, const std::string& name) const {
  const int folder = file.Folder.Get();
  if (kind_ != Kind::Hard) return symlinkat(target_.c_str(), folder, name.c_str()) == 0 ? 0 : errno;
  // A link to the very inode held open, whatever has taken its name since.
  const std::string held = "/proc/self/fd/" + std::to_string(kept.File->Descriptor());
  if (linkat(AT_FDCWD, held.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT || access("/proc/self/fd", F_OK) == 0) return errno;
  // Without /proc: by its name, checked by LeadsToKept.
  return linkat(kept.Folder.Get(), kept.Name.c_str(), folder, name.c_str(), 0) == 0 ? 0 : errno;
}

bool LinkAct::LeadsToKept(int folder, const std::string& name) const {
  struct stat link {};
  if (fstatat(folder, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (kind_ == Kind::Hard) return S_ISREG(link.st_mode) && Is(link, keptDevice_, keptInode_);
  struct stat target {};
  return S_ISLNK(link.st_mode) && fstatat(folder, name.c_str(), &target, 0) == 0 && Is(target, keptDevice_, keptInode_);
}

void LinkAct::DropLink(int folder, const std::string& name) const {
  struct stat link {};
  if (fstatat(folder, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (kind_ == Kind::Hard ? Is(link, keptDevice_, keptInode_) : S_ISLNK(link.st_mode)) {
    unlinkat(folder, name.c_str(), 0);
  }
}

int LinkAct::Do(ReachedFile& file, const ReachedFile& kept) {
  failure_.clear();
  aside_.clear();
  keptDevice_ = kept.Status().st_dev;
  keptInode_ = kept.Status().st_ino;
  target_ = kind_ == Kind::Symbolic           ? kept.RealPath
            : kind_ == Kind::RelativeSymbolic ? RelativePathBetween(file.RealFolder(), kept.RealPath)
                                              : std::string();
  const int folder = file.Folder.Get();
  std::string link;
  if (const int error =
          platform::MakeUnderFreshName([&](const std::string& name) { return MakeLink(file, kept, name); }, link);
      error != 0) {
    return error;
  }
  if (!LeadsToKept(folder, link)) {
    DropLink(folder, link);
    failure_ = "Its link would not lead to " + kept.Path;
    return ESTALE;
  }
  if (!StillAsCompared(*file.File, false) || !StillAsCompared(*kept.File, kind_ == Kind::Hard)) {
    DropLink(folder, link);
    failure_ = "It or its copy changed since they were compared";
    return ESTALE;
  }

  int error = platform::ExchangeNames(folder, link, file.Name);
  if (error == 0) {
    aside_ = link;
  } else if (error == EINVAL) {
    // No swap on this file system: the file steps aside, the link takes its
    // name, and the file comes back on any failure.
    std::string aside;
    error = platform::MakeUnderFreshName(
        [&](const std::string& name) { return platform::RenameNoReplace(folder, file.Name, folder, name); }, aside);
    if (error == 0) {
      error = platform::RenameNoReplace(folder, link, folder, file.Name);
      if (error != 0) platform::RenameNoReplace(folder, aside, folder, file.Name);
    }
    if (error == 0) aside_ = aside;
  }
  if (error != 0) {
    DropLink(folder, link);
    return error;
  }
  where_ = file.RealFolder() + (file.RealFolder() == "/" ? "" : "/") + aside_;
  struct stat out {};
  if (fstatat(folder, aside_.c_str(), &out, AT_SYMLINK_NOFOLLOW) != 0 ||
      !Is(out, file.Status().st_dev, file.Status().st_ino)) {
    // Another file had taken its name: it goes back as it was.
    SwapBack(file, aside_);
    failure_ = "Replaced by another file during the act";
    return ESTALE;
  }
  return 0;
}

int LinkAct::SwapBack(ReachedFile& file, const std::string& aside) {
  const int folder = file.Folder.Get();
  if (const int error = platform::ExchangeNames(folder, aside, file.Name); error == 0) {
    DropLink(folder, aside);
    struct stat left {};
    if (fstatat(folder, aside.c_str(), &left, AT_SYMLINK_NOFOLLOW) != 0) aside_.clear();
    return 0;
  } else if (error != EINVAL) {
    return error;
  }
  // No swap: the link goes first when it still holds the name, then the
  // file comes back under it, never over anything.
  DropLink(folder, file.Name);
  const int error = platform::RenameNoReplace(folder, aside, folder, file.Name);
  if (error == 0) aside_.clear();
  return error;
}

bool LinkAct::Stands(const ReachedFile& file) {
  struct stat own {};
  return !aside_.empty() && LeadsToKept(file.Folder.Get(), file.Name) &&
         fstatat(file.Folder.Get(), aside_.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
         Is(own, file.Status().st_dev, file.Status().st_ino);
}

int LinkAct::Undo(ReachedFile& file) {
  if (aside_.empty()) return ENOENT;
  struct stat own {};
  if (fstatat(file.Folder.Get(), aside_.c_str(), &own, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!Is(own, file.Status().st_dev, file.Status().st_ino)) return ESTALE;
  return SwapBack(file, aside_);
}

std::string LinkAct::Finish(ReachedFile& file) {
  const std::string aside = std::exchange(aside_, {});
  struct stat own {};
  if (fstatat(file.Folder.Get(), aside.c_str(), &own, AT_SYMLINK_NOFOLLOW) == 0 &&
      Is(own, file.Status().st_dev, file.Status().st_ino) && unlinkat(file.Folder.Get(), aside.c_str(), 0) == 0) {
    return {};
  }
  return "Its own copy could not be removed: it stays as " + where_;
}

std::string LinkAct::FailureText(int error) const {
  if (!failure_.empty()) return failure_;
  switch (error) {
    case EXDEV: return "On another file system than its copy: no hard link can join them";
    case EMLINK: return "Its copy has as many hard links as its file system allows";
    case EPERM:
      return kind_ == Kind::Hard ? "Not allowed to make a hard link to its copy (owned by another user?)"
                                 : "Not allowed to make a link in its folder";
    default: return "Can not replace it with a link: " + SystemErrorText(error);
  }
}

std::string LinkAct::Where() const { return "replaced by the link, with its own bytes kept as " + where_; }

}  // namespace veldrano
