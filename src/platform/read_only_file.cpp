#include "platform/read_only_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldrano::platform {

namespace {

int NotRegularError(mode_t mode) { return S_ISDIR(mode) ? EISDIR : ENOTSUP; }

}  // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
  struct stat before {};
  if (stat(path.c_str(), &before) != 0) {
    Fail(errno);
    return;
  }
  if (!S_ISREG(before.st_mode)) {
    Fail(NotRegularError(before.st_mode));
    return;
  }

  // O_NONBLOCK: should the name have been replaced by a FIFO since the stat,
  // the open still returns at once; the fstat below then refuses it.
  fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd_ < 0) {
    Fail(errno);
    return;
  }

  struct stat opened {};
  if (fstat(fd_, &opened) != 0) {
    Fail(errno);
    return;
  }
  if (!S_ISREG(opened.st_mode)) {
    Fail(NotRegularError(opened.st_mode));
    return;
  }
  size_ = static_cast<std::uint64_t>(opened.st_size);
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) close(fd_);
}

void ReadOnlyFile::Fail(int error) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  error_ = error;
  size_ = 0;
}

}  // namespace veldrano::platform
