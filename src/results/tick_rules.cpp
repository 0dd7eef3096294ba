#include "results/tick_rules.h"

#include <string_view>

#include "results/keep_rules.h"
#include "results/reference_folders.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

std::string_view FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

// Sets the tick of a row, which a file in a reference folder never takes.
void SetTick(SelectionRow& row, bool ticked) { row.Checked = ticked && MayBeTicked(row); }

// Keeps, in each group, the file whose time is best by better (oldest or
// newest); files found first win ties.
void TickAllButByTime(const ModificationTime& given, bool (*better)(std::int64_t, std::int64_t)) {
  if (!ScanContext.ResultsRoot) return;
  const auto& groups = ScanContext.ResultsRoot->Groups;
  // The time the scan found, unless told otherwise.
  const KeepFacts facts = CurrentFacts();
  const auto modifiedAt = [&](std::size_t g, std::size_t f) {
    return given ? given(groups[g].Files[f]) : facts.ModifiedAt(groups[g], f);
  };
  std::vector<std::uint32_t> keep(groups.size(), 0);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    std::optional<std::int64_t> best;
    for (std::size_t f = 0; f < groups[g].Files.size(); ++f) {
      const std::optional<std::int64_t> time = modifiedAt(g, f);
      if (time && (!best || better(*time, *best))) {
        best = time;
        keep[g] = static_cast<std::uint32_t>(f);
      }
    }
  }
  TickAllBut(keep);
}

}  // namespace

void TickAllBut(const std::vector<std::uint32_t>& keep) {
  for (SelectionRow& row : ScanContext.Selection) SetTick(row, row.File != keep[row.Group]);
}

void TickAllButFirst() {
  if (!ScanContext.ResultsRoot) return;
  TickAllBut(std::vector<std::uint32_t>(ScanContext.ResultsRoot->Groups.size(), 0));
}

void TickAllButOldest(const ModificationTime& modifiedAt) {
  TickAllButByTime(modifiedAt, [](std::int64_t a, std::int64_t b) { return a < b; });
}

void TickAllButNewest(const ModificationTime& modifiedAt) {
  TickAllButByTime(modifiedAt, [](std::int64_t a, std::int64_t b) { return a > b; });
}

void UntickAll() {
  for (SelectionRow& row : ScanContext.Selection) row.Checked = false;
}

void TickFolderOf(const std::string& path, bool ticked) {
  const std::string_view folder = FolderOf(path);
  for (SelectionRow& row : ScanContext.Selection) {
    if (FolderOf(PathOf(row)) == folder) SetTick(row, ticked);
  }
}

TickedTotals CountTicked() {
  TickedTotals totals;
  if (!ScanContext.ResultsRoot) return totals;
  for (const SelectionRow& row : ScanContext.Selection) {
    if (!row.Checked) continue;
    ++totals.Files;
    totals.Bytes += GroupOf(row).Size;
  }
  return totals;
}

void InvertTicks() {
  for (SelectionRow& row : ScanContext.Selection) SetTick(row, !row.Checked);
}

}  // namespace veldrano
