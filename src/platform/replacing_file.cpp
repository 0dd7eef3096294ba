#include "platform/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/private_directory.h"
#include "platform/renaming.h"
#include "platform/write_all.h"

namespace veldrano::platform {

namespace {

constexpr std::size_t BufferBytes = 64 * 1024;

}  // namespace

ReplacingFile::ReplacingFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    Fail(ENOENT);
    return;
  }
  // "dir/" names the folder itself: that is what is checked below.
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
  name_ = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == "..") {  // "/", "dir/.", ".."
    refusedType_ = S_IFDIR;
    Fail(EISDIR);
    return;
  }

  // The folder is the user's own choice, links and all; only the last
  // name is where something may have been planted.
  Outcome<UniqueFd> opened = OpenDirectory(folder);
  if (!opened.Ok()) {
    Fail(opened.Error());
    return;
  }
  folder_ = std::move(opened.Value());
  mode_t mode = 0666;  // less the umask, as for any new file
  bool keepMode = false;
  gid_t group = 0;
  struct stat target {};
  if (fstatat(folder_.Get(), name_.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISREG(target.st_mode) && target.st_uid == geteuid()) {
      mode = target.st_mode & 0777;
      group = target.st_gid;
      keepMode = true;
    } else if (!S_ISREG(target.st_mode) && !S_ISLNK(target.st_mode)) {
      refusedType_ = target.st_mode & S_IFMT;
      Fail(S_ISDIR(target.st_mode) ? EISDIR : EINVAL);
      return;
    }
  } else if (errno != ENOENT) {
    Fail(errno);
    return;
  }

  const int made = MakeUnderFreshName(
      [this, mode](const std::string& name) {
        file_ = UniqueFd(openat(folder_.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        return file_.IsOpen() ? 0 : errno;
      },
      newName_);
  if (made != 0) {
    Fail(made);
    return;
  }
  struct stat created {};
  if (fstat(file_.Get(), &created) != 0) {
    Fail(errno);
    return;
  }
  newDevice_ = created.st_dev;
  newInode_ = created.st_ino;
  if (keepMode) {
    // The group first: a change of group may clear set-group-ID bits.
    if (created.st_gid != group) (void)!fchown(file_.Get(), static_cast<uid_t>(-1), group);
    if (fchmod(file_.Get(), mode) != 0) {
      Fail(errno);
      return;
    }
  }
  buffer_.reserve(BufferBytes);
}

ReplacingFile::~ReplacingFile() { RemoveNewFile(); }

bool ReplacingFile::Fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  RemoveNewFile();
  return false;
}

void ReplacingFile::RemoveNewFile() {
  file_.Reset();
  if (newName_.empty()) return;
  // Only while the name is still the file made here.
  struct stat named {};
  if (fstatat(folder_.Get(), newName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == newDevice_ &&
      named.st_ino == newInode_) {
    unlinkat(folder_.Get(), newName_.c_str(), 0);
  }
  newName_.clear();
}

bool ReplacingFile::Flush() {
  if (!WriteAll(file_.Get(), buffer_)) return Fail(errno);
  buffer_.clear();
  return true;
}

bool ReplacingFile::Write(std::string_view bytes) {
  if (!file_.IsOpen()) return false;
  buffer_ += bytes;
  return buffer_.size() < BufferBytes || Flush();
}

bool ReplacingFile::Commit() {
  if (!file_.IsOpen() || !Flush()) return false;
  if (fsync(file_.Get()) != 0) return Fail(errno);
  // Some file systems report a failed write only when the file is closed.
  if (close(file_.Release()) != 0) return Fail(errno);
  if (renameat(folder_.Get(), newName_.c_str(), folder_.Get(), name_.c_str()) != 0) return Fail(errno);
  newName_.clear();
  fsync(folder_.Get());  // the new name on disk too; the file is in place either way
  return true;
}

}  // namespace veldrano::platform
