#include "platform/renaming.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <random>

namespace veldrano::platform {

namespace {
constexpr int NameAttempts = 100;
}

int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  struct stat status {};
  if (fstatat(toDir, to.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0 ? 0 : errno;
}

int ExchangeNames(int folder, const std::string& a, const std::string& b) {
  return renameat2(folder, a.c_str(), folder, b.c_str(), RENAME_EXCHANGE) == 0 ? 0 : errno;
}

std::string RandomDotName() {
  static constexpr char Characters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof Characters - 2);
  std::string name = ".veldrano-";
  for (int i = 0; i < 10; ++i) name += Characters[pick(device)];
  return name;
}

int MakeUnderFreshName(const std::function<int(const std::string&)>& make, std::string& name) {
  int error = EEXIST;
  for (int attempt = 0; attempt < NameAttempts && error == EEXIST; ++attempt) {
    name = RandomDotName();
    error = make(name);
  }
  if (error != 0) name.clear();
  return error;
}

}  // namespace veldrano::platform
