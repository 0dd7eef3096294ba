#include "platform/trash_can.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "platform/file_system.h"
#include "platform/private_directory.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr std::size_t NameMax = 255;

// Opens the directory name in parent, making it (mode 0700) when missing. It
// must be a real directory of this user that nobody else may write into:
// another user's directory there could read or swap what we put in it.
Outcome<UniqueFd> OpenOwnDirectory(int parent, const std::string& name) {
  if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) return Outcome<UniqueFd>::Failure(errno);
  UniqueFd fd(openat(parent, name.c_str(), DirectoryFlags));
  if (!fd.IsOpen()) return Outcome<UniqueFd>::Failure(errno);
  struct stat status {};
  if (fstat(fd.Get(), &status) != 0) return Outcome<UniqueFd>::Failure(errno);
  if (status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Outcome<UniqueFd>::Failure(EPERM);
  }
  return fd;
}

// Opens path as a directory, making it and its missing parents (mode 0700)
// as mkdir -p would. Links on the way are followed: it is the user's own
// setting.
Outcome<UniqueFd> OpenOrMakeDirectories(const std::string& path) {
  if (Outcome<UniqueFd> existing = OpenDirectory(path); existing.Ok() || existing.Error() != ENOENT) return existing;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Outcome<UniqueFd>::Failure(errno);
    if (slash == std::string::npos) break;
  }
  return OpenDirectory(path);
}

std::string DataHome() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* user = getpwuid(geteuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  return home != nullptr ? std::string(home) + "/.local/share" : std::string();
}

using TrashDirectory = TrashCan::Directory;

Outcome<TrashDirectory> OpenParts(UniqueFd trash, std::string path, std::string topDir) {
  TrashDirectory opened{std::move(path), std::move(topDir), {}, {}};
  Outcome<UniqueFd> files = OpenOwnDirectory(trash.Get(), "files");
  if (!files.Ok()) return Outcome<TrashDirectory>::Failure(files.Error());
  Outcome<UniqueFd> info = OpenOwnDirectory(trash.Get(), "info");
  if (!info.Ok()) return Outcome<TrashDirectory>::Failure(info.Error());
  opened.Files = std::move(files.Value());
  opened.Info = std::move(info.Value());
  return opened;
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The top directory of the file system that holds directory (a real path):
// its highest ancestor on the same device.
std::string TopDirectoryOf(std::string directory, dev_t device) {
  while (directory != "/") {
    const std::string parent = ParentOf(directory);
    struct stat status {};
    if (stat(parent.c_str(), &status) != 0 || status.st_dev != device) break;
    directory = parent;
  }
  return directory;
}

// The device of path, or of its nearest existing ancestor.
dev_t DeviceOf(std::string path) {
  struct stat status {};
  while (stat(path.c_str(), &status) != 0) {
    if (path.empty() || path == "/") return 0;
    path = ParentOf(path);
  }
  return status.st_dev;
}

// The trash for a file on device whose directory's real path is directory.
Outcome<TrashDirectory> TrashFor(dev_t device, const std::string& directory) {
  const std::string home = HomeTrashPath();
  struct stat status {};
  // A file on the home trash's file system goes there or nowhere.
  if (!home.empty() && DeviceOf(ParentOf(home)) == device) {
    Outcome<UniqueFd> dataHome = OpenOrMakeDirectories(ParentOf(home));
    if (!dataHome.Ok()) return Outcome<TrashDirectory>::Failure(dataHome.Error());
    Outcome<UniqueFd> trash = OpenOwnDirectory(dataHome.Value().Get(), "Trash");
    if (!trash.Ok()) return Outcome<TrashDirectory>::Failure(trash.Error());
    return OpenParts(std::move(trash.Value()), home, {});
  }
  const std::string top = TopDirectoryOf(directory, device);
  Outcome<UniqueFd> opened = OpenDirectory(top);
  if (!opened.Ok() || fstat(opened.Value().Get(), &status) != 0 || status.st_dev != device) {
    return Outcome<TrashDirectory>::Failure(EXDEV);
  }
  const UniqueFd topFd = std::move(opened.Value());
  const std::string uid = std::to_string(geteuid());
  const std::string topSlash = top == "/" ? top : top + "/";
  // The administrator's shared trash: used only when it is a real directory
  // with the sticky bit, so that users cannot remove each other's.
  UniqueFd shared(openat(topFd.Get(), ".Trash", DirectoryFlags));
  if (shared.IsOpen() && fstat(shared.Get(), &status) == 0 && (status.st_mode & S_ISVTX) != 0) {
    Outcome<UniqueFd> own = OpenOwnDirectory(shared.Get(), uid);
    if (own.Ok()) {
      Outcome<TrashDirectory> parts = OpenParts(std::move(own.Value()), topSlash + ".Trash/" + uid, top);
      if (parts.Ok()) return parts;
    }
  }
  Outcome<UniqueFd> own = OpenOwnDirectory(topFd.Get(), ".Trash-" + uid);
  if (!own.Ok()) return Outcome<TrashDirectory>::Failure(EXDEV);
  Outcome<TrashDirectory> parts = OpenParts(std::move(own.Value()), topSlash + ".Trash-" + uid, top);
  if (!parts.Ok()) return Outcome<TrashDirectory>::Failure(EXDEV);
  return parts;
}

// The bytes of a path as a URL path: letters, digits, "-._~" and "/" as
// they are, every other byte as %XX.
std::string PercentEncoded(const std::string& path) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += Hex[byte >> 4];
      encoded += Hex[byte & 15];
    }
  }
  return encoded;
}

std::string DeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool SameFile(int directory, const std::string& name, dev_t device, ino_t inode) {
  struct stat status {};
  return fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
         status.st_dev == device && status.st_ino == inode;
}

// Renames without replacing anything; file systems that cannot promise that
// get a plain rename, whose target name the info file has reserved.
int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  struct stat status {};
  if (fstatat(toDir, to.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0 ? 0 : errno;
}

// The name under files/ for the attempt-th try: the file's own name, then
// with ".2", ".3"... added, shortened so that its info file's name still
// fits.
std::string TrashName(const std::string& name, int attempt) {
  std::string suffix;
  if (attempt > 1) {
    suffix = std::to_string(attempt);
    suffix.insert(suffix.begin(), '.');
  }
  const std::size_t room = NameMax - std::string_view(".trashinfo").size() - suffix.size();
  std::string trashName = name.substr(0, room);
  trashName += suffix;
  return trashName;
}

}  // namespace

std::string HomeTrashPath() {
  const std::string data = DataHome();
  return data.empty() ? data : data + "/Trash";
}

Outcome<bool> TrashCan::OpenFolder(const std::string& path) {
  // The same directory as the last file's, unless its name now leads
  // elsewhere.
  struct stat status {};
  if (folder_.Fd.IsOpen() && path == folder_.Path && stat(path.c_str(), &status) == 0 &&
      status.st_dev == folder_.Device && status.st_ino == folder_.Inode) {
    return true;
  }
  folder_ = Folder{};
  Outcome<UniqueFd> fd = OpenDirectory(path);
  if (!fd.Ok()) return Outcome<bool>::Failure(fd.Error());
  if (fstat(fd.Value().Get(), &status) != 0) return Outcome<bool>::Failure(errno);
  // Where a file manager puts a file back: the real place, links resolved.
  Outcome<std::string> real = RealPath(path);
  if (!real.Ok()) return Outcome<bool>::Failure(real.Error());
  folder_ = Folder{path, real.Value(), std::move(fd.Value()), status.st_dev, status.st_ino};
  return true;
}

Outcome<TrashedFile> TrashCan::Move(const std::string& path, dev_t device, ino_t inode) {
  using Result = Outcome<TrashedFile>;
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : ParentOf(path);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return Result::Failure(EINVAL);

  if (Outcome<bool> opened = OpenFolder(directory); !opened.Ok()) return Result::Failure(opened.Error());
  const int directoryFd = folder_.Fd.Get();
  if (!SameFile(directoryFd, name, device, inode)) return Result::Failure(ESTALE);
  const std::string original = (folder_.RealPath == "/" ? "" : folder_.RealPath) + "/" + name;

  auto found = trashes_.find(device);
  if (found == trashes_.end()) {
    Outcome<TrashDirectory> trash = TrashFor(device, folder_.RealPath);
    if (!trash.Ok()) return Result::Failure(trash.Error());
    found = trashes_.emplace(device, std::move(trash.Value())).first;
  }
  const TrashDirectory& can = found->second;
  // In a trash at the top of a file system the place is written relative to
  // that top, so the volume can be mounted elsewhere.
  std::string recorded = original;
  if (!can.TopDir.empty()) recorded = original.substr(can.TopDir == "/" ? 1 : can.TopDir.size() + 1);
  const std::string info = "[Trash Info]\nPath=" + PercentEncoded(recorded) + "\nDeletionDate=" + DeletionDate() + "\n";

  for (int attempt = 1; attempt <= 10000; ++attempt) {
    const std::string trashName = TrashName(name, attempt);
    const std::string infoName = trashName + ".trashinfo";
    // The info file comes first and is created exclusively: it reserves the
    // name against other programs trashing at the same moment.
    UniqueFd infoFd(
        openat(can.Info.Get(), infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!infoFd.IsOpen()) {
      if (errno == EEXIST) continue;
      return Result::Failure(errno);
    }
    const auto dropInfo = [&] { unlinkat(can.Info.Get(), infoName.c_str(), 0); };
    if (!WriteAll(infoFd.Get(), info) || close(infoFd.Release()) != 0) {
      const int error = errno != 0 ? errno : EIO;
      dropInfo();
      return Result::Failure(error);
    }
    const int renamed = RenameNoReplace(directoryFd, name, can.Files.Get(), trashName);
    if (renamed == EEXIST) {
      dropInfo();
      continue;
    }
    if (renamed != 0) {
      dropInfo();
      return Result::Failure(renamed);
    }
    // Another file may have taken the name between the check and the
    // rename: that one goes back.
    if (!SameFile(can.Files.Get(), trashName, device, inode)) {
      RenameNoReplace(can.Files.Get(), trashName, directoryFd, name);
      dropInfo();
      return Result::Failure(ESTALE);
    }
    return TrashedFile{can.Path + "/files/" + trashName, can.Path + "/info/" + infoName};
  }
  return Result::Failure(EEXIST);
}

}  // namespace veldrano::platform
