#pragma once
#include <string>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// The name the kernel gives the file system of the volume that holds path
// ("ext4", "tmpfs", "ntfs3", ...): the type of the mount whose mount point is
// the longest leading part of path's real form. Empty when it cannot be told.
std::string FileSystemNameOf(const std::string& path);

// Whether the file open as fd lies on a rotating disk (the kernel's
// queue/rotational of its block device, or of the disk holding that
// partition). False when it cannot be told (no block device: tmpfs,
// network and layered file systems).
bool OnRotatingDisk(int fd);

// The real, absolute form of path: links and "." / ".." resolved; fails
// when path does not exist or cannot be resolved.
Outcome<std::string> RealPath(const std::string& path);

// A new empty file, open, and its full path.
struct UniqueFile {
  UniqueFd Fd;
  std::string Path;
};
// Creates a new empty file in directory whose name is prefix, six random
// characters and suffix (never through an existing name or link).
Outcome<UniqueFile> CreateUniqueFile(const std::string& directory, const std::string& prefix,
                                     const std::string& suffix);

}  // namespace veldrano::platform
