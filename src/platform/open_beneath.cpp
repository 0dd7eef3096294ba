#include "platform/open_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace veldrano::platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The kernel's own walk (openat2, Linux 5.6 and later): one call, and the
// kernel also refuses a way that a rename elsewhere makes leave root.
int OpenWithKernelWalk(int root, const std::string& relative) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (;;) {
    const long fd = syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != EAGAIN) return static_cast<int>(fd);
  }
}

// The same walk a name at a time, where the kernel has no openat2.
Outcome<UniqueFd> OpenNameByName(int root, std::string_view relative) {
  UniqueFd current(openat(root, ".", DirectoryFlags));
  if (!current.IsOpen()) return Outcome<UniqueFd>::Failure(errno);
  while (!relative.empty()) {
    const std::size_t slash = relative.find('/');
    const std::string name(relative.substr(0, slash));
    relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    if (name.empty() || name == ".") continue;
    if (name == "..") return Outcome<UniqueFd>::Failure(EXDEV);
    UniqueFd next(openat(current.Get(), name.c_str(), DirectoryFlags));
    if (!next.IsOpen()) {
      // A link fails as not a directory: say it is a link, as openat2 does.
      int error = errno;
      struct stat named {};
      if (error == ENOTDIR && fstatat(current.Get(), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(named.st_mode)) {
        error = ELOOP;
      }
      return Outcome<UniqueFd>::Failure(error);
    }
    current = std::move(next);
  }
  return current;
}

}  // namespace

Outcome<UniqueFd> OpenDirectoryBeneath(int root, const std::string& relative) {
  if (relative.starts_with('/')) return Outcome<UniqueFd>::Failure(EXDEV);
  if (relative.empty()) return OpenNameByName(root, relative);
  UniqueFd fd(OpenWithKernelWalk(root, relative));
  if (fd.IsOpen()) return fd;
  if (errno != ENOSYS) return Outcome<UniqueFd>::Failure(errno);
  return OpenNameByName(root, relative);
}

}  // namespace veldrano::platform
