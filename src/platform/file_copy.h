#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/read_only_file.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// What a file shows besides its bytes, given to a copy of it.
struct FileLooks {
  mode_t Mode = 0600;  // the permission bits
  uid_t Owner = 0;
  gid_t Group = 0;
  timespec Accessed{};
  timespec Modified{};
};
FileLooks LooksOf(const struct stat& status);

// Creates name in the directory open as folder, exclusively and never
// through a link, as a copy of from's bytes with looks (the owner and group
// only where the system lets this user give them), synced to disk. 0, or
// errno; on a failure nothing is left under name. The copy, open, goes to
// made when given.
int CopyAsNewFile(const ReadOnlyFile& from, int folder, const std::string& name, const FileLooks& looks,
                  UniqueFd* made = nullptr);

}  // namespace veldrano::platform
