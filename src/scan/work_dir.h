#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace veldrano {

class SizeStore;

// The system temporary directory ($TMPDIR, else /tmp) in its real form,
// ending in "/". Throws std::runtime_error when it cannot be resolved.
std::string GetTempDirectory();

// The real form of path (links and dots resolved). Throws std::runtime_error
// when it cannot be resolved.
std::string GetLongPath(const std::string& path);

// A path in the temporary directory that nothing occupies yet, ending in
// extension: a unique empty file "~XXXXXX.tmp" is created there to reserve
// the name, the extension replaces its ".tmp", and the reservation is
// removed again. The directory itself is made only when the store needs it
// (WorkDir). Throws std::runtime_error when the temporary directory takes no
// new file.
std::string MakeWorkDirPath(const std::string& extension);

// Whether name has the form of a work directory ("~" + letters and digits +
// ".~vesk") or of the file reserving one ("~XXXXXX.tmp").
bool IsWorkDirName(std::string_view name);
bool IsReservedFileName(std::string_view name);

// Removes the work directories and reserved files that runs of this user
// left in directory when they were killed (nobody holds their lock), with
// everything inside them. Another user's, and a running scan's, are left
// alone. Returns the number of files and directories removed.
std::uint64_t RemoveAbandonedWorkFiles(const std::string& directory);

// The file-system name of the volume that holds path; empty when unknown.
std::string GetFileSystemName(const std::string& path);

// A run's work directory, made on first use: exclusively (a name taken in
// any form is never used, another is picked), private (mode 0700), locked
// for as long as the run holds it, and reached only through its descriptor.
class WorkDir {
 public:
  // path: the directory's planned full path, ending in "/".
  explicit WorkDir(std::string path);
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  // The path; it changes when the planned name was taken by the time the
  // directory was made.
  const std::string& Path() const { return path_; }
  bool Exists() const { return directory_.IsOpen(); }
  // The directory's descriptor, making the directory first if need be.
  // Throws std::runtime_error when it cannot be made.
  int Descriptor();
  // Deletes everything inside and the directory itself, when it was made.
  void Remove();

 private:
  std::string path_;
  platform::UniqueFd parent_, directory_;
};

// Deletes the store of the run, entry by entry, showing the progress: panel
// 1 the entries left, panel 2 the share done, panel 3 the entry at hand, the
// overall bar the share left. Then removes its work directory.
void ReleaseWorkDir(SizeStore& store);

}  // namespace veldrano
