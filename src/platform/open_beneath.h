#pragma once
#include <string>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// Opens the directory relative ("a/b/c"; empty for root itself) beneath the
// directory open as root, one name at a time, never following a link
// (symbolic or /proc's magic ones) and never leaving root: what a path named
// when it was listed is reached again only through the same real folders.
// Fails with ELOOP when a folder on the way has become a link, ENOTDIR when
// it is no longer a folder, EXDEV when the way would leave root ("..", an
// absolute name).
Outcome<UniqueFd> OpenDirectoryBeneath(int root, const std::string& relative);

}  // namespace veldrano::platform
