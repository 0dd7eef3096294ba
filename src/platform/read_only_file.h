#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace veldrano::platform {

// True when two statuses show the same file with the same size and the
// same times of change of its contents and of its inode.
bool SameFileState(const struct stat& a, const struct stat& b);

// Where a file of a scan is: a folder held open and the path below it, so
// that the file is found where it was listed even if a name above it is
// replaced meanwhile. Without a folder, Below is a path opened as it is.
struct AnchoredPath {
  std::shared_ptr<const UniqueFd> Folder;
  std::string Below;
};

// An existing regular file opened for reading, closed when the object goes.
// Other processes may go on reading and writing it meanwhile.
//
// The open never follows a symbolic link at the file's own name (a name
// replaced by a link since it was listed is not followed: ELOOP), nor, below
// a folder, anywhere on the way to it; it never waits (a FIFO put in its
// place opens at once); what was opened is then checked on the descriptor:
// anything but a regular file is refused (EISDIR for a directory, ENOTSUP
// for the rest). Reading does not touch the file's access time where the
// system lets us ask for that.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path);
  // The file below the open folder: a name in it, or a relative path that
  // is followed only through real directories beneath the folder (never a
  // link, never "..").
  ReadOnlyFile(int folder, const std::string& below);
  explicit ReadOnlyFile(const AnchoredPath& where);

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
  // Opens with open(flags), retried without O_NOATIME where it is refused,
  // and keeps what was opened only when it is a regular file.
  template <typename Open>
  void OpenWith(const Open& open);

  UniqueFd fd_;
  int error_ = 0;
  struct stat status_ {};
};

}  // namespace veldrano::platform
