#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace veldrano::platform {

// A file that takes the place of path only once it is written whole. The
// new file is created exclusively, under a dot-name of random characters,
// in path's own folder (reached through a descriptor); Commit syncs it and
// renames it over path relative to that folder. Until then path keeps what
// it held, and a file not committed is removed again.
//
// What stands at path is never opened: a symbolic link there is replaced,
// not followed; a FIFO, socket, device or directory is refused (the new file
// is not even created), so that nothing can make the writer block or write
// where it was not asked to. The new file gets the mode of a normal new file
// (0666 less the umask), or the mode and group of the regular file of this
// user that it replaces.
class ReplacingFile {
 public:
  explicit ReplacingFile(const std::string& path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  bool IsOpen() const { return file_.IsOpen(); }
  // errno of the first failure; 0 while there is none.
  int Error() const { return error_; }
  // The type (S_IFIFO, S_IFSOCK, S_IFCHR, S_IFBLK, S_IFDIR) of what stands
  // at path when it was refused for not being a regular file; 0 otherwise.
  mode_t RefusedType() const { return refusedType_; }

  // Buffered; false once a write has failed.
  bool Write(std::string_view bytes);
  // Writes what is buffered, syncs the file and puts it in place of path.
  // False, with the new file removed and path as it was, on any failure.
  bool Commit();

 private:
  bool Fail(int error);
  bool Flush();
  void RemoveNewFile();

  platform::UniqueFd folder_, file_;
  std::string name_, newName_;
  std::uint64_t newDevice_ = 0, newInode_ = 0;
  std::string buffer_;
  int error_ = 0;
  mode_t refusedType_ = 0;
};

}  // namespace veldrano::platform
