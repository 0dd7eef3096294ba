#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "results/results_model.h"

namespace veldrano {

// A folder that shares copies of its files: Folder holds Files of them.
struct FolderShare {
  std::string Folder;
  std::int64_t Files = 0;
};

// A folder whose every file, directly in it or below, has a copy outside it:
// it could go whole, and nothing would be lost.
struct DuplicateFolder {
  std::string Path;  // ending in "/"
  std::int64_t Files = 0;
  long double Bytes = 0;
  // One folder outside this one that holds a copy of every file of it (in
  // it or below), the deepest there is; empty when no single folder does.
  std::string EveryFileIn;
  // EveryFileIn is a duplicate folder too, whose every file is here: the two
  // hold the same files.
  bool SameFiles = false;
  // The folders holding the copies (directly), the most files of this one
  // first, then by path.
  std::vector<FolderShare> CopiesIn;
};

// The duplicate folders among the folders scanned (folders), from the groups
// of the results: a folder qualifies when its tree was walked whole, the
// scan found files in it or below, and every one is in a group with a copy
// outside the folder. Files the filters left out are not counted.
// Only the highest folder of a nested run of them is listed, in path order.
// The disk is not read again.
std::vector<DuplicateFolder> FindDuplicateFolders(const std::vector<SignatureGroup>& groups,
                                                  const std::vector<FolderTally>& folders);

// The same over the results of the last run (ScanContext).
std::vector<DuplicateFolder> FindDuplicateFolders();

}  // namespace veldrano
