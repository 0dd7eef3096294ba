#pragma once
#include <string>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// A file of this user's own at path (a journal, a list the program keeps),
// opened with flags (O_RDONLY, or O_WRONLY | O_APPEND) without following a
// link at its name or waiting on a FIFO, and kept only when it is a regular
// file of this user: else EPERM.
Outcome<UniqueFd> OpenOwnFile(const std::string& path, int flags);
// The same for name in the directory open as folder.
Outcome<UniqueFd> OpenOwnFile(int folder, const std::string& name, int flags);

// Reads the open file from where it stands to its end into bytes; false,
// with errno set, on a failed read.
bool ReadToEnd(int fd, std::string& bytes);

}  // namespace veldrano::platform
