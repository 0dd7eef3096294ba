#include "platform/private_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace veldrano::platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// Files of this user that may be another program's: opened for reading
// only, never through a link, without waiting and without changing their
// access time (allowed to their owner).
constexpr int FileFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOATIME | O_CLOEXEC;

// Our own stores nest a few levels at most; anything deeper is not ours.
constexpr int MaxDepth = 32;

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True while name in parent is the very file open as fd.
bool StillNamed(int parent, const std::string& name, int fd) {
  struct stat named {
  }, open{};
  return fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && fstat(fd, &open) == 0 &&
         SameFile(named, open);
}

// Reads up to bytes.size() bytes from the start of fd into bytes, which it
// resizes to what was read.
void ReadStart(int fd, std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
}

std::uint64_t Empty(int fd, int depth) {
  std::uint64_t removed = 0;
  std::vector<std::string> names;
  NamesIn(fd, names);
  for (const std::string& name : names) {
    struct stat status {};
    if (fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(status.st_mode)) {
      if (depth >= MaxDepth) continue;
      const UniqueFd sub(openat(fd, name.c_str(), DirectoryFlags));
      if (!sub.IsOpen()) continue;
      removed += Empty(sub.Get(), depth + 1);
      if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0) ++removed;
    } else if (unlinkat(fd, name.c_str(), 0) == 0) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace

Outcome<UniqueFd> OpenDirectory(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsOpen()) return Outcome<UniqueFd>::Failure(errno);
  return fd;
}

Outcome<UniqueFd> CreatePrivateDirectory(int parent, const std::string& name) {
  if (mkdirat(parent, name.c_str(), 0700) != 0) return Outcome<UniqueFd>::Failure(errno);
  UniqueFd fd(openat(parent, name.c_str(), DirectoryFlags));
  if (!fd.IsOpen()) return Outcome<UniqueFd>::Failure(errno);
  // Locked before anything else looks at it: a run that starts meanwhile
  // takes an unlocked directory of ours for one left by a killed run.
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return Outcome<UniqueFd>::Failure(EEXIST);
  struct stat status {};
  if (fstat(fd.Get(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != geteuid() ||
      (status.st_mode & 077) != 0 || !StillNamed(parent, name, fd.Get())) {
    return Outcome<UniqueFd>::Failure(EEXIST);
  }
  return fd;
}

Abandoned LockAbandoned(int parent, const std::string& name) {
  Abandoned found;
  struct stat named {};
  if (fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_uid != geteuid()) return found;
  if (S_ISDIR(named.st_mode)) {
    found.Fd = UniqueFd(openat(parent, name.c_str(), DirectoryFlags | O_NOATIME));
    found.Kind = Abandoned::Kind::Directory;
  } else if (S_ISREG(named.st_mode) && named.st_nlink == 1) {
    found.Fd = UniqueFd(openat(parent, name.c_str(), FileFlags));
    found.Kind = Abandoned::Kind::File;
  }
  struct stat open {};
  if (found.Kind == Abandoned::Kind::No || !found.Fd.IsOpen() || flock(found.Fd.Get(), LOCK_EX | LOCK_NB) != 0 ||
      fstat(found.Fd.Get(), &open) != 0 || !SameFile(named, open) || open.st_uid != geteuid()) {
    return Abandoned{};
  }
  return found;
}

bool NamesIn(int fd, std::vector<std::string>& names) {
  // Without changing the folder's access time where that is allowed (in a
  // folder of this user's).
  UniqueFd listing(openat(fd, ".", DirectoryFlags | O_NOATIME));
  if (!listing.IsOpen() && errno == EPERM) listing = UniqueFd(openat(fd, ".", DirectoryFlags));
  if (!listing.IsOpen()) return false;
  DIR* dir = fdopendir(listing.Get());
  if (dir == nullptr) return false;
  listing.Release();  // the listing owns it now
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const bool whole = errno == 0;
  closedir(dir);
  return whole;
}

bool FileBeginsWith(int parent, const std::string& name, std::string_view start) {
  struct stat named {};
  if (fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode) ||
      named.st_uid != geteuid() || named.st_nlink != 1) {
    return false;
  }
  const UniqueFd fd(openat(parent, name.c_str(), FileFlags));
  struct stat open {};
  if (!fd.IsOpen() || fstat(fd.Get(), &open) != 0 || !SameFile(named, open)) return false;
  std::string bytes(start.size(), '\0');
  ReadStart(fd.Get(), bytes);
  return bytes == start;
}

bool FileHolds(int fd, std::string_view bytes) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) != bytes.size()) {
    return false;
  }
  std::string held(bytes.size(), '\0');
  ReadStart(fd, held);
  return held == bytes;
}

std::uint64_t EmptyDirectory(int fd) { return Empty(fd, 0); }

bool RemoveDirectoryIfSame(int parent, const std::string& name, int fd) {
  return StillNamed(parent, name, fd) && unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

bool RemoveFileIfSame(int parent, const std::string& name, int fd) {
  return StillNamed(parent, name, fd) && unlinkat(parent, name.c_str(), 0) == 0;
}

}  // namespace veldrano::platform
