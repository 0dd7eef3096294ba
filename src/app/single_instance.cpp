#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace veldrano {

bool TakeSingleInstanceLock() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path;
  if (runtime != nullptr && *runtime != '\0') {
    path = std::string(runtime) + "/VELDRANO Duplicates finder.lock";
  } else {
    const char* temp = std::getenv("TMPDIR");
    path = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/VELDRANO Duplicates finder-" +
           std::to_string(getuid()) + ".lock";
  }
  // Kept open for the life of the process: the kernel drops the lock when
  // the process ends, normally or not.
  // Never through a link, and only a file of our own: in a shared /tmp
  // somebody else's file could otherwise hold every copy of ours off.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return true;
  struct stat status {};
  if (fstat(fd, &status) != 0 || status.st_uid != getuid() || !S_ISREG(status.st_mode)) {
    close(fd);
    return true;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  const bool heldElsewhere = errno == EWOULDBLOCK;
  close(fd);
  return !heldElsewhere;
}

}  // namespace veldrano
