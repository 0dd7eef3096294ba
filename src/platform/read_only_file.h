#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/unique_fd.h"

namespace veldrano::platform {

// An existing regular file opened for reading, closed when the object goes.
// Other processes may go on reading and writing it meanwhile.
//
// The open never follows a symbolic link (a name replaced by a link since it
// was listed is not followed: ELOOP) and never waits (a FIFO put in its
// place opens at once); what was opened is then checked on the descriptor:
// anything but a regular file is refused (EISDIR for a directory, ENOTSUP
// for the rest). Reading does not touch the file's access time where the
// system lets us ask for that.
// True when two statuses show the same file with the same size and the
// same times of change of its contents and of its inode.
bool SameFileState(const struct stat& a, const struct stat& b);

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  // The file name in the directory open as directory, by the same rules.
  ReadOnlyFile(int directory, const std::string& name);

  bool IsOpen() const { return fd_.IsOpen(); }
  // errno of the failed open or check; 0 when open.
  int Error() const { return error_; }
  int Descriptor() const { return fd_.Get(); }
  // The file's status when it was opened.
  const struct stat& Status() const { return status_; }
  std::uint64_t Size() const { return static_cast<std::uint64_t>(status_.st_size); }

  // Reads up to n bytes at offset: the bytes read (0 at the end), -1 with
  // errno set on failure.
  ssize_t ReadAt(void* data, std::size_t n, std::uint64_t offset) const;
  // The same; cached tells whether the bytes were in memory already (true
  // when the system cannot tell).
  ssize_t ReadAt(void* data, std::size_t n, std::uint64_t offset, bool& cached) const;
  // True while the file is the same, with the same size and the same times
  // of change, as when it was opened.
  bool Unchanged() const;
  // Takes the file as it is now as the state Unchanged compares with; false
  // when its status cannot be read.
  bool Rebase();

 private:
  void Open(int directory, const char* name);

  UniqueFd fd_;
  int error_ = 0;
  struct stat status_ {};
};

}  // namespace veldrano::platform
