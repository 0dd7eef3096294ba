#include "scan/directory_walk.h"

#include <algorithm>
#include <cerrno>

#include "platform/directory_reader.h"
#include "platform/file_system.h"
#include "platform/system_error.h"
#include "platform/tick_count.h"
#include "platform/trash_can.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "report/round_half_even.h"
#include "scan/listing_ahead.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/size_store.h"
#include "scan/window_access.h"
#include "scan/work_dir.h"
#include "signature/file_signature.h"
#include "signature/hash_cache.h"

namespace veldrano {

namespace {

using platform::DirectoryEntry;
using platform::DirectoryReader;

FolderIdentity IdentityOfFolder(const std::string& path) {
  dev_t device = 0;
  ino_t inode = 0;
  if (path.empty() || !platform::IdentityOf(path, device, inode)) return {};
  return FolderIdentity{static_cast<std::uint64_t>(device), static_cast<std::uint64_t>(inode)};
}

bool Is(const FolderIdentity& folder, dev_t device, ino_t inode) {
  return folder.Is(static_cast<std::uint64_t>(device), static_cast<std::uint64_t>(inode));
}

// A Trash folder, which the walk never enters: the user's home Trash, or a
// ".Trash" or ".Trash-<uid>" folder (whichever user's) at the top of a file
// system. A trashed file must never be the copy that stays while the last
// live one goes to the Trash, and nothing in a Trash may be ticked.
bool IsTrash(const DirectoryEntry& entry, bool inTopOfFileSystem) {
  return Is(ScanContext.HomeTrash, entry.Device, entry.Inode) ||
         (inTopOfFileSystem && platform::IsTopTrashName(entry.Name));
}

// Whether a listed directory is a Trash folder or lies inside one: each
// folder of its real path, from the root down, is looked at.
bool InsideTrash(const std::string& listed) {
  const platform::Outcome<std::string> real = platform::RealPath(listed);
  if (!real.Ok()) return false;
  dev_t aboveDevice = 0;
  ino_t aboveInode = 0;
  if (!platform::IdentityOf("/", aboveDevice, aboveInode)) return false;
  bool aboveIsTop = true;  // "/"
  std::string at;
  std::string_view rest = real.Value();
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (name.empty()) continue;
    at.append("/").append(name);
    dev_t device = 0;
    ino_t inode = 0;
    if (!platform::IdentityOf(at, device, inode)) return false;
    if (Is(ScanContext.HomeTrash, device, inode) || (aboveIsTop && platform::IsTopTrashName(name))) return true;
    aboveIsTop = device != aboveDevice;
    aboveDevice = device;
  }
  return false;
}

// Why a subdirectory the listing showed could not be opened as that
// directory (DirectoryReader::Replaced).
const char* FolderReplacedText(int error) {
  if (error == ELOOP) return ReplacedByLinkText;
  if (error == ENOTDIR) return "Replaced by a file since it was listed";
  return "Replaced by another folder since it was listed";
}

// Whether the filters leave out the entry of the directory reader lists (at
// path). A folder on another file system than its parent is a file system
// mounted there.
bool LeftOutByFilters(const FilterMatcher& filters, const DirectoryReader& reader, const std::string& path,
                      const DirectoryEntry& entry) {
  switch (entry.Kind) {
    case DirectoryEntry::Type::Directory:
      if (filters.OneFileSystem() && entry.Device != 0 && entry.Device != reader.Device()) return true;
      return filters.LeavesOutFolder(path, entry.Name);
    case DirectoryEntry::Type::File: return filters.LeavesOutFile(path, entry.Name, entry.Size);
    case DirectoryEntry::Type::Other: break;
  }
  return false;
}

// Why the walk passes over a subdirectory, if it does.
enum class PassOver { No, OwnWorkDir, Trash, Filtered, Reference };

// Whether, and why, the walk passes over the subdirectory entry of the
// directory reader lists (at path), which is the top of its file system or
// not; leftOut: the filters leave it out. Also asked on the thread listing
// ahead of the walk.
PassOver PassesOver(const DirectoryReader& reader, const std::string& path, const DirectoryEntry& entry,
                    bool topOfFileSystem, bool leftOut) {
  // The work directories of this program (the run's own store among them)
  // are never entered. They are the directories of the work-directory form
  // directly inside the temporary directory, which is recognised by its
  // identity, whatever name the walk reaches it under. Everything else in
  // the temporary directory is walked like any other place.
  if (Is(ScanContext.TempDir, reader.Device(), reader.Inode()) && IsOurWorkDir(reader.Descriptor(), entry.Name)) {
    return PassOver::OwnWorkDir;
  }
  if (IsTrash(entry, topOfFileSystem)) return PassOver::Trash;
  // Not even opened: an excluded folder the user cannot read gives no
  // error.
  if (leftOut) return PassOver::Filtered;
  // A reference folder is walked first, as a tree of its own: not again.
  const std::string subPath = path + entry.Name + "/";
  if (std::ranges::find(ScanContext.ReferenceFolders, subPath) != ScanContext.ReferenceFolders.end()) {
    return PassOver::Reference;
  }
  return PassOver::No;
}

void CountFile(const std::string& full) {
  ScanContext.FilesPending += 1;
  ScanContext.FilesFound += 1;
  ScanContext.LastOperation.assign("Checking Size of file ").append(full);
  ScanContext.TotalBytes += ScanContext.CurrentFileSize;
  ShowStatusWhenDue(1, [] { return FormatCount(' ', static_cast<long double>(ScanContext.FilesFound)); });
}

void HandOnFile(const std::string& full, const FileIdentity& listed) {
  TScanContext& ctx = ScanContext;
  ctx.FilesPending -= 1;
  ctx.LastOperation.assign("Creating MD5 signature of file ").append(full);
  ctx.BytesProcessed += ctx.CurrentFileSize;
  std::int64_t percent = 0;
  if (ctx.TotalBytes > 0) {
    percent = RoundHalfEven(ctx.BytesProcessed / ctx.TotalBytes * 100);
    Display().SetOverallProgress(static_cast<int>(std::clamp<std::int64_t>(percent, 0, 100)));
  }
  if (ctx.Estimator) {
    ShowStatusWhenDue(0, [&ctx] {
      return "Approx. time left: " +
             ctx.Estimator->Estimate(static_cast<long double>(ctx.FilesFound - ctx.FilesPending),
                                     static_cast<long double>(ctx.FilesFound));
    });
  }
  ProcessFile(full, ctx.CurrentFileSize, listed);
  ShowStatusWhenDue(1, [&ctx] { return FormatCount(' ', static_cast<long double>(ctx.FilesPending)); });
  if (ctx.TotalBytes > 0) ShowStatusWhenDue(2, [percent] { return std::to_string(percent) + " %"; });
}

}  // namespace

bool StatusDue(int slot) {
  return static_cast<long double>(platform::TickCount()) - ScanContext.PanelShownAt[static_cast<std::size_t>(slot)] >
         StatusEveryMilliseconds;
}

void ShowStatus(int slot, std::string_view text) {
  const auto now = static_cast<long double>(platform::TickCount());
  if (now - ScanContext.PanelShownAt[static_cast<std::size_t>(slot)] > StatusEveryMilliseconds) {
    ScanContext.PanelShownAt[static_cast<std::size_t>(slot)] = now;
    Display().SetStatusText(slot, text);
    ProcessMessages();
  }
}

namespace {

void Walk(DirectoryReader& reader, const std::string& path, bool topOfFileSystem, bool countingPass, bool metBefore,
          ListingAhead* ahead);

// Walks the subdirectory entry of the directory reader lists (at path),
// opened inside it, and only while it is still the directory listed; false
// when it could not be walked.
bool WalkInto(const DirectoryReader& reader, const DirectoryEntry& entry, const std::string& path, bool countingPass,
              bool metBefore, ListingAhead* ahead) {
  const std::string subPath = path + entry.Name + "/";
  DirectoryReader sub(reader, entry);
  const FilterMatcher* const filters = ScanContext.ActiveFilters.get();
  if (sub.IsOpen() && filters != nullptr && filters->OneFileSystem() && sub.Device() != reader.Device()) {
    // Mounted since it was listed (an automount point mounts when opened).
    if (!countingPass) ScanContext.FoldersFilteredOut += 1;
  } else if (sub.IsOpen()) {
    Walk(sub, subPath, sub.Device() != reader.Device(), countingPass, metBefore, ahead);
  } else if (countingPass) {
    // Reported by the processing pass, if it is still so.
  } else if (sub.Replaced()) {
    LogFileChanged(subPath, FolderReplacedText(sub.Error()));
    return false;
  } else {
    AddLogEntry(LogError, "Error while scanning...", subPath, SystemErrorText(sub.Error()));
    return false;
  }
  return true;
}

// The walk of the open directory reader, at path (ending in "/"), which is
// the top of its file system or not; metBefore: the directory, or one above
// it, was walked before in this pass; ahead: the listings made ahead of the
// walk, if any. Every subdirectory and file is opened inside it, as its
// listing showed it.
void Walk(DirectoryReader& reader, const std::string& path, bool topOfFileSystem, bool countingPass, bool metBefore,
          ListingAhead* ahead) {
  // The processing pass walks what the counting pass listed, where it kept
  // it: the same entries, as the counts were made of them. Else the
  // directory was listed ahead, or is listed now.
  std::optional<DirectoryReader::Listing> found;
  if (!countingPass) found = ScanContext.Listings.Take(reader.Device(), reader.Inode());
  if (!found && ahead != nullptr) found = ahead->Take(reader);
  const bool listedHere = !found;
  const DirectoryReader::Listing listing = found ? std::move(*found) : reader.ReadAll();
  if (listedHere && ahead != nullptr) ahead->Listed(reader, listing);
  const std::vector<DirectoryEntry>& entries = listing.Entries;
  if (!countingPass && !metBefore) metBefore = !RunStore().MeetFile(reader.Device(), reader.Inode());
  // What the filters leave out of this listing, decided once per entry;
  // empty when nothing is filtered.
  std::vector<char> leftOut;
  if (const FilterMatcher* const filters = ScanContext.ActiveFilters.get(); filters != nullptr) {
    leftOut.reserve(entries.size());
    for (const DirectoryEntry& entry : entries) leftOut.push_back(LeftOutByFilters(*filters, reader, path, entry));
  }
  const auto kept = [&leftOut](std::size_t index) { return leftOut.empty() || leftOut[index] == 0; };
  // The path of the file at hand, built in one buffer (a scan makes one
  // per file), and the last file handed on.
  std::string full;
  const DirectoryEntry* lastFile = nullptr;
  FolderTally tally{path};
  // The files a little further on are hashed ahead while this one is
  // processed: announced once they come within ReadAheadFiles, and again
  // within SecondChanceFiles, when the store may have learnt their size
  // from the files in between.
  constexpr std::size_t ReadAheadFiles = 32;
  constexpr std::size_t SecondChanceFiles = 4;
  // A file the first announcement settled (nothing to read, or its hashes
  // are in the cache) is not announced again.
  std::size_t hinted = 0;
  std::vector<char> settled(countingPass ? 0 : entries.size());
  // The cache of earlier runs is asked for the rows of this directory's
  // files at once, ahead of their lookups. A file it likely holds is
  // settled already: it is likely not read at all (as the announcement
  // would find, asking the cache again).
  std::shared_ptr<HashCache::RowsAhead> cacheRows;
  if (HashCache* const cache = ScanContext.Cache.get(); !countingPass && cache != nullptr && cache->ReadsAhead()) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> keys(entries.size());
    for (std::size_t index = 0; index < entries.size(); ++index) {
      const DirectoryEntry& entry = entries[index];
      if (entry.Kind == DirectoryEntry::Type::File && entry.Size > 0 && kept(index)) {
        keys[index] = {static_cast<std::uint64_t>(entry.Device), static_cast<std::uint64_t>(entry.Inode)};
      }
    }
    cacheRows = cache->ReadAhead(std::move(keys));
    for (std::size_t index = 0; cacheRows && index < entries.size(); ++index) {
      settled[index] = HashCache::LikelyHeld(*cacheRows, index);
    }
  }
  const auto hint = [&](std::size_t index) {
    const DirectoryEntry& file = entries[index];
    if (file.Kind != DirectoryEntry::Type::File || !kept(index) || settled[index] != 0) return;
    settled[index] =
        file.Size == 0 ||  // nothing to read
        !RunStore().HintRead(path, reader.Folder(), file.Name, static_cast<std::int64_t>(file.Size),
                             static_cast<std::uint64_t>(file.Device), static_cast<std::uint64_t>(file.Inode));
  };
  const auto hintUpTo = [&](std::size_t last) {
    for (; hinted < entries.size() && hinted <= last; ++hinted) hint(hinted);
  };
  // While most files are taken as listed, the files a little further on
  // that will likely need a look (see SizeStore::LookAheadAt) are looked at
  // on another thread, in order, ahead of the scan.
  constexpr std::size_t LookAheadFiles = 8;
  std::size_t lookedAt = 0;
  const bool looksAhead = !countingPass && !metBefore && RunStore().LooksAhead();
  const auto lookUpTo = [&](std::size_t last) {
    for (; lookedAt < entries.size() && lookedAt <= last; ++lookedAt) {
      const DirectoryEntry& file = entries[lookedAt];
      if (file.Kind != DirectoryEntry::Type::File || file.Links == 0 || !kept(lookedAt)) continue;
      RunStore().LookAheadAt(reader.Descriptor(), file.Name, static_cast<std::int64_t>(file.Size),
                             cacheRows && ScanContext.Cache->LikelyWhole(*cacheRows, lookedAt));
    }
  };

  // A listing begins with "." and ".."; like every entry, each lets the
  // window run first, so a Stop that came while the directory was being
  // listed lands before its first file.
  for (int dot = 0; dot < 2; ++dot) {
    if (ScanContext.StopRequested) return;
    ProcessMessages();
  }
  // A file looked at ahead is looked at in this folder, by its name here:
  // what is left of it goes with the folder, however the walk leaves it.
  struct LooksEndHere {
    bool Looking;
    ~LooksEndHere() {
      if (Looking && ScanContext.Store) ScanContext.Store->ForgetLooks();
    }
  } looksEndHere{looksAhead};
  for (std::size_t index = 0; index < entries.size(); ++index) {
    const DirectoryEntry& entry = entries[index];
    if (ScanContext.StopRequested) return;
    if (!countingPass) {
      hintUpTo(index + ReadAheadFiles);
      if (looksAhead) lookUpTo(index + LookAheadFiles);
      if (const std::size_t near = index + SecondChanceFiles; near < entries.size()) hint(near);
    }
    ProcessMessages();
    if (entry.Kind == DirectoryEntry::Type::Directory) {
      switch (PassesOver(reader, path, entry, topOfFileSystem, !kept(index))) {
        case PassOver::No:
          if (!WalkInto(reader, entry, path, countingPass, metBefore, ahead)) tally.Whole = false;
          break;
        case PassOver::Trash:
          if (!countingPass) ScanContext.TrashFoldersLeftOut += 1;
          break;
        case PassOver::Filtered:
          if (!countingPass) ScanContext.FoldersFilteredOut += 1;
          break;
        case PassOver::OwnWorkDir:
        case PassOver::Reference: break;
      }
    } else if (entry.Kind == DirectoryEntry::Type::File) {
      if (!kept(index)) {
        if (!countingPass) {
          ScanContext.FilesFilteredOut += 1;
          ScanContext.BytesFilteredOut += static_cast<long double>(entry.Size);
        }
        continue;
      }
      full.assign(path).append(entry.Name);
      lastFile = &entry;
      ShowStatus(3, full);
      ScanContext.CurrentFileSize = static_cast<std::int64_t>(entry.Size);
      if (countingPass) {
        CountFile(full);
        ScanContext.RepeatedLargeSizes.Count(static_cast<std::int64_t>(entry.Size), full,
                                             static_cast<std::uint64_t>(entry.Device),
                                             static_cast<std::uint64_t>(entry.Inode));
      } else {
        tally.Files += 1;
        tally.Bytes += static_cast<long double>(entry.Size);
        HandOnFile(full, FileIdentity{static_cast<std::uint64_t>(entry.Device), static_cast<std::uint64_t>(entry.Inode),
                                      metBefore, reader.Descriptor(), entry.Name, entry.ModifiedNs, entry.ChangedNs,
                                      static_cast<std::uint64_t>(entry.Links), entry.Owner, entry.Mode, cacheRows.get(),
                                      index});
      }
    }
  }
  // Every entry was visited: the listing went as far as it could.
  if (listing.StepError != 0 && !countingPass) {
    AddLogEntry(LogError, "Error while scanning...", lastFile != nullptr ? path + lastFile->Name : std::string(),
                SystemErrorText(listing.StepError));
  }
  // Only a folder walked to its end: a stopped one may hold more files than
  // were handed on; so may one whose listing broke off, or with a folder in
  // it that could not be walked, which its tally says.
  if (listing.StepError != 0) tally.Whole = false;
  if (!countingPass) ScanContext.ScannedFolders.push_back(std::move(tally));
  if (countingPass) ScanContext.Listings.Keep(reader.Device(), reader.Inode(), listing);
}

// Whether the walk goes into the subdirectory entry of the directory
// reader lists (at path): asked on the thread listing ahead of the walk.
bool GoesInto(const DirectoryReader& reader, const std::string& path, const DirectoryEntry& entry,
              bool topOfFileSystem) {
  const FilterMatcher* const filters = ScanContext.ActiveFilters.get();
  const bool leftOut = filters != nullptr && LeftOutByFilters(*filters, reader, path, entry);
  return PassesOver(reader, path, entry, topOfFileSystem, leftOut) == PassOver::No;
}

}  // namespace

void PrepareWalks() {
  platform::RaiseOpenFileLimit();
  ScanContext.TempDir = IdentityOfFolder(ScanContext.TempDirLower);
  ScanContext.HomeTrash = IdentityOfFolder(platform::HomeTrashPath());
  ScanContext.TrashFoldersLeftOut = 0;
  ScanContext.FilesFilteredOut = 0;
  ScanContext.BytesFilteredOut = 0;
  ScanContext.FoldersFilteredOut = 0;
}

void ScanDirectory(const std::string& listed, bool countingPass) {
  // An empty name is no directory (made into one, it would be "/").
  if (listed.empty()) return;
  const std::string path = EnsureTrailingBackslash(listed);
  // Opened by its name, following links: the directory the user chose.
  DirectoryReader reader(path);
  if (!reader.IsOpen()) {
    if (!countingPass) AddLogEntry(LogError, "Error while scanning...", path, SystemErrorText(reader.Error()));
    return;
  }
  if (InsideTrash(path)) {
    if (!countingPass) ScanContext.TrashFoldersLeftOut += 1;
    return;
  }
  // Files of this tree that are read later are opened below it again.
  if (!countingPass) RunStore().AddTreeRoot(path, reader.Folder());
  const bool top = reader.IsTopOfFileSystem();
  // Listed ahead, beside the walk: in the counting pass from the end of the
  // tree backwards, until the two meet; in the processing pass in the
  // walk's order, only when the counting pass could not keep every listing,
  // and then the rest.
  std::optional<ListingAhead> ahead;
  if (countingPass) {
    // Slim listings hold too little for the filters to be asked.
    const std::size_t slim = ScanContext.ActiveFilters ? 0 : ListingAhead::DefaultSlimBudget;
    ahead.emplace(reader, path, top, GoesInto, ListingAhead::Order::Backwards, ListingAhead::Known{},
                  ListingAhead::DefaultByteBudget, slim);
  } else if (!ScanContext.Listings.Complete()) {
    ahead.emplace(reader, path, top, GoesInto, ListingAhead::Order::Forwards, ScanContext.Listings.Subdirectories());
  }
  Walk(reader, path, top, countingPass, false, ahead ? &*ahead : nullptr);
}

}  // namespace veldrano
