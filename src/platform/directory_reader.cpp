#include "platform/directory_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/unique_fd.h"

namespace veldrano::platform {

DirectoryReader::DirectoryReader(const std::string& path) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.IsOpen()) {
    error_ = errno;
    return;
  }
  struct stat status {};
  if (fstat(fd.Get(), &status) == 0) {
    device_ = status.st_dev;
    inode_ = status.st_ino;
  }
  dir_ = fdopendir(fd.Get());
  if (dir_ == nullptr) {
    error_ = errno;
  } else {
    fd.Release();  // the listing owns it now
  }
}

DirectoryReader::~DirectoryReader() { Close(); }

void DirectoryReader::Close() {
  if (dir_ != nullptr) closedir(dir_);
  dir_ = nullptr;
}

DirectoryReader::Listing DirectoryReader::ReadAll() {
  Listing listing;
  std::vector<DirectoryEntry>& entries = listing.Entries;
  if (dir_ == nullptr) return listing;
  const int fd = dirfd(dir_);
  for (;;) {
    errno = 0;
    const dirent* raw = readdir(dir_);
    if (raw == nullptr) {
      listing.StepError = errno;
      break;
    }
    const std::string_view name = raw->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry entry;
    entry.Name = name;
    // Sizes come from the directory data alone, without opening the file.
    // Symbolic links, FIFOs, sockets and devices stay Other.
    if (raw->d_type == DT_REG || raw->d_type == DT_DIR || raw->d_type == DT_UNKNOWN) {
      struct stat status {};
      if (fstatat(fd, raw->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.Device = status.st_dev;
        entry.Inode = status.st_ino;
        if (S_ISREG(status.st_mode)) {
          entry.Kind = DirectoryEntry::Type::File;
          entry.Size = static_cast<std::uint64_t>(status.st_size);
        } else if (S_ISDIR(status.st_mode)) {
          entry.Kind = DirectoryEntry::Type::Directory;
        }
      } else if (raw->d_type == DT_DIR) {
        // Gone or unreadable since it was listed: the walk reports it
        // when it tries to list it.
        entry.Kind = DirectoryEntry::Type::Directory;
      } else if (raw->d_type == DT_REG) {
        entry.Kind = DirectoryEntry::Type::File;
      }
    }
    entries.push_back(std::move(entry));
  }
  Close();
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.Name < b.Name; });
  return listing;
}

bool IdentityOf(const std::string& path, dev_t& device, ino_t& inode) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  device = status.st_dev;
  inode = status.st_ino;
  return true;
}

}  // namespace veldrano::platform
