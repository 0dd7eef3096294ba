#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "report/stimazioni.h"
#include "results/results_model.h"
#include "scan/filter_matcher.h"
#include "scan/listing_memo.h"
#include "scan/repeated_sizes.h"
#include "scan/scan_filters.h"
#include "scan/size_store.h"
#include "scan/window_port.h"
#include "signature/hash_cache.h"

namespace veldrano {

// A folder known by its device and inode (both zero when unknown).
struct FolderIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool Is(std::uint64_t device, std::uint64_t inode) const {
    return (Device != 0 || Inode != 0) && device == Device && inode == Inode;
  }
};

// The state of a scan, shared by the engine and the window. One instance for
// the life of the process (ScanContext below); only the user-interface thread
// touches it. A run resets it; its values stay after the run for the exports
// and the summary.
struct TScanContext {
  bool Busy = false;           // a long operation runs; buttons and menus follow it
  bool StopRequested = false;  // Stop was pressed during this run

  std::int64_t FilesFound = 0;       // files seen by the counting pass
  std::int64_t FilesPending = 0;     // counted and not yet processed
  std::int64_t CurrentFileSize = 0;  // size of the file being visited
  std::int64_t DuplicateFiles = 0;   // duplicates recorded in this run
  std::int64_t FilesMetTwice = 0;    // files met again under another name: hard links, folders reached twice

  // Sums of file sizes, kept as extended floats: a file may be as large as
  // the largest 64-bit count (sparse files on tmpfs are), so that two of
  // them would overflow a 64-bit sum. Whole sums are exact up to 2^64.
  long double TotalBytes = 0;        // sizes of the files counted
  long double BytesProcessed = 0;    // sizes handed to the processing pass so far
  long double RecoverableBytes = 0;  // sizes of the duplicates recorded

  // Counters kept as extended floats; they only ever hold whole numbers.
  long double WarningCount = 0;
  long double ErrorCount = 0;

  std::string LastOperation;  // what the run is doing at this moment

  long double StoredFiles = 0;       // files entered into the size-keyed store
  long double StoreEntries = 0;      // entries (distinct sizes) created in the store
  long double ReleaseRemaining = 0;  // entries still to release

  std::string WorkDirPath;  // this run's work directory, ending in ".~vesk/"; named and made only when the store spills
  std::string TempDirLong;  // the system temporary directory; empty when it is missing
  std::string TempDirLower;  // its real form; the walk leaves out the work directories in it
  // Folders the walk knows by their identity, whatever name it reaches them
  // under; found once at the start of a run (PrepareWalks).
  FolderIdentity TempDir;                // the temporary directory: its work directories are left out
  FolderIdentity HomeTrash;              // the user's Trash, left out
  std::int64_t TrashFoldersLeftOut = 0;  // Trash folders the processing pass left out
  std::int32_t DigitsPerLevel = 0;       // size digits per directory level of the store
  std::unique_ptr<SizeStore> Store;      // the size-keyed store, from the processing pass to the release
  std::uint64_t WindowTurns = 0;         // times the window ran (ProcessMessages), from the start

  // Whether runs keep the hashes they compute in the user's cache and reuse
  // those of earlier runs; the front end sets it. HashCacheFolder empty:
  // HashCache::DefaultFolder().
  bool UseHashCache = false;
  std::string HashCacheFolder;
  int HashCacheBatchFiles = HashCache::DefaultBatchFiles;               // files written per transaction
  std::int64_t HashCacheRowsInMemory = HashCache::DefaultRowsInMemory;  // read whole up to this many files
  std::unique_ptr<HashCache> Cache;                                     // this run's, while it walks
  std::int64_t ReusedFiles = 0;  // files whose hashes the cache gave, not read again

  // What the user chose not to scan; the front end sets it, a run keeps it.
  ScanFilters Filters;
  // Whether what the user said is not duplicates (results/ignore_list.h)
  // is left out of the results (veldrano-scan --no-ignore: not).
  bool LeaveOutIgnored = true;
  // Filters compiled for the walks of this run (none: nothing is filtered).
  std::shared_ptr<const FilterMatcher> ActiveFilters;
  // What the processing pass left out by the filters: files with their
  // sizes, and folders not entered.
  std::int64_t FilesFilteredOut = 0;
  long double BytesFilteredOut = 0;
  std::int64_t FoldersFilteredOut = 0;

  std::unique_ptr<TStimazioni> Estimator;     // remaining-time estimator of this run
  std::array<long double, 4> PanelShownAt{};  // per status panel: tick of its last shown write
  // The results views' contents: the tree's root (none before a run has
  // recorded or ended, and after Clear) and the selection list's rows in
  // display order.
  std::unique_ptr<ResultsNode> ResultsRoot;
  std::vector<SelectionRow> Selection;
  // What the counting pass listed, for the processing pass (emptied by it).
  ListingMemo Listings;
  // The sizes of large files the counting pass met more than once.
  RepeatedSizes RepeatedLargeSizes;
  // Every folder the processing pass walked to its end, with the files it
  // handed on from it; emptied with the results.
  std::vector<FolderTally> ScannedFolders;
  // The directories the run behind the results walked, as it found them.
  std::vector<ListedFolder> ListedFolders;
  // The reference folders, each ending in "/": their files are never ticked
  // nor acted on. The directory list keeps it up to date.
  std::vector<std::string> ReferenceFolders;

  // The window the engine reports to; a run does not change it.
  WindowPort* Window = nullptr;
};

inline TScanContext ScanContext;

}  // namespace veldrano
