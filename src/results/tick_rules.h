#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "results/results_model.h"

namespace veldrano {

// The rules that tick the rows of the selection list (ScanContext.Selection)
// in one go. Each leaves one file of every group unticked, except where it
// says otherwise: the one the user keeps. None ticks a file in a reference
// folder.

// Every file but the one of each group given: keep[g] is its index in the
// group's files.
void TickAllBut(const std::vector<std::uint32_t>& keep);

// Every file but the first found of its group: the state after a scan.
void TickAllButFirst();

// Every file but the one of its group modified first (oldest) or last
// (newest). Files whose time cannot be read are never the one kept, unless
// no file of the group has one: then the first found is kept. Ties keep the
// one found first. modifiedAt gives a file's modification time, none when
// it cannot be read (by default the time the scan found).
using ModificationTime = std::function<std::optional<std::int64_t>(const std::string& path)>;
void TickAllButOldest(const ModificationTime& modifiedAt = {});
void TickAllButNewest(const ModificationTime& modifiedAt = {});

// No file ticked.
void UntickAll();

// Every file in the folder that holds path (not in folders below it)
// ticked, or unticked.
void TickFolderOf(const std::string& path, bool ticked);

// Every tick turned over.
void InvertTicks();

// What is ticked: the files and their sizes added up.
struct TickedTotals {
  std::int64_t Files = 0;
  long double Bytes = 0;
};
TickedTotals CountTicked();

}  // namespace veldrano
