#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace veldrano::platform {

namespace {

// Mount points in /proc/self/mountinfo write blanks, tabs, newlines and
// backslashes as three-digit octal escapes.
std::string UnescapeMountPoint(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      out += static_cast<char>(std::strtol(field.substr(i + 1, 3).c_str(), nullptr, 8));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool IsUnder(const std::string& path, const std::string& mountPoint) {
  if (mountPoint == "/") return true;
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

Outcome<std::string> RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return Outcome<std::string>::Failure(errno);
  std::string result = resolved;
  std::free(resolved);
  return result;
}

std::string FileSystemNameOf(const std::string& path) {
  const Outcome<std::string> resolved = RealPath(path);
  if (!resolved.Ok()) return {};
  const std::string& real = resolved.Value();
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line, best, bestType;
  bool found = false;
  // Fields: id parent major:minor root mount-point options [optional...] - type source super-options
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, mountPoint, field;
    if (!(fields >> id >> parent >> device >> root >> mountPoint)) continue;
    while (fields >> field && field != "-") {
    }
    std::string type;
    if (!(fields >> type)) continue;
    mountPoint = UnescapeMountPoint(mountPoint);
    // Later lines mount over earlier ones at the same point.
    if (IsUnder(real, mountPoint) && (!found || mountPoint.size() >= best.size())) {
      best = mountPoint;
      bestType = type;
      found = true;
    }
  }
  return bestType;
}

Outcome<UniqueFile> CreateUniqueFile(const std::string& directory, const std::string& prefix,
                                     const std::string& suffix) {
  std::string pattern = directory;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += prefix + "XXXXXX" + suffix;
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  UniqueFd fd(mkostemps(buffer.data(), static_cast<int>(suffix.size()), O_CLOEXEC));
  if (!fd.IsOpen()) return Outcome<UniqueFile>::Failure(errno);
  return UniqueFile{std::move(fd), buffer.data()};
}

bool OnRotatingDisk(int fd) {
  struct stat status {};
  if (fstat(fd, &status) != 0 || major(status.st_dev) == 0) return false;
  const std::string device =
      "/sys/dev/block/" + std::to_string(major(status.st_dev)) + ":" + std::to_string(minor(status.st_dev));
  // A partition has no queue of its own: its disk, one folder up, has.
  for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
    std::ifstream flag(device + queue);
    char value = 0;
    if (flag >> value) return value == '1';
  }
  return false;
}

}  // namespace veldrano::platform
