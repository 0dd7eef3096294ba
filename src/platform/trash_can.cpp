#include "platform/trash_can.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "platform/file_system.h"
#include "platform/open_beneath.h"
#include "platform/private_directory.h"
#include "platform/renaming.h"
#include "platform/system_error.h"
#include "platform/unique_fd.h"
#include "platform/user_folders.h"
#include "platform/write_all.h"

namespace veldrano::platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr std::size_t NameMax = 255;

// Whether the directory open as fd may hold a trash: this user's, and
// nobody else may write into it (they could read or swap what we put in
// it). Sets problem otherwise.
bool IsOwnPrivate(int fd, const std::string& path, std::string& problem) {
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    problem = "Can not read the folder " + path + ": " + SystemErrorText(errno);
    return false;
  }
  if (status.st_uid != geteuid()) {
    problem = "The Trash folder " + path + " belongs to another user";
    return false;
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem = "Other users may write into the Trash folder " + path;
    return false;
  }
  return true;
}

// Opens the directory name in parent (shown as path in messages), making it
// (mode 0700) when missing; a link there is refused, or followed when
// followLink is set. It must be one of this user's that nobody else may
// write into.
Outcome<UniqueFd> OpenOwnDirectory(int parent, const std::string& name, const std::string& path, std::string& problem,
                                   bool followLink = false) {
  if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = "Can not create the Trash folder " + path + ": " + SystemErrorText(errno);
    return Outcome<UniqueFd>::Failure(errno);
  }
  // Never through a link, which fails as ELOOP.
  UniqueFd fd(OpenBeneath(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsOpen() && errno == ELOOP && followLink) {
    fd = UniqueFd(openat(parent, name.c_str(), DirectoryFlags & ~O_NOFOLLOW));
    if (!fd.IsOpen() && (errno == ENOTDIR || errno == ENOENT)) {
      problem = "The Trash " + path + " is a link to no folder";
      return Outcome<UniqueFd>::Failure(ENOTDIR);
    }
  }
  if (!fd.IsOpen()) {
    const int error = errno;
    problem = error == ENOTDIR ? "The Trash " + path + " is not a folder"
              : error == ELOOP ? "The Trash folder " + path + " is a link"
                               : "Can not open the Trash folder " + path + ": " + SystemErrorText(error);
    return Outcome<UniqueFd>::Failure(error);
  }
  if (!IsOwnPrivate(fd.Get(), path, problem)) return Outcome<UniqueFd>::Failure(EPERM);
  return fd;
}


using TrashDirectory = TrashCan::Directory;

Outcome<TrashDirectory> OpenParts(UniqueFd trash, std::string path, std::string topDir, std::string& problem) {
  TrashDirectory opened{std::move(path), std::move(topDir), {}, {}};
  Outcome<UniqueFd> files = OpenOwnDirectory(trash.Get(), "files", opened.Path + "/files", problem);
  if (!files.Ok()) return Outcome<TrashDirectory>::Failure(files.Error());
  Outcome<UniqueFd> info = OpenOwnDirectory(trash.Get(), "info", opened.Path + "/info", problem);
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

// The home trash, opened (made if need be).
Outcome<TrashDirectory> OpenHomeTrash(std::string& problem) {
  const std::string home = HomeTrashPath();
  if (home.empty()) {
    problem = "No home folder is known, so there is no home Trash";
    return Outcome<TrashDirectory>::Failure(ENOENT);
  }
  Outcome<UniqueFd> dataHome = OpenOrMakeDirectories(ParentOf(home));
  if (!dataHome.Ok()) {
    problem = "Can not open the folder " + ParentOf(home) + ": " + SystemErrorText(dataHome.Error());
    return Outcome<TrashDirectory>::Failure(dataHome.Error());
  }
  Outcome<UniqueFd> trash = OpenOwnDirectory(dataHome.Value().Get(), "Trash", home, problem, true);
  if (!trash.Ok()) return Outcome<TrashDirectory>::Failure(trash.Error());
  return OpenParts(std::move(trash.Value()), home, {}, problem);
}

// The trash at the top of the file system of device, for a file whose
// directory's real path is directory.
Outcome<TrashDirectory> OpenTopTrash(dev_t device, const std::string& directory, std::string& problem) {
  const std::string top = TopDirectoryOf(directory, device);
  Outcome<UniqueFd> opened = OpenDirectory(top);
  struct stat status {};
  if (!opened.Ok() || fstat(opened.Value().Get(), &status) != 0 || status.st_dev != device) {
    problem = "Can not open the top folder " + top + " of its file system";
    return Outcome<TrashDirectory>::Failure(EXDEV);
  }
  const UniqueFd topFd = std::move(opened.Value());
  const std::string uid = std::to_string(geteuid());
  const std::string topSlash = top == "/" ? top : top + "/";
  // The administrator's shared trash: used only when it is a real directory
  // of the administrator with the sticky bit, so that users cannot remove
  // or hide each other's files; anyone else's .Trash is passed over.
  UniqueFd shared(openat(topFd.Get(), ".Trash", DirectoryFlags));
  if (shared.IsOpen() && fstat(shared.Get(), &status) == 0 && (status.st_mode & S_ISVTX) != 0 && status.st_uid == 0) {
    std::string ignored;
    Outcome<UniqueFd> own = OpenOwnDirectory(shared.Get(), uid, topSlash + ".Trash/" + uid, ignored);
    if (own.Ok()) {
      Outcome<TrashDirectory> parts = OpenParts(std::move(own.Value()), topSlash + ".Trash/" + uid, top, ignored);
      if (parts.Ok()) return parts;
    }
  }
  const std::string path = topSlash + ".Trash-" + uid;
  Outcome<UniqueFd> own = OpenOwnDirectory(topFd.Get(), ".Trash-" + uid, path, problem);
  if (!own.Ok()) return Outcome<TrashDirectory>::Failure(EXDEV);
  Outcome<TrashDirectory> parts = OpenParts(std::move(own.Value()), path, top, problem);
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

bool SameFile(int directory, const std::string& name, dev_t device, ino_t inode) {
  struct stat status {};
  return fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
         status.st_dev == device && status.st_ino == inode;
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
  std::size_t room = NameMax - std::string_view(".trashinfo").size() - suffix.size();
  // Cut between two characters: a UTF-8 sequence is never split (its
  // continuation bytes are 10xxxxxx; a sequence has three of them at most).
  for (int back = 0; room < name.size() && back < 3 && (static_cast<unsigned char>(name[room]) & 0xC0) == 0x80;
       ++back) {
    --room;
  }
  std::string trashName = name.substr(0, room);
  trashName += suffix;
  return trashName;
}

}  // namespace

std::string HomeTrashPath() {
  const std::string data = UserBaseDirectory("XDG_DATA_HOME", ".local/share");
  return data.empty() ? data : data + "/Trash";
}

bool IsTopTrashName(std::string_view name) {
  if (name == ".Trash") return true;
  constexpr std::string_view Prefix = ".Trash-";
  if (!name.starts_with(Prefix) || name.size() == Prefix.size()) return false;
  return name.find_first_not_of("0123456789", Prefix.size()) == std::string::npos;
}

Outcome<TrashCan::Directory*> TrashCan::TrashFor(dev_t device, const std::string& realFolder) {
  using Result = Outcome<Directory*>;
  if (auto found = trashes_.find(device); found != trashes_.end()) return &found->second;
  // A file on the home trash's file system goes there or nowhere.
  if (!homeTried_) {
    homeTried_ = true;
    Outcome<Directory> home = OpenHomeTrash(homeProblem_);
    struct stat status {};
    if (home.Ok() && fstat(home.Value().Files.Get(), &status) == 0) {
      homeDevice_ = status.st_dev;
      Directory& opened = trashes_.emplace(homeDevice_, std::move(home.Value())).first->second;
      if (homeDevice_ == device) return &opened;
    } else {
      homeDevice_ = DeviceOf(ParentOf(HomeTrashPath()));
    }
  }
  if (homeDevice_ == device) {
    problem_ = homeProblem_;
    return Result::Failure(EXDEV);
  }
  Outcome<Directory> top = OpenTopTrash(device, realFolder, problem_);
  if (!top.Ok()) return Result::Failure(EXDEV);
  return &trashes_.emplace(device, std::move(top.Value())).first->second;
}

Outcome<TrashedFile> TrashCan::Move(int folder, const std::string& name, const std::string& realFolder, dev_t device,
                                    ino_t inode) {
  using Result = Outcome<TrashedFile>;
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return Result::Failure(EINVAL);
  }
  if (!SameFile(folder, name, device, inode)) return Result::Failure(ESTALE);
  const std::string original = (realFolder == "/" ? "" : realFolder) + "/" + name;

  Outcome<Directory*> found = TrashFor(device, realFolder);
  if (!found.Ok()) return Result::Failure(found.Error());
  const Directory& can = *found.Value();
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
    const int renamed = RenameNoReplace(folder, name, can.Files.Get(), trashName);
    if (renamed == EEXIST) {
      dropInfo();
      continue;
    }
    if (renamed != 0) {
      dropInfo();
      return Result::Failure(renamed);
    }
    return TrashedFile{can.Path + "/files/" + trashName,
                       can.Path + "/info/" + infoName,
                       can.Files.Get(),
                       can.Info.Get(),
                       trashName,
                       infoName};
  }
  return Result::Failure(EEXIST);
}

int TrashCan::PutBack(const TrashedFile& trashed, int folder, const std::string& name) {
  if (const int error = RenameNoReplace(trashed.FilesDirectory, trashed.TrashName, folder, name); error != 0) {
    return error;
  }
  unlinkat(trashed.InfoDirectory, trashed.InfoName.c_str(), 0);
  return 0;
}

}  // namespace veldrano::platform
