#include "results/reached_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file_system.h"
#include "platform/open_beneath.h"
#include "platform/private_directory.h"
#include "platform/system_error.h"
#include "platform/trash_can.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

bool Is(const struct stat& status, const ScannedFile& id) {
  return static_cast<std::uint64_t>(status.st_dev) == id.Device &&
         static_cast<std::uint64_t>(status.st_ino) == id.Inode;
}

std::string FolderFailureText(int error) {
  switch (error) {
    case ENOENT: return "Its folder is no longer there";
    case ELOOP: return "A folder on its path is now a link";
    case ENOTDIR: return "A folder on its path is no longer a folder";
    case EXDEV: return "Its path leads out of the folder it was found in";
    default: return "Can not open its folder: " + SystemErrorText(error);
  }
}

std::string OpenFailureText(int error) {
  switch (error) {
    case ENOENT: return "No longer there";
    case ELOOP:
    case EISDIR:
    case ENOTSUP: return "No longer a regular file";
    default: return "Can not open it: " + SystemErrorText(error);
  }
}

// Whether the real path lies in a trash: the home trash, or a folder named
// as the trashes at the tops of file systems are.
bool InTrash(const std::string& real, const std::string& homeTrash) {
  if (!homeTrash.empty() && (real == homeTrash || real.starts_with(homeTrash + "/"))) return true;
  std::size_t start = 0;
  while (start < real.size()) {
    std::size_t slash = real.find('/', start);
    if (slash == std::string::npos) slash = real.size();
    if (platform::IsTopTrashName(real.substr(start, slash - start))) return true;
    start = slash + 1;
  }
  return false;
}

}  // namespace

std::string ReachedFile::RealFolder() const {
  const std::size_t slash = RealPath.rfind('/');
  return slash == 0 ? "/" : RealPath.substr(0, slash);
}

bool ReachedFile::StillNamed() const {
  struct stat named {};
  return File && fstatat(Folder.Get(), Name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         named.st_dev == Status().st_dev && named.st_ino == Status().st_ino;
}

FileReacher::FileReacher() {
  for (const ListedFolder& listed : ScanContext.ListedFolders) roots_.push_back(Root{listed, false, {}, {}, {}});
  if (const platform::Outcome<std::string> trash = platform::RealPath(platform::HomeTrashPath()); trash.Ok()) {
    homeTrash_ = trash.Value();
  }
}

FileReacher::Root* FileReacher::RootOf(const std::string& path) {
  Root* best = nullptr;
  for (Root& root : roots_) {
    const std::string& listed = root.Listed.Path;
    if (path.size() > listed.size() && path.starts_with(listed) &&
        (best == nullptr || listed.size() > best->Listed.Path.size())) {
      best = &root;
    }
  }
  if (best == nullptr || best->Tried) return best;
  best->Tried = true;
  Root& root = *best;
  platform::Outcome<platform::UniqueFd> opened = platform::OpenDirectory(root.Listed.Path);
  platform::Outcome<std::string> real = platform::RealPath(root.Listed.Path);
  struct stat status {
  }, realStatus{};
  // Its real path must lead to it too: that is where the Trash records the
  // files' places.
  if (!opened.Ok() || !real.Ok() || fstat(opened.Value().Get(), &status) != 0 ||
      stat(real.Value().c_str(), &realStatus) != 0 || !Is(status, root.Listed.Id) || !Is(realStatus, root.Listed.Id)) {
    root.Problem = "The folder " + root.Listed.Path + " is no longer the one the scan went through";
    return best;
  }
  root.Fd = std::move(opened.Value());
  root.RealPath = std::move(real.Value());
  return best;
}

std::optional<ReachedFile> FileReacher::Reach(const std::string& path, const ScannedFile& id, std::string& whyNot) {
  Root* root = RootOf(path);
  if (root == nullptr) {
    whyNot = "Outside every folder the scan went through";
    return std::nullopt;
  }
  if (!root->Fd.IsOpen()) {
    whyNot = root->Problem;
    return std::nullopt;
  }
  const std::string relative = path.substr(root->Listed.Path.size());
  const std::size_t slash = relative.rfind('/');
  const std::string folderPart = slash == std::string::npos ? std::string() : relative.substr(0, slash);
  ReachedFile reached;
  reached.Path = path;
  reached.Listed = root->Listed.Path;
  reached.ListedReal = root->RealPath;
  reached.Below = relative;
  reached.Name = slash == std::string::npos ? relative : relative.substr(slash + 1);
  reached.RealPath = (root->RealPath == "/" ? std::string() : root->RealPath) + "/" + relative;
  if (reached.Name.empty() || reached.Name == "." || reached.Name == "..") {
    whyNot = "Not the name of a file";
    return std::nullopt;
  }
  if (InTrash(reached.RealPath, homeTrash_)) {
    whyNot = "Inside a Trash folder";
    return std::nullopt;
  }
  platform::Outcome<platform::UniqueFd> folder = platform::OpenDirectoryBeneath(root->Fd.Get(), folderPart);
  if (!folder.Ok()) {
    whyNot = FolderFailureText(folder.Error());
    return std::nullopt;
  }
  reached.Folder = std::move(folder.Value());
  reached.File.emplace(reached.Folder.Get(), reached.Name);
  if (!reached.File->IsOpen()) {
    whyNot = OpenFailureText(reached.File->Error());
    return std::nullopt;
  }
  if (!Is(reached.Status(), id)) {
    whyNot = "Replaced by another file since the scan";
    return std::nullopt;
  }
  return reached;
}

int FileReacher::ListedFolderOf(const std::string& path, std::string& below) {
  Root* root = RootOf(path);
  if (root == nullptr || !root->Fd.IsOpen()) return -1;
  below = path.substr(root->Listed.Path.size());
  return root->Fd.Get();
}

}  // namespace veldrano
