#include "platform/open_beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>

namespace veldrano::platform {

namespace {

// A link met on the way fails as "not a directory" when it is opened
// without being followed: say it is a link, as openat2 does.
int ErrorAt(int folder, const std::string& name) {
  const int error = errno;
  struct stat named {};
  if (error == ENOTDIR && fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(named.st_mode)) {
    return ELOOP;
  }
  return error;
}

// Without openat2 (kernels before 5.6, or a sandbox that refuses it): one
// directory at a time, each opened for the way only (O_PATH) and never
// through a link.
int OpenNameByName(int root, std::string_view relative, int flags) {
  UniqueFd step;
  int at = root;
  for (std::size_t slash; (slash = relative.find('/')) != std::string_view::npos; relative.remove_prefix(slash + 1)) {
    const std::string name(relative.substr(0, slash));
    if (name.empty() || name == "." || name == "..") {
      errno = EXDEV;  // nothing but real names leads beneath the folder
      return -1;
    }
    step = UniqueFd(openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!step.IsOpen()) {
      errno = ErrorAt(at, name);
      return -1;
    }
    at = step.Get();
  }
  const std::string last(relative);
  if (last == "..") {
    errno = EXDEV;
    return -1;
  }
  const int fd = openat(at, last.c_str(), flags | O_NOFOLLOW);
  if (fd < 0) errno = ErrorAt(at, last);
  return fd;
}

}  // namespace

int OpenBeneath(int root, const std::string& relative, int flags) {
  if (relative.empty() || relative.starts_with('/')) {
    errno = relative.empty() ? ENOENT : EXDEV;
    return -1;
  }
  if (relative.find('/') == std::string::npos) return OpenNameByName(root, relative, flags);
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_NOFOLLOW);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const long fd = syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == EAGAIN || errno == EINTR) continue;  // a rename or mount meanwhile: looked up again
    // Sandboxes that do not know openat2 refuse it with ENOSYS or EPERM; an
    // EPERM for O_NOATIME is the caller's to handle.
    if (errno != ENOSYS && (errno != EPERM || (flags & O_NOATIME) != 0)) return -1;
    break;
  }
  return OpenNameByName(root, relative, flags);
}

Outcome<UniqueFd> OpenDirectoryBeneath(int root, const std::string& relative) {
  UniqueFd fd(OpenBeneath(root, relative.empty() ? "." : relative, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsOpen()) return Outcome<UniqueFd>::Failure(errno);
  return fd;
}

Outcome<UniqueFd> MakeDirectoriesBeneath(int root, const std::string& relative) {
  UniqueFd folder(fcntl(root, F_DUPFD_CLOEXEC, 0));
  std::size_t start = 0;
  while (folder.IsOpen() && start < relative.size()) {
    std::size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    const std::string step = relative.substr(start, slash - start);
    start = slash + 1;
    if (step.empty() || step == ".") continue;
    if (step == "..") return Outcome<UniqueFd>::Failure(EXDEV);
    if (mkdirat(folder.Get(), step.c_str(), 0777) != 0 && errno != EEXIST) return Outcome<UniqueFd>::Failure(errno);
    folder = UniqueFd(openat(folder.Get(), step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  if (!folder.IsOpen()) return Outcome<UniqueFd>::Failure(errno);
  return folder;
}

}  // namespace veldrano::platform
