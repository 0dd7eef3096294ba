#pragma once
#include <sys/types.h>

#include <map>
#include <string>

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
// - else $topdir/.Trash/$uid, when the administrator made $topdir/.Trash a
//   real directory with the sticky bit, and else $topdir/.Trash-$uid, where
//   $topdir is the top of the file's file system. An existing trash
//   directory must be a real directory of this user that nobody else may
//   write into.
// Everything is opened relative to descriptors without following links.

// Where a trashed file went: its contents under files/, its description
// (original place and deletion date) under info/.
struct TrashedFile {
  std::string FilePath;
  std::string InfoPath;
};

// Moves files to the trash. Keeps the trash directories it has opened, and
// the directory of the last file, for the files that follow: moving many
// files then costs little more than their info files and renames.
class TrashCan {
 public:
  // Moves the regular file at path to the trash, but only while it is still
  // the file (device, inode) given. Fails with ESTALE when another file has
  // taken its name, EXDEV when no trash on its file system can be used. On
  // any failure the file stays where it is.
  Outcome<TrashedFile> Move(const std::string& path, dev_t device, ino_t inode);

  // A trash directory, open, with its two parts.
  struct Directory {
    std::string Path;
    std::string TopDir;  // the top of the file system it serves; empty for the home trash
    UniqueFd Files;
    UniqueFd Info;
  };

 private:
  // The directory a file is in, open, and its real path.
  struct Folder {
    std::string Path;
    std::string RealPath;
    UniqueFd Fd;
    dev_t Device = 0;
    ino_t Inode = 0;
  };
  Outcome<bool> OpenFolder(const std::string& path);

  std::map<dev_t, Directory> trashes_;
  Folder folder_;
};

// The home trash directory as the environment names it (not checked).
std::string HomeTrashPath();

}  // namespace veldrano::platform
