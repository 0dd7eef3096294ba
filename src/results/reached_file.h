#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/read_only_file.h"
#include "platform/unique_fd.h"
#include "results/results_model.h"

namespace veldrano {

// A file of the results reached again for an action, the way the scan
// reached it: from the listed folder it was found in, down to its own folder
// by descriptors without following a link, then opened without following
// one and checked to be the very file (device, inode) the scan saw. Every
// action works relative to Folder, so a folder on the path swapped for a
// link after the scan cannot lead an action anywhere else.
struct ReachedFile {
  std::string Path;      // as the results name it
  std::string RealPath;  // the same place with the listed folder's own links resolved
  platform::UniqueFd Folder;
  std::string Name;  // in Folder
  std::optional<platform::ReadOnlyFile> File;
  std::string Listed;      // the listed folder it was found in, as listed, ending in "/"
  std::string ListedReal;  // the same folder's real path
  std::string Below;       // its path below that folder

  const struct stat& Status() const { return File->Status(); }
  // The folder as its real path, where a file manager puts a file back.
  std::string RealFolder() const;
  // Whether Name in Folder still is the file open as File.
  bool StillNamed() const;
};

// Reaches the files of the results from the folders of the run that found
// them (ScanContext.ListedFolders). A listed folder is opened by its path
// (following links, as the walk did: it is the user's choice) and must be
// the directory the run found there; it stays open for the files after.
// Nothing inside a Trash is ever reached.
class FileReacher {
 public:
  FileReacher();

  // The file at path, which the scan found as id; none, with the reason for
  // the log in whyNot, when it cannot be reached or is no longer that file.
  std::optional<ReachedFile> Reach(const std::string& path, const ScannedFile& id, std::string& whyNot);
  // The listed folder that holds path, open as the scan found it (owned by
  // the reacher), with path's part below it in below; -1 when none does.
  int ListedFolderOf(const std::string& path, std::string& below);

 private:
  struct Root {
    ListedFolder Listed;
    bool Tried = false;
    platform::UniqueFd Fd;
    std::string RealPath;  // without a trailing "/", except for "/" itself
    std::string Problem;   // why it cannot be used
  };
  // The listed folder that holds path, opened; null when none does.
  Root* RootOf(const std::string& path);

  std::vector<Root> roots_;
  std::string homeTrash_;  // the home trash's real path, when it exists
};

}  // namespace veldrano
