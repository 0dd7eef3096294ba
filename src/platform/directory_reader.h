#pragma once
#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace veldrano::platform {

// One entry of a directory, as the walk needs it. Links are not followed: a
// symbolic link is Other, whatever it points at.
struct DirectoryEntry {
  enum class Type { File, Directory, Other };
  std::string Name;
  Type Kind = Type::Other;
  std::uint64_t Size = 0;  // regular files only
  dev_t Device = 0;        // files and directories: their identity
  ino_t Inode = 0;
  // Regular files: their times of modification and change (nanoseconds),
  // links, owner and mode, as listed.
  std::int64_t ModifiedNs = 0;
  std::int64_t ChangedNs = 0;
  nlink_t Links = 0;
  uid_t Owner = 0;
  mode_t Mode = 0;
};

// Lists one directory, and holds it open until the reader goes, so that
// what it lists is opened inside it whatever happens to its name meanwhile:
// one open directory per level of a walk.
class DirectoryReader {
 public:
  // The directory at path, following links (a directory the user named).
  explicit DirectoryReader(const std::string& path);
  // The subdirectory entry of the open directory parent, as parent's listing
  // showed it: opened inside parent, never through a link, and only while
  // it is still that directory (device, inode), or a file system mounted on
  // it since (an automount point mounts its own when it is opened).
  // Replaced() tells when it is neither.
  DirectoryReader(const DirectoryReader& parent, const DirectoryEntry& entry);
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  bool IsOpen() const { return folder_ != nullptr; }
  int Error() const { return error_; }  // errno when the listing cannot start
  // Not open because the name now leads to a link, a file or another
  // directory than the one listed.
  bool Replaced() const { return replaced_; }
  // The identity of the directory listed (zero when not open).
  dev_t Device() const { return device_; }
  ino_t Inode() const { return inode_; }
  // The directory, open; shared with whoever opens its files later.
  const std::shared_ptr<const UniqueFd>& Folder() const { return folder_; }
  int Descriptor() const { return folder_ ? folder_->Get() : -1; }
  // Whether the directory is the top of a file system: "/", or a directory
  // on another device than its parent (a file system mounted there).
  bool IsTopOfFileSystem() const;

  // Every entry but "." and "..", sorted by name (byte order) so that walks
  // are repeatable. A listing that broke off part of the way gives the
  // entries read until then, with the errno of the step that failed.
  struct Listing {
    std::vector<DirectoryEntry> Entries;
    int StepError = 0;  // 0 when the listing ended normally
    // Only what counting the files needs: each entry's name and kind, a
    // file's size, a directory's entry whole (see ListingAhead).
    bool Slim = false;
    std::vector<DirectoryEntry> Subdirectories() const;
  };
  Listing ReadAll();

 private:
  void Adopt(UniqueFd fd);

  std::shared_ptr<const UniqueFd> folder_;
  int error_ = 0;
  bool replaced_ = false;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// A walk holds one directory open per level: raises the soft limit of open
// descriptors (often 1024) to the hard limit, so that deep trees are walked
// whole. Programs this one starts may inherit it; none relies on select().
void RaiseOpenFileLimit();

// Device and inode of what path names (following links); false when it
// cannot be read.
bool IdentityOf(const std::string& path, dev_t& device, ino_t& inode);

}  // namespace veldrano::platform
