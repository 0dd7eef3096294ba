#include "scan/directory_walk.h"

#include <algorithm>

#include "platform/directory_reader.h"
#include "platform/system_error.h"
#include "platform/tick_count.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "report/round_half_even.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/size_store.h"
#include "scan/window_access.h"
#include "scan/work_dir.h"

namespace veldrano {

namespace {

using platform::DirectoryEntry;

// The work directories of this program (the run's own store among them)
// are never entered. They are the directories of the work-directory form
// directly inside the temporary directory, which is recognised by its
// identity, whatever name the walk reaches it under. Everything else in
// the temporary directory is walked like any other place.
struct TempDirectory {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = !ScanContext.TempDirLower.empty() && platform::IdentityOf(ScanContext.TempDirLower, device, inode);

  bool Holds(const platform::DirectoryReader& listed) const {
    return known && listed.Device() == device && listed.Inode() == inode;
  }
};

void CountFile(const std::string& full) {
  ScanContext.FilesPending += 1;
  ScanContext.FilesFound += 1;
  ScanContext.LastOperation = "Checking Size of file " + full;
  ScanContext.TotalBytes += ScanContext.CurrentFileSize;
  ShowStatus(1, FormatCount(' ', static_cast<long double>(ScanContext.FilesFound)));
}

void HandOnFile(const std::string& full, const FileIdentity& listed) {
  TScanContext& ctx = ScanContext;
  ctx.FilesPending -= 1;
  ctx.LastOperation = "Creating MD5 signature of file " + full;
  ctx.BytesProcessed += ctx.CurrentFileSize;
  std::int64_t percent = 0;
  if (ctx.TotalBytes > 0) {
    percent = RoundHalfEven(ctx.BytesProcessed / ctx.TotalBytes * 100);
    Display().SetOverallProgress(static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100)));
  }
  if (ctx.Estimator) {
    ShowStatus(
        0, "Approx. time left: " + ctx.Estimator->Estimate(static_cast<long double>(ctx.FilesFound - ctx.FilesPending),
                                                           static_cast<long double>(ctx.FilesFound)));
  }
  ProcessFile(full, ctx.CurrentFileSize, listed);
  ShowStatus(1, FormatCount(' ', static_cast<long double>(ctx.FilesPending)));
  if (ctx.TotalBytes > 0) ShowStatus(2, std::to_string(percent) + " %");
}

}  // namespace

void ShowStatus(int slot, std::string_view text) {
  const auto now = static_cast<long double>(platform::TickCount());
  if (now - ScanContext.PanelShownAt[static_cast<std::size_t>(slot)] > 500) {
    ScanContext.PanelShownAt[static_cast<std::size_t>(slot)] = now;
    Display().SetStatusText(slot, text);
    ProcessMessages();
  }
}

namespace {

// The walk of one directory; metBefore: the directory, or one above it, was
// walked before in this pass.
void Walk(const std::string& rawPath, bool countingPass, bool metBefore) {
  const std::string path = EnsureTrailingBackslash(rawPath);
  platform::DirectoryReader reader(path);
  if (!reader.IsOpen()) {
    if (!countingPass) AddLogEntry(LogError, "Error while scanning...", path, SystemErrorText(reader.Error()));
    return;
  }
  const platform::DirectoryReader::Listing listing = reader.ReadAll();
  const std::vector<DirectoryEntry>& entries = listing.Entries;
  const bool inTemp = TempDirectory().Holds(reader);
  if (!countingPass && !metBefore) metBefore = !RunStore().MeetFile(reader.Device(), reader.Inode());
  std::string lastFile;
  // The files a little further on are hashed ahead while this one is
  // processed: announced once they come within ReadAheadFiles, and again
  // within SecondChanceFiles, when the store may have learnt their size
  // from the files in between.
  constexpr std::size_t ReadAheadFiles = 32;
  constexpr std::size_t SecondChanceFiles = 4;
  std::size_t hinted = 0;
  const auto hintUpTo = [&](std::size_t last) {
    for (; hinted < entries.size() && hinted <= last; ++hinted) {
      const DirectoryEntry& ahead = entries[hinted];
      if (ahead.Kind == DirectoryEntry::Type::File) {
        RunStore().HintRead(path + ahead.Name, static_cast<std::int64_t>(ahead.Size));
      }
    }
  };

  // A listing begins with "." and ".."; like every entry, each lets the
  // window run first, so a Stop that came while the directory was being
  // listed lands before its first file.
  for (int dot = 0; dot < 2; ++dot) {
    if (ScanContext.StopRequested) return;
    ProcessMessages();
  }
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const DirectoryEntry& entry = entries[index];
    if (ScanContext.StopRequested) return;
    if (!countingPass) {
      hintUpTo(index + ReadAheadFiles);
      const std::size_t near = index + SecondChanceFiles;
      if (near < entries.size() && entries[near].Kind == DirectoryEntry::Type::File) {
        RunStore().HintRead(path + entries[near].Name, static_cast<std::int64_t>(entries[near].Size));
      }
    }
    ProcessMessages();
    if (entry.Kind == DirectoryEntry::Type::Directory) {
      if (!(inTemp && IsWorkDirName(entry.Name))) Walk(path + entry.Name, countingPass, metBefore);
    } else if (entry.Kind == DirectoryEntry::Type::File) {
      const std::string full = path + entry.Name;
      lastFile = full;
      ShowStatus(3, full);
      ScanContext.CurrentFileSize = static_cast<std::int64_t>(entry.Size);
      if (countingPass) {
        CountFile(full);
      } else {
        HandOnFile(full, FileIdentity{static_cast<std::uint64_t>(entry.Device), static_cast<std::uint64_t>(entry.Inode),
                                      metBefore});
      }
    }
  }
  // Every entry was visited: the listing went as far as it could.
  if (listing.StepError != 0 && !countingPass) {
    AddLogEntry(LogError, "Error while scanning...", lastFile, SystemErrorText(listing.StepError));
  }
}

}  // namespace

void ScanDirectory(const std::string& path, bool countingPass) {
  // An empty name is no directory (made into one, it would be "/").
  if (!path.empty()) Walk(path, countingPass, false);
}

}  // namespace veldrano
