#pragma once
#include <sys/types.h>

#include <map>
#include <string>
#include <string_view>

#include "platform/outcome.h"
#include "platform/unique_fd.h"

namespace veldrano::platform {

// The desktop's trash, laid out as freedesktop.org says a trash is laid
// out, so that any file manager can show and restore what we put there.
//
// A file goes to the trash of its own file system and is only ever renamed,
// never copied, so it cannot be lost half-way:
// - the home trash ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash) for a
//   file on the same file system as it;
// - else $topdir/.Trash/$uid, when $topdir/.Trash is a real directory of
//   the administrator with the sticky bit, and else $topdir/.Trash-$uid,
//   where $topdir is the top of the file's file system.
// A trash directory must be a directory of this user that nobody else may
// write into; only the home trash may be a link (to such a directory),
// being the user's own setting. Everything in a trash is opened relative to
// descriptors without following links.

// Where a trashed file went: its contents under files/, its description
// (original place and deletion date) under info/. The descriptors belong
// to the TrashCan that moved it.
struct TrashedFile {
  std::string FilePath;
  std::string InfoPath;
  int FilesDirectory = -1;
  int InfoDirectory = -1;
  std::string TrashName;  // in FilesDirectory
  std::string InfoName;   // in InfoDirectory
};

// Moves files to the trash. Keeps the trash directories it has opened for
// the files that follow: moving many files then costs little more than
// their info files and renames.
class TrashCan {
 public:
  // Moves the regular file name of the directory open as folder (whose real
  // path is realFolder, the place the info file records) to the trash, but
  // only while name is still the file (device, inode) given. Fails with
  // ESTALE when another file has taken its name, EXDEV when no trash on its
  // file system can be used (Problem() says why). On any failure the file
  // stays where it is.
  Outcome<TrashedFile> Move(int folder, const std::string& name, const std::string& realFolder, dev_t device,
                            ino_t inode);
  // Puts a file Move moved back under name in folder, never over another
  // file, and then drops its info file. 0, or the errno that kept it in the
  // trash: its info file then stays, so that it can still be restored.
  int PutBack(const TrashedFile& trashed, int folder, const std::string& name);
  // Why the last file that found no usable trash found none.
  const std::string& Problem() const { return problem_; }

  // A trash directory, open, with its two parts.
  struct Directory {
    std::string Path;
    std::string TopDir;  // the top of the file system it serves; empty for the home trash
    UniqueFd Files;
    UniqueFd Info;
  };

 private:
  Outcome<Directory*> TrashFor(dev_t device, const std::string& realFolder);

  std::map<dev_t, Directory> trashes_;
  bool homeTried_ = false;
  dev_t homeDevice_ = 0;     // the home trash's file system, once tried
  std::string homeProblem_;  // why the home trash cannot be used, if it cannot
  std::string problem_;
};

// The home trash directory as the environment names it (not checked).
std::string HomeTrashPath();

// Whether name is that of a trash at the top of a file system: ".Trash" or
// ".Trash-" and a user id.
bool IsTopTrashName(std::string_view name);

}  // namespace veldrano::platform
