#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan/scan_filters.h"

namespace veldrano {

// Results that last: the results of a scan, with every tick, written to a
// file and read back later, so that deciding what to remove can take days.
// The format (JSON Lines, versioned) is described in docs/saved-results.md.

// Writes the run's results (the listed folders with their reference marks,
// the filters, each group with its files, their identities and ticks, in
// list order) to path as a new file that takes its place only once written
// whole; one error line in the log when it cannot.
bool SaveResults(const std::string& path);

// What reading saved results gave, beyond the results themselves.
struct OpenedResults {
  std::vector<std::string> Folders;  // the listed folders, as listed (ending in "/")
  std::vector<bool> Reference;       // for each, whether it is a reference folder
  ScanFilters Filters;               // the filters the scan had
  std::int64_t Files = 0;            // files in the results
  std::int64_t Changed = 0;          // of them, gone or changed since
};

// Reads results SaveResults wrote into the run's state: the results and the
// list (ticks and order as saved), the listed folders with their
// identities (ScanContext.ListedFolders), the reference folders and the
// filters. Each file is checked with one lstat: a file gone or changed
// since (another file, size or modification time) is marked with why
// (SignatureGroup::Changed), shown as such and never acted on; every other
// file can be acted on as after a scan, each action proving its bytes
// again. A file that is not such results (damaged, cut short, foreign, of a
// newer version) is refused with why in problem, and nothing changes.
std::optional<OpenedResults> OpenResults(const std::string& path, std::string& problem);

}  // namespace veldrano
