#pragma once
#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace veldrano::platform {

// Writes every byte of bytes to fd, going on after interruptions and short
// writes. False on failure, with errno set (EIO when the system wrote
// nothing and said no more).
inline bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace veldrano::platform
