#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace veldrano {

class SizeStore;

// The system temporary directory ($TMPDIR, else /tmp) in its real form,
// ending in "/"; empty when it cannot be resolved (missing): a run needs
// the temporary directory only once its store outgrows its memory.
std::string TempDirectoryIfAny();

// A path in the temporary directory that nothing occupies yet, ending in
// extension: a unique file "~XXXXXX.tmp" is created there to reserve the
// name (holding a line that says so), the extension replaces its ".tmp",
// and the reservation is removed again. The directory itself is made by
// WorkDir. Throws std::runtime_error when the temporary directory takes no
// new file.
std::string MakeWorkDirPath(const std::string& extension);

// The file "~XXXXXX.tmp" by which a run reserves a name in the temporary
// directory: created exclusively, locked, holding a line that says what it
// is (so that one a killed run left is known for ours), and removed when the
// object goes.
class NameReservation {
 public:
  // In the directory directoryPath, open as directory.
  NameReservation(int directory, const std::string& directoryPath);
  ~NameReservation();
  NameReservation(const NameReservation&) = delete;
  NameReservation& operator=(const NameReservation&) = delete;

  bool IsOpen() const { return file_.IsOpen(); }
  int Error() const { return error_; }  // errno when it could not be made
  // The name reserved: "~XXXXXX", without ".tmp".
  std::string Stem() const;

 private:
  int directory_;
  platform::UniqueFd file_;
  std::string name_;
  int error_ = 0;
};

// Whether name has the form of a work directory ("~" + six letters and
// digits + ".~vesk") or of the file reserving one ("~XXXXXX.tmp").
bool IsWorkDirName(std::string_view name);
bool IsReservedFileName(std::string_view name);

// Whether name in the directory open as parent is a work directory of ours,
// told by what it holds as the clean-up tells it (its name alone says
// nothing: a user may have a folder named so), running or not.
bool IsOurWorkDir(int parent, const std::string& name);

// Removes the work directories and reservations that runs of this user left
// in directory when they were killed (nobody holds their lock). They are
// told by what they hold, not by their names alone: a work directory of
// mode 0700 that holds nothing but files of the store (their names, their
// header), or a reservation that holds nothing but its line. Anything else
// (another user's, a running scan's, a folder or file of the user's own that
// only looks like ours) is left as it is. Returns the number of files and
// directories removed; nothing is removed when directory cannot be changed.
std::uint64_t RemoveAbandonedWorkFiles(const std::string& directory);

// The file-system name of the volume that holds path; empty when unknown.
std::string GetFileSystemName(const std::string& path);

// A run's work directory, named and made on first use: exclusively (a name
// taken in any form is never used, another is picked), private (mode 0700),
// locked for as long as the run holds it, and reached only through its
// descriptor.
class WorkDir {
 public:
  // path: the directory's planned full path, ending in "/"; empty to have a
  // name chosen in the temporary directory when the directory is needed
  // (MakeWorkDirPath), so that a run that never needs it never needs the
  // temporary directory either.
  explicit WorkDir(std::string path);
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  // The path; empty until it is chosen, and changed when the planned name
  // was taken by the time the directory was made.
  const std::string& Path() const { return path_; }
  bool Exists() const { return directory_.IsOpen(); }
  // The directory's descriptor, naming and making the directory first if
  // need be. Throws std::runtime_error when it cannot be made.
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
