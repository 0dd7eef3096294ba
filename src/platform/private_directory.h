#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// Directories of our own in a place other users can write to (a shared
// temporary directory). Every operation works relative to an open
// descriptor and never follows a symbolic link, so nobody else can steer
// what is created, written or deleted.

// Opens the directory at path (following links: the path is the user's own
// choice).
Outcome<UniqueFd> OpenDirectory(const std::string& path);

// Creates the directory name in parent, which must not exist in any form
// (directory, file or link), with mode 0700, and opens it holding an
// exclusive lock (flock) on it. The result is checked to be a directory of
// this user that nobody else may enter, still linked under name. Fails with
// EEXIST when the name is taken.
Outcome<UniqueFd> CreatePrivateDirectory(int parent, const std::string& name);

// What LockAbandoned found at a name, open and locked.
struct Abandoned {
  enum class Kind { No, Directory, File };
  Kind Kind = Kind::No;
  UniqueFd Fd;
};

// Opens name in parent, without following a link, when it is a directory or
// a regular file of one link of this user whose lock nobody holds (its run
// has ended without removing it), and takes that lock. The kind is No for
// anything else (missing, a link, another user's, locked). Whether it is
// ours to remove is for the caller to tell from what it holds.
Abandoned LockAbandoned(int parent, const std::string& name);

// The names in the directory open as fd, but "." and "..". False, with
// the names read so far, when the listing could not be read to its end.
bool NamesIn(int fd, std::vector<std::string>& names);

// Whether name in parent is a regular file of this user with one link
// whose first bytes are start. It is opened without following a link,
// only when it is such a file, and read without changing its access time.
bool FileBeginsWith(int parent, const std::string& name, std::string_view start);

// Whether the regular file open as fd holds exactly bytes.
bool FileHolds(int fd, std::string_view bytes);

// Deletes everything inside the directory open as fd, depth first, without
// following links. Returns the number of files and directories deleted.
// What cannot be deleted stays.
std::uint64_t EmptyDirectory(int fd);

// Removes the empty directory name from parent, but only while name still
// is the directory open as fd. True when it was removed.
bool RemoveDirectoryIfSame(int parent, const std::string& name, int fd);

// Removes the file name from parent, but only while name still is the file
// open as fd. True when it was removed.
bool RemoveFileIfSame(int parent, const std::string& name, int fd);

}  // namespace veldrano::platform
