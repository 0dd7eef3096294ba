#pragma once
#include <string>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// One of the user's base directories as the desktop names them: the
// environment variable's value when it is an absolute path, else
// fallback below the home folder ("XDG_STATE_HOME", ".local/state").
// Empty when no home folder is known.
std::string UserBaseDirectory(const char* variable, const char* fallback);

// Opens path as a directory, making it and its missing parents (mode 0700)
// as mkdir -p would. Links on the way are followed: it is the user's own
// setting.
Outcome<UniqueFd> OpenOrMakeDirectories(const std::string& path);

// The program's own folder, "veldrano" in the base directory named as
// UserBaseDirectory names it, made (mode 0700) when missing and opened
// without following a link at its own name: it must be a directory of this
// user that nobody else may write into. Its path goes to path; why it
// cannot be used, to problem.
Outcome<UniqueFd> OpenProgramFolder(const char* variable, const char* fallback, std::string& path,
                                    std::string& problem);

}  // namespace veldrano::platform
