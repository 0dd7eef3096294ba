#include "platform/directory_reader.h"

#include "platform/file_times.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "platform/open_beneath.h"
#include "platform/private_directory.h"

namespace veldrano::platform {

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
// Directory data is read in steps of this many bytes (what readdir asks for).
constexpr std::size_t ListingBytes = 32768;

}  // namespace

DirectoryReader::DirectoryReader(const std::string& path) {
  Outcome<UniqueFd> opened = OpenDirectory(path);
  if (!opened.Ok()) {
    error_ = opened.Error();
    return;
  }
  Adopt(std::move(opened.Value()));
}

DirectoryReader::DirectoryReader(const DirectoryReader& parent, const DirectoryEntry& entry) {
  UniqueFd fd(OpenBeneath(parent.Descriptor(), entry.Name, DirectoryFlags));
  if (!fd.IsOpen()) {
    error_ = errno;
    // A link (ELOOP) or anything but a directory (ENOTDIR) where the
    // listing saw a directory.
    replaced_ = error_ == ELOOP || error_ == ENOTDIR;
    return;
  }
  Adopt(std::move(fd));
  const bool listed = device_ == entry.Device && inode_ == entry.Inode;
  const bool mountedSince = device_ != entry.Device && device_ != parent.Device();
  if (IsOpen() && !listed && !mountedSince) {
    folder_.reset();
    replaced_ = true;
    error_ = ESTALE;
  }
}

void DirectoryReader::Adopt(UniqueFd fd) {
  struct stat status {};
  if (fstat(fd.Get(), &status) != 0) {
    error_ = errno;
    return;
  }
  device_ = status.st_dev;
  inode_ = status.st_ino;
  folder_ = std::make_shared<const UniqueFd>(std::move(fd));
}

bool DirectoryReader::IsTopOfFileSystem() const {
  struct stat parent {};
  if (!IsOpen() || fstatat(folder_->Get(), "..", &parent, 0) != 0) return false;
  return parent.st_dev != device_ || parent.st_ino == inode_;
}

std::vector<DirectoryEntry> DirectoryReader::Listing::Subdirectories() const {
  std::vector<DirectoryEntry> below;
  for (const DirectoryEntry& entry : Entries) {
    if (entry.Kind == DirectoryEntry::Type::Directory) below.push_back(entry);
  }
  return below;
}

DirectoryReader::Listing DirectoryReader::ReadAll() {
  Listing listing;
  std::vector<DirectoryEntry>& entries = listing.Entries;
  if (!IsOpen()) return listing;
  const int fd = folder_->Get();
  // The directory's data is read straight from the system (not through a
  // DIR, which would own the descriptor that stays open here).
  const std::unique_ptr<std::byte[]> buffer(new std::byte[ListingBytes]);
  for (;;) {
    const ssize_t got = getdents64(fd, buffer.get(), ListingBytes);
    if (got <= 0) {
      if (got < 0) listing.StepError = errno;
      break;
    }
    for (ssize_t at = 0; at < got;) {
      dirent64 raw;
      // The record's fixed part, copied out: records are packed and need not
      // be aligned for the structure.
      std::memcpy(&raw, buffer.get() + at, offsetof(dirent64, d_name));
      const char* const rawName = reinterpret_cast<const char*>(buffer.get() + at + offsetof(dirent64, d_name));
      at += raw.d_reclen;
      const std::string_view name = rawName;
      if (name == "." || name == "..") continue;
      DirectoryEntry entry;
      entry.Name = name;
      // Sizes come from the directory data alone, without opening the file.
      // Symbolic links, FIFOs, sockets and devices stay Other.
      if (raw.d_type == DT_REG || raw.d_type == DT_DIR || raw.d_type == DT_UNKNOWN) {
        struct stat status {};
        if (fstatat(fd, rawName, &status, AT_SYMLINK_NOFOLLOW) == 0) {
          entry.Device = status.st_dev;
          entry.Inode = status.st_ino;
          if (S_ISREG(status.st_mode)) {
            entry.Kind = DirectoryEntry::Type::File;
            entry.Size = static_cast<std::uint64_t>(status.st_size);
            entry.ModifiedNs = Nanoseconds(status.st_mtim);
            entry.ChangedNs = Nanoseconds(status.st_ctim);
            entry.Links = status.st_nlink;
            entry.Owner = status.st_uid;
            entry.Mode = status.st_mode;
          } else if (S_ISDIR(status.st_mode)) {
            entry.Kind = DirectoryEntry::Type::Directory;
          }
        } else if (raw.d_type == DT_DIR) {
          // Gone or unreadable since it was listed: the walk reports it
          // when it tries to list it.
          entry.Kind = DirectoryEntry::Type::Directory;
        } else if (raw.d_type == DT_REG) {
          entry.Kind = DirectoryEntry::Type::File;
        }
      }
      entries.push_back(std::move(entry));
    }
  }
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.Name < b.Name; });
  return listing;
}

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

bool IdentityOf(const std::string& path, dev_t& device, ino_t& inode) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return false;
  device = status.st_dev;
  inode = status.st_ino;
  return true;
}

}  // namespace veldrano::platform
