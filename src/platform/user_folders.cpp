#include "platform/user_folders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/private_directory.h"
#include "platform/system_error.h"

namespace veldrano::platform {

std::string UserBaseDirectory(const char* variable, const char* fallback) {
  if (const char* set = std::getenv(variable); set != nullptr && set[0] == '/') return set;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(geteuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  return home != nullptr ? std::string(home) + "/" + fallback : std::string();
}

Outcome<UniqueFd> OpenOrMakeDirectories(const std::string& path) {
  if (Outcome<UniqueFd> existing = OpenDirectory(path); existing.Ok() || existing.Error() != ENOENT) return existing;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Outcome<UniqueFd>::Failure(errno);
    if (slash == std::string::npos) break;
  }
  return OpenDirectory(path);
}

Outcome<UniqueFd> OpenProgramFolder(const char* variable, const char* fallback, std::string& path,
                                    std::string& problem) {
  using Result = Outcome<UniqueFd>;
  const std::string base = UserBaseDirectory(variable, fallback);
  if (base.empty()) {
    problem = "No home folder is known";
    return Result::Failure(ENOENT);
  }
  path = base + "/veldrano";
  Outcome<UniqueFd> parent = OpenOrMakeDirectories(base);
  if (!parent.Ok()) {
    problem = "Can not open the folder " + base + ": " + SystemErrorText(parent.Error());
    return Result::Failure(parent.Error());
  }
  if (mkdirat(parent.Value().Get(), "veldrano", 0700) != 0 && errno != EEXIST) {
    problem = "Can not create the folder " + path + ": " + SystemErrorText(errno);
    return Result::Failure(errno);
  }
  UniqueFd folder(openat(parent.Value().Get(), "veldrano", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder.IsOpen()) {
    const int error = errno;
    problem = error == ELOOP || error == ENOTDIR ? "The folder " + path + " is a link or not a folder"
                                                 : "Can not open the folder " + path + ": " + SystemErrorText(error);
    return Result::Failure(error);
  }
  struct stat status {};
  if (fstat(folder.Get(), &status) != 0) {
    problem = "Can not read the folder " + path + ": " + SystemErrorText(errno);
    return Result::Failure(errno);
  }
  if (status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem = "The folder " + path + " belongs to another user or others may write into it";
    return Result::Failure(EPERM);
  }
  return folder;
}

}  // namespace veldrano::platform
