#pragma once
#include <cstdint>
#include <string>

namespace veldrano::platform {

// An existing regular file opened for reading; closed when the object goes.
// Other processes may go on reading and writing the file meanwhile.
//
// Only regular files are opened: a FIFO would block the open, a device may
// react to being opened, so anything else is refused after a stat, before any
// open (EISDIR for a directory, ENOTSUP for the rest).
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // errno of the failed open or check; 0 when open.
  int Error() const { return error_; }
  int Descriptor() const { return fd_; }
  // Size in bytes when the file was opened.
  std::uint64_t Size() const { return size_; }

 private:
  void Fail(int error);

  int fd_ = -1;
  int error_ = 0;
  std::uint64_t size_ = 0;
};

}  // namespace veldrano::platform
