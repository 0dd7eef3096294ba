#include "results/duplicate_folders.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "scan/scan_context.h"

namespace veldrano {

namespace {

constexpr std::int32_t None = -1;

// A group whose copies lie in more folders than this (empty files, licence
// texts) adds nothing to the folders a duplicate folder's copies are in:
// listing them would cost its folders for every folder holding one.
constexpr std::size_t MaxSharingFolders = 256;
// At most this many folders are tried as the one holding every file.
constexpr std::size_t MaxCandidates = 4096;
// Neither is looked for when every content of a folder is in more folders
// than MaxSharingFolders: a folder holding it all says nothing then.

// The folders scanned whole, in path order: then the tree of a folder is
// the run of folders from it up to End, all of whose paths begin with its.
struct FolderTree {
  std::vector<std::string_view> Path;
  std::vector<std::int32_t> Parent;
  std::vector<std::int32_t> End;
  std::vector<std::int32_t> Depth;
  std::vector<std::int64_t> Files;  // in its tree, as the scan found them
  std::vector<long double> Bytes;
  std::vector<char> Whole;  // every folder of its tree was walked whole
  std::unordered_map<std::string_view, std::int32_t> Index;

  std::int32_t Size() const { return static_cast<std::int32_t>(Path.size()); }
  bool Contains(std::int32_t outer, std::int32_t inner) const { return inner >= outer && inner < End[outer]; }
  std::int32_t FolderOf(std::string_view file) const {
    const auto found = Index.find(file.substr(0, file.rfind('/') + 1));
    return found == Index.end() ? None : found->second;
  }
  // The deepest folder holding both in its tree; none when they lie in
  // trees scanned apart.
  std::int32_t Common(std::int32_t a, std::int32_t b) const {
    while (a != b && a != None && b != None) {
      if (Depth[a] >= Depth[b]) {
        a = Parent[a];
      } else {
        b = Parent[b];
      }
    }
    return a == b ? a : None;
  }
};

FolderTree BuildTree(const std::vector<FolderTally>& folders) {
  std::vector<const FolderTally*> sorted;
  sorted.reserve(folders.size());
  for (const FolderTally& folder : folders) {
    if (folder.Path.ends_with('/')) sorted.push_back(&folder);
  }
  std::ranges::sort(sorted, {}, &FolderTally::Path);
  FolderTree tree;
  std::vector<std::int32_t> open;  // the folders whose tree the next may be in
  for (const FolderTally* folder : sorted) {
    if (!tree.Path.empty() && tree.Path.back() == folder->Path) {
      tree.Files.back() += folder->Files;  // walked twice: the same folder
      tree.Bytes.back() += folder->Bytes;
      tree.Whole.back() = tree.Whole.back() != 0 && folder->Whole ? 1 : 0;
      continue;
    }
    const std::int32_t at = tree.Size();
    while (!open.empty() && !std::string_view(folder->Path).starts_with(tree.Path[open.back()])) {
      tree.End[open.back()] = at;
      open.pop_back();
    }
    const std::int32_t parent = open.empty() ? None : open.back();
    tree.Path.push_back(folder->Path);
    tree.Parent.push_back(parent);
    tree.End.push_back(at + 1);
    tree.Depth.push_back(parent == None ? 0 : tree.Depth[parent] + 1);
    tree.Files.push_back(folder->Files);
    tree.Bytes.push_back(folder->Bytes);
    tree.Whole.push_back(folder->Whole ? 1 : 0);
    open.push_back(at);
  }
  for (const std::int32_t folder : open) tree.End[folder] = tree.Size();
  for (std::int32_t i = tree.Size() - 1; i >= 0; --i) {
    if (const std::int32_t parent = tree.Parent[i]; parent != None) {
      tree.Files[parent] += tree.Files[i];
      tree.Bytes[parent] += tree.Bytes[i];
      if (tree.Whole[i] == 0) tree.Whole[parent] = 0;
    }
  }
  tree.Index.reserve(tree.Path.size());
  for (std::int32_t i = 0; i < tree.Size(); ++i) tree.Index.emplace(tree.Path[i], i);
  return tree;
}

// Per folder, the files in its tree with a copy outside it. A file counts
// for the folders from its own up to, not including, the deepest folder
// holding all its copies: +1 at its folder, -1 there, summed over trees.
std::vector<std::int64_t> FilesCopiedOut(const FolderTree& tree, const std::vector<SignatureGroup>& groups,
                                         const std::vector<std::vector<std::int32_t>>& fileFolders) {
  constexpr std::int32_t Nothing = -2;  // no file yet
  const auto common = [&tree](std::int32_t a, std::int32_t b) {
    return a == Nothing ? b : b == Nothing ? a : tree.Common(a, b);
  };
  std::vector<std::int64_t> copied(tree.Path.size(), 0);
  std::vector<std::int32_t> after;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const std::vector<std::int32_t>& folders = fileFolders[g];
    after.assign(folders.size() + 1, Nothing);
    for (std::size_t i = folders.size(); i-- > 0;) after[i] = common(folders[i], after[i + 1]);
    std::int32_t before = Nothing;
    for (std::size_t i = 0; i < folders.size(); ++i) {
      if (const std::int32_t own = folders[i]; own != None) {
        copied[own] += 1;
        const std::int32_t others = common(before, after[i + 1]);
        if (const std::int32_t all = others == Nothing ? own : tree.Common(own, others); all != None) {
          copied[all] -= 1;
        }
      }
      before = common(before, folders[i]);
    }
  }
  for (std::int32_t i = tree.Size() - 1; i >= 0; --i) {
    if (tree.Parent[i] != None) copied[tree.Parent[i]] += copied[i];
  }
  return copied;
}

}  // namespace

std::vector<DuplicateFolder> FindDuplicateFolders(const std::vector<SignatureGroup>& groups,
                                                  const std::vector<FolderTally>& folders) {
  const FolderTree tree = BuildTree(folders);
  const std::int32_t count = tree.Size();
  // Each file's folder, and each group's folders: sorted, once each.
  std::vector<std::vector<std::int32_t>> fileFolders(groups.size());
  std::vector<std::vector<std::int32_t>> groupFolders(groups.size());
  // Per folder, the groups of its files (one entry per file).
  std::vector<std::int32_t> firstOfFolder(static_cast<std::size_t>(count) + 1, 0);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    auto& own = fileFolders[g];
    own.reserve(groups[g].Files.size());
    for (const std::string& file : groups[g].Files) {
      own.push_back(tree.FolderOf(file));
      if (own.back() != None) firstOfFolder[own.back() + 1] += 1;
    }
    auto& shared = groupFolders[g];
    shared = own;
    std::erase(shared, None);
    std::ranges::sort(shared);
    shared.erase(std::unique(shared.begin(), shared.end()), shared.end());
  }
  for (std::int32_t i = 0; i < count; ++i) firstOfFolder[i + 1] += firstOfFolder[i];
  std::vector<std::int32_t> groupsByFolder(static_cast<std::size_t>(firstOfFolder[count]));
  {
    std::vector<std::int32_t> next(firstOfFolder.begin(), firstOfFolder.end() - 1);
    for (std::size_t g = 0; g < groups.size(); ++g) {
      for (const std::int32_t folder : fileFolders[g]) {
        if (folder != None) groupsByFolder[next[folder]++] = static_cast<std::int32_t>(g);
      }
    }
  }

  const std::vector<std::int64_t> copied = FilesCopiedOut(tree, groups, fileFolders);
  // The highest of nested duplicate folders: parents come first in path order.
  std::vector<char> covered(static_cast<std::size_t>(count), 0);
  std::vector<std::int32_t> listed;
  for (std::int32_t i = 0; i < count; ++i) {
    const bool whole = tree.Whole[i] != 0 && tree.Files[i] > 0 && copied[i] == tree.Files[i];
    const bool above = tree.Parent[i] != None && covered[tree.Parent[i]] != 0;
    covered[i] = whole || above ? 1 : 0;
    if (whole && !above) listed.push_back(i);
  }

  std::vector<DuplicateFolder> result;
  result.reserve(listed.size());
  std::vector<std::int32_t> everyFileIn(listed.size(), None);
  std::vector<std::int32_t> groupSeen(groups.size(), None);
  std::vector<std::int32_t> groupSlot(groups.size(), 0);
  std::vector<std::int64_t> shares(static_cast<std::size_t>(count), 0);
  std::vector<std::int32_t> candidateSeen(static_cast<std::size_t>(count), None);
  std::vector<std::pair<std::int32_t, std::int64_t>> own;  // group, its files in the folder
  std::vector<std::int32_t> sharing, candidates;
  for (std::size_t l = 0; l < listed.size(); ++l) {
    const std::int32_t folder = listed[l];
    own.clear();
    for (std::int32_t at = firstOfFolder[folder]; at < firstOfFolder[tree.End[folder]]; ++at) {
      const std::int32_t g = groupsByFolder[at];
      if (groupSeen[g] != folder) {
        groupSeen[g] = folder;
        groupSlot[g] = static_cast<std::int32_t>(own.size());
        own.emplace_back(g, 0);
      }
      own[groupSlot[g]].second += 1;
    }
    // The rarest contents first: they rule folders out soonest.
    std::ranges::sort(own, {}, [&groupFolders](const auto& entry) { return groupFolders[entry.first].size(); });

    sharing.clear();
    for (const auto& [g, files] : own) {
      if (groupFolders[g].size() > MaxSharingFolders) continue;
      for (const std::int32_t other : groupFolders[g]) {
        if (tree.Contains(folder, other)) continue;
        if (shares[other] == 0) sharing.push_back(other);
        shares[other] += files;
      }
    }
    DuplicateFolder found{std::string(tree.Path[folder]), tree.Files[folder], tree.Bytes[folder], {}, false, {}};
    std::ranges::sort(sharing, [&shares](std::int32_t a, std::int32_t b) {
      return shares[a] != shares[b] ? shares[a] > shares[b] : a < b;
    });
    found.CopiesIn.reserve(sharing.size());
    for (const std::int32_t other : sharing) {
      found.CopiesIn.push_back({std::string(tree.Path[other]), shares[other]});
      shares[other] = 0;
    }

    // A folder holding every file holds a copy of the rarest one: only the
    // folders above its copies are tried, unless even that one is almost
    // everywhere.
    candidates.clear();
    const std::vector<std::int32_t>& rarest = groupFolders[own.front().first];
    for (std::size_t r = 0; rarest.size() <= MaxSharingFolders && r < rarest.size(); ++r) {
      for (std::int32_t up = rarest[r]; up != None && candidates.size() < MaxCandidates; up = tree.Parent[up]) {
        if (tree.Contains(up, folder) || tree.Contains(folder, up) || candidateSeen[up] == folder) break;
        candidateSeen[up] = folder;
        candidates.push_back(up);
      }
    }
    std::int32_t best = None;
    for (const std::int32_t candidate : candidates) {
      if (best != None && (tree.Depth[candidate] < tree.Depth[best] ||
                           (tree.Depth[candidate] == tree.Depth[best] && candidate > best))) {
        continue;
      }
      const bool holdsAll = std::ranges::all_of(own, [&](const auto& entry) {
        const auto& in = groupFolders[entry.first];
        const auto at = std::ranges::lower_bound(in, candidate);
        return at != in.end() && *at < tree.End[candidate];
      });
      if (holdsAll) best = candidate;
    }
    // Named by the highest folder holding no other files.
    while (best != None && tree.Parent[best] != None && tree.Files[tree.Parent[best]] == tree.Files[best] &&
           !tree.Contains(tree.Parent[best], folder)) {
      best = tree.Parent[best];
    }
    everyFileIn[l] = best;
    if (best != None) found.EveryFileIn = std::string(tree.Path[best]);
    result.push_back(std::move(found));
  }
  for (std::size_t l = 0; l < listed.size(); ++l) {
    if (everyFileIn[l] == None) continue;
    const auto other = std::ranges::lower_bound(listed, everyFileIn[l]);
    result[l].SameFiles =
        other != listed.end() && *other == everyFileIn[l] && everyFileIn[other - listed.begin()] == listed[l];
  }
  return result;
}

std::vector<DuplicateFolder> FindDuplicateFolders() {
  if (!ScanContext.ResultsRoot) return {};
  return FindDuplicateFolders(ScanContext.ResultsRoot->Groups, ScanContext.ScannedFolders);
}

}  // namespace veldrano
