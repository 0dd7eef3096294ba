#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/unique_fd.h"

namespace veldrano {

bool TakeSingleInstanceLock() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path;
  if (runtime != nullptr && *runtime != '\0') {
    path = std::string(runtime) + "/VELDRANO Duplicates finder.lock";
  } else {
    // Not in $TMPDIR: two copies started with different ones must still
    // find the same lock.
    path = "/tmp/VELDRANO Duplicates finder-" + std::to_string(getuid()) + ".lock";
  }
  // Kept open for the life of the process: the kernel drops the lock when
  // the process ends, normally or not.
  // Never through a link, never waiting (on a FIFO put there), and only a
  // file of our own: in a shared /tmp somebody else's file could otherwise
  // hold every copy of ours off.
  platform::UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600));
  if (!fd.IsOpen()) return true;
  struct stat status {};
  if (fstat(fd.Get(), &status) != 0 || status.st_uid != getuid() || !S_ISREG(status.st_mode)) return true;
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
    fd.Release();  // the lock lasts as long as the process
    return true;
  }
  return errno != EWOULDBLOCK;
}

}  // namespace veldrano
