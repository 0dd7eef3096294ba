#include "platform/own_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace veldrano::platform {

Outcome<UniqueFd> OpenOwnFile(const std::string& path, int flags) { return OpenOwnFile(AT_FDCWD, path, flags); }

Outcome<UniqueFd> OpenOwnFile(int folder, const std::string& name, int flags) {
  UniqueFd fd(openat(folder, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!fd.IsOpen() || fstat(fd.Get(), &status) != 0) return Outcome<UniqueFd>::Failure(errno);
  if (!S_ISREG(status.st_mode) || status.st_uid != geteuid()) return Outcome<UniqueFd>::Failure(EPERM);
  return fd;
}

bool ReadToEnd(int fd, std::string& bytes) {
  char block[65536];
  for (;;) {
    const ssize_t got = read(fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes.append(block, static_cast<std::size_t>(got));
  }
}

}  // namespace veldrano::platform
