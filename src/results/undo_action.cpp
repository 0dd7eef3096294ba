#include "results/undo_action.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/file_copy.h"
#include "platform/open_beneath.h"
#include "platform/private_directory.h"
#include "platform/read_only_file.h"
#include "platform/renaming.h"
#include "platform/same_bytes.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "results/action_journal.h"
#include "results/work_scope.h"

namespace veldrano {

namespace {

using platform::UniqueFd;

std::string CountText(std::int64_t n) { return FormatCount(' ', static_cast<long double>(n)); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}
std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

bool Is(const struct stat& status, std::uint64_t device, std::uint64_t inode) {
  return static_cast<std::uint64_t>(status.st_dev) == device && static_cast<std::uint64_t>(status.st_ino) == inode;
}

timespec TimeOf(std::int64_t ns) { return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)}; }

// Why a step failed, for the log.
struct Failure {
  std::string Text;
  int Error = 0;
};

// The folder at a real path, reached from "/" without following a link.
std::optional<UniqueFd> OpenRealFolder(const std::string& real, Failure& failure) {
  UniqueFd top(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  platform::Outcome<UniqueFd> folder = platform::OpenDirectoryBeneath(top.Get(), real.substr(1));
  if (folder.Ok()) return std::move(folder.Value());
  failure.Error = folder.Error();
  failure.Text = folder.Error() == ELOOP ? "A folder on the way to " + real + " is now a link"
                                         : "Can not open " + real + ": " + SystemErrorText(folder.Error());
  return std::nullopt;
}

// The folder at real, made again when missing, but only below listed (the
// folder the file was found in, which must still be there).
std::optional<UniqueFd> OpenOrMakeFolder(const std::string& real, const std::string& listed, Failure& failure) {
  if (std::optional<UniqueFd> folder = OpenRealFolder(real, failure); folder || failure.Error != ENOENT) return folder;
  if (real != listed && !real.starts_with(listed + (listed == "/" ? "" : "/"))) return std::nullopt;
  std::optional<UniqueFd> top = OpenRealFolder(listed, failure);
  if (!top) return std::nullopt;
  platform::Outcome<UniqueFd> made = platform::MakeDirectoriesBeneath(top->Get(), real.substr(listed.size()));
  if (!made.Ok()) {
    failure.Text = "Can not make its folder again: " + SystemErrorText(made.Error());
    return std::nullopt;
  }
  std::optional<UniqueFd> current = std::move(made.Value());
  failure = {};
  return current;
}

// Copies from into folder under name (never over anything), with the
// looks the file had, proven byte for byte; false with why.
bool CopyBack(const platform::ReadOnlyFile& from, int folder, const std::string& name, const JournalEntry& e,
              Failure& failure) {
  const platform::FileLooks looks{static_cast<mode_t>(e.Mode), e.Owner, e.Group, TimeOf(e.AccessedNs),
                                  TimeOf(e.ModifiedNs)};
  std::string fresh;
  UniqueFd made;
  if (const int error = platform::MakeUnderFreshName(
          [&](const std::string& candidate) { return platform::CopyAsNewFile(from, folder, candidate, looks, &made); },
          fresh);
      error != 0) {
    failure.Text = "Can not copy its bytes back: " + SystemErrorText(error);
    return false;
  }
  struct stat copy {};
  fstat(made.Get(), &copy);
  const auto drop = [&] {
    struct stat named {};
    if (fstatat(folder, fresh.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && Is(named, copy.st_dev, copy.st_ino)) {
      unlinkat(folder, fresh.c_str(), 0);
    }
  };
  platform::ByteComparer comparer;
  const platform::ReadOnlyFile reread(folder, fresh);
  if (!reread.IsOpen() || comparer.Compare(reread, from) != platform::ByteComparer::Verdict::Equal) {
    drop();
    failure.Text = "Its copy did not come out equal";
    return false;
  }
  // The link there, or nothing: swapped with the copy, or the copy takes
  // the free name.
  struct stat there {};
  const bool taken = fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
  if (!taken) {
    if (const int error = platform::RenameNoReplace(folder, fresh, folder, name); error != 0) {
      drop();
      failure.Text = error == EEXIST ? "A file of its name is there now" : SystemErrorText(error);
      return false;
    }
    return true;
  }
  if (const int error = platform::ExchangeNames(folder, fresh, name); error != 0) {
    drop();
    failure.Text = "Can not put the copy in place of the link: " + SystemErrorText(error);
    return false;
  }
  struct stat out {};
  if (fstatat(folder, fresh.c_str(), &out, AT_SYMLINK_NOFOLLOW) != 0 || !Is(out, there.st_dev, there.st_ino)) {
    platform::ExchangeNames(folder, fresh, name);
    drop();
    failure.Text = "Replaced by another file meanwhile";
    return false;
  }
  unlinkat(folder, fresh.c_str(), 0);  // the link
  return true;
}

bool UndoTrash(const JournalEntry& e, Failure& failure) {
  const std::string filesPath = FolderOf(e.Place), trashName = NameOf(e.Place);
  std::optional<UniqueFd> files = OpenRealFolder(filesPath, failure);
  if (!files) return false;
  struct stat trashed {};
  if (fstatat(files->Get(), trashName.c_str(), &trashed, AT_SYMLINK_NOFOLLOW) != 0 ||
      !Is(trashed, e.PlaceDevice, e.PlaceInode)) {
    failure.Text = "No longer in the Trash as " + e.Place;
    return false;
  }
  std::optional<UniqueFd> folder = OpenOrMakeFolder(FolderOf(e.Path), e.Listed, failure);
  if (!folder) return false;
  if (const int error = platform::RenameNoReplace(files->Get(), trashName, folder->Get(), NameOf(e.Path)); error != 0) {
    failure.Text = error == EEXIST ? "A file of its name is there now: it stays in the Trash as " + e.Place
                                   : "Can not take it out of the Trash: " + SystemErrorText(error);
    return false;
  }
  // Its description goes too, so that the Trash does not list it.
  if (std::optional<UniqueFd> info = OpenRealFolder(FolderOf(filesPath) + "/info", failure)) {
    const std::string infoName = trashName + ".trashinfo";
    struct stat status {};
    if (fstatat(info->Get(), infoName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode)) {
      unlinkat(info->Get(), infoName.c_str(), 0);
    }
  }
  return true;
}

bool UndoLink(const JournalEntry& e, Failure& failure) {
  std::optional<UniqueFd> folder = OpenRealFolder(FolderOf(e.Path), failure);
  if (!folder) return false;
  const std::string name = NameOf(e.Path);
  struct stat link {
  }, target{};
  const bool hard = e.Action == "hard-link";
  const bool ours = fstatat(folder->Get(), name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                    (hard ? S_ISREG(link.st_mode) && Is(link, e.KeptDevice, e.KeptInode)
                          : S_ISLNK(link.st_mode) && fstatat(folder->Get(), name.c_str(), &target, 0) == 0 &&
                                Is(target, e.KeptDevice, e.KeptInode));
  if (!ours) {
    failure.Text = "No longer the link the action made";
    return false;
  }
  // The bytes come from the inode the link leads to.
  std::optional<platform::ReadOnlyFile> source;
  if (hard) {
    source.emplace(folder->Get(), name);
  } else {
    std::optional<UniqueFd> keptFolder = OpenRealFolder(FolderOf(e.Kept), failure);
    if (!keptFolder) return false;
    source.emplace(keptFolder->Get(), NameOf(e.Kept));
  }
  if (!source->IsOpen() || !Is(source->Status(), e.KeptDevice, e.KeptInode) || source->Status().st_size != e.Size) {
    failure.Text = "The copy it leads to, " + e.Kept + ", is no longer the one it was linked to";
    return false;
  }
  return CopyBack(*source, folder->Get(), name, e, failure);
}

bool UndoMove(const JournalEntry& e, Failure& failure) {
  std::optional<UniqueFd> there = OpenRealFolder(FolderOf(e.Place), failure);
  if (!there) return false;
  const std::string placeName = NameOf(e.Place);
  const platform::ReadOnlyFile moved(there->Get(), placeName);
  if (!moved.IsOpen() || !Is(moved.Status(), e.PlaceDevice, e.PlaceInode)) {
    failure.Text = "No longer at " + e.Place;
    return false;
  }
  std::optional<UniqueFd> folder = OpenOrMakeFolder(FolderOf(e.Path), e.Listed, failure);
  if (!folder) return false;
  int error = platform::RenameNoReplace(there->Get(), placeName, folder->Get(), NameOf(e.Path));
  if (error == 0) return true;
  if (error == EEXIST) {
    failure.Text = "A file of its name is there now: it stays at " + e.Place;
    return false;
  }
  if (error != EXDEV) {
    failure.Text = "Can not move it back: " + SystemErrorText(error);
    return false;
  }
  // Another file system: copied back, then removed where it went.
  struct stat free {};
  if (fstatat(folder->Get(), NameOf(e.Path).c_str(), &free, AT_SYMLINK_NOFOLLOW) == 0) {
    failure.Text = "A file of its name is there now: it stays at " + e.Place;
    return false;
  }
  if (!CopyBack(moved, folder->Get(), NameOf(e.Path), e, failure)) return false;
  if (!platform::RemoveFileIfSame(there->Get(), placeName, moved.Descriptor())) {
    failure.Text = "Copied back, but it could not be removed from " + e.Place;
  }
  return true;
}

}  // namespace

UndoSummary UndoJournal(const std::string& path) {
  UndoSummary summary;
  std::vector<JournalEntry> entries;
  std::string problem;
  std::optional<ActionJournal> journal;
  if (ReadJournal(path, entries, problem)) journal = ActionJournal::OpenExisting(path, problem);
  if (!journal) {
    AddLogEntry(LogError, "Can not undo", path, problem);
    summary.Refused = true;
    return summary;
  }
  std::erase_if(entries, [](const JournalEntry& e) { return e.Undone; });
  std::optional<WorkScope> work(std::in_place);
  AddLogEntry(LogInfo, "Undoing an action: " + CountText(static_cast<std::int64_t>(entries.size())), path);
  std::size_t done = 0;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry, ++done) {
    ProcessMessages();
    if (ScanContext.StopRequested || WindowClosing()) break;
    Display().SetOverallProgress(static_cast<int>(done * 100 / entries.size()));
    const JournalEntry& e = *entry;
    ScanContext.LastOperation = "Putting back: " + e.Path;
    if (e.Action == "share-blocks") {
      ++summary.NothingToUndo;
      continue;
    }
    Failure failure;
    const bool back = e.Action == "trash"  ? UndoTrash(e, failure)
                      : e.Action == "move" ? UndoMove(e, failure)
                                           : UndoLink(e, failure);
    if (!back) {
      ++summary.NotPutBack;
      AddLogEntry(LogWarning, "Not put back", e.Path, failure.Text);
      continue;
    }
    ++summary.PutBack;
    journal->MarkUndone(e.Line);
    const std::string how = e.Action == "trash"  ? "From the Trash"
                            : e.Action == "move" ? "From " + e.Place
                                                 : "A separate copy again, with its own mode and times";
    AddLogEntry(LogInfo, "Put back", e.Path, failure.Text.empty() ? how : how + "; " + failure.Text);
  }
  if (done < entries.size()) {
    summary.NotPutBack += static_cast<std::int64_t>(entries.size() - done);
    AddLogEntry(LogInfo, "Process stopped by the user", "",
                "Files not put back: " + CountText(static_cast<std::int64_t>(entries.size() - done)));
  }
  Display().SetOverallProgress(100);
  AddLogEntry(LogInfo, "Files put back: " + CountText(summary.PutBack));
  if (summary.NothingToUndo > 0) {
    AddLogEntry(LogInfo, "Files sharing blocks with a copy, with nothing to undo: " + CountText(summary.NothingToUndo));
  }
  if (summary.NotPutBack > 0) {
    AddLogEntry(LogWarningSummary,
                "Files not put back: " + CountText(summary.NotPutBack) + "... Please see logs above...");
  }
  journal->Sync();
  work.reset();
  AddLogEntry(LogReady, ReadyText);
  return summary;
}

}  // namespace veldrano
