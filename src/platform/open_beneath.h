#pragma once
#include <string>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// Opens relative ("name", or "a/b/name") beneath the directory open as root
// with flags, one name at a time, never following a link (symbolic or
// /proc's magic ones) and never leaving root: what a path named when it was
// listed is reached again only through the same real folders. A single
// name is one openat; a longer path one openat2 where the kernel has it.
// Returns the descriptor, or -1 with errno: ELOOP when a folder on the way
// has become a link, ENOTDIR when it is no longer a folder, EXDEV when the
// way would leave root ("..", an absolute name).
int OpenBeneath(int root, const std::string& relative, int flags);

// The directory relative beneath root by the same rules; root itself when
// relative is empty.
Outcome<UniqueFd> OpenDirectoryBeneath(int root, const std::string& relative);

// The directory relative beneath root, each missing folder on the way made
// (mode 0777 less the umask) and every one opened without following a
// link: a name that is not a folder fails with ENOTDIR or ELOOP.
Outcome<UniqueFd> MakeDirectoriesBeneath(int root, const std::string& relative);

}  // namespace veldrano::platform
