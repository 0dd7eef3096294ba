#include "scan/scan_driver.h"

#include "results/ignore_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <future>
#include <optional>

#include "platform/termination_signals.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "results/reference_folders.h"
#include "results/results_model.h"
#include "scan/directory_walk.h"
#include "scan/failure_report.h"
#include "scan/filter_matcher.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/scan_scopes.h"
#include "scan/window_access.h"
#include "scan/window_texts.h"
#include "scan/work_dir.h"

namespace veldrano {

namespace {

using Button = WindowPort::Button;

// Releases the run's store, with its work directory when it has one. A
// request to end the program that arrives meanwhile waits until the store is
// gone: the release is short, and what it leaves would stay for good.
void ReleaseStore() {
  TScanContext& ctx = ScanContext;
  if (!ctx.Store) return;
  const platform::TerminationHeld held;
  ctx.ReleaseRemaining = ctx.StoreEntries;
  try {
    ReleaseWorkDir(*ctx.Store);
  } catch (...) {
    ctx.Store.reset();  // deletes what is on disk all the same
    throw;
  }
  ctx.Store.reset();
}

// The directories as this run finds them: whatever is done with its results
// later starts again from these very directories.
void RememberListedFolders() {
  std::vector<ListedFolder>& listed = ScanContext.ListedFolders;
  listed.clear();
  for (int i = 0; i < Directories().DirectoryCount(); ++i) {
    ListedFolder folder{EnsureTrailingBackslash(Directories().Directory(i)), {}};
    struct stat status {};
    if (stat(folder.Path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      folder.Id = {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
    }
    listed.push_back(std::move(folder));
  }
}

// The trees in the order they are walked: the reference folders first (a
// reference folder inside a listed directory as a tree of its own, which
// the walk of that directory then passes over), so that a file met both
// there and elsewhere (a folder mounted twice, a hard link) is met first
// where it is protected, and its other name counts as met twice.
std::vector<std::string> WalkOrder() {
  std::vector<std::string> order;
  for (const std::string& reference : ScanContext.ReferenceFolders) {
    if (std::ranges::find(order, reference) == order.end()) order.push_back(reference);
  }
  const std::size_t references = order.size();
  for (int i = 0; i < Directories().DirectoryCount(); ++i) {
    // As the list holds it (the walk and its log take it as typed).
    const std::string directory = Directories().Directory(i);
    const auto walkedFirst = order.begin() + static_cast<std::ptrdiff_t>(references);
    if (std::find(order.begin(), walkedFirst, EnsureTrailingBackslash(directory)) == walkedFirst) {
      order.push_back(directory);
    }
  }
  return order;
}

// The user's cache of hashes for this run, being opened on a thread of its
// own while the counting pass lists the trees: reading what it holds takes
// about as long as listing as many files. No future when the user does
// not want it.
struct OpenedCache {
  std::unique_ptr<HashCache> Cache;
  std::optional<HashCache::Problem> Problem;
};

std::future<OpenedCache> StartOpeningHashCache() {
  TScanContext& ctx = ScanContext;
  ctx.ReusedFiles = 0;
  ctx.Cache.reset();
  if (!ctx.UseHashCache) return {};
  return std::async(std::launch::async,
                    [folder = ctx.HashCacheFolder.empty() ? HashCache::DefaultFolder() : ctx.HashCacheFolder,
                     batchFiles = ctx.HashCacheBatchFiles, rows = ctx.HashCacheRowsInMemory] {
                      OpenedCache opened;
                      opened.Cache = HashCache::Open(folder, opened.Problem, batchFiles, rows);
                      return opened;
                    });
}

// Waits for the cache being opened and makes it the run's; a cache that
// could not be used as it was is told in one warning. True when the run
// has a cache.
bool FinishOpeningHashCache(std::future<OpenedCache>& opening) {
  if (!opening.valid()) return false;
  OpenedCache opened = opening.get();
  if (opened.Problem) AddLogEntry(LogWarning, opened.Problem->Text, opened.Problem->Name, opened.Problem->Comment);
  ScanContext.Cache = std::move(opened.Cache);
  return ScanContext.Cache != nullptr;
}

void ReturnToIdle() {
  ScanContext.LastOperation.clear();
  Display().SetTopCaption(IdleCaption);
}

// The part of the run that can fail. storeMade tells the caller whether a
// store belongs to this run.
void Run(bool& storeMade) {
  TScanContext& ctx = ScanContext;
  // Needed only when the store outgrows its memory (the work directory is
  // named then): a missing one fails only such a run, at that point.
  ctx.TempDirLong = TempDirectoryIfAny();
  // Already the real form, and a case-sensitive file system: the walk
  // compares the exact bytes.
  ctx.TempDirLower = ctx.TempDirLong;
  PrepareWalks();
  ctx.WarningCount = 0;
  ctx.ErrorCount = 0;
  Display().SetButtonEnabled(Button::Start, false);
  Display().SetButtonEnabled(Button::Stop, true);
  Display().SetButtonEnabled(Button::Reset, false);
  ctx.LastOperation.clear();
  ClearResults();
  RememberListedFolders();
  ctx.FilesPending = 0;
  ctx.DuplicateFiles = 0;
  ctx.FilesMetTwice = 0;

  if (Directories().DirectoryCount() == 0) {
    AddLogEntry(LogWarning,
                "No directory selected ; Please drag'n drop one or more directories to find duplicate files...");
    return;
  }

  // Filters are checked where they are typed; one that came through
  // unchecked stops the run before it walks anything it should not.
  std::string problem;
  ctx.ActiveFilters = ctx.Filters.Any() ? FilterMatcher::Make(ctx.Filters, problem) : nullptr;
  if (!problem.empty()) {
    AddLogEntry(LogError, "Filters not valid: " + problem);
    return;
  }

  // Runs of this user that were killed left their work files behind. A
  // temporary directory that is missing or read-only keeps what it holds.
  const std::uint64_t removed = ctx.TempDirLong.empty() ? 0 : RemoveAbandonedWorkFiles(ctx.TempDirLong);
  if (removed > 0) {
    AddLogEntry(LogInfo,
                "Work files of interrupted runs removed: " + FormatCount(' ', static_cast<long double>(removed)),
                ctx.TempDirLong);
  }
  // Named (and reserved) at the first spill, by the store's WorkDir.
  ctx.WorkDirPath.clear();
  ctx.DigitsPerLevel = GetFileSystemName(ctx.TempDirLong) == "NTFS" ? 4 : 8;
  ctx.StoredFiles = 0;
  ctx.ReleaseRemaining = 0;
  ctx.StoreEntries = 0;
  ctx.PanelShownAt = {};
  ctx.Store = std::make_unique<SizeStore>(ctx.WorkDirPath);
  storeMade = true;
  Display().SetOverallProgress(0);
  Display().SetFileProgress(0);
  Display().SetProgressBarsVisible(true);
  ctx.Estimator = std::make_unique<TStimazioni>();
  ctx.StopRequested = false;
  std::future<OpenedCache> opening = StartOpeningHashCache();
  ctx.TotalBytes = 0;
  ctx.FilesFound = 0;

  AddLogEntry(LogInfo, "Analysing...");
  ctx.Listings.Clear();
  ctx.RepeatedLargeSizes.Clear();
  const std::vector<std::string> directories = WalkOrder();
  for (const std::string& directory : directories) ScanDirectory(directory, true);
  const bool cacheUsed = FinishOpeningHashCache(opening);

  ctx.BytesProcessed = 0;
  ctx.RecoverableBytes = 0;
  AddLogEntry(LogInfo, "Files found: " + FormatCount(' ', static_cast<long double>(ctx.FilesFound)));
  AddLogEntry(LogInfo, "Total size: " + FormatSize(ctx.TotalBytes));
  AddLogEntry(LogInfo, "Working...");
  if (ctx.ActiveFilters) AddLogEntry(LogInfo, "Filters: " + DescribeFilters(ctx.Filters));
  for (const std::string& directory : directories) {
    AddLogEntry(LogInfo, "Job: " + directory + (InReferenceFolder(directory) ? " (reference)" : ""));
    ScanDirectory(directory, false);
  }

  ctx.Listings.Clear();
  ctx.RepeatedLargeSizes.Clear();
  // What this run hashed is written now, and the cache pruned: a later run
  // finds it whatever happens next.
  ctx.Cache.reset();
  for (int panel = 0; panel < 3; ++panel) Display().SetStatusText(panel, "");
  Display().SetOverallProgress(0);
  EnsureResultsRoot();
  ctx.Estimator.reset();

  if (ctx.StopRequested) {
    AddLogEntry(LogInfo, "Process stopped by the user", "", "Last operation: " + ctx.LastOperation);
  }
  if (ctx.TrashFoldersLeftOut > 0) {
    AddLogEntry(LogInfo,
                "Trash folders left out: " + FormatCount(' ', static_cast<long double>(ctx.TrashFoldersLeftOut)));
  }
  if (ctx.ActiveFilters) {
    std::string leftOut =
        "Left out by the filters: " + FormatCount(' ', static_cast<long double>(ctx.FilesFilteredOut)) + " files (" +
        FormatSize(ctx.BytesFilteredOut) + ")";
    if (ctx.FoldersFilteredOut > 0) {
      leftOut += "; folders not entered: " + FormatCount(' ', static_cast<long double>(ctx.FoldersFilteredOut));
    }
    AddLogEntry(LogInfo, leftOut);
  }
  if (ctx.FilesMetTwice > 0) {
    AddLogEntry(LogInfo, "Files met twice under other names (hard links, folders reached twice), not duplicates: " +
                             FormatCount(' ', static_cast<long double>(ctx.FilesMetTwice)));
  }
  if (const std::size_t referenceOnly = ctx.ResultsRoot->ReferenceOnly.size(); referenceOnly > 0) {
    AddLogEntry(LogInfo, "Groups only inside reference folders, left out: " +
                             FormatCount(' ', static_cast<long double>(referenceOnly)));
  }
  if (ctx.LeaveOutIgnored) {
    std::string problem;
    if (const auto ignored = LoadIgnoreList(problem)) {
      if (const std::size_t left = LeaveOutIgnored(*ignored); left > 0) {
        AddLogEntry(LogInfo,
                    "Left out as not duplicates: " + FormatCount(' ', static_cast<long double>(left)) + " files");
      }
    } else {
      AddLogEntry(LogWarning, "The list of what is not duplicates can not be read: nothing is left out", "", problem);
    }
  }
  if (cacheUsed) {
    AddLogEntry(LogInfo,
                "Signatures reused from earlier scans: " + FormatCount(' ', static_cast<long double>(ctx.ReusedFiles)));
  }
  AddLogEntry(LogInfo, "Duplicate files: " + FormatCount(' ', static_cast<long double>(ctx.DuplicateFiles)));
  if (ctx.DuplicateFiles > 0) {
    AddLogEntry(LogInfo, "Recoverable disc space: " + FormatSize(ctx.RecoverableBytes), "",
                FormatCount(' ', ctx.RecoverableBytes) + " Bytes");
  }
  if (ctx.StoredFiles > 0) {
    AddLogEntry(LogInfo, "Releasing resources...");
    ReleaseStore();  // counts ReleaseRemaining down from StoreEntries
  }
  ctx.Store.reset();
  Display().SetStatusText(3, ReadyText);
  Display().SetStatusText(2, "");
  Display().SetStatusText(1, "");
  if (ctx.WarningCount > 0) {
    AddLogEntry(LogWarningSummary,
                "THERE ARE WARNINGS (" + FloatToText(ctx.WarningCount) + ")... Please see logs above...");
  }
  if (ctx.ErrorCount > 0) {
    AddLogEntry(LogErrorSummary, "THERE ARE ERRORS (" + FloatToText(ctx.ErrorCount) + ")... Please see logs above...");
  }
  AddLogEntry(LogReady, ReadyText);
  Display().SetProgressBarsVisible(false);
}

}  // namespace

void LogFirstReadyLine() { AddLogEntry(LogReady, ReadyText, std::string(40, ' '), std::string(40, ' ')); }

bool sbStartClick() {
  TScanContext& ctx = ScanContext;
  const BusyScope busy;  // cleared last, after the idle caption
  Display().SetTopCaption("Working...");
  bool storeMade = false;
  bool reachedEnd = true;
  try {
    Run(storeMade);
  } catch (const std::exception& failure) {
    ReportFailure(failure.what());
    reachedEnd = false;
  } catch (...) {
    ReportFailure("Unknown failure");
    reachedEnd = false;
  }
  if (!reachedEnd) {
    // Ended early: nothing of the run may stay behind but the hashes it
    // found, kept for the next.
    ctx.Cache.reset();
    ctx.Estimator.reset();
    if (storeMade) {
      try {
        ReleaseStore();
      } catch (const std::exception&) {
        // The store is gone, its files deleted as far as they could be.
      }
    }
    ctx.Store.reset();
    Display().SetProgressBarsVisible(false);
  }
  ReturnToIdle();
  return reachedEnd;
}

void sbStopClick() {
  ScanContext.StopRequested = true;
  if (!ScanContext.LastOperation.empty()) {
    AddLogEntry(LogInfo, "Stop button pressed...", "", "Operation: " + ScanContext.LastOperation);
  } else {
    AddLogEntry(LogInfo, "Stop button pressed...");
  }
}

void sbResetClick() {
  const BusyScope busy;
  Directories().ClearDirectories();
  ClearResults();
  Display().ClearLog();
  Display().SetButtonEnabled(Button::Reset, false);
  LogFirstReadyLine();
}

}  // namespace veldrano
