#include "platform/read_only_file.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace veldrano::platform {

namespace {

constexpr int OpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Without openat2 (kernels before 5.6, or a sandbox that refuses it): one
// directory at a time, each opened for the way only (O_PATH) and never
// through a link.
int OpenBelowStepByStep(int folder, std::string_view below, int flags) {
  UniqueFd step;
  int at = folder;
  for (std::size_t slash; (slash = below.find('/')) != std::string_view::npos; below.remove_prefix(slash + 1)) {
    const std::string name(below.substr(0, slash));
    if (name.empty() || name == "." || name == "..") {
      errno = EXDEV;  // nothing but real names leads beneath the folder
      return -1;
    }
    step = UniqueFd(openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!step.IsOpen()) return -1;
    at = step.Get();
  }
  return openat(at, std::string(below).c_str(), flags);
}

// The file at below, beneath folder, never through a link nor out of it.
int OpenBelow(int folder, const std::string& below, int flags) {
  if (below.find('/') == std::string::npos) return openat(folder, below.c_str(), flags);
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const long fd = syscall(SYS_openat2, folder, below.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == EAGAIN || errno == EINTR) continue;  // a rename or mount meanwhile: looked up again
    // Sandboxes that do not know openat2 refuse it with ENOSYS or EPERM; an
    // EPERM for O_NOATIME is the caller's to handle.
    if (errno != ENOSYS && (errno != EPERM || (flags & O_NOATIME) != 0)) return -1;
    break;
  }
  return OpenBelowStepByStep(folder, below, flags);
}

}  // namespace

template <typename Open>
void ReadOnlyFile::OpenWith(const Open& open) {
  // O_NOATIME is refused (EPERM) on files of other users: then without it.
  fd_ = UniqueFd(open(OpenFlags | O_NOATIME));
  if (!fd_.IsOpen() && errno == EPERM) fd_ = UniqueFd(open(OpenFlags));
  if (!fd_.IsOpen()) {
    error_ = errno;
    return;
  }
  if (fstat(fd_.Get(), &status_) != 0) {
    error_ = errno;
  } else if (!S_ISREG(status_.st_mode)) {
    error_ = S_ISDIR(status_.st_mode) ? EISDIR : ENOTSUP;
  }
  if (error_ != 0) {
    fd_.Reset();
    status_ = {};
  }
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
  OpenWith([&path](int flags) { return openat(AT_FDCWD, path.c_str(), flags); });
}

ReadOnlyFile::ReadOnlyFile(int folder, const std::string& below) {
  OpenWith([folder, &below](int flags) { return OpenBelow(folder, below, flags); });
}

ReadOnlyFile::ReadOnlyFile(const AnchoredPath& where) {
  if (where.Folder) {
    OpenWith([&where](int flags) { return OpenBelow(where.Folder->Get(), where.Below, flags); });
  } else {
    OpenWith([&where](int flags) { return openat(AT_FDCWD, where.Below.c_str(), flags); });
  }
}

ssize_t ReadOnlyFile::ReadAt(void* data, std::size_t n, std::uint64_t offset) const {
  for (;;) {
    const ssize_t got = pread(fd_.Get(), data, n, static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

ssize_t ReadOnlyFile::ReadAt(void* data, std::size_t n, std::uint64_t offset, bool& cached) const {
  // RWF_NOWAIT: only what is in memory already, else EAGAIN at once.
  iovec part{data, n};
  for (;;) {
    const ssize_t got = preadv2(fd_.Get(), &part, 1, static_cast<off_t>(offset), RWF_NOWAIT);
    if (got < 0 && errno == EINTR) continue;
    cached = got >= 0 || errno != EAGAIN;
    if (got > 0 || (got == 0 && n == 0)) return got;
    return ReadAt(data, n, offset);
  }
}

bool SameFileState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && SameTime(a.st_mtim, b.st_mtim) &&
         SameTime(a.st_ctim, b.st_ctim);
}

bool ReadOnlyFile::Rebase() {
  struct stat now {};
  if (fstat(fd_.Get(), &now) != 0) return false;
  status_ = now;
  return true;
}

bool ReadOnlyFile::Unchanged() const {
  struct stat now {};
  return fstat(fd_.Get(), &now) == 0 && SameFileState(now, status_);
}

}  // namespace veldrano::platform
