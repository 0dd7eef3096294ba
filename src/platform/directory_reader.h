#pragma once
#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

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
};

// Lists one directory. The directory is open from construction to the end of
// ReadAll (or of the object): one open handle per directory level of a walk.
class DirectoryReader {
 public:
  explicit DirectoryReader(const std::string& path);
  ~DirectoryReader();
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  bool IsOpen() const { return dir_ != nullptr; }
  int Error() const { return error_; }  // errno when the listing cannot start
  // The identity of the directory listed (zero when not open).
  dev_t Device() const { return device_; }
  ino_t Inode() const { return inode_; }

  // Every entry but "." and "..", sorted by name (byte order) so that walks
  // are repeatable; the directory is closed afterwards. A listing that
  // broke off part of the way gives the entries read until then, with the
  // errno of the step that failed.
  struct Listing {
    std::vector<DirectoryEntry> Entries;
    int StepError = 0;  // 0 when the listing ended normally
  };
  Listing ReadAll();

 private:
  void Close();

  DIR* dir_ = nullptr;
  int error_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Device and inode of what path names (following links); false when it
// cannot be read.
bool IdentityOf(const std::string& path, dev_t& device, ino_t& inode);

}  // namespace veldrano::platform
