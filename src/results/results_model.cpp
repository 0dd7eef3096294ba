#include "results/results_model.h"

#include <sys/stat.h>

#include "platform/file_times.h"
#include "report/ascii_case.h"

#include "report/formatting.h"
#include "results/reference_folders.h"
#include "scan/scan_context.h"
#include "scan/window_access.h"

namespace veldrano {

namespace {

// Letters a-z as upper case, everything else as it is.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

}  // namespace

void EnsureResultsRoot() {
  if (ScanContext.ResultsRoot) return;
  ScanContext.ResultsRoot = std::make_unique<ResultsNode>();
  Display().ResultsRootCreated();
  ProcessMessages();
}

void ClearResults() {
  ScanContext.ResultsRoot.reset();
  ScanContext.Selection.clear();
  ScanContext.Selection.shrink_to_fit();
  ScanContext.ScannedFolders.clear();
  ScanContext.ScannedFolders.shrink_to_fit();
  Display().ResultsCleared();
}

std::optional<std::uint32_t> FindSignatureGroup(std::string_view signature) {
  if (!ScanContext.ResultsRoot) return std::nullopt;
  ProcessMessages();
  const auto& index = ScanContext.ResultsRoot->GroupIndex;
  const auto found = index.find(signature);
  if (found == index.end()) return std::nullopt;
  return found->second;
}

namespace {

ScannedFile IdOf(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return {};
  return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
          platform::Nanoseconds(status.st_mtim)};
}

}  // namespace

bool HasSignatureGroup(const std::string& signature) {
  const ResultsNode* const root = ScanContext.ResultsRoot.get();
  return root != nullptr && root->GroupIndex.contains(signature);
}

void RecordDuplicate(const std::string& signature, const std::string& path, const std::string& firstPath,
                     std::int64_t size) {
  RecordDuplicate(signature, path, IdOf(path), firstPath, IdOf(firstPath), size);
}

void RecordDuplicate(const std::string& signature, const std::string& path, const ScannedFile& id,
                     const std::string& firstPath, const ScannedFile& firstId, std::int64_t size) {
  const bool reference = InReferenceFolder(path);
  const bool firstReference = InReferenceFolder(firstPath);
  // One more file could go: this one, or, when this one is a reference
  // copy that is its group's first, the file that stayed for the group.
  // Counted before the window runs, as the totals always were.
  std::optional<std::uint32_t> known;
  if (const ResultsNode* root = ScanContext.ResultsRoot.get()) {
    if (const auto found = root->GroupIndex.find(signature); found != root->GroupIndex.end()) known = found->second;
  }
  const bool hadReference = known && ScanContext.ResultsRoot->Groups[*known].HasReference;
  if (known ? !reference || !hadReference : !(reference && firstReference)) {
    ScanContext.DuplicateFiles += 1;
    ScanContext.RecoverableBytes += size;
  }
  EnsureResultsRoot();
  ResultsNode& root = *ScanContext.ResultsRoot;
  auto& rows = ScanContext.Selection;

  // The window runs first; the group found above is asked again only if
  // what it did meanwhile moved it.
  ProcessMessages();
  std::optional<std::uint32_t> group = known;
  if (!known || *known >= root.Groups.size() || root.Groups[*known].Signature != signature) {
    const auto found = root.GroupIndex.find(signature);
    group = found != root.GroupIndex.end() ? std::optional<std::uint32_t>(found->second) : std::nullopt;
  }
  if (group) {
    SignatureGroup& g = root.Groups[*group];
    g.HasReference = g.HasReference || reference;
    g.Files.push_back(path);
    g.Scanned.push_back(id);
    rows.push_back({*group, static_cast<std::uint32_t>(g.Files.size() - 1), !reference});
    Display().DuplicateRecorded(*group, false);
    return;
  }
  if (reference && firstReference) {
    root.ReferenceOnly.insert(signature);
    return;
  }
  root.ReferenceOnly.erase(signature);
  const auto added = static_cast<std::uint32_t>(root.Groups.size());
  root.Groups.push_back({signature, size, {firstPath, path}, {firstId, id}, reference || firstReference, {}});
  root.GroupIndex.emplace(signature, added);
  rows.push_back({added, 0, false});
  rows.push_back({added, 1, !reference});
  Display().DuplicateRecorded(added, true);
}

void RemoveFilesFromResults(const std::vector<std::vector<bool>>& leaving) {
  if (!ScanContext.ResultsRoot) return;
  ResultsNode& root = *ScanContext.ResultsRoot;
  constexpr std::uint32_t Gone = UINT32_MAX;
  // Old group -> new group, and per old group, old file -> new file.
  std::vector<std::uint32_t> newGroup(root.Groups.size(), Gone);
  std::vector<std::vector<std::uint32_t>> newFile(root.Groups.size());
  std::vector<SignatureGroup> kept;
  // A file that leaves is no longer in its folder (it went, or a link
  // stands in its place): the folder holds one file fewer.
  std::unordered_map<std::string_view, std::size_t> tallyOf;
  const auto leaveTally = [&tallyOf](const std::string& path, std::int64_t size) {
    auto& tallies = ScanContext.ScannedFolders;
    if (tallies.empty()) return;
    if (tallyOf.empty()) {
      for (std::size_t i = 0; i < tallies.size(); ++i) tallyOf.emplace(tallies[i].Path, i);
    }
    const auto found = tallyOf.find(std::string_view(path).substr(0, path.rfind('/') + 1));
    if (found == tallyOf.end() || tallies[found->second].Files == 0) return;
    tallies[found->second].Files -= 1;
    tallies[found->second].Bytes -= static_cast<long double>(size);
  };
  for (std::uint32_t g = 0; g < root.Groups.size(); ++g) {
    SignatureGroup& group = root.Groups[g];
    newFile[g].assign(group.Files.size(), Gone);
    std::vector<std::string> files, changed;
    std::vector<ScannedFile> ids;
    for (std::uint32_t f = 0; f < group.Files.size(); ++f) {
      if (g < leaving.size() && f < leaving[g].size() && leaving[g][f]) {
        leaveTally(group.Files[f], group.Size);
        continue;
      }
      newFile[g][f] = static_cast<std::uint32_t>(files.size());
      files.push_back(std::move(group.Files[f]));
      ids.push_back(f < group.Scanned.size() ? group.Scanned[f] : ScannedFile{});
      if (!group.Changed.empty()) changed.push_back(f < group.Changed.size() ? group.Changed[f] : std::string());
    }
    if (files.size() < 2) continue;
    newGroup[g] = static_cast<std::uint32_t>(kept.size());
    kept.push_back({std::move(group.Signature), group.Size, std::move(files), std::move(ids), group.HasReference,
                    std::move(changed)});
  }
  root.Groups = std::move(kept);
  root.GroupIndex.clear();
  for (std::uint32_t g = 0; g < root.Groups.size(); ++g) root.GroupIndex.emplace(root.Groups[g].Signature, g);
  std::vector<SelectionRow> rows;
  rows.reserve(ScanContext.Selection.size());
  for (const SelectionRow& row : ScanContext.Selection) {
    const std::uint32_t group = newGroup[row.Group];
    if (group == Gone || newFile[row.Group][row.File] == Gone) continue;
    rows.push_back({group, newFile[row.Group][row.File], row.Checked});
  }
  ScanContext.Selection = std::move(rows);
  Display().ResultsReplaced();
}

std::optional<TreeNodeRef> FindTreeNode(std::string_view text) {
  if (!ScanContext.ResultsRoot) return std::nullopt;
  if (EqualsIgnoringAsciiCase(ResultsNode::Text, text)) return TreeNodeRef{0, 0, 0};
  const auto& groups = ScanContext.ResultsRoot->Groups;
  for (std::uint32_t g = 0; g < groups.size(); ++g) {
    if (EqualsIgnoringAsciiCase(groups[g].Signature, text)) return TreeNodeRef{1, g, 0};
    for (std::uint32_t f = 0; f < groups[g].Files.size(); ++f) {
      if (EqualsIgnoringAsciiCase(groups[g].Files[f], text)) return TreeNodeRef{2, g, f};
    }
  }
  return std::nullopt;
}

bool MayBeTicked(const SelectionRow& row) {
  return !InReferenceFolder(PathOf(row)) && ChangedSince(GroupOf(row), row.File) == nullptr;
}

const SignatureGroup& GroupOf(const SelectionRow& row) { return ScanContext.ResultsRoot->Groups[row.Group]; }

const std::string& PathOf(const SelectionRow& row) { return GroupOf(row).Files[row.File]; }

std::string SizeTextOf(const SelectionRow& row) {
  return FormatCount(' ', static_cast<long double>(GroupOf(row).Size));
}

}  // namespace veldrano
